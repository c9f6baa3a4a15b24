// libFuzzer target for the MTL reader: each input is the material library of
// a fixed OBJ file that uses several materials, read from memory through
// chunks of 1 to 37 bytes, leniently and strictly, checked and freed.
#include <cstdint>

#include "kel/kel_internal.h"
#include "model_check.h"

namespace {

struct Input {
    const uint8_t* data;
    size_t size;
};

const void* library(void* user, const char*, size_t* size) {
    const Input* input = static_cast<const Input*>(user);
    *size = input->size;
    return input->size ? input->data : reinterpret_cast<const uint8_t*>("");
}

const char kObj[] =
    "mtllib fuzz.mtl\nv 0 0 0\nv 1 0 0\nv 0 1 0\n"
    "g a\nusemtl red\nf 1 2 3\ng b\nusemtl blue\nf 3 2 1\ng c\nusemtl default\nf 1 3 2\n";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input input = {data, size};
    KelReadOptions options = {};
    options.library = library;
    options.user = &input;
    for (int strict = 0; strict < 2; strict++) {
        options.strict = strict;
        KelError error;
        KelModel* model =
            kelLoadOBJFromMemoryChunks(kObj, sizeof kObj - 1, "fuzz.obj", 1 + size % 37, &options, &error);
        checkLoad(model, error);
        if (model) kelDelete(model);
    }
    return 0;
}
