// MTL reader: the material library an OBJ file names, read in two passes
// over its bytes (count the materials, then fill a new table). The model's
// table is replaced only when the whole library was read.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "kel/kel_internal.h"

// A texture map statement after its keyword: the options that may come
// before the file name are skipped, each with its values (-o, -s and -t take
// one to three numbers), and the rest of the line, inner blanks kept and
// trailing ones dropped, names the file. A line without a name leaves *slot
// as it was. Returns the start of the next line, or null when the name could
// not be copied.
static const char* readMap(const char* p, const char* end, char** slot) {
    static const struct {
        const char* name;
        int values;
        bool numbers;  // up to `values` numbers rather than exactly `values` words
    } options[] = {{"-blendu", 1, false}, {"-blendv", 1, false}, {"-bm", 1, false},      {"-boost", 1, false},
                   {"-cc", 1, false},     {"-clamp", 1, false},  {"-imfchan", 1, false}, {"-mm", 2, false},
                   {"-o", 3, true},       {"-s", 3, true},       {"-t", 3, true},        {"-texres", 1, false}};
    const char* stop = kelLineEnd(p, end);
    for (;;) {
        while (p < stop && kelIsSpace(*p)) p++;
        const char* wordEnd = kelTokenEnd(p, stop);
        int option = -1;
        for (int i = 0; i < int(sizeof options / sizeof options[0]) && option < 0; i++)
            if (kelIsWord(p, wordEnd, options[i].name)) option = i;
        if (option < 0) break;
        p = wordEnd;
        for (int v = 0; v < options[option].values; v++) {
            const char* value = p;
            while (value < stop && kelIsSpace(*value)) value++;
            const char* valueEnd = kelTokenEnd(value, stop);
            float number;
            if (value == stop || (options[option].numbers && kelParseFloat(value, valueEnd, &number) != valueEnd))
                break;
            p = valueEnd;
        }
    }
    // A name ends at the line end, or at a zero byte (the name is kept as a
    // C string); trailing blanks are dropped.
    const char* nameEnd = static_cast<const char*>(memchr(p, '\0', size_t(stop - p)));
    if (!nameEnd) nameEnd = stop;
    while (nameEnd > p && kelIsSpace(nameEnd[-1])) nameEnd--;
    if (nameEnd > p) {
        char* name = kelTryCopyName(p, size_t(nameEnd - p));
        if (!name) return nullptr;
        free(*slot);
        *slot = name;
    }
    return kelSkipLine(stop, end);
}

// `count` materials with their defaults, the first named "default"; null
// when out of memory.
static KelMaterial* newMaterials(unsigned count) {
    KelMaterial* materials = static_cast<KelMaterial*>(kelTryAlloc(count, sizeof(KelMaterial)));
    if (!materials) return nullptr;
    for (unsigned i = 0; i < count; i++) kelMaterialDefaults(&materials[i]);
    if (!(materials[0].name = kelTryCopyName("default", 7))) {
        free(materials);
        return nullptr;
    }
    return materials;
}

static void replaceMaterials(KelModel* model, KelMaterial* materials, unsigned count) {
    kelFreeMaterials(model->materials, model->nummaterials);
    model->materials = materials;
    model->nummaterials = count;
}

bool kelDefaultMaterials(KelModel* model) {
    KelMaterial* materials = newMaterials(1);
    if (materials) replaceMaterials(model, materials, 1);
    return materials != nullptr;
}

// First pass: one entry for "default" and one per new-material statement.
static unsigned countMaterials(KelChunks* chunks) {
    unsigned count = 1;
    while (kelNextChunk(chunks)) {
        const char* end = chunks->data + chunks->split;
        for (const char* p = kelSkipSpace(chunks->data + chunks->start, end); p < end; p = kelSkipSpace(p, end)) {
            const char* tokenEnd = kelTokenEnd(p, end);
            if (kelIsWord(p, tokenEnd, "newmtl")) count++;
            p = kelSkipLine(tokenEnd, end);
        }
    }
    return count;
}

// Second pass. Statements before the first newmtl change "default". False
// when a name could not be copied.
static bool fillMaterials(KelChunks* chunks, KelMaterial* materials, unsigned count) {
    unsigned current = 0;
    bool dissolveGiven = false;  // the current material has a "d", which wins over "Tr"
    while (kelNextChunk(chunks)) {
        const char* end = chunks->data + chunks->split;
        for (const char* p = kelSkipSpace(chunks->data + chunks->start, end); p < end; p = kelSkipSpace(p, end)) {
            const char* tokenEnd = kelTokenEnd(p, end);
            KelMaterial* m = &materials[current];
            if (kelIsWord(p, tokenEnd, "newmtl")) {
                // The table has room for every newmtl the first pass counted;
                // the file may have changed since.
                if (current + 1 < count) current++;
                dissolveGiven = false;
                const char* wordEnd;
                const char* word = kelLineWord(tokenEnd, end, &wordEnd);
                free(materials[current].name);
                materials[current].name = kelTryCopyName(word, size_t(wordEnd - word));
                if (!materials[current].name) return false;
                p = kelSkipLine(wordEnd, end);
            } else if (kelIsWord(p, tokenEnd, "Ns")) {
                // The file's exponent runs from 0 to 1000, GL's from 0 to 128. A
                // number that fails to parse converts the value the field holds.
                p = kelReadNumbers(tokenEnd, end, &m->shininess, 1);
                m->shininess = float(m->shininess / 1000.0);
                m->shininess = float(m->shininess * 128.0);
            } else if (kelIsWord(p, tokenEnd, "Ka")) {
                p = kelReadNumbers(tokenEnd, end, m->ambient, 3);
            } else if (kelIsWord(p, tokenEnd, "Kd")) {
                p = kelReadNumbers(tokenEnd, end, m->diffuse, 3);
            } else if (kelIsWord(p, tokenEnd, "Ks")) {
                p = kelReadNumbers(tokenEnd, end, m->specular, 3);
            } else if (kelIsWord(p, tokenEnd, "d")) {
                p = kelReadNumbers(tokenEnd, end, &m->dissolve, 1);
                dissolveGiven = true;
            } else if (kelIsWord(p, tokenEnd, "Tr")) {
                // Transparency, the complement of "d", used only without one.
                float transparency = 0;
                const char* q = kelSkipSpace(tokenEnd, end);
                const char* after = kelParseFloat(q, end, &transparency);
                if (after != q && !dissolveGiven) m->dissolve = 1 - transparency;
                p = kelSkipLine(after != q ? after : tokenEnd, end);
            } else if (kelIsWord(p, tokenEnd, "map_Kd")) {
                if (!(p = readMap(tokenEnd, end, &m->diffuseMap))) return false;
            } else if (kelIsWord(p, tokenEnd, "map_Bump") || kelIsWord(p, tokenEnd, "bump")) {
                if (!(p = readMap(tokenEnd, end, &m->bumpMap))) return false;
            } else {
                p = kelSkipLine(tokenEnd, end);
            }
        }
    }
    return true;
}

// Opens the library from options->library when it is given, else from the
// disk at `path`.
static int openLibrary(const char* path, const char* name, size_t chunk, const KelReadOptions* options,
                       KelChunks* chunks) {
    if (!options || !options->library) {
        int status = kelOpenChunks(path, chunk, chunks);
        chunks->copied = options && options->copyInput;
        return status;
    }
    size_t size = 0;
    const void* bytes = options->library(options->user, name, &size);
    if (!bytes) {
        *chunks = {};
        return KEL_ERROR_OPEN;
    }
    return kelOpenMemoryChunks(bytes, size, chunk, chunks);
}

// The library is read in chunks like an OBJ file; one that fits a chunk, as
// libraries do, is read from the disk once.
int kelLoadMTLChunks(KelModel* model, const char* name, size_t chunk, const KelReadOptions* options, KelError* error) {
    char* path = kelBesidePath(model->pathname, name);
    if (!path) {
        kelSetMemoryError(error, strlen(model->pathname) + strlen(name) + 1, 1);
        return KEL_ERROR_MEMORY;
    }
    KelChunks chunks;
    int status = openLibrary(path, name, chunk, options, &chunks);
    KelMaterial* materials = nullptr;
    unsigned count = 0;
    if (status == KEL_OK) {
        count = countMaterials(&chunks);
        if (!chunks.error && !(materials = newMaterials(count))) status = KEL_ERROR_MEMORY;
        if (materials) {
            kelRewindChunks(&chunks);
            if (!fillMaterials(&chunks, materials, count)) status = KEL_ERROR_MEMORY;
        }
        if (chunks.error) status = chunks.error;
        kelCloseChunks(&chunks);
    }
    switch (status) {
    case KEL_OK: replaceMaterials(model, materials, count); break;
    case KEL_ERROR_MEMORY: kelSetMemoryError(error, count, sizeof(KelMaterial)); break;
    case KEL_ERROR_ENCODING:
        kelSetError(error, status, 0, "kelReadMTL() failed: \"%s\" is UTF-16 text; kel reads ASCII or UTF-8.", path);
        break;
    default:
        // A file that cannot be opened, or a read that failed after the open.
        if (status != KEL_ERROR_IO) status = KEL_ERROR_LIBRARY;
        kelSetError(error, status, 0, "kelReadMTL() failed: can't open material file \"%s\".", path);
        break;
    }
    if (status != KEL_OK) kelFreeMaterials(materials, count);
    free(path);
    return status;
}

void kelReadMTL(KelModel* model, const char* name) {
    KelError error = {};
    if (kelLoadMTLChunks(model, name, kelChunkSize, nullptr, &error) != KEL_OK) {
        fprintf(stderr, "%s\n", error.message);
        exit(1);
    }
}
