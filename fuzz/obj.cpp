// libFuzzer target for the OBJ reader: each input is written to an OBJ file
// beside a fixed MTL library ("fuzz.mtl"), read, checked and freed. The read
// goes through chunks of 1 to 37 bytes, chosen by the input's size, so that
// chunk boundaries fall everywhere a statement can stand. The library's fatal exits (unknown statements, indices
// outside their tables, missing libraries) come back here instead of ending the process: this file defines kelExit, so
// the linker leaves the library's own definition (kel/exit.cpp) out.
#include <unistd.h>

#include <cctype>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "kel/kel_internal.h"

static jmp_buf harness;

void kelExit(int) {
    kelAbandonRead();
    longjmp(harness, 1);
}

static std::string objPath;

static void writeFile(const std::string& path, const void* data, size_t size) {
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) abort();
    if (size) fwrite(data, 1, size, f);
    fclose(f);
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char dir[] = "/tmp/kel_fuzz_XXXXXX";
    if (!mkdtemp(dir)) abort();
    static const char mtl[] =
        "# four materials and \"default\" again, with opacity and maps\n"
        "Kd 0.5 0.5 0.5\n"
        "newmtl red\nKa 0.2 0 0\nKd 1 0 0 1\nKs 1 1 1\nNs 96\nNi 1.45\n"
        "newmtl blue\r\nKd 0 0 1\nNs 1000\nillum 2\nmap_Kd blue.png\n"
        "newmtl default\nKe 1 1 1\n"
        "newmtl glass\nTr 0.75\nmap_Kd -clamp on -o 0.5 0.5 stained glass.png \r\n"
        "newmtl stone\nd 0.5\nmap_Bump -bm 2 stone bump.tga\nbump -mm 0 1\n";
    writeFile(std::string(dir) + "/fuzz.mtl", mtl, sizeof mtl - 1);
    objPath = std::string(dir) + "/input.obj";
    return 0;
}

// The model must keep the library's conventions whatever the input held.
static void check(const KelModel* m) {
    unsigned sum = 0;
    for (const KelGroup* g = m->groups; g; g = g->next) {
        sum += g->numtriangles;
        for (unsigned i = 0; i < g->numtriangles; i++)
            if (g->triangles[i] >= m->numtriangles) __builtin_trap();
        if (g->material && g->material >= m->nummaterials) __builtin_trap();
    }
    if (sum != m->numtriangles) __builtin_trap();
    // Map names are never empty and never end in a blank.
    for (unsigned i = 0; i < m->nummaterials; i++)
        for (const char* map : {m->materials[i].diffuseMap, m->materials[i].bumpMap})
            if (map && (!*map || isspace((unsigned char)map[strlen(map) - 1]))) __builtin_trap();
    for (unsigned i = 0; i < m->numtriangles; i++)
        for (int k = 0; k < 3; k++) {
            const KelTriangle& t = m->triangles[i];
            if (t.vindices[k] < 1 || t.vindices[k] > m->numvertices) __builtin_trap();
            if (t.nindices[k] > m->numnormals || t.tindices[k] > m->numtexcoords) __builtin_trap();
        }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    writeFile(objPath, data, size);
    if (setjmp(harness) == 0) {
        KelModel* model = kelReadOBJChunks(objPath.c_str(), 1 + size % 37);
        check(model);
        kelDelete(model);
    }
    return 0;
}
