// libFuzzer target for readBmpImage: each input is written to a file of this
// process's own and read back; the ends of the array the record describes are
// then read, so a record larger than its array shows up under AddressSanitizer.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "image/bmp.h"

static const std::string& inputPath() {
    static const std::string path = [] {
        const char* dir = getenv("TMPDIR");
        std::string p = std::string(dir && *dir ? dir : "/tmp") + "/orvandel_fuzz_bmp_" + std::to_string(getpid());
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

    BmpImage image = {0, 0, nullptr};
    readBmpImage(path, &image);
    if (image.pixels) {
        size_t n = size_t(image.width) * size_t(image.height) * 3;
        // The first and last bytes: AddressSanitizer reports an array shorter
        // than the size says.
        volatile unsigned char edge = n ? image.pixels[0] ^ image.pixels[n - 1] : 0;
        (void)edge;
        free(image.pixels);
    }
    return 0;
}
