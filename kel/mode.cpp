// The check of a mode word against a model or a mesh, shared by drawing,
// writing and making meshes.
#include <cstring>

#include "kel/kel_internal.h"

unsigned kelCheckModeTables(const KelModeTables* tables, unsigned mode, const char* const warnings[8],
                            const KelWarnings* to) {
    // Each check drops one flag: either the tables lack what the flag needs,
    // or another flag that overrides it is set as well. The order matters:
    // later checks see the flags the earlier ones left.
    const bool noMaterials = !tables->materials;
    const struct {
        unsigned flag;
        bool lacks;
        unsigned overriddenBy;
    } checks[8] = {
        {KEL_FLAT, !tables->facetnorms, 0},   {KEL_SMOOTH, !tables->normals, 0},
        {KEL_TEXTURE, !tables->texcoords, 0}, {KEL_FLAT, false, KEL_SMOOTH},
        {KEL_COLOR, noMaterials, 0},          {KEL_MATERIAL, noMaterials, 0},
        {KEL_COLOR, false, KEL_MATERIAL},     {KEL_VERTEX_COLOR, !tables->colors, 0},
    };
    // Under KEL_IF_PRESENT a flag whose table is missing goes silently; a
    // flag overridden by another is still announced.
    const bool quiet = mode & KEL_IF_PRESENT;
    for (int i = 0; i < 8; i++) {
        if ((mode & checks[i].flag) && (checks[i].lacks || (mode & checks[i].overriddenBy))) {
            if (warnings[i] && !(quiet && checks[i].lacks))
                kelWarn(to, 0, "%.*s", int(strlen(warnings[i]) - 1), warnings[i]);
            mode &= ~checks[i].flag;
        }
    }
    return mode;
}

unsigned kelCheckMode(const KelModel* model, unsigned mode, const char* const warnings[8], const KelWarnings* to) {
    const KelModeTables tables = {model->facetnorms != nullptr, model->normals != nullptr, model->texcoords != nullptr,
                                  model->materials != nullptr, model->colors != nullptr};
    return kelCheckModeTables(&tables, mode, warnings, to);
}
