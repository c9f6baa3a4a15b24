#include "harness.h"

#include "display_number.h"

#include <X11/Xutil.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>

using Clock = std::chrono::steady_clock;

pid_t spawn(const std::vector<std::string>& args, const std::string& out, const std::string& err,
            const std::string& dir, int keepFd) {
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid != 0) return pid;
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(127);
    const int o = open(out.empty() ? "/dev/null" : out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int e = err == out ? o : open(err.empty() ? "/dev/null" : err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (o >= 0) dup2(o, 1);
    if (e >= 0) dup2(e, 2);
    if (!dir.empty() && chdir(dir.c_str()) != 0) _exit(127);
    for (int fd = 3; fd < 1024; ++fd)
        if (fd != keepFd) close(fd);
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
}

bool alive(pid_t& pid) {
    if (pid > 0 && waitpid(pid, nullptr, WNOHANG) != 0) pid = -1;
    return pid > 0;
}

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

int exitStatus(pid_t pid, double seconds) {
    int status = 0;
    const bool ended = waitFor([&] { return waitpid(pid, &status, WNOHANG) == pid; }, seconds);
    if (!ended) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        return -2;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string xdotool(const std::vector<std::string>& args, double seconds) {
    int fds[2];
    if (pipe(fds) != 0) return "";
    std::vector<std::string> all = {XDOTOOL_PROGRAM};
    all.insert(all.end(), args.begin(), args.end());
    // The child opens the pipe's writing end anew as its standard output.
    const pid_t pid = spawn(all, "/proc/self/fd/" + std::to_string(fds[1]), "", "", fds[1]);
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

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

Rect Box::inner(double f) const {
    const int dx = int(f * width()), dy = int(f * height());
    return {x0 + dx, y0 + dy, x1 + 1 - dx, y1 + 1 - dy};
}

std::ostream& operator<<(std::ostream& s, const Box& b) {
    if (b.empty()) return s << "(nothing)";
    return s << "(" << b.x0 << ", " << b.y0 << ") - (" << b.x1 << ", " << b.y1 << "), " << b.count << " pixels";
}

double Grab::brightness(double fx, double fy, int w, int h) const {
    const int x0 = int(fx * width) - w / 2, y0 = int(fy * height) - h / 2;
    double sum = 0;
    int n = 0;
    for (int y = std::max(y0, 0); y < std::min(y0 + h, height); ++y)
        for (int x = std::max(x0, 0); x < std::min(x0 + w, width); ++x) {
            const long p = at(x, y);
            if (p < 0) continue;
            sum += level(p);
            ++n;
        }
    return n ? sum / n : 0;
}

void Grab::meanColour(Rect r, double rgb[3]) const {
    double sum[3] = {0, 0, 0};
    int n = 0;
    for (int y = std::max(r.y0, 0); y < std::min(r.y1, height); ++y)
        for (int x = std::max(r.x0, 0); x < std::min(r.x1, width); ++x) {
            const long p = at(x, y);
            if (p < 0) continue;
            sum[0] += red(p), sum[1] += green(p), sum[2] += blue(p);
            ++n;
        }
    for (int i = 0; i < 3; ++i) rgb[i] = n ? sum[i] / n : 0;
}

Box Grab::changes(const Grab& o, Rect r, int tolerance) const {
    Box b;
    if (o.width != width || o.height != height) return b;
    for (int y = std::max(r.y0, 0); y < std::min(r.y1, height); ++y)
        for (int x = std::max(r.x0, 0); x < std::min(r.x1, width); ++x) {
            const long p = at(x, y), q = o.at(x, y);
            if (std::abs(red(p) - red(q)) <= tolerance && std::abs(green(p) - green(q)) <= tolerance &&
                std::abs(blue(p) - blue(q)) <= tolerance)
                continue;
            if (!b.count++) b = {x, y, x, y, 1};
            b.x0 = std::min(b.x0, x), b.x1 = std::max(b.x1, x);
            b.y0 = std::min(b.y0, y), b.y1 = std::max(b.y1, y);
        }
    return b;
}

std::string difference(const Grab& a, const Grab& b) {
    if (a.width != b.width || a.height != b.height)
        return std::to_string(a.width) + "x" + std::to_string(a.height) + " against " + std::to_string(b.width) + "x" +
               std::to_string(b.height);
    std::ostringstream s;
    s << "changed: " << a.changes(b, a.all(), 0);
    return s.str();
}

bool warmNozzles(const Grab& g) {
    for (int side : {-1, 1}) {
        double rgb[3];
        g.meanColour(nozzle(g, side), rgb);
        if (rgb[0] - rgb[2] < 60) return false;
    }
    return true;
}

namespace {
int ignoreXErrors(Display*, XErrorEvent*) { return 0; }
}  // namespace

void Session::SetUp() {
    XSetErrorHandler(ignoreXErrors);
    char tmpl[] = "/tmp/orvandel-window-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir = tmpl;
    fs::copy(ORVANDEL_RUN_DIR, run(), fs::copy_options::recursive);

    // A free display number: the server picks one and writes it to the pipe.
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    xvfb = spawn({XVFB_PROGRAM, "-displayfd", std::to_string(fds[1]), "-screen", "0", "800x600x24", "-nolisten", "tcp",
                  "-nolisten", "unix"},
                 "", "", "", fds[1]);
    close(fds[1]);
    const std::string display = readDisplayName(fds[0]);
    ASSERT_FALSE(display.empty()) << "the virtual X server did not start";
    setenv("DISPLAY", display.c_str(), 1);
    setenv("LIBGL_ALWAYS_SOFTWARE", "1", 1);
    connection = XOpenDisplay(display.c_str());
    ASSERT_NE(connection, nullptr);
    // Every window made on this server from now on is reported to us.
    XSelectInput(connection, DefaultRootWindow(connection), SubstructureNotifyMask);
    XSync(connection, False);
}

void Session::TearDown() {
    if (HasFailure() && win) {
        // What the screen showed, for whoever looks into the failure.
        const ::testing::TestInfo* t = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = std::string(t->test_suite_name()) + "." + t->name();
        for (char& c : name)
            if (c == '/') c = '_';
        fs::create_directories(WINDOW_FAILURE_DIR);
        if (savePng(fs::path(WINDOW_FAILURE_DIR) / (name + ".png")))
            std::cerr << "the screen: " << WINDOW_FAILURE_DIR << "/" << name << ".png\n";
    }
    if (connection) XCloseDisplay(connection);
    stop(app);
    stop(xvfb);
    std::error_code ignored;
    fs::remove_all(dir, ignored);
}

void Session::startProgram() {
    app = spawn({ORVANDEL_PROGRAM}, (dir / "out.log").string(), (dir / "err.log").string(), run().string());
}

bool Session::waitForWindow() {
    waitFor(
        [&] {
            std::istringstream(xdotool({"search", "--name", "^Orvandel$"})) >> win;
            return win != 0 || !alive(app);
        },
        20);
    if (!win) return false;
    xdotool({"windowfocus", "--sync", std::to_string(win)});
    return true;
}

void Session::open() {
    open([](const Grab& g) { return g.brightness(0.5, 0.5, 20, 20) > 100; });
}

int Session::runToEnd() {
    startProgram();
    const int status = exitStatus(app, 20);
    app = -1;
    return status;
}

bool Session::windowMade() {
    XSync(connection, False);
    bool made = false;
    while (XPending(connection)) {
        XEvent e;
        XNextEvent(connection, &e);
        made = made || e.type == CreateNotify;
    }
    return made;
}

int Session::closeWindow() {
    XEvent e = {};
    e.xclient.type = ClientMessage;
    e.xclient.window = win;
    e.xclient.message_type = XInternAtom(connection, "WM_PROTOCOLS", False);
    e.xclient.format = 32;
    e.xclient.data.l[0] = long(XInternAtom(connection, "WM_DELETE_WINDOW", False));
    e.xclient.data.l[1] = CurrentTime;
    XSendEvent(connection, win, False, NoEventMask, &e);
    XFlush(connection);
    const int status = exitStatus(app, 10);
    app = -1;
    win = 0;
    return status;
}

Grab Session::grab() const {
    Grab g;
    XWindowAttributes wa, ra;
    ::Window child;
    int wx = 0, wy = 0;
    if (!XGetWindowAttributes(connection, win, &wa) ||
        !XGetWindowAttributes(connection, DefaultRootWindow(connection), &ra) ||
        !XTranslateCoordinates(connection, win, DefaultRootWindow(connection), 0, 0, &wx, &wy, &child))
        return g;
    g.width = wa.width;
    g.height = wa.height;
    g.pixels.assign(size_t(g.width) * size_t(g.height), -1);
    const int x0 = std::max(wx, 0), y0 = std::max(wy, 0);
    const int x1 = std::min(wx + wa.width, ra.width), y1 = std::min(wy + wa.height, ra.height);
    if (x1 <= x0 || y1 <= y0) return g;
    XImage* image = XGetImage(connection, DefaultRootWindow(connection), x0, y0, unsigned(x1 - x0), unsigned(y1 - y0),
                              AllPlanes, ZPixmap);
    if (!image) return g;
    for (int y = y0; y < y1; ++y)
        for (int xx = x0; xx < x1; ++xx)
            g.pixels[size_t(y - wy) * size_t(g.width) + size_t(xx - wx)] =
                long(XGetPixel(image, xx - x0, y - y0) & 0xffffff);
    XDestroyImage(image);
    return g;
}

Grab Session::stableGrab() const {
    Grab last = grab(), now;
    waitFor(
        [&] {
            now = grab();
            const bool same = now == last;
            last = now;
            return same;
        },
        5);
    return now;
}

Grab Session::settledGrab() {
    const auto centre = [&] { return grab().brightness(0.5, 0.5, 40, 40); };
    keys({"p"});
    const bool box = waitFor([&] { return centre() < 30; }, 10);
    keys({"p"});
    const bool back = waitFor([&] { return centre() > 100; }, 10);
    EXPECT_TRUE(box && back) << "no round trip through the box view";
    return stableGrab();
}

void Session::keys(const std::vector<std::string>& names) {
    std::vector<std::string> args = {"key", "--delay", "40"};
    args.insert(args.end(), names.begin(), names.end());
    xdotool(args);
}

void Session::keys(const std::string& name, int times) { keys(std::vector<std::string>(size_t(times), name)); }

bool Session::becomes(const Grab& expected) {
    return waitFor([&] { return grab() == expected; }, 10);
}

void Session::expectNoChangeFrom(const Grab& before, const std::vector<std::string>& names) {
    keys(names);
    const Grab after = settledGrab();
    EXPECT_TRUE(after == before) << "after the keys: " << difference(before, after);
}

bool Session::savePng(const fs::path& path, const Rect* r) const {
    std::vector<std::string> args = {SCREENSHOT_PROGRAM, path.string()};
    if (r) {
        ::Window child;
        int rx = 0, ry = 0;
        if (!XTranslateCoordinates(connection, win, DefaultRootWindow(connection), r->x0, r->y0, &rx, &ry, &child))
            return false;
        const int x0 = std::max(rx, 0), y0 = std::max(ry, 0);
        for (int v : {x0, y0, rx + r->x1 - r->x0 - x0, ry + r->y1 - r->y0 - y0}) args.push_back(std::to_string(v));
    } else {
        args.push_back(std::to_string(win));
    }
    return exitStatus(spawn(args, "", "", ""), 10) == 0;
}
