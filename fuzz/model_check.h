// What every model a load returns must keep, whatever its input held: each
// index names an entry of its table, each group's triangles are the
// model's, and the groups' triangle counts add up.
#ifndef ORVANDEL_FUZZ_MODEL_CHECK_H
#define ORVANDEL_FUZZ_MODEL_CHECK_H

#include <cstring>
#include <initializer_list>

#include "kel/kel_internal.h"

inline void checkModel(const KelModel* m) {
    unsigned sum = 0;
    for (const KelGroup* g = m->groups; g; g = g->next) {
        sum += g->numtriangles;
        for (unsigned i = 0; i < g->numtriangles; i++)
            if (g->triangles[i] >= m->numtriangles) __builtin_trap();
        if (g->material && g->material >= m->nummaterials) __builtin_trap();
    }
    if (sum != m->numtriangles) __builtin_trap();
    for (unsigned i = 0; i < m->numtriangles; i++)
        for (int k = 0; k < 3; k++) {
            const KelTriangle& t = m->triangles[i];
            if (t.vindices[k] < 1 || t.vindices[k] > m->numvertices) __builtin_trap();
            if (t.nindices[k] > m->numnormals || t.tindices[k] > m->numtexcoords) __builtin_trap();
        }
    // Per-triangle tables, lines, points and objects stay within their tables.
    for (unsigned i = 0; m->trimaterials && i < m->numtriangles; i++)
        if (m->trimaterials[i] >= m->nummaterials) __builtin_trap();
    if (!m->materials != !m->trimaterials) __builtin_trap();
    for (unsigned i = 0; i < 2 * m->numlines; i++)
        if (m->lines[i] < 1 || m->lines[i] > m->numvertices) __builtin_trap();
    for (unsigned i = 0; i < m->numpoints; i++)
        if (m->points[i] < 1 || m->points[i] > m->numvertices) __builtin_trap();
    for (unsigned i = 0, next = 0; i < m->numobjects; i++) {
        const KelObject& o = m->objects[i];
        // Triangles before the first "o" belong to no object; the rest run on.
        if (!o.name || (i && o.first != next) || o.first + o.count > m->numtriangles) __builtin_trap();
        next = o.first + o.count;
    }
    for (unsigned i = 0; i < m->nummaterials; i++) {
        if (!m->materials[i].name) __builtin_trap();
        // A map's name is never empty and never ends in a blank.
        for (const char* map : {m->materials[i].diffuseMap, m->materials[i].bumpMap})
            if (map && (!*map || kelIsSpace(map[strlen(map) - 1]))) __builtin_trap();
    }
}

// A load either returns a model and KEL_OK, or null and an error with a
// message.
inline void checkLoad(const KelModel* m, const KelError& error) {
    if ((m != nullptr) != (error.code == KEL_OK)) __builtin_trap();
    if (!m && error.message[0] == '\0') __builtin_trap();
    if (m) checkModel(m);
}

// Whether two loads gave the same model, bit for bit: tables, groups,
// materials and the library's name.
inline bool sameBytes(const void* a, const void* b, size_t n) { return n == 0 || (a && b && memcmp(a, b, n) == 0); }

inline bool sameText(const char* a, const char* b) { return a == b || (a && b && strcmp(a, b) == 0); }

inline bool sameModel(const KelModel* a, const KelModel* b) {
    if (a->numvertices != b->numvertices || a->numnormals != b->numnormals || a->numtexcoords != b->numtexcoords ||
        a->numtriangles != b->numtriangles || a->numgroups != b->numgroups || a->nummaterials != b->nummaterials ||
        (a->colors == nullptr) != (b->colors == nullptr) || !sameText(a->mtllibname, b->mtllibname))
        return false;
    size_t entries = size_t(a->numvertices) + 1;
    if (!sameBytes(a->vertices, b->vertices, 3 * entries * sizeof(float)) ||
        (a->colors && !sameBytes(a->colors, b->colors, 3 * entries * sizeof(float))) ||
        (a->numnormals && !sameBytes(a->normals, b->normals, 3 * (size_t(a->numnormals) + 1) * sizeof(float))) ||
        (a->numtexcoords &&
         !sameBytes(a->texcoords, b->texcoords, 2 * (size_t(a->numtexcoords) + 1) * sizeof(float))) ||
        !sameBytes(a->triangles, b->triangles, a->numtriangles * sizeof(KelTriangle)))
        return false;
    for (const KelGroup *g = a->groups, *h = b->groups; g; g = g->next, h = h->next)
        if (!sameText(g->name, h->name) || g->numtriangles != h->numtriangles || g->material != h->material ||
            !sameBytes(g->triangles, h->triangles, g->numtriangles * sizeof(unsigned)))
            return false;
    size_t perTriangle = a->numtriangles * sizeof(unsigned);
    if ((a->trimaterials == nullptr) != (b->trimaterials == nullptr) ||
        (a->smoothing == nullptr) != (b->smoothing == nullptr) || a->numlines != b->numlines ||
        a->numpoints != b->numpoints || a->numobjects != b->numobjects ||
        (a->trimaterials && !sameBytes(a->trimaterials, b->trimaterials, perTriangle)) ||
        (a->smoothing && !sameBytes(a->smoothing, b->smoothing, perTriangle)) ||
        !sameBytes(a->lines, b->lines, 2 * size_t(a->numlines) * sizeof(unsigned)) ||
        !sameBytes(a->points, b->points, a->numpoints * sizeof(unsigned)))
        return false;
    for (unsigned i = 0; i < a->numobjects; i++)
        if (!sameText(a->objects[i].name, b->objects[i].name) || a->objects[i].first != b->objects[i].first ||
            a->objects[i].count != b->objects[i].count)
            return false;
    for (unsigned i = 0; i < a->nummaterials; i++) {
        const KelMaterial &m = a->materials[i], &n = b->materials[i];
        if (!sameText(m.name, n.name) || !sameText(m.diffuseMap, n.diffuseMap) || !sameText(m.bumpMap, n.bumpMap) ||
            !sameText(m.extras, n.extras) || !sameBytes(m.diffuse, n.diffuse, sizeof m.diffuse) ||
            !sameBytes(m.ambient, n.ambient, sizeof m.ambient) ||
            !sameBytes(m.specular, n.specular, sizeof m.specular) ||
            !sameBytes(&m.shininess, &n.shininess, sizeof m.shininess) ||
            !sameBytes(&m.dissolve, &n.dissolve, sizeof m.dissolve))
            return false;
    }
    return true;
}

#endif  // ORVANDEL_FUZZ_MODEL_CHECK_H
