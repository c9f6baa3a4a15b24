// One frame's work on the CPU side: displayScene (the ship and the nine
// sphere builds) and drawSphere alone, against the GL double with recording
// off, so only the program's own work and one counter per GL call are timed.
// Run from the build's run directory: the ship model is read at start-up.
#include <benchmark/benchmark.h>

#include "app/state.h"
#include "gldouble/gldouble.h"
#include "scene/scene.h"

static void BM_Frame(benchmark::State& state) {
    glRecording = false;
    eyeZ = 10.0f;
    frameCount = 1000.0f;
    for (auto _ : state) {
        displayScene();
        frameCount += 1.0f;
    }
    state.counters["glcalls/frame"] = double(glCallCount) / double(state.iterations());
    glDoubleReset();
}
BENCHMARK(BM_Frame);

static void BM_Sphere20x20(benchmark::State& state) {
    glRecording = false;
    for (auto _ : state) drawSphere(1.02f, 20, 20);
    state.counters["glcalls/sphere"] = double(glCallCount) / double(state.iterations());
    glDoubleReset();
}
BENCHMARK(BM_Sphere20x20);

BENCHMARK_MAIN();
