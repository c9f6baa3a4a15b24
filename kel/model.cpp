// Model records: group and material lookups, freeing a model, directory names.
#include <sys/mman.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "kel/kel_internal.h"

void* kelAlloc(size_t count, size_t size) {
    void* p = calloc(count ? count : 1, size ? size : 1);
    if (!p) {
        fprintf(stderr, "kel: out of memory (%zu entries of %zu bytes).\n", count, size);
        kelExit(1);
    }
    // Large tables fill page by page as they are read: ask for huge pages.
    size_t bytes = count * size;
    if (bytes >= (size_t(8) << 20)) {
        uintptr_t start = (uintptr_t(p) + 4095) & ~uintptr_t(4095), stop = (uintptr_t(p) + bytes) & ~uintptr_t(4095);
        madvise(reinterpret_cast<void*>(start), stop - start, MADV_HUGEPAGE);
    }
    return p;
}

char* kelCopyName(const char* text, size_t length) {
    char* copy = static_cast<char*>(kelAlloc(length + 1, 1));
    memcpy(copy, text, length);
    return copy;
}

KelGroup* kelFindGroup(KelModel* model, const char* name) {
    assert(model);
    for (KelGroup* group = model->groups; group; group = group->next)
        if (strcmp(group->name, name) == 0) return group;
    return nullptr;
}

KelGroup* kelAddGroup(KelModel* model, const char* name) {
    KelGroup* group = kelFindGroup(model, name);
    if (group) return group;
    group = static_cast<KelGroup*>(kelAlloc(1, sizeof(KelGroup)));
    group->name = kelCopyName(name, strlen(name));
    group->next = model->groups;
    model->groups = group;
    model->numgroups++;
    return group;
}

unsigned kelFindMaterial(KelModel* model, const char* name) {
    for (unsigned i = 0; i < model->nummaterials; i++)
        if (strcmp(model->materials[i].name, name) == 0) return i;
    printf("kelFindMaterial():  can't find material \"%s\".\n", name);
    return 0;
}

void kelDelete(KelModel* model) {
    assert(model);
    free(model->pathname);
    free(model->mtllibname);
    free(model->vertices);
    free(model->normals);
    free(model->texcoords);
    free(model->facetnorms);
    free(model->colors);
    free(model->triangles);
    if (model->materials) {
        for (unsigned i = 0; i < model->nummaterials; i++) {
            free(model->materials[i].name);
            free(model->materials[i].diffuseMap);
            free(model->materials[i].bumpMap);
        }
        free(model->materials);
    }
    while (model->groups) {
        KelGroup* group = model->groups;
        model->groups = group->next;
        free(group->name);
        free(group->triangles);
        free(group);
    }
    free(model);
}

char* kelDirName(const char* path) {
    const char* slash = strrchr(path, '/');
    return kelCopyName(path, slash ? size_t(slash - path) + 1 : 0);
}
