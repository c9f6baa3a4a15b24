// libFuzzer target for kelReadPPM.
#include <cstdlib>

#include "fuzz_input.h"
#include "kel/kel.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* path = fuzzInputFile("ppm", data, size);
    if (!path) return 0;
    int width = 0, height = 0;
    unsigned char* pixels = kelReadPPM(path, &width, &height);
    if (pixels) {
        if (width <= 0 || height <= 0) abort();
        touchEnds(pixels, size_t(width) * size_t(height) * 3);
        free(pixels);
    }
    return 0;
}
