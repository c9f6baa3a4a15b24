// MTL reader: the material library an OBJ file names, read in two passes
// over the file's bytes (count the materials, then fill them).
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "kel/kel_internal.h"

static bool isWord(const char* p, const char* tokenEnd, const char* word) {
    size_t length = strlen(word);
    return size_t(tokenEnd - p) == length && memcmp(p, word, length) == 0;
}

static void setDefaults(KelMaterial* m) {
    static const KelMaterial defaults = {nullptr,
                                         {0.8f, 0.8f, 0.8f, 1.0f},
                                         {0.2f, 0.2f, 0.2f, 1.0f},
                                         {0.0f, 0.0f, 0.0f, 1.0f},
                                         {0.0f, 0.0f, 0.0f, 0.0f},
                                         65.0f,
                                         1.0f,
                                         nullptr,
                                         nullptr};
    *m = defaults;
}

// A texture map statement after its keyword: the options that may come
// before the file name are skipped, each with its values (-o, -s and -t take
// one to three numbers), and the rest of the line, inner blanks kept and
// trailing ones dropped, names the file. A line without a name leaves *slot
// as it was. Returns the start of the next line.
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
            if (isWord(p, wordEnd, options[i].name)) option = i;
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
    const char* nameEnd = stop;
    while (nameEnd > p && kelIsSpace(nameEnd[-1])) nameEnd--;
    if (nameEnd > p) {
        free(*slot);
        *slot = kelCopyName(p, size_t(nameEnd - p));
    }
    return kelSkipLine(stop, end);
}

// The library is read in chunks like an OBJ file; one that fits a chunk, as
// libraries do, is read from the disk once.
void kelReadMTLChunks(KelModel* model, const char* name, size_t chunk) {
    char* dir = kelDirName(model->pathname);
    size_t dirLength = strlen(dir), nameLength = strlen(name);
    char* path = static_cast<char*>(kelAlloc(dirLength + nameLength + 1, 1));
    memcpy(path, dir, dirLength);
    memcpy(path + dirLength, name, nameLength);
    free(dir);
    KelChunks chunks;
    bool opened = kelOpenChunks(path, chunk, &chunks);

    // First pass: one entry for "default" and one per new-material statement.
    unsigned count = 1;
    while (opened && kelNextChunk(&chunks)) {
        const char* end = chunks.data + chunks.split;
        for (const char* p = kelSkipSpace(chunks.data, end); p < end; p = kelSkipSpace(p, end)) {
            const char* tokenEnd = kelTokenEnd(p, end);
            if (isWord(p, tokenEnd, "newmtl")) count++;
            p = kelSkipLine(tokenEnd, end);
        }
    }
    if (!opened || chunks.failed) {
        fprintf(stderr, "kelReadMTL() failed: can't open material file \"%s\".\n", path);
        if (opened) kelCloseChunks(&chunks);
        free(path);
        kelExit(1);
    }
    free(path);

    // The new table replaces one that an earlier library statement made.
    if (model->materials) {
        for (unsigned i = 0; i < model->nummaterials; i++) {
            free(model->materials[i].name);
            free(model->materials[i].diffuseMap);
            free(model->materials[i].bumpMap);
        }
        free(model->materials);
    }
    KelMaterial* materials = static_cast<KelMaterial*>(kelAlloc(count, sizeof(KelMaterial)));
    for (unsigned i = 0; i < count; i++) setDefaults(&materials[i]);
    materials[0].name = kelCopyName("default", 7);
    model->materials = materials;
    model->nummaterials = count;

    // Second pass. Statements before the first newmtl change "default". A
    // read that fails now keeps the materials read so far.
    unsigned current = 0;
    bool dissolveGiven = false;  // the current material has a "d", which wins over "Tr"
    kelRewindChunks(&chunks);
    while (kelNextChunk(&chunks)) {
        const char* end = chunks.data + chunks.split;
        for (const char* p = kelSkipSpace(chunks.data, end); p < end; p = kelSkipSpace(p, end)) {
            const char* tokenEnd = kelTokenEnd(p, end);
            KelMaterial* m = &materials[current];
            if (isWord(p, tokenEnd, "newmtl")) {
                // The table has room for every newmtl the first pass counted;
                // the file may have changed since.
                if (current + 1 < count) current++;
                dissolveGiven = false;
                const char* wordEnd;
                const char* word = kelLineWord(tokenEnd, end, &wordEnd);
                free(materials[current].name);
                materials[current].name = kelCopyName(word, size_t(wordEnd - word));
                p = kelSkipLine(wordEnd, end);
            } else if (isWord(p, tokenEnd, "Ns")) {
                // The file's exponent runs from 0 to 1000, GL's from 0 to 128. A
                // number that fails to parse converts the value the field holds.
                p = kelReadNumbers(tokenEnd, end, &m->shininess, 1);
                m->shininess = float(m->shininess / 1000.0);
                m->shininess = float(m->shininess * 128.0);
            } else if (isWord(p, tokenEnd, "Ka")) {
                p = kelReadNumbers(tokenEnd, end, m->ambient, 3);
            } else if (isWord(p, tokenEnd, "Kd")) {
                p = kelReadNumbers(tokenEnd, end, m->diffuse, 3);
            } else if (isWord(p, tokenEnd, "Ks")) {
                p = kelReadNumbers(tokenEnd, end, m->specular, 3);
            } else if (isWord(p, tokenEnd, "d")) {
                p = kelReadNumbers(tokenEnd, end, &m->dissolve, 1);
                dissolveGiven = true;
            } else if (isWord(p, tokenEnd, "Tr")) {
                // Transparency, the complement of "d", used only without one.
                float transparency = 0;
                const char* q = kelSkipSpace(tokenEnd, end);
                const char* after = kelParseFloat(q, end, &transparency);
                if (after != q && !dissolveGiven) m->dissolve = 1 - transparency;
                p = kelSkipLine(after != q ? after : tokenEnd, end);
            } else if (isWord(p, tokenEnd, "map_Kd")) {
                p = readMap(tokenEnd, end, &m->diffuseMap);
            } else if (isWord(p, tokenEnd, "map_Bump") || isWord(p, tokenEnd, "bump")) {
                p = readMap(tokenEnd, end, &m->bumpMap);
            } else {
                p = kelSkipLine(tokenEnd, end);
            }
        }
    }
    kelCloseChunks(&chunks);
}

void kelReadMTL(KelModel* model, const char* name) { kelReadMTLChunks(model, name, kelChunkSize); }
