// Measuring, centring, scaling, moving and mirroring a model.
#include "kel/kel_internal.h"

float kelAbs(float f) { return f < 0 ? -f : f; }

float kelMax(float a, float b) { return a < b ? b : a; }

namespace {

// Minimum and maximum along x, y and z; all zero for a model without
// vertices.
struct Box {
    float min[3];
    float max[3];
};

Box boundingBox(const KelModel* model) {
    Box box = {{0, 0, 0}, {0, 0, 0}};
    if (model->numvertices == 0) return box;
    const float* v = model->vertices;
    for (int a = 0; a < 3; a++) box.min[a] = box.max[a] = v[3 + a];
    for (unsigned i = 1; i <= model->numvertices; i++) {
        const float* p = &v[3 * size_t(i)];
        for (int a = 0; a < 3; a++) {
            if (p[a] > box.max[a]) box.max[a] = p[a];
            if (p[a] < box.min[a]) box.min[a] = p[a];
        }
    }
    return box;
}

}  // namespace

void kelDimensions(KelModel* model, float* dimensions) {
    assert(model);
    assert(model->vertices);
    assert(dimensions);
    Box box = boundingBox(model);
    for (int a = 0; a < 3; a++) dimensions[a] = kelAbs(box.max[a]) + kelAbs(box.min[a]);
}

float kelUnitize(KelModel* model) {
    assert(model);
    assert(model->vertices);
    Box box = boundingBox(model);
    float w = kelAbs(box.max[0]) + kelAbs(box.min[0]);
    float h = kelAbs(box.max[1]) + kelAbs(box.min[1]);
    float d = kelAbs(box.max[2]) + kelAbs(box.min[2]);
    float cx = (box.max[0] + box.min[0]) / 2;
    float cy = (box.max[1] + box.min[1]) / 2;
    float cz = (box.max[2] + box.min[2]) / 2;
    float largest = kelMax(kelMax(w, h), d);
    // A model whose every extent is zero (all at the origin, or no vertices)
    // is only centred.
    float s = largest == 0 ? 1.0f : float(2.0 / largest);
    float* v = model->vertices;
    for (unsigned i = 1; i <= model->numvertices; i++) {
        float* p = &v[3 * size_t(i)];
        p[0] -= cx;
        p[1] -= cy;
        p[2] -= cz;
        p[0] *= s;
        p[1] *= s;
        p[2] *= s;
    }
    return s;
}

void kelScale(KelModel* model, float scale) {
    float* v = model->vertices;
    for (size_t i = 3; i < 3 * (size_t(model->numvertices) + 1); i++) v[i] *= scale;
}

void kelTranslate(KelModel* model, const float* offset) {
    float* v = model->vertices;
    for (unsigned i = 1; i <= model->numvertices; i++) {
        float* p = &v[3 * size_t(i)];
        p[0] += offset[0];
        p[1] += offset[1];
        p[2] += offset[2];
    }
}

namespace {

void swapCorners(unsigned* corners) {
    unsigned t = corners[0];
    corners[0] = corners[2];
    corners[2] = t;
}

void negate(float* table, unsigned count) {
    for (size_t i = 3; i < 3 * (size_t(count) + 1); i++) table[i] = -table[i];
}

}  // namespace

void kelReverseWinding(KelModel* model) {
    assert(model);
    for (unsigned t = 0; t < model->numtriangles; t++) {
        KelTriangle* triangle = &model->triangles[t];
        swapCorners(triangle->vindices);
        if (model->numnormals) swapCorners(triangle->nindices);
        if (model->numtexcoords) swapCorners(triangle->tindices);
    }
    negate(model->facetnorms, model->numfacetnorms);
    negate(model->normals, model->numnormals);
}
