// Model records: group and material lookups, freeing a model, directory names.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "kel/kel_internal.h"

KelGroup* kelFindGroup(KelModel* model, const char* name) {
    assert(model);
    for (KelGroup* group = model->groups; group; group = group->next)
        if (strcmp(group->name, name) == 0) return group;
    return nullptr;
}

KelGroup* kelTryAddGroup(KelModel* model, const char* name) {
    KelGroup* group = kelFindGroup(model, name);
    return group ? group : kelTryNewGroup(model, name);
}

KelGroup* kelTryNewGroup(KelModel* model, const char* name) {
    KelGroup* group = static_cast<KelGroup*>(kelTryAlloc(1, sizeof(KelGroup)));
    if (!group) return nullptr;
    if (!(group->name = kelTryCopyName(name, strlen(name)))) {
        free(group);
        return nullptr;
    }
    group->next = model->groups;
    model->groups = group;
    model->numgroups++;
    return group;
}

bool kelLookupMaterial(const KelModel* model, const char* name, unsigned* index) {
    for (unsigned i = 0; i < model->nummaterials; i++)
        if (strcmp(model->materials[i].name, name) == 0) return *index = i, true;
    return false;
}

unsigned kelFindMaterial(KelModel* model, const char* name) {
    unsigned index;
    if (kelLookupMaterial(model, name, &index)) return index;
    kelMaterialNotFound(nullptr, 0, name);
    return 0;
}

void kelMaterialNotFound(const KelWarnings* to, unsigned long line, const char* name) {
    kelWarn(to, line, "kelFindMaterial():  can't find material \"%s\".", name);
}

void kelMaterialDefaults(KelMaterial* material) {
    static const KelMap map = {nullptr, {0, 0, 0}, {1, 1, 1}, 1, 0, nullptr};
    *material = KelMaterial{};
    const float diffuse[4] = {0.8f, 0.8f, 0.8f, 1}, ambient[4] = {0.2f, 0.2f, 0.2f, 1}, opaque[4] = {0, 0, 0, 1};
    memcpy(material->diffuse, diffuse, sizeof diffuse);
    memcpy(material->ambient, ambient, sizeof ambient);
    memcpy(material->specular, opaque, sizeof opaque);
    memcpy(material->emission, opaque, sizeof opaque);
    material->shininess = 65;
    material->dissolve = 1;
    material->ior = 1;
    material->illum = -1;
    for (KelMap& m : material->maps) m = map;
}

void kelFreeMaterialStrings(KelMaterial* material) {
    free(material->name);
    free(material->diffuseMap);
    free(material->bumpMap);
    free(material->extras);
    for (const KelMap& map : material->maps) {
        free(map.name);
        free(map.options);
    }
}

void kelFreeMaterials(KelMaterial* materials, unsigned count) {
    if (!materials) return;
    for (unsigned i = 0; i < count; i++) kelFreeMaterialStrings(&materials[i]);
    free(materials);
}

// A copy of `text` into *out (null stays null); false when out of memory.
static bool copyText(const char* text, char** out) {
    *out = text ? kelTryCopyName(text, strlen(text)) : nullptr;
    return !text || *out;
}

KelMaterial* kelCopyMaterials(const KelMaterial* materials, unsigned count) {
    KelMaterial* copies = static_cast<KelMaterial*>(kelTryAlloc(count, sizeof(KelMaterial)));
    if (!copies) return nullptr;
    for (unsigned i = 0; i < count; i++) {
        const KelMaterial& from = materials[i];
        KelMaterial& m = copies[i];
        m = from;
        m.name = m.diffuseMap = m.bumpMap = m.extras = nullptr;
        for (KelMap& map : m.maps) map.name = map.options = nullptr;
        bool ok = copyText(from.name, &m.name) && copyText(from.diffuseMap, &m.diffuseMap) &&
                  copyText(from.bumpMap, &m.bumpMap) && copyText(from.extras, &m.extras);
        for (int k = 0; k < KEL_MAP_KINDS; k++)
            ok = ok && copyText(from.maps[k].name, &m.maps[k].name) &&
                 copyText(from.maps[k].options, &m.maps[k].options);
        if (!ok) {
            kelFreeMaterials(copies, i + 1);  // the copies so far, the half-made one too
            return nullptr;
        }
    }
    return copies;
}

void kelDelete(KelModel* model) {
    assert(model);
    free(model->pathname);
    free(model->mtllibname);
    for (unsigned i = 0; model->mtllibs && i < model->nummtllibs; i++) free(model->mtllibs[i]);
    free(model->mtllibs);
    free(model->vertices);
    free(model->normals);
    free(model->texcoords);
    free(model->facetnorms);
    free(model->colors);
    free(model->triangles);
    free(model->trimaterials);
    free(model->smoothing);
    free(model->lines);
    free(model->points);
    for (unsigned i = 0; model->objects && i < model->numobjects; i++) free(model->objects[i].name);
    free(model->objects);
    kelFreeMaterials(model->materials, model->nummaterials);
    while (model->groups) {
        KelGroup* group = model->groups;
        model->groups = group->next;
        free(group->name);
        free(group->triangles);
        free(group);
    }
    free(model);
}

KelGroup* kelAddGroup(KelModel* model, const char* name) {
    assert(model);
    return kelTryAddGroup(model, name);
}

char* kelDirName(const char* path) {
    const char* slash = strrchr(path, '/');
    return kelTryCopyName(path, slash ? size_t(slash - path) + 1 : 0);
}
