// libFuzzer target for readBmpImage.
#include <cstdlib>

#include "fuzz_input.h"
#include "image/bmp.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* path = fuzzInputFile("bmp", data, size);
    if (!path) return 0;
    BmpImage image = {0, 0, nullptr};
    readBmpImage(path, &image);
    if (image.pixels) {
        touchEnds(image.pixels, size_t(image.width) * size_t(image.height) * 3);
        free(image.pixels);
    }
    return 0;
}
