// libFuzzer target for the OBJ reader: each input is read from memory as an
// OBJ file whose material library ("fuzz.mtl", handed over by the library
// callback) is fixed, checked and freed. The read goes through chunks of 1 to
// 37 bytes, chosen by the input's size, so that chunk boundaries fall
// everywhere a statement can stand: once on one thread, in one pass, and
// once on two or three, in two passes. Both must give the same model, or the
// same error. Every third input is written to a file for the second read,
// which then takes its chunks where they lie in the mapped file. Each input
// is read leniently and strictly; what strict reading takes, lenient
// reading must read into the same model. Its mesh, made the general way and
// made in place of the triangle table as kelLoadMesh makes it, must be the
// same both ways.
#include <cstdint>
#include <cstring>

#include "fuzz_input.h"
#include "kel/kel_internal.h"
#include "model_check.h"

static const char kLibrary[] =
    "# four materials and \"default\" again, with opacity and maps\n"
    "Kd 0.5 0.5 0.5\n"
    "newmtl red\nKa 0.2 0 0\nKd 1 0 0 1\nKs 1 1 1\nNs 96\nNi 1.45\n"
    "newmtl blue\r\nKd 0 0 1\nNs 1000\nillum 2\nmap_Kd blue.png\n"
    "newmtl default\nKe 1 1 1\n"
    "newmtl glass\nTr 0.75\nmap_Kd -clamp on -o 0.5 0.5 stained glass.png \r\n"
    "newmtl stone\nd 0.5\nmap_Bump -bm 2 stone bump.tga\nbump -mm 0 1\n";

// Only "fuzz.mtl" exists; any other library is missing.
static const void* library(void*, const char* name, size_t* size) {
    if (strcmp(name, "fuzz.mtl") != 0) return nullptr;
    *size = sizeof kLibrary - 1;
    return kLibrary;
}

// Reads the input on one thread and on two or three, which must agree;
// returns the model (the caller frees it), or null.
static KelModel* readAlike(const uint8_t* data, size_t size, const char* file, KelReadOptions options) {
    size_t chunk = 1 + size % 37;
    const char* name = file ? file : "fuzz.obj";  // messages name it
    KelError error, twoPassError;
    options.threads = 1;
    KelModel* model = kelLoadOBJFromMemoryChunks(data, size, name, chunk, &options, &error);
    checkLoad(model, error);
    options.threads = 2 + unsigned(size % 2);
    options.mapInput = 1;
    KelModel* twoPass = file ? kelLoadOBJChunks(file, chunk, &options, &twoPassError)
                             : kelLoadOBJFromMemoryChunks(data, size, name, chunk, &options, &twoPassError);
    checkLoad(twoPass, twoPassError);
    // The input cannot change between the passes: an input error here means
    // the first pass counted what the second did not fill.
    if (twoPassError.code == KEL_ERROR_IO) __builtin_trap();
    if ((model == nullptr) != (twoPass == nullptr) || (model && !sameModel(model, twoPass))) __builtin_trap();
    if (!model && (error.code != twoPassError.code || error.line != twoPassError.line ||
                   strcmp(error.message, twoPassError.message) != 0))
        __builtin_trap();
    if (twoPass) kelDelete(twoPass);
    return model;
}

static bool sameMesh(const KelMesh* a, const KelMesh* b) {
    size_t n = a->numvertices;
    if (n != b->numvertices || a->numindices != b->numindices || a->numranges != b->numranges ||
        a->numlineindices != b->numlineindices || a->numpointindices != b->numpointindices ||
        a->nummaterials != b->nummaterials || !sameBytes(a->positions, b->positions, 3 * n * sizeof(float)) ||
        !a->normals != !b->normals || !sameBytes(a->normals, b->normals, a->normals ? 3 * n * sizeof(float) : 0) ||
        !a->texcoords != !b->texcoords ||
        !sameBytes(a->texcoords, b->texcoords, a->texcoords ? 2 * n * sizeof(float) : 0) || !a->colors != !b->colors ||
        !sameBytes(a->colors, b->colors, a->colors ? 3 * n * sizeof(float) : 0) ||
        !sameBytes(a->indices, b->indices, a->numindices * sizeof(unsigned)) ||
        !sameBytes(a->lineindices, b->lineindices, a->numlineindices * sizeof(unsigned)) ||
        !sameBytes(a->pointindices, b->pointindices, a->numpointindices * sizeof(unsigned)))
        return false;
    for (unsigned r = 0; r < a->numranges; r++) {
        const KelMeshRange &x = a->ranges[r], &y = b->ranges[r];
        if (x.first != y.first || x.count != y.count || x.material != y.material || !sameText(x.group, y.group))
            return false;
    }
    return true;
}

// Makes the model's mesh on two threads, then in place of its triangle
// table, letting the model go (it is then fit only for kelDelete).
static void checkMeshes(KelModel* model) {
    unsigned mode = (model->normals ? KEL_SMOOTH : 0) | (model->texcoords ? KEL_TEXTURE : 0) |
                    (model->colors ? KEL_VERTEX_COLOR : 0);
    KelError error, inPlaceError;
    KelMesh* general = kelMakeMeshThreads(model, mode, 2, nullptr, &error);
    KelMesh* inPlace = kelMakeMeshThreads(model, mode, 2, model, &inPlaceError);
    if (!general || !inPlace || !sameMesh(general, inPlace)) __builtin_trap();
    kelDeleteMesh(general);
    kelDeleteMesh(inPlace);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    KelReadOptions options = {};
    options.library = library;
    options.optionalLibrary = size % 2;
    options.warning = [](void*, unsigned long, const char*) {};
    const char* file = size % 3 == 0 ? fuzzInputFile("obj", data, size) : nullptr;
    KelModel* lenient = readAlike(data, size, file, options);
    options.strict = 1;
    KelModel* strict = readAlike(data, size, file, options);
    if (strict && (!lenient || !sameModel(strict, lenient))) __builtin_trap();
    if (strict) kelDelete(strict);
    if (lenient) checkMeshes(lenient), kelDelete(lenient);
    return 0;
}
