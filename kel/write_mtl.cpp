// Writes a model's materials as an MTL file, and decides where a save puts
// the library.
#include <sys/stat.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "kel/kel_internal.h"
#include "kel/out.h"

namespace {

const char* const kMapKeywords[KEL_MAP_KINDS] = {"map_Ka", "map_Kd", "map_Ks", "map_Ns", "map_d",  "map_Bump", "norm",
                                                 "disp",   "map_Ke", "refl",   "map_Pr", "map_Pm", "map_Ps"};

// Whether n floats differ bit for bit (so -0 differs from 0, and a NaN is
// written).
bool differs(const float* a, const float* b, int n) { return memcmp(a, b, size_t(n) * sizeof(float)) != 0; }

// The shininess as the reader stores an "Ns" value: divided by 1000 and
// multiplied by 128, each step rounded to a float.
float readShininess(float exponent) {
    float scaled = float(exponent / 1000.0);
    return float(scaled * 128.0);
}

// The "Ns" value with the fewest digits that reads back as `shininess`. The
// inverse computed in double precision lands on, or a few floats beside, the
// exponents that read back to it; the shortest of those is taken, the
// nearest on ties. A shininess no exponent reaches (one set by hand) gets
// the nearest guess.
float shininessExponent(float shininess) {
    const float guess = float(shininess / 128.0 * 1000.0);
    if (!std::isfinite(guess)) return guess;
    float best = guess;
    size_t bestLength = 0;
    char text[kelNumberRoom];
    for (int distance = 0; distance <= 8; distance++)
        for (int side = 0; side < (distance ? 2 : 1); side++) {
            float candidate = guess;
            for (int step = 0; step < distance; step++)
                candidate = std::nextafter(candidate, side ? -HUGE_VALF : HUGE_VALF);
            float back = readShininess(candidate);
            if (differs(&back, &shininess, 1)) continue;
            size_t length = size_t(kelFormatShortest(text, candidate) - text);
            if (!bestLength || length < bestLength) best = candidate, bestLength = length;
        }
    return best;
}

// "<keyword> <number>\n"
void putNumber(KelOut* out, const char* keyword, float value) {
    kelPutNumbers(out, keyword, strlen(keyword), &value, 1);
}

// " <option> a b c" for `components` numbers.
void putOption(KelOut* out, const char* option, const float* v, int components) {
    kelPut(out, option);
    char* p = kelRoom(out, size_t(components) * kelNumberRoom);
    kelDone(out, kelFormatNumbers(out, p, v, components));
}

// A map statement: keyword, the options that differ from their defaults,
// the others as read, then the name. The material's own diffuseMap and
// bumpMap name those maps when set.
void putMap(KelOut* out, const KelMaterial* material, int kind) {
    const KelMap& map = material->maps[kind];
    const char* name = map.name;
    if (kind == KEL_MAP_DIFFUSE && material->diffuseMap) name = material->diffuseMap;
    if (kind == KEL_MAP_BUMP && material->bumpMap) name = material->bumpMap;
    if (!name) return;
    static const float zero[3] = {0, 0, 0}, one[3] = {1, 1, 1};
    kelPut(out, kMapKeywords[kind]);
    if (differs(map.offset, zero, 3)) putOption(out, " -o", map.offset, 3);
    if (differs(map.scale, one, 3)) putOption(out, " -s", map.scale, 3);
    if (differs(&map.bumpScale, one, 1)) putOption(out, " -bm", &map.bumpScale, 1);
    if (map.clamp) kelPut(out, " -clamp on");
    if (map.options) {
        kelPut(out, " ");
        kelPut(out, map.options);
    }
    kelPut(out, " ");
    kelPut(out, name);
    kelPut(out, "\n");
}

// The statements of one material, after its newmtl line. Exact saves write
// only what differs from the reader's defaults; the others always write the
// colours and shininess, as saves always have.
void putMaterial(KelOut* out, const KelMaterial* material) {
    KelMaterial defaults;
    kelMaterialDefaults(&defaults);
    const bool all = !out->exact;
    if (all || differs(material->ambient, defaults.ambient, 3)) kelPutNumbers(out, "Ka", 2, material->ambient, 3);
    if (all || differs(material->diffuse, defaults.diffuse, 3)) kelPutNumbers(out, "Kd", 2, material->diffuse, 3);
    if (all || differs(material->specular, defaults.specular, 3)) kelPutNumbers(out, "Ks", 2, material->specular, 3);
    if (material->dissolve != 1) putNumber(out, "d", material->dissolve);
    if (all) {
        // The exponent that reads back as the shininess, so that a model
        // saved, read and saved again writes the same number.
        char* p = kelRoom(out, 512);
        kelDone(out, p + snprintf(p, 512, "Ns %f\n", double(shininessExponent(material->shininess))));
    } else if (differs(&material->shininess, &defaults.shininess, 1)) {
        putNumber(out, "Ns", shininessExponent(material->shininess));
    }
    if (differs(material->emission, defaults.emission, 3)) kelPutNumbers(out, "Ke", 2, material->emission, 3);
    if (differs(&material->ior, &defaults.ior, 1)) putNumber(out, "Ni", material->ior);
    if (material->illum != defaults.illum) {
        char* p = kelRoom(out, kelNumberRoom);
        kelDone(out, p + snprintf(p, kelNumberRoom, "illum %d\n", material->illum));
    }
    const struct {
        const char* keyword;
        float value;
    } scalars[] = {{"Pr", material->roughness},
                   {"Pm", material->metallic},
                   {"Ps", material->sheen},
                   {"Pc", material->clearcoat},
                   {"Pcr", material->clearcoatRoughness}};
    static const float zero = 0;
    for (const auto& scalar : scalars)
        if (differs(&scalar.value, &zero, 1)) putNumber(out, scalar.keyword, scalar.value);
    for (int kind = 0; kind < KEL_MAP_KINDS; kind++) putMap(out, material, kind);
    if (material->extras) {
        kelPut(out, material->extras);
        // A line end of its own, should a caller's text lack its last one.
        size_t length = strlen(material->extras);
        if (length && material->extras[length - 1] != '\n') kelPut(out, "\n");
    }
}

}  // namespace

char* kelSavedLibraryName(const char* name) {
    bool outside = name[0] == '/';
    for (const char* part = name; *part && !outside; part += strcspn(part, "/"), part += *part == '/')
        outside = strncmp(part, "..", 2) == 0 && (part[2] == '/' || part[2] == '\0');
    if (!outside) return kelTryCopyName(name, strlen(name));
    const char* slash = strrchr(name, '/');
    const char* base = slash ? slash + 1 : name;
    // A name with no file part of its own ("/", "..", "../") gets one.
    if (!*base || !strcmp(base, "..") || !strcmp(base, ".")) base = "materials.mtl";
    return kelTryCopyName(base, strlen(base));
}

bool kelSameFile(const char* a, const char* b) {
    struct stat first, second;
    return a && b && stat(a, &first) == 0 && stat(b, &second) == 0 && first.st_dev == second.st_dev &&
           first.st_ino == second.st_ino;
}

int kelIsReadLibrary(const KelModel* model, const char* path, bool* read) {
    *read = false;
    if (!model->pathname || !path) return KEL_OK;
    for (unsigned i = 0; i <= model->nummtllibs && !*read; i++) {
        const char* name = i < model->nummtllibs ? model->mtllibs[i] : model->mtllibname;
        if (!name) continue;
        char* library = name[0] == '/' ? kelTryCopyName(name, strlen(name)) : kelBesidePath(model->pathname, name);
        if (!library) return KEL_ERROR_MEMORY;
        *read = kelSameFile(path, library);
        free(library);
    }
    return KEL_OK;
}

namespace {

// The file part of `objPath` with its extension (if any) replaced by
// `suffix` ("out.obj" and "-2.mtl" give "out-2.mtl"); a new heap string or
// null.
char* nameAfter(const char* objPath, const char* suffix) {
    const char* slash = strrchr(objPath, '/');
    const char* base = slash ? slash + 1 : objPath;
    const char* dot = strrchr(base, '.');
    size_t stem = dot && dot != base ? size_t(dot - base) : strlen(base);
    size_t length = stem + strlen(suffix);
    char* name = static_cast<char*>(kelTryAlloc(length + 1, 1));
    if (name) memcpy(name, base, stem), memcpy(name + stem, suffix, strlen(suffix));
    return name;
}

}  // namespace

int kelPlaceLibrary(const KelModel* model, const char* objPath, char** name, char** path, bool* renamed) {
    *renamed = false;
    *path = nullptr;
    if (!(*name = kelSavedLibraryName(model->mtllibname))) return KEL_ERROR_MEMORY;
    *path = kelBesidePath(objPath, *name);
    // A save over the model's own OBJ file replaces its library too; any
    // other save leaves every file the model was read from as it is.
    const bool ownFile = kelSameFile(objPath, model->pathname);
    bool clash = false;
    for (unsigned attempt = 1; *path && !ownFile && attempt < 1000; attempt++) {
        if (kelIsReadLibrary(model, *path, &clash) != KEL_OK) {
            free(*path);
            *path = nullptr;
            break;
        }
        if (!clash && !kelSameFile(*path, model->pathname)) break;
        char suffix[32];
        snprintf(suffix, sizeof suffix, attempt == 1 ? ".mtl" : "-%u.mtl", attempt);
        free(*name);
        free(*path);
        *path = nullptr;
        if ((*name = nameAfter(objPath, suffix))) *path = kelBesidePath(objPath, *name);
        *renamed = true;
    }
    if (*path) return KEL_OK;
    free(*name);
    *name = nullptr;
    return KEL_ERROR_MEMORY;
}

const KelSaveMessages kelCannotWriteMTL = {"kelWriteMTL() failed: can't open file \"%s\".",
                                           "kelWriteMTL() failed: can't write file \"%s\"."};

int kelWriteMaterials(const KelModel* model, const char* path, KelSaveProgress* progress, bool exact, KelOut* out,
                      KelError* error) {
    int status = kelOpenOut(out, path, progress, exact);
    if (status != KEL_OK) return kelSaveFailure(error, status, progress, kelCannotWriteMTL, path, out->systemError);
    kelPut(out, "#  \n#  Wavefront MTL generated by KEL library\n#  \n#  KEL library\n");
    kelPut(out, kelAuthorLines);
    kelPut(out, "#  \n\n");
    for (unsigned i = 0; i < model->nummaterials; i++) {
        const KelMaterial* material = &model->materials[i];
        // The reader makes its own "default" first: a save gives it the
        // statements of material 0 without naming it again, so that reading
        // the library back makes no second "default".
        bool readersDefault = i == 0 && !strcmp(material->name, "default");
        if (!readersDefault) {
            kelPut(out, "newmtl ");
            kelPut(out, material->name);
            kelPut(out, "\n");
        }
        putMaterial(out, material);
        kelPut(out, "\n");
    }
    if (!kelCompleteOut(out)) return kelSaveFailure(error, KEL_OK, progress, kelCannotWriteMTL, path, out->systemError);
    return KEL_OK;
}

void kelWriteMTL(KelModel* model, const char* modelpath, const char* mtllibname) {
    assert(model);
    KelError error = {};
    char* name = kelSavedLibraryName(mtllibname);
    char* path = name ? kelBesidePath(modelpath, name) : nullptr;
    KelOut out;
    int status = path ? kelWriteMaterials(model, path, nullptr, false, &out, &error) : KEL_ERROR_MEMORY;
    if (status == KEL_ERROR_MEMORY && !path) kelSetMemoryError(&error, strlen(modelpath) + strlen(mtllibname) + 1, 1);
    if (status == KEL_OK && (status = kelPlaceOuts(nullptr, &out)) != KEL_OK)
        status = kelSaveFailure(&error, status, nullptr, kelCannotWriteMTL, path, out.systemError);
    free(name);
    free(path);
    if (status != KEL_OK) {
        kelPrintError(stderr, &error);
        exit(1);
    }
}
