// The built program in a real window: each test starts its own virtual X
// server and the program in a copy of the run directory, presses keys and
// drags with xdotool, and judges what a person would see from screen grabs.
#include <gtest/gtest.h>

// After the test framework: Xlib defines macros such as None and Bool.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

void sleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// Starts `args` with stdout and stderr sent to `log` (or /dev/null), in
// `dir` if given. The child dies with this process, so no path leaves it
// behind. `keepFd` stays open in the child.
pid_t spawn(const std::vector<std::string>& args, const std::string& log, const std::string& dir = "",
            int keepFd = -1) {
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid != 0) return pid;
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(127);
    const int out = open(log.empty() ? "/dev/null" : log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out >= 0) {
        dup2(out, 1);
        dup2(out, 2);
    }
    if (!dir.empty() && chdir(dir.c_str()) != 0) _exit(127);
    for (int fd = 3; fd < 1024; ++fd)
        if (fd != keepFd) close(fd);
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
}

// Whether the child still runs; one that has ended is reaped and forgotten.
bool alive(pid_t& pid) {
    if (pid > 0 && waitpid(pid, nullptr, WNOHANG) != 0) pid = -1;
    return pid > 0;
}

// Ends a child: politely, then for sure.
void stop(pid_t pid) {
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    for (int i = 0; i < 40; ++i) {
        if (waitpid(pid, nullptr, WNOHANG) != 0) return;
        sleepMs(25);
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

// Runs xdotool with `args` and returns its standard output; gives up after
// `seconds`.
std::string xdotool(const std::vector<std::string>& args, double seconds = 10) {
    int fds[2];
    if (pipe(fds) != 0) return "";
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) _exit(127);
        dup2(fds[1], 1);
        close(fds[0]);
        close(fds[1]);
        std::vector<char*> argv = {const_cast<char*>(XDOTOOL_PROGRAM)};
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(fds[1]);
    std::string out;
    const auto deadline = Clock::now() + std::chrono::duration<double>(seconds);
    pollfd p = {fds[0], POLLIN, 0};
    while (Clock::now() < deadline && poll(&p, 1, 50) >= 0) {
        if (!(p.revents & (POLLIN | POLLHUP))) continue;
        char buf[256];
        const ssize_t n = read(fds[0], buf, sizeof buf);
        if (n <= 0) break;
        out.append(buf, size_t(n));
    }
    close(fds[0]);
    stop(pid);
    return out;
}

// Waits until `ready` holds, checking every 50 ms; false after `seconds`.
template <typename F>
bool waitFor(F ready, double seconds) {
    const auto deadline = Clock::now() + std::chrono::duration<double>(seconds);
    for (;;) {
        if (ready()) return true;
        if (Clock::now() >= deadline) return false;
        sleepMs(50);
    }
}

// The window's pixels as 0xRRGGBB, cut out of the whole screen (the window
// may hang over its edges: it opens at (-1, -1)). Pixels outside the screen
// read as -1.
struct Grab {
    int width = 0, height = 0;
    std::vector<long> pixels;

    long at(int x, int y) const { return pixels[size_t(y) * size_t(width) + size_t(x)]; }
    // Mean brightness (0..255, mean of the channels) of a w by h box at the
    // given fraction of the window.
    double brightness(double fx, double fy, int w, int h) const {
        const int x0 = int(fx * width) - w / 2, y0 = int(fy * height) - h / 2;
        double sum = 0;
        int n = 0;
        for (int y = std::max(y0, 0); y < std::min(y0 + h, height); ++y)
            for (int x = std::max(x0, 0); x < std::min(x0 + w, width); ++x) {
                const long p = at(x, y);
                if (p < 0) continue;
                sum += ((p >> 16 & 255) + (p >> 8 & 255) + (p & 255)) / 3.0;
                ++n;
            }
        return n ? sum / n : 0;
    }
    bool operator==(const Grab& o) const { return width == o.width && height == o.height && pixels == o.pixels; }
};

// For failure messages: where two grabs differ.
std::string difference(const Grab& a, const Grab& b) {
    if (a.width != b.width || a.height != b.height)
        return std::to_string(a.width) + "x" + std::to_string(a.height) + " against " + std::to_string(b.width) +
               "x" + std::to_string(b.height);
    int n = 0, x0 = a.width, y0 = a.height, x1 = -1, y1 = -1;
    for (int y = 0; y < a.height; ++y)
        for (int x = 0; x < a.width; ++x)
            if (a.at(x, y) != b.at(x, y)) {
                ++n;
                x0 = std::min(x0, x), y0 = std::min(y0, y), x1 = std::max(x1, x), y1 = std::max(y1, y);
            }
    std::ostringstream s;
    s << n << " pixels differ";
    if (n) s << " within (" << x0 << ", " << y0 << ") - (" << x1 << ", " << y1 << ")";
    return s.str();
}

int ignoreXErrors(Display*, XErrorEvent*) { return 0; }

class RealWindow : public ::testing::Test {
  protected:
    void SetUp() override {
        XSetErrorHandler(ignoreXErrors);
        char tmpl[] = "/tmp/orvandel-window-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
        fs::copy(ORVANDEL_RUN_DIR, dir / "run", fs::copy_options::recursive);

        // A free display number: the server picks one and writes it to the pipe.
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        xvfb = spawn({XVFB_PROGRAM, "-displayfd", std::to_string(fds[1]), "-screen", "0", "800x600x24",
                      "-nolisten", "tcp"},
                     "", "", fds[1]);
        close(fds[1]);
        std::string number;
        pollfd p = {fds[0], POLLIN, 0};
        while (number.find('\n') == std::string::npos && poll(&p, 1, 10000) > 0) {
            char buf[16];
            const ssize_t n = read(fds[0], buf, sizeof buf);
            if (n <= 0) break;
            number.append(buf, size_t(n));
        }
        close(fds[0]);
        ASSERT_NE(number.find('\n'), std::string::npos) << "the virtual X server did not start";
        const std::string display = ":" + number.substr(0, number.find('\n'));
        setenv("DISPLAY", display.c_str(), 1);
        setenv("LIBGL_ALWAYS_SOFTWARE", "1", 1);
        x = XOpenDisplay(display.c_str());
        ASSERT_NE(x, nullptr);

        app = spawn({ORVANDEL_PROGRAM}, (dir / "orvandel.log").string(), (dir / "run").string());
        waitFor([&] {
            std::istringstream(xdotool({"search", "--name", "^Orvandel$"})) >> win;
            return win != 0 || !alive(app);
        }, 20);
        ASSERT_NE(win, 0u) << "no window \"Orvandel\"; the program said:\n" << log();
        xdotool({"windowfocus", "--sync", std::to_string(win)});
        // The first frame: something bright at the centre.
        ASSERT_TRUE(waitFor([&] { return grab().brightness(0.5, 0.5, 20, 20) > 100; }, 20))
            << "no frame drawn; the program said:\n" << log();
    }

    void TearDown() override {
        if (x) XCloseDisplay(x);
        stop(app);
        stop(xvfb);
        std::error_code ignored;
        fs::remove_all(dir, ignored);
    }

    std::string log() const {
        std::ifstream in(dir / "orvandel.log");
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    Grab grab() const {
        Grab g;
        XWindowAttributes wa, ra;
        ::Window child;
        int wx = 0, wy = 0;
        if (!XGetWindowAttributes(x, win, &wa) || !XGetWindowAttributes(x, DefaultRootWindow(x), &ra) ||
            !XTranslateCoordinates(x, win, DefaultRootWindow(x), 0, 0, &wx, &wy, &child))
            return g;
        g.width = wa.width;
        g.height = wa.height;
        g.pixels.assign(size_t(g.width) * size_t(g.height), -1);
        const int x0 = std::max(wx, 0), y0 = std::max(wy, 0);
        const int x1 = std::min(wx + wa.width, ra.width), y1 = std::min(wy + wa.height, ra.height);
        if (x1 <= x0 || y1 <= y0) return g;
        XImage* image =
            XGetImage(x, DefaultRootWindow(x), x0, y0, unsigned(x1 - x0), unsigned(y1 - y0), AllPlanes, ZPixmap);
        if (!image) return g;
        for (int y = y0; y < y1; ++y)
            for (int xx = x0; xx < x1; ++xx)
                g.pixels[size_t(y - wy) * size_t(g.width) + size_t(xx - wx)] =
                    long(XGetPixel(image, xx - x0, y - y0) & 0xffffff);
        XDestroyImage(image);
        return g;
    }

    // The picture once two grabs 150 ms apart agree.
    Grab stableGrab() const {
        Grab last = grab(), now;
        waitFor([&] {
            now = grab();
            const bool same = now == last;
            last = now;
            return same;
        }, 5);
        return now;
    }

    // The picture every later frame of an unchanged view repeats. The very
    // first frame differs slightly: the ship is lit with GL's default normal,
    // later frames with the one the last sphere face left behind.
    Grab steadyGrab() {
        keys({"a"});
        sleepMs(100);
        return stableGrab();
    }

    void keys(const std::vector<std::string>& names) {
        std::vector<std::string> args = {"key", "--delay", "40"};
        args.insert(args.end(), names.begin(), names.end());
        xdotool(args);
    }

    fs::path dir;
    pid_t xvfb = -1, app = -1;
    Display* x = nullptr;
    ::Window win = 0;
};

TEST_F(RealWindow, StartsWithTheSunAtTheCentreOnADarkSky) {
    const Grab g = grab();
    EXPECT_EQ(g.width, 500);
    EXPECT_EQ(g.height, 500);
    EXPECT_GT(g.brightness(0.5, 0.5, 40, 40), 100);
    for (double f : {0.05, 0.95}) {
        EXPECT_LT(g.brightness(f, 0.05, 20, 20), 30);
        EXPECT_LT(g.brightness(f, 0.95, 20, 20), 30);
    }
}

TEST_F(RealWindow, SpaceStartsTheAnimationAndASecondSpaceStopsIt) {
    const Grab still = stableGrab();
    keys({"space"});
    EXPECT_TRUE(waitFor([&] { return !(grab() == still); }, 10)) << "the picture did not change";
    sleepMs(300);
    keys({"space"});
    sleepMs(300);
    const Grab stopped = grab();
    sleepMs(600);
    EXPECT_TRUE(grab() == stopped) << "the picture still changes after the second space";
    EXPECT_FALSE(stopped == still);
}

TEST_F(RealWindow, PSwitchesToTheOrthographicBoxAndBack) {
    const Grab perspective = steadyGrab();
    keys({"p"});
    // The box is smaller than the Sun, which is cut open by the near and far
    // planes: its middle shows the dark sky, its rim fills the window.
    ASSERT_TRUE(waitFor([&] { return grab().brightness(0.5, 0.5, 40, 40) < 30; }, 10));
    const Grab ortho = stableGrab();
    EXPECT_GT(ortho.brightness(0.5, 0.04, 20, 10), 30);
    keys({"p"});
    EXPECT_TRUE(waitFor([&] { return grab() == perspective; }, 10))
        << "not back to the first picture: " << difference(perspective, grab());
}

TEST_F(RealWindow, LeftDragTurnsTheSceneOtherButtonsDoNot) {
    const Grab before = stableGrab();
    const std::string w = std::to_string(win);
    xdotool({"mousemove", "--window", w, "250", "250", "mousedown", "1"});
    for (int i = 0; i < 5; ++i) xdotool({"mousemove_relative", "--", "20", "10"});
    xdotool({"mouseup", "1"});
    EXPECT_TRUE(waitFor([&] { return !(grab() == before); }, 10)) << "the drag did not turn the scene";
    const Grab turned = stableGrab();
    EXPECT_GT(turned.brightness(0.5, 0.5, 20, 20), 100);  // turned about the Sun

    // After the release, a right-button drag changes nothing.
    xdotool({"mousedown", "3"});
    for (int i = 0; i < 5; ++i) xdotool({"mousemove_relative", "--", "-20", "10"});
    xdotool({"mouseup", "3"});
    sleepMs(400);
    EXPECT_TRUE(grab() == turned);
}

TEST_F(RealWindow, ResizedWindowKeepsDrawingTheSunAtItsCentre) {
    const std::string w = std::to_string(win);
    const std::pair<int, int> sizes[] = {{320, 200}, {640, 480}};
    for (auto [width, height] : sizes) {
        xdotool({"windowsize", "--sync", w, std::to_string(width), std::to_string(height)});
        EXPECT_TRUE(waitFor(
            [&, width = width, height = height] {
                const Grab g = grab();
                return g.width == width && g.height == height && g.brightness(0.5, 0.5, 10, 10) > 100 &&
                       g.brightness(0.05, 0.05, 10, 10) < 30 && g.brightness(0.95, 0.95, 10, 10) < 30;
            },
            10))
            << width << "x" << height;
    }
    EXPECT_TRUE(alive(app));
}

TEST_F(RealWindow, EscapeAndUnlistedKeysNeitherEndNorChangeAnything) {
    const Grab before = steadyGrab();
    keys({"Escape", "a", "A", "Z", "1", "Return", "F1", "Shift_L", "Control_L", "Home", "Escape"});
    sleepMs(400);
    EXPECT_TRUE(alive(app)) << log();
    const Grab after = grab();
    EXPECT_TRUE(after == before) << difference(before, after);
    // Still responding: a listed key still acts.
    keys({"p"});
    EXPECT_TRUE(waitFor([&] { return !(grab() == before); }, 10));
}

}  // namespace
