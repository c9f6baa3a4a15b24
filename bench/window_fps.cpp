// Frames per second in a real window: the program's own window set-up
// (500 x 500, double-buffered, depth), initScene once, then displayScene as
// fast as it goes, with frameCount advancing as in the animation. Run it from
// the build's run directory (the ship model is read before main):
//     cd build/run && ../bench/bench_window_fps
// With DISPLAY unset it starts its own virtual X server (Xvfb) and asks for
// Mesa's software renderer, so a headless machine measures llvmpipe.
//
// Where a frame's time goes. The frames are drawn on this thread; Mesa's
// renderer adds worker threads that rasterise, and the X server (another
// process) puts each frame on the screen. While the frames are timed, a timer
// on this thread's CPU clock samples the interrupted instruction address every
// millisecond of its CPU time, and each sample is put down to the object file
// holding that address:
//   ours    this executable: displayScene, drawSphere's mesh building and
//           face loop, kelDraw's loop over the ship's triangles;
//   libm    sin and cos, called in the frame only by the sphere building;
//   libc    malloc, free, memcpy, memset: nearly all on the driver's behalf
//           (a frame makes 45 allocations of its own and the driver thousands);
//   driver  libGL, GLX, the GL dispatch, the Mesa driver, LLVM and the shader
//           code it compiled (addresses in no object file);
//   X       Xlib, xcb and GLUT;
// and the rest as other. The CPU time of every other thread of the process is
// the renderer's and counts as driver time. The shares are of the process's
// CPU time per frame; "ours+libm ms/frame" is our code's time per frame, to
// set against the frame's wall time. A sampling timer is needed here because
// our code and the driver alternate call by call, tens of thousands of times a
// frame: timing the pieces apart would change the frame. After the table, the
// symbols that took most samples in our code and libm tell where our share
// goes.
#include <benchmark/benchmark.h>

#include <GL/freeglut.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <time.h>
#include <ucontext.h>
#include <unistd.h>

#include <cxxabi.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "app/state.h"
#include "scene/scene.h"
#include "window/display_number.h"

namespace {

// ---- Sampling ------------------------------------------------------------

constexpr int maxSamples = 1 << 16;
void* samples[maxSamples];
std::atomic<int> sampleCount{0};

void onProfTick(int, siginfo_t*, void* context) {
    const ucontext_t* uc = static_cast<const ucontext_t*>(context);
#if defined(__x86_64__)
    void* pc = reinterpret_cast<void*>(uc->uc_mcontext.gregs[REG_RIP]);
#elif defined(__aarch64__)
    void* pc = reinterpret_cast<void*>(uc->uc_mcontext.pc);
#else
    void* pc = nullptr;
    (void)uc;
#endif
    const int i = sampleCount.fetch_add(1, std::memory_order_relaxed);
    if (i < maxSamples) samples[i] = pc;
}

// A timer on the calling thread's CPU clock whose signal goes to that thread.
timer_t sampler;
bool samplerMade;

void makeSampler() {
    struct sigaction action = {};
    action.sa_sigaction = onProfTick;
    action.sa_flags = SA_SIGINFO | SA_RESTART;
    sigemptyset(&action.sa_mask);
    sigaction(SIGPROF, &action, nullptr);
    sigevent event = {};
    event.sigev_notify = SIGEV_THREAD_ID;
    event.sigev_signo = SIGPROF;
    event._sigev_un._tid = pid_t(syscall(SYS_gettid));
    samplerMade = timer_create(CLOCK_THREAD_CPUTIME_ID, &event, &sampler) == 0;
}

// Samples every `micros` of this thread's CPU time; 0 stops.
void sampleEvery(long micros) {
    if (!samplerMade) return;
    itimerspec t = {};
    t.it_interval.tv_nsec = micros * 1000;
    t.it_value.tv_nsec = micros * 1000;
    timer_settime(sampler, 0, &t, nullptr);
}

enum Share { ours, libm, libc, driver, xlibs, other, shareCount };
const char* const shareNames[shareCount] = {"ours%", "libm%", "libc%", "driver%", "X%", "other%"};

bool contains(const char* s, const char* part) { return s && strstr(s, part); }

Share classify(const Dl_info& info, bool found) {
    static Dl_info self;
    static const bool selfFound = dladdr(reinterpret_cast<void*>(&displayScene), &self);
    if (!found) return driver;  // compiled shader code lives in anonymous memory
    if (selfFound && info.dli_fbase == self.dli_fbase) return ours;
    const char* f = info.dli_fname;
    if (contains(f, "/libm.so")) return libm;
    if (contains(f, "/libc.so")) return libc;
    if (contains(f, "/libGL") || contains(f, "/libOpenGL") || contains(f, "_dri.so") || contains(f, "/libgallium") ||
        contains(f, "/libLLVM") || contains(f, "/libglapi") || contains(f, "/libGLU"))
        return driver;
    if (contains(f, "/libX") || contains(f, "/libxcb") || contains(f, "/libglut")) return xlibs;
    return other;
}

// Where our code and libm spent their samples, per window size.
std::map<int, std::string> hotSpots;

std::string readableName(const Dl_info& info, Share share) {
    // libm's sinf, cosf, sin and cos jump to local variants; this executable's
    // unnamed code is its PLT, the call stubs into GL, and local functions.
    if (!info.dli_sname)
        return share == libm ? "libm, local symbols (sin and cos)" : "no symbol (PLT stubs, local code)";
    int status = 0;
    char* plain = abi::__cxa_demangle(info.dli_sname, nullptr, nullptr, &status);
    std::string name = status == 0 && plain ? plain : info.dli_sname;
    free(plain);  // allocated by __cxa_demangle
    return name;
}

// Puts the samples of this thread down to their objects and adds the other
// threads' CPU time to the driver: the shares as counters, and the busiest
// symbols of our code and libm into hotSpots.
void reportShares(benchmark::State& state, double mainSeconds, double processSeconds) {
    const int n = std::min(sampleCount.load(), maxSamples);
    if (n == 0) return;
    int counts[shareCount] = {};
    std::map<std::string, int> symbols;
    for (int i = 0; i < n; ++i) {
        Dl_info info = {};
        const bool found = samples[i] && dladdr(samples[i], &info);
        const Share s = classify(info, found);
        ++counts[s];
        if (s == ours || s == libm) ++symbols[readableName(info, s)];
    }
    const double frames = double(state.iterations());
    const double workers = std::max(processSeconds - mainSeconds, 0.0);
    double seconds[shareCount];
    for (int s = 0; s < shareCount; ++s) seconds[s] = mainSeconds * counts[s] / n;
    seconds[driver] += workers;
    for (int s = 0; s < shareCount; ++s) state.counters[shareNames[s]] = 100.0 * seconds[s] / processSeconds;
    state.counters["cpu ms/frame"] = 1e3 * processSeconds / frames;
    state.counters["workers ms/frame"] = 1e3 * workers / frames;
    state.counters["ours+libm ms/frame"] = 1e3 * (seconds[ours] + seconds[libm]) / frames;
    state.counters["samples"] = n;

    std::vector<std::pair<int, std::string>> ranked;
    for (const auto& [name, count] : symbols) ranked.push_back({count, name});
    std::sort(ranked.rbegin(), ranked.rend());
    std::string text;
    char line[512];
    for (size_t i = 0; i < ranked.size() && i < 8; ++i) {
        const double ms = 1e3 * mainSeconds * ranked[i].first / n / frames;
        snprintf(line, sizeof line, "  %6.3f ms/frame  %4d samples  %s\n", ms, ranked[i].first,
                 ranked[i].second.c_str());
        text += line;
    }
    hotSpots[int(state.range(0))] = text;
}

double cpuSeconds(clockid_t clock) {
    timespec t;
    clock_gettime(clock, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

// ---- Window --------------------------------------------------------------

// Pumps GLUT's events until the window has been reshaped to `size`.
bool waitForSize(int size) {
    for (int i = 0; i < 2000 && (windowWidth != size || windowHeight != size); ++i) {
        glutMainLoopEvent();
        usleep(1000);
    }
    return windowWidth == size && windowHeight == size;
}

void BM_WindowFrame(benchmark::State& state) {
    const int size = int(state.range(0));
    glutReshapeWindow(size, size);
    if (!waitForSize(size)) {
        state.SkipWithError("the window did not take its size");
        return;
    }
    frameCount = 0.0f;
    displayScene();  // the first frame sets up the driver's state

    sampleCount = 0;
    const double main0 = cpuSeconds(CLOCK_THREAD_CPUTIME_ID), process0 = cpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
    sampleEvery(1000);
    for (auto _ : state) {
        displayScene();
        frameCount += 1.0f;
    }
    sampleEvery(0);
    const double mainSeconds = cpuSeconds(CLOCK_THREAD_CPUTIME_ID) - main0;
    const double processSeconds = cpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - process0;

    state.counters["fps"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
    reportShares(state, mainSeconds, processSeconds);
}
// 500: the program's window; 32: next to no pixels, the per-call work alone.
BENCHMARK(BM_WindowFrame)->Arg(500)->Arg(32)->UseRealTime()->MinTime(5.0)->Unit(benchmark::kMillisecond);

// A virtual X server for a machine without a display; it dies with us.
pid_t startVirtualDisplay() {
    int fds[2];
    if (pipe(fds) != 0) return -1;
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) _exit(127);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        dup2(null, 2);
        close(fds[0]);
        const std::string fd = std::to_string(fds[1]);
        execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "800x600x24", "-nolisten", "tcp", "-nolisten",
               "unix", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    const std::string display = readDisplayName(fds[0]);
    if (display.empty()) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        return -1;
    }
    setenv("DISPLAY", display.c_str(), 1);
    setenv("LIBGL_ALWAYS_SOFTWARE", "1", 1);
    return pid;
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;

    if (!getenv("DISPLAY") || !*getenv("DISPLAY")) {
        if (startVirtualDisplay() < 0) {
            fprintf(stderr, "no DISPLAY, and no virtual X server (Xvfb) could be started\n");
            return 1;
        }
    }

    // The program's own window and set-up.
    int glutArgc = 1;
    char* glutArgv[] = {argv[0], nullptr};
    openSceneWindow(&glutArgc, glutArgv);
    initScene();
    if (!waitForSize(500)) {
        fprintf(stderr, "the window was never shown\n");
        return 1;
    }
    printf("GL renderer: %s\n", reinterpret_cast<const char*>(glGetString(GL_RENDERER)));

    makeSampler();

    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    for (const auto& [size, text] : hotSpots)
        printf("Busiest symbols of our code and libm, %dx%d window:\n%s", size, size, text.c_str());
    // A virtual X server started here ends with this process.
    return 0;
}
