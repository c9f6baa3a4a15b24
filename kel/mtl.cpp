// MTL reader: the material library an OBJ file names, read in two passes
// over its bytes (count the materials, then fill a new table). The model's
// table is replaced only when the whole library was read.
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "kel/kel_internal.h"
#include "kel/strict.h"

// The value of an option word, or of a number, from the line: the next
// white-space-delimited token before `stop` (start == end when none).
static const char* nextWord(const char* p, const char* stop, const char** wordEnd) {
    while (p < stop && kelIsSpace(*p)) p++;
    *wordEnd = kelTokenEnd(p, stop);
    return p;
}

// A texture map statement after its keyword: the options that may come
// before the file name, each with its values, then the rest of the line,
// inner blanks kept and trailing ones dropped, names the file. -o, -s
// (one to three numbers each), -bm (a number) and -clamp (on or off) fill
// their fields; every other option is kept as written in `options`. A line
// with a name replaces *map whole (and *legacy, when given, with its own
// copy of the name); a line without one leaves both as they were. Returns
// the start of the next line, or null when out of memory.
static const char* readMap(const char* p, const char* end, KelMap* map, char** legacy) {
    enum Kind { OTHER, OFFSET, SCALE, BUMP, CLAMP };
    static const struct {
        const char* name;
        int values;
        bool numbers;  // up to `values` numbers rather than exactly `values` words
        Kind kind;
    } options[] = {{"-blendu", 1, false, OTHER},  {"-blendv", 1, false, OTHER}, {"-bm", 1, false, BUMP},
                   {"-boost", 1, false, OTHER},   {"-cc", 1, false, OTHER},     {"-clamp", 1, false, CLAMP},
                   {"-imfchan", 1, false, OTHER}, {"-mm", 2, false, OTHER},     {"-o", 3, true, OFFSET},
                   {"-s", 3, true, SCALE},        {"-t", 3, true, OTHER},       {"-texres", 1, false, OTHER},
                   {"-type", 1, false, OTHER}};
    const char* stop = kelLineEnd(p, end);
    KelMap read = {nullptr, {0, 0, 0}, {1, 1, 1}, 1, 0, nullptr};
    // The other options, copied one blank apart; they fit in the line.
    char* others = nullptr;
    size_t othersLength = 0;
    for (;;) {
        const char* wordEnd;
        const char* word = nextWord(p, stop, &wordEnd);
        int option = -1;
        for (int i = 0; i < int(sizeof options / sizeof options[0]) && option < 0; i++)
            if (kelIsWord(word, wordEnd, options[i].name)) option = i;
        if (option < 0) {
            p = word;
            break;
        }
        p = wordEnd;
        for (int v = 0; v < options[option].values; v++) {
            const char* valueEnd;
            const char* value = nextWord(p, stop, &valueEnd);
            float number = 0;
            bool isNumber = value != valueEnd && kelParseFloat(value, valueEnd, &number) == valueEnd;
            if (value == stop || (options[option].numbers && !isNumber)) break;
            p = valueEnd;
            Kind kind = options[option].kind;
            if (kind == OFFSET) read.offset[v] = number;
            if (kind == SCALE) read.scale[v] = number;
            if (kind == BUMP && isNumber) read.bumpScale = number;
            if (kind == CLAMP && kelIsWord(value, valueEnd, "on")) read.clamp = 1;
            if (kind == CLAMP && kelIsWord(value, valueEnd, "off")) read.clamp = 0;
        }
        if (options[option].kind != OTHER) continue;
        if (!others && !(others = static_cast<char*>(kelTryAlloc(size_t(stop - word) + 1, 1)))) return nullptr;
        if (othersLength) others[othersLength++] = ' ';
        memcpy(others + othersLength, word, size_t(p - word));
        othersLength += size_t(p - word);
    }
    // A name ends at the line end, or at a zero byte (the name is kept as a
    // C string); trailing blanks are dropped.
    const char* nameEnd = static_cast<const char*>(memchr(p, '\0', size_t(stop - p)));
    if (!nameEnd) nameEnd = stop;
    while (nameEnd > p && kelIsSpace(nameEnd[-1])) nameEnd--;
    read.options = others;
    if (nameEnd > p) {
        read.name = kelTryCopyName(p, size_t(nameEnd - p));
        char* copy = read.name && legacy ? kelTryCopyName(p, size_t(nameEnd - p)) : nullptr;
        if (!read.name || (legacy && !copy)) {
            free(read.name);
            free(others);
            return nullptr;
        }
        free(map->name);
        free(map->options);
        *map = read;
        if (legacy) free(*legacy), *legacy = copy;
    } else {
        free(others);
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

// A material's extras as they grow: the text's length and the room it has
// (both 0 before any line).
struct Extras {
    size_t length, room;
};

// The line from p (a statement's first byte) to its end, trailing blanks
// and the line end dropped, appended to *text as one "\n"-ended line; the
// room doubles as it fills, so many lines take linear time. False when out
// of memory (*text as it was).
static bool keepLine(char** text, Extras* extras, const char* p, const char* lineEnd) {
    while (lineEnd > p && kelIsSpace(lineEnd[-1])) lineEnd--;
    size_t length = size_t(lineEnd - p), needed = extras->length + length + 2;
    if (needed > extras->room) {
        size_t room = extras->room * 2 > needed ? extras->room * 2 : needed;
        char* grown = static_cast<char*>(kelTryRealloc(*text, room));
        if (!grown) return false;
        *text = grown;
        extras->room = room;
    }
    memcpy(*text + extras->length, p, length);
    extras->length += length;
    (*text)[extras->length++] = '\n';
    (*text)[extras->length] = '\0';
    return true;
}

// A material's name: the rest of the newmtl line, the blanks around it
// dropped (inner blanks kept); a zero byte ends it. Returns its start and
// stores its end.
static const char* materialName(const char* p, const char* end, const char** nameEnd) {
    const char* lineEnd = kelLineEnd(p, end);
    while (p < lineEnd && kelIsSpace(*p)) p++;
    const char* zero = static_cast<const char*>(memchr(p, '\0', size_t(lineEnd - p)));
    if (zero) lineEnd = zero;
    while (lineEnd > p && kelIsSpace(lineEnd[-1])) lineEnd--;
    *nameEnd = lineEnd;
    return p;
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

// The statements that fill one field: numbers into a float field (`map`
// -1) or a texture map of kind `map`.
struct Statement {
    const char* keyword;
    int map;
    size_t field;  // offset of the first float in KelMaterial
    int numbers;
};

static const Statement* findStatement(const char* p, const char* tokenEnd) {
    static const Statement statements[] = {
        {"Ka", -1, offsetof(KelMaterial, ambient), 3},
        {"Kd", -1, offsetof(KelMaterial, diffuse), 3},
        {"Ks", -1, offsetof(KelMaterial, specular), 3},
        {"Ke", -1, offsetof(KelMaterial, emission), 3},
        {"d", -1, offsetof(KelMaterial, dissolve), 1},
        {"Ni", -1, offsetof(KelMaterial, ior), 1},
        {"Pr", -1, offsetof(KelMaterial, roughness), 1},
        {"Pm", -1, offsetof(KelMaterial, metallic), 1},
        {"Ps", -1, offsetof(KelMaterial, sheen), 1},
        {"Pc", -1, offsetof(KelMaterial, clearcoat), 1},
        {"Pcr", -1, offsetof(KelMaterial, clearcoatRoughness), 1},
        {"map_Ka", KEL_MAP_AMBIENT, 0, 0},
        {"map_Kd", KEL_MAP_DIFFUSE, 0, 0},
        {"map_Ks", KEL_MAP_SPECULAR, 0, 0},
        {"map_Ns", KEL_MAP_SHININESS, 0, 0},
        {"map_d", KEL_MAP_DISSOLVE, 0, 0},
        {"map_Bump", KEL_MAP_BUMP, 0, 0},
        {"map_bump", KEL_MAP_BUMP, 0, 0},
        {"bump", KEL_MAP_BUMP, 0, 0},
        {"norm", KEL_MAP_NORMAL, 0, 0},
        {"disp", KEL_MAP_DISPLACEMENT, 0, 0},
        {"map_disp", KEL_MAP_DISPLACEMENT, 0, 0},
        {"map_Ke", KEL_MAP_EMISSION, 0, 0},
        {"refl", KEL_MAP_REFLECTION, 0, 0},
        {"map_Pr", KEL_MAP_ROUGHNESS, 0, 0},
        {"map_Pm", KEL_MAP_METALLIC, 0, 0},
        {"map_Ps", KEL_MAP_SHEEN, 0, 0},
    };
    for (const Statement& statement : statements)
        if (kelIsWord(p, tokenEnd, statement.keyword)) return &statement;
    return nullptr;
}

// Second pass: each newmtl fills the next entry from `firstNew` on;
// statements before the first one change *before. False when a name could
// not be copied.
static bool fillMaterials(KelChunks* chunks, KelMaterial* materials, unsigned count, unsigned firstNew,
                          KelMaterial* before) {
    KelMaterial* m = before;
    unsigned next = firstNew;
    Extras extras = {0, 0};      // of *m, which starts without any
    bool dissolveGiven = false;  // the current material has a "d", which wins over "Tr"
    while (kelNextChunk(chunks)) {
        const char* end = chunks->data + chunks->split;
        for (const char* p = kelSkipSpace(chunks->data + chunks->start, end); p < end; p = kelSkipSpace(p, end)) {
            const char* tokenEnd = kelTokenEnd(p, end);
            if (kelIsWord(p, tokenEnd, "newmtl")) {
                // The table has room for every newmtl the first pass counted;
                // the file may have changed since.
                if (next < count) m = &materials[next++];
                dissolveGiven = false;
                extras.length = m->extras ? strlen(m->extras) : 0;
                extras.room = m->extras ? extras.length + 1 : 0;
                const char* nameEnd;
                const char* name = materialName(tokenEnd, end, &nameEnd);
                free(m->name);
                if (!(m->name = kelTryCopyName(name, size_t(nameEnd - name)))) return false;
                p = kelSkipLine(nameEnd, end);
            } else if (kelIsWord(p, tokenEnd, "Ns")) {
                // The file's exponent runs from 0 to 1000, GL's from 0 to 128. A
                // number that fails to parse converts the value the field holds.
                p = kelReadNumbers(tokenEnd, end, &m->shininess, 1);
                m->shininess = float(m->shininess / 1000.0);
                m->shininess = float(m->shininess * 128.0);
            } else if (kelIsWord(p, tokenEnd, "Tr")) {
                // Transparency, the complement of "d", used only without one.
                float transparency = 0;
                const char* q = kelSkipSpace(tokenEnd, end);
                const char* after = kelParseFloat(q, end, &transparency);
                if (after != q && !dissolveGiven) m->dissolve = 1 - transparency;
                p = kelSkipLine(after != q ? after : tokenEnd, end);
            } else if (kelIsWord(p, tokenEnd, "illum")) {
                // A whole number; one that fails to parse changes nothing.
                float illum = float(m->illum);
                p = kelReadNumbers(tokenEnd, end, &illum, 1);
                if (illum >= -1e9f && illum <= 1e9f) m->illum = int(illum);
            } else if (const Statement* statement = findStatement(p, tokenEnd)) {
                if (statement->map < 0) {
                    float* field = reinterpret_cast<float*>(reinterpret_cast<char*>(m) + statement->field);
                    p = kelReadNumbers(tokenEnd, end, field, statement->numbers);
                    if (field == &m->dissolve) dissolveGiven = true;
                } else {
                    char** legacy = statement->map == KEL_MAP_DIFFUSE ? &m->diffuseMap
                                    : statement->map == KEL_MAP_BUMP  ? &m->bumpMap
                                                                      : nullptr;
                    if (!(p = readMap(tokenEnd, end, &m->maps[statement->map], legacy))) return false;
                }
            } else {
                // A statement kel does not read is kept with its material as
                // written, and so is a comment after a newmtl (those before
                // the first are the file's, not a material's).
                const char* lineEnd = kelLineEnd(tokenEnd, end);
                if ((*p != '#' || m != before) && !keepLine(&m->extras, &extras, p, lineEnd)) return false;
                p = kelSkipLine(lineEnd, end);
            }
        }
    }
    return true;
}

// Opens the library from options->library when it is given, else (when
// `onDisk`) from the disk at `path`.
static int openLibrary(const char* path, const char* name, size_t chunk, const KelReadOptions* options, bool onDisk,
                       KelChunks* chunks) {
    if ((!options || !options->library) && onDisk) {
        int status = kelOpenChunks(path, chunk, chunks);
        // Read through the buffer unless a mapping is asked for, as the OBJ file.
        chunks->copied = !options || options->copyInput || !options->mapInput;
        return status;
    }
    if (!options || !options->library) {
        *chunks = {};
        return KEL_ERROR_OPEN;
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
int kelLoadMTLChunks(KelModel* model, const char* name, size_t chunk, const KelReadOptions* options, bool onDisk,
                     bool append, KelError* error) {
    char* path = name[0] == '/' ? kelTryCopyName(name, strlen(name)) : kelBesidePath(model->pathname, name);
    if (!path) {
        kelSetMemoryError(error, strlen(model->pathname) + strlen(name) + 1, 1);
        return KEL_ERROR_MEMORY;
    }
    KelChunks chunks;
    int status = openLibrary(path, name, chunk, options, onDisk, &chunks);
    KelMaterial* materials = nullptr;
    // Appended, the model's materials stay first (moved into the new table)
    // and the library's statements before its first newmtl change nothing.
    const unsigned kept = append && model->materials ? model->nummaterials : 0;
    unsigned count = 0;
    KelMaterial scratch;
    kelMaterialDefaults(&scratch);
    if (status == KEL_OK) {
        if (options && options->strict && !kelobj::strictCheckLibrary(&chunks, path, error)) {
            status = KEL_ERROR_SYNTAX;
        } else {
            count = countMaterials(&chunks) + (kept ? kept - 1 : 0);
            if (!chunks.error && !(materials = newMaterials(count))) status = KEL_ERROR_MEMORY;
            if (materials) {
                if (kept) free(materials[0].name), memcpy(materials, model->materials, kept * sizeof(KelMaterial));
                kelRewindChunks(&chunks);
                if (!fillMaterials(&chunks, materials, count, kept ? kept : 1, kept ? &scratch : &materials[0]))
                    status = KEL_ERROR_MEMORY;
            }
        }
        if (chunks.error) status = chunks.error;
        kelCloseChunks(&chunks);
    }
    kelFreeMaterialStrings(&scratch);
    switch (status) {
    case KEL_OK:
        if (kept) free(model->materials), model->materials = nullptr, model->nummaterials = 0;  // moved
        replaceMaterials(model, materials, count);
        break;
    case KEL_ERROR_MEMORY: kelSetMemoryError(error, count, sizeof(KelMaterial)); break;
    case KEL_ERROR_ENCODING:
        kelSetError(error, status, 0, "kelReadMTL() failed: \"%s\" is UTF-16 text; kel reads ASCII or UTF-8.", path);
        break;
    case KEL_ERROR_SYNTAX: break;  // set by the check
    case KEL_ERROR_IO:
        kelSetSystemError(error, status, chunks.systemError, "kelReadMTL() failed: can't read material file \"%s\".",
                          path);
        break;
    default:
        status = KEL_ERROR_LIBRARY;
        kelSetSystemError(error, status, chunks.systemError, "kelReadMTL() failed: can't open material file \"%s\".",
                          path);
        break;
    }
    if (status != KEL_OK && materials) {
        // The model's own materials, moved in, stay the model's.
        for (unsigned i = kept; i < count; i++) kelFreeMaterialStrings(&materials[i]);
        free(materials);
    }
    free(path);
    return status;
}

void kelReadMTL(KelModel* model, const char* name) {
    KelError error = {};
    if (kelLoadMTLChunks(model, name, kelChunkSize, nullptr, true, false, &error) != KEL_OK) {
        kelPrintError(stderr, &error);
        exit(1);
    }
}
