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
    static const KelMaterial defaults = {
        nullptr, {0.8f, 0.8f, 0.8f, 1.0f}, {0.2f, 0.2f, 0.2f, 1.0f}, {0.0f, 0.0f, 0.0f, 1.0f}, {0.0f, 0.0f, 0.0f, 0.0f},
        65.0f};
    *m = defaults;
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
        for (unsigned i = 0; i < model->nummaterials; i++) free(model->materials[i].name);
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
            } else {
                p = kelSkipLine(tokenEnd, end);
            }
        }
    }
    kelCloseChunks(&chunks);
}

void kelReadMTL(KelModel* model, const char* name) { kelReadMTLChunks(model, name, kelChunkSize); }
