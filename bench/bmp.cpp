// Reading a 4096 x 4096 24-bit BMP with readBmpImage and with stb_image, in
// the same run. The file is written once into the temporary directory.
#include <benchmark/benchmark.h>
#include <stb/stb_image.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "image/bmp.h"

namespace {

const int kSide = 4096;

const std::string& benchFile() {
    static const std::string path = [] {
        std::string p = "/tmp/orvandel_bench_" + std::to_string(getpid()) + ".bmp";
        const size_t data = size_t(kSide) * kSide * 3;
        std::vector<unsigned char> file(54 + data);
        auto put32 = [&](size_t at, uint32_t v) {
            for (int i = 0; i < 4; ++i) file[at + i] = (v >> (8 * i)) & 0xff;
        };
        file[0] = 'B';
        file[1] = 'M';
        put32(2, uint32_t(file.size()));
        put32(10, 54);
        put32(14, 40);
        put32(18, kSide);
        put32(22, kSide);
        file[26] = 1;
        file[28] = 24;
        uint32_t x = 12345;
        for (size_t i = 54; i < file.size(); ++i) {
            x = x * 1664525u + 1013904223u;
            file[i] = x >> 24;
        }
        FILE* f = fopen(p.c_str(), "wb");
        fwrite(file.data(), 1, file.size(), f);
        fclose(f);
        atexit([] { remove(benchFile().c_str()); });
        return p;
    }();
    return path;
}

void BM_readBmpImage(benchmark::State& state) {
    const char* path = benchFile().c_str();
    for (auto _ : state) {
        BmpImage image = {0, 0, nullptr};
        readBmpImage(path, &image);
        benchmark::DoNotOptimize(image.pixels);
        free(image.pixels);
    }
    state.SetBytesProcessed(state.iterations() * int64_t(kSide) * kSide * 3);
}
BENCHMARK(BM_readBmpImage)->Unit(benchmark::kMillisecond);

void BM_stbi_load(benchmark::State& state) {
    const char* path = benchFile().c_str();
    for (auto _ : state) {
        int w, h, n;
        unsigned char* pixels = stbi_load(path, &w, &h, &n, 3);
        benchmark::DoNotOptimize(pixels);
        stbi_image_free(pixels);
    }
    state.SetBytesProcessed(state.iterations() * int64_t(kSide) * kSide * 3);
}
BENCHMARK(BM_stbi_load)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
