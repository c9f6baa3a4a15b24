// A mesh's ranges, the runs of one material in each group in drawing order,
// and its copies of the model's materials.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "kel/kel_internal.h"
#include "kel/mesh_keys.h"

namespace kelmesh {

namespace {

// The material triangle `t` (an index into model->triangles) of `group` is
// drawn with.
unsigned triangleMaterial(const KelModel* model, const KelGroup* group, unsigned t) {
    return model->trimaterials ? model->trimaterials[t] : group->material;
}

// Calls run(g, first, count, material) for each run of one material in
// the groups, in drawing order (first and count in corners); false, with
// the error set, at a material outside the model's table.
template <typename Visit>
bool eachRun(const Job& job, KelError* error, Visit run) {
    const KelModel* model = job.model;
    for (size_t g = 0; g < job.numgroups; g++) {
        const KelGroup* group = job.groups[g];
        unsigned first = 0, material = 0;
        for (unsigned i = 0; i < group->numtriangles; i++) {
            unsigned t = group->triangles[i];
            // A triangle out of range is reported by the key search.
            unsigned m = model->materials && t < model->numtriangles ? triangleMaterial(model, group, t) : 0;
            if (model->materials && m >= model->nummaterials) {
                kelSetError(error, KEL_ERROR_INDEX, 0, "kelMakeMesh(): triangle %u uses material %u of %u.", t, m,
                            model->nummaterials);
                return false;
            }
            if (i > 0 && m != material) {
                run(g, unsigned(job.bases[g]) + 3 * first, 3 * (i - first), material);
                first = i;
            }
            material = m;
        }
        run(g, unsigned(job.bases[g]) + 3 * first, 3 * (group->numtriangles - first), material);
    }
    return true;
}

}  // namespace

// Copies of the model's materials into the mesh; false when out of memory.
bool copyMaterials(const KelModel* model, KelMesh* mesh, KelError* error) {
    if (!model->materials) return true;
    mesh->materials = kelCopyMaterials(model->materials, model->nummaterials);
    if (!mesh->materials) {
        kelSetMemoryError(error, model->nummaterials, sizeof(KelMaterial));
        return false;
    }
    mesh->nummaterials = model->nummaterials;
    return true;
}

// The ranges, with their group names after them in the same block.
bool makeRanges(const Job& job, KelMesh* mesh, KelError* error) {
    size_t count = 0, names = 0;
    for (size_t g = 0; g < job.numgroups; g++) names += strlen(job.groups[g]->name) + 1;
    if (!eachRun(job, error, [&count](size_t, unsigned, unsigned, unsigned) { count++; })) return false;
    size_t bytes = count * sizeof(KelMeshRange) + names;
    mesh->ranges = static_cast<KelMeshRange*>(kelTryAlloc(bytes, 1));
    if (!mesh->ranges) {
        kelSetMemoryError(error, bytes, 1);
        return false;
    }
    char* text = reinterpret_cast<char*>(mesh->ranges + count);
    size_t named = SIZE_MAX;
    const char* name = nullptr;
    eachRun(job, error, [&](size_t g, unsigned first, unsigned corners, unsigned material) {
        if (g != named) {
            size_t length = strlen(job.groups[g]->name) + 1;
            name = static_cast<const char*>(memcpy(text, job.groups[g]->name, length));
            text += length;
            named = g;
        }
        mesh->ranges[mesh->numranges++] = KelMeshRange{first, corners, material, name};
    });
    return true;
}

}  // namespace kelmesh
