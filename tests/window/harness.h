// The built program under a virtual X server: processes, screen grabs and
// what a person would judge from them. Each test gets its own X server, its
// own copy of the run directory and its own program.
#pragma once

#include <gtest/gtest.h>

// After the test framework: Xlib defines macros such as None and Bool.
#include <X11/Xlib.h>
#include <sys/types.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

inline void sleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// Waits until `ready` holds, checking every 50 ms; false after `seconds`.
template <typename F>
bool waitFor(F ready, double seconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    for (;;) {
        if (ready()) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        sleepMs(50);
    }
}

// Starts `args` in `dir` (if given) with its standard output sent to `out`
// and its standard error to `err` (empty: /dev/null; the same path twice:
// one file). The child dies with this process, so no path leaves it behind.
// `keepFd` stays open in the child.
pid_t spawn(const std::vector<std::string>& args, const std::string& out, const std::string& err,
            const std::string& dir = "", int keepFd = -1);
// Whether the child still runs; one that has ended is reaped and forgotten.
bool alive(pid_t& pid);
// Ends a child: politely, then for sure.
void stop(pid_t pid);
// The exit status of a child once it ends, -1 if it ends by a signal; after
// `seconds` it is killed and the result is -2.
int exitStatus(pid_t pid, double seconds);
// Runs xdotool with `args` and returns its standard output; gives up after
// `seconds`.
std::string xdotool(const std::vector<std::string>& args, double seconds = 10);
std::string readFile(const fs::path& path);

// Half-open pixel rectangle [x0, x1) x [y0, y1).
struct Rect {
    int x0, y0, x1, y1;
    int area() const { return (x1 - x0) * (y1 - y0); }
};

// Bounding box and number of the pixels that passed a test; empty when none did.
struct Box {
    int x0 = 0, y0 = 0, x1 = -1, y1 = -1;  // inclusive
    int count = 0;
    bool empty() const { return count == 0; }
    int width() const { return x1 - x0 + 1; }
    int height() const { return y1 - y0 + 1; }
    double cx() const { return (x0 + x1) / 2.0; }
    double cy() const { return (y0 + y1) / 2.0; }
    Rect rect() const { return {x0, y0, x1 + 1, y1 + 1}; }
    // The box shrunk by `f` of its size on each side.
    Rect inner(double f) const;
};
std::ostream& operator<<(std::ostream& s, const Box& b);

// Pixels are 0xRRGGBB; -1 outside the screen.
inline int red(long p) { return int(p >> 16 & 255); }
inline int green(long p) { return int(p >> 8 & 255); }
inline int blue(long p) { return int(p & 255); }
inline double level(long p) { return (red(p) + green(p) + blue(p)) / 3.0; }
// The Sun's lit surface and other bright things.
inline bool bright(long p) { return p >= 0 && level(p) > 100; }
// Anything drawn on the black sky, the ship's dim lines included.
inline bool drawn(long p) { return p >= 0 && std::max({red(p), green(p), blue(p)}) > 12; }

// The window's pixels, cut out of the whole screen (the window may hang over
// its edges: it opens at (-1, -1)).
struct Grab {
    int width = 0, height = 0;
    std::vector<long> pixels;

    long at(int x, int y) const { return pixels[size_t(y) * size_t(width) + size_t(x)]; }
    Rect all() const { return {0, 0, width, height}; }
    // A rectangle given in fractions of the window.
    Rect part(double fx0, double fy0, double fx1, double fy1) const {
        return {int(fx0 * width), int(fy0 * height), int(fx1 * width), int(fy1 * height)};
    }
    // Mean brightness (0..255, mean of the channels) of a w by h box centred
    // at the given fraction of the window.
    double brightness(double fx, double fy, int w, int h) const;
    // Mean of each channel over `r`.
    void meanColour(Rect r, double rgb[3]) const;
    // The pixels of `r` that pass `test`.
    template <typename F>
    Box find(Rect r, F test) const {
        Box b;
        for (int y = std::max(r.y0, 0); y < std::min(r.y1, height); ++y)
            for (int x = std::max(r.x0, 0); x < std::min(r.x1, width); ++x)
                if (test(at(x, y))) {
                    if (!b.count++) b = {x, y, x, y, 1};
                    b.x0 = std::min(b.x0, x), b.x1 = std::max(b.x1, x);
                    b.y0 = std::min(b.y0, y), b.y1 = std::max(b.y1, y);
                }
        return b;
    }
    // The Sun: the bright pixels (the ship's wireframe never is).
    Box sun() const { return find(all(), bright); }
    // Pixels of `r` where a channel differs from `o` by more than `tolerance`;
    // the box of them.
    Box changes(const Grab& o, Rect r, int tolerance = 10) const;
    // Share (0..1) of the pixels of `r` that `test` passes.
    template <typename F>
    double share(Rect r, F test) const {
        return r.area() > 0 ? double(find(r, test).count) / r.area() : 0;
    }
    bool operator==(const Grab& o) const { return width == o.width && height == o.height && pixels == o.pixels; }
    bool operator!=(const Grab& o) const { return !(*this == o); }
};

// For failure messages: where two grabs differ.
std::string difference(const Grab& a, const Grab& b);

// A private virtual X server and a copy of the run directory in a temporary
// directory; the program is started by the tests.
class Session : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Starts the program in the run directory, its output in out.log and
    // err.log. Then waits for its window and for a first frame on which
    // `ready` holds (default: the Sun lit at the centre).
    void open();
    template <typename F>
    void open(F ready);
    // Starts the program and waits for it to end; its exit status, -1 for a
    // signal, -2 when it did not end within 20 s.
    int runToEnd();
    // Whether any client made a window since the server started.
    bool windowMade();
    // Closes the window as a window manager would, and returns the
    // program's exit status.
    int closeWindow();

    std::string out() const { return readFile(dir / "out.log"); }
    std::string err() const { return readFile(dir / "err.log"); }
    fs::path run() const { return dir / "run"; }

    Grab grab() const;
    // The picture once two grabs 150 ms apart agree.
    Grab stableGrab() const;
    // The picture once every input sent so far has been handled: "p" twice,
    // to the box view and back, and the picture once both have shown. Also
    // the picture every later frame of an unchanged view repeats (the very
    // first frame differs slightly: the ship is lit with GL's default normal,
    // later frames with the one the last sphere face left behind). Only for
    // views the round trip leaves alone, with the Sun at the centre: eyeZ at
    // the value a reshape gives it (no forward move, no zoom) and the depth
    // test on.
    Grab settledGrab();
    void keys(const std::vector<std::string>& names);
    // Presses `name` `times` times.
    void keys(const std::string& name, int times);
    // Waits for the picture to become `expected`; false after 10 s.
    bool becomes(const Grab& expected);
    // Sends `names` and checks that the settled picture is still `before`.
    void expectNoChangeFrom(const Grab& before, const std::vector<std::string>& names);
    // Saves the window, or `r` of it, as a PNG file through the screenshot tool.
    bool savePng(const fs::path& path, const Rect* r = nullptr) const;

    fs::path dir;
    pid_t xvfb = -1, app = -1;
    Display* connection = nullptr;  // to the virtual X server
    ::Window win = 0;

  private:
    void startProgram();
    bool waitForWindow();
};

// The program started and showing its first frame.
class RealWindow : public Session {
  protected:
    void SetUp() override {
        Session::SetUp();
        if (!HasFatalFailure()) open();
    }
};

template <typename F>
void Session::open(F ready) {
    startProgram();
    ASSERT_TRUE(waitForWindow()) << "no window \"Orvandel\"; the program said:\n" << out() << err();
    ASSERT_TRUE(waitFor([&] { return ready(grab()); }, 20)) << "no frame drawn; the program said:\n" << out() << err();
}

// Where the ship stands in the first view, in fractions of the window.
inline Rect shipArea(const Grab& g) { return g.part(0.30, 0.735, 0.70, 0.96); }
// Everything above it: the Sun and the sky.
inline Rect aboveShip(const Grab& g) { return g.part(0, 0, 1, 0.73); }
// Parts of the ship there: a strip down the fuselage, and the left (side
// -1) and right engine nozzles.
inline Rect fuselage(const Grab& g) { return g.part(0.476, 0.77, 0.52, 0.88); }
inline Rect nozzle(const Grab& g, int side) {
    return side < 0 ? g.part(0.42, 0.91, 0.444, 0.934) : g.part(0.552, 0.91, 0.576, 0.934);
}
// The ship filled, as in the two shaded draw modes: no gaps in the fuselage.
inline bool shipFilled(const Grab& g) { return g.share(fuselage(g), drawn) > 0.98; }
// The ship shaded with its materials: warm engine nozzles.
bool warmNozzles(const Grab& g);
// The ship's three draw modes as they show there.
inline bool wireShip(const Grab& g) { return !shipFilled(g); }
inline bool materialShip(const Grab& g) { return shipFilled(g) && warmNozzles(g); }
inline bool smoothShip(const Grab& g) { return shipFilled(g) && !warmNozzles(g); }
