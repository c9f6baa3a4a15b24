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

#endif  // ORVANDEL_FUZZ_MODEL_CHECK_H
