// Shared by the image fuzz targets: the readers take a path, so each input is
// written to a file of this process's own (removed at exit), and the ends of
// a returned array are read, so that an array shorter than its stated size
// shows up under AddressSanitizer.
#ifndef ORVANDEL_FUZZ_INPUT_H
#define ORVANDEL_FUZZ_INPUT_H

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

// Writes the input to the process's file for `tag` and returns its path, or
// null when the file cannot be written.
inline const char* fuzzInputFile(const char* tag, const uint8_t* data, size_t size) {
    static const std::string path = [tag] {
        const char* dir = getenv("TMPDIR");
        std::string p =
            std::string(dir && *dir ? dir : "/tmp") + "/orvandel_fuzz_" + tag + "_" + std::to_string(getpid());
        return p;
    }();
    static const bool removeAtExit = atexit([] { remove(path.c_str()); }) == 0;
    (void)removeAtExit;
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) return nullptr;
    fwrite(data, 1, size, f);
    fclose(f);
    return path.c_str();
}

// Reads the first and last of `size` bytes.
inline void touchEnds(const unsigned char* bytes, size_t size) {
    volatile unsigned char edge = size ? bytes[0] ^ bytes[size - 1] : 0;
    (void)edge;
}

#endif  // ORVANDEL_FUZZ_INPUT_H
