// The check of a mode word against a model, shared by drawing and writing.
#include <cstdio>

#include "kel/kel_internal.h"

unsigned kelCheckMode(const KelModel* model, unsigned mode, const char* const warnings[7]) {
    // Each check drops one flag: either the model lacks what the flag needs,
    // or another flag that overrides it is set as well. The order matters:
    // later checks see the flags the earlier ones left.
    const bool noMaterials = !model->materials;
    const struct {
        unsigned flag;
        bool lacks;
        unsigned overriddenBy;
    } checks[7] = {
        {KEL_FLAT, !model->facetnorms, 0}, {KEL_SMOOTH, !model->normals, 0}, {KEL_TEXTURE, !model->texcoords, 0},
        {KEL_FLAT, false, KEL_SMOOTH},     {KEL_COLOR, noMaterials, 0},      {KEL_MATERIAL, noMaterials, 0},
        {KEL_COLOR, false, KEL_MATERIAL},
    };
    for (int i = 0; i < 7; i++) {
        if ((mode & checks[i].flag) && (checks[i].lacks || (mode & checks[i].overriddenBy))) {
            fputs(warnings[i], stdout);
            mode &= ~checks[i].flag;
        }
    }
    return mode;
}
