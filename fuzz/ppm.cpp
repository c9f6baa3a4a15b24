// libFuzzer target for kelReadPPM: each input is written to a file of this
// process's own and read back; the ends of the array the returned size describes
// are then read, so a size larger than its array shows up under AddressSanitizer.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "kel/kel.h"

static const std::string& inputPath() {
    static const std::string path = [] {
        const char* dir = getenv("TMPDIR");
        std::string p = std::string(dir && *dir ? dir : "/tmp") + "/orvandel_fuzz_ppm_" + std::to_string(getpid());
        atexit([] { remove(inputPath().c_str()); });
        return p;
    }();
    return path;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* path = inputPath().c_str();
    FILE* f = fopen(path, "wb");
    if (!f) return 0;
    fwrite(data, 1, size, f);
    fclose(f);

    int width = 0, height = 0;
    unsigned char* pixels = kelReadPPM(path, &width, &height);
    if (pixels) {
        if (width <= 0 || height <= 0) abort();
        size_t n = size_t(width) * size_t(height) * 3;
        // The first and last bytes: AddressSanitizer reports an array shorter
        // than the size says.
        volatile unsigned char edge = n ? pixels[0] ^ pixels[n - 1] : 0;
        (void)edge;
        free(pixels);
    }
    return 0;
}
