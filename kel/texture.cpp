// Texture coordinates from the geometry: a planar x-z projection and a
// sphere map of the vertex normals.
#include <cmath>
#include <cstdlib>

#include "kel/kel_internal.h"

namespace {

// A fresh texture-coordinate table of `count` entries, or null when out of
// memory; the caller hands it to the model with setTexcoords.
float* newTexcoords(unsigned count) { return static_cast<float*>(kelTryAlloc(size_t(count) + 1, 2 * sizeof(float))); }

// Replaces the model's texture coordinates with `texcoords` (owned by the
// model from here on), whose entries are named by `source` (the triangles'
// vertex or normal indices).
void setTexcoords(KelModel* model, float* texcoords, unsigned count, unsigned (KelTriangle::*source)[3]);

// Points the texture indices of every grouped triangle at the entries named by
// `source` (its vertex or normal indices).
void copyIndices(KelModel* model, unsigned (KelTriangle::*source)[3]) {
    for (KelGroup* group = model->groups; group; group = group->next)
        for (unsigned j = 0; j < group->numtriangles; j++) {
            KelTriangle* t = &model->triangles[group->triangles[j]];
            for (int k = 0; k < 3; k++) t->tindices[k] = (t->*source)[k];
        }
}

void setTexcoords(KelModel* model, float* texcoords, unsigned count, unsigned (KelTriangle::*source)[3]) {
    free(model->texcoords);
    model->numtexcoords = count;
    model->texcoords = texcoords;
    copyIndices(model, source);
}

// Rounding can carry a quotient of a coordinate by a length a hair past 1;
// keep it in the domain of acos and asin.
double unitQuotient(float q) { return q > 1.0f ? 1.0 : q < -1.0f ? -1.0 : double(q); }

}  // namespace

int kelLinearTexture(KelModel* model) {
    assert(model);
    float* texcoords = newTexcoords(model->numvertices);
    if (!texcoords) return KEL_ERROR_MEMORY;
    float dimensions[3];
    kelDimensions(model, dimensions);
    float largest = kelAbs(kelMax(kelMax(dimensions[0], dimensions[1]), dimensions[2]));
    // With every extent zero all vertices sit at the origin: they map to the
    // middle of the texture.
    float s = largest == 0 ? 0.0f : float(2.0 / largest);
    const float* v = model->vertices;
    for (unsigned i = 1; i <= model->numvertices; i++) {
        float a = v[3 * size_t(i)] * s;
        float b = v[3 * size_t(i) + 2] * s;
        texcoords[2 * size_t(i)] = float((a + 1.0) / 2.0);
        texcoords[2 * size_t(i) + 1] = float((b + 1.0) / 2.0);
    }
    setTexcoords(model, texcoords, model->numvertices, &KelTriangle::vindices);
    return KEL_OK;
}

int kelSpheremapTexture(KelModel* model) {
    assert(model);
    assert(model->normals);
    const double halfPi = 1.570796325;
    const double pi = 3.14159265;
    float* texcoords = newTexcoords(model->numnormals);
    if (!texcoords) return KEL_ERROR_MEMORY;
    const float* n = model->normals;
    for (unsigned i = 1; i <= model->numnormals; i++) {
        float z = n[3 * size_t(i)];
        float y = n[3 * size_t(i) + 1];
        float x = n[3 * size_t(i) + 2];
        float r = float(std::sqrt(double(x * x + y * y)));
        float rho = float(std::sqrt(double(r * r + z * z)));
        float theta = 0, phi = 0;
        if (r != 0) {
            phi = z == 0 ? float(halfPi) : float(std::acos(unitQuotient(z / rho)));
            theta = y == 0 ? float(halfPi) : float(double(float(std::asin(unitQuotient(y / r)))) + halfPi);
        }
        texcoords[2 * size_t(i)] = float(theta / pi);
        texcoords[2 * size_t(i) + 1] = float(phi / pi);
    }
    setTexcoords(model, texcoords, model->numnormals, &KelTriangle::nindices);
    return KEL_OK;
}
