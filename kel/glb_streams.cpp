// The glTF writer's vertex streams: what it learns of a mesh before
// writing, and the arrays written straight from the mesh's own, changed on
// the way out where the format asks (unit normals, V flipped, 16-bit
// indices) without a second copy of them in memory.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "kel/glb.h"

namespace {

// Floats per piece of a stream changed on the way out.
constexpr size_t kPiece = 1 << 14;

bool isUnitable(const float* n) {
    float length = n[0] * n[0] + n[1] * n[1] + n[2] * n[2];
    return length > 0 && std::isfinite(length);
}

void unit(float* n) {
    float length = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
    for (int c = 0; c < 3; c++) n[c] /= length;
}

// The unit normal of triangle t; 0, 0, 1 when it has no area.
void facetNormal(const KelMesh* mesh, size_t t, float n[3]) {
    const float* a = &mesh->positions[3 * size_t(mesh->indices[3 * t])];
    const float* b = &mesh->positions[3 * size_t(mesh->indices[3 * t + 1])];
    const float* c = &mesh->positions[3 * size_t(mesh->indices[3 * t + 2])];
    const float u[3] = {b[0] - a[0], b[1] - a[1], b[2] - a[2]}, v[3] = {c[0] - a[0], c[1] - a[1], c[2] - a[2]};
    n[0] = u[1] * v[2] - u[2] * v[1];
    n[1] = u[2] * v[0] - u[0] * v[2];
    n[2] = u[0] * v[1] - u[1] * v[0];
    if (isUnitable(n))
        unit(n);
    else
        n[0] = n[1] = 0, n[2] = 1;
}

void addProgress(KelOut* out, size_t bytes) {
    if (out->progress) out->progress->done += bytes;
}

}  // namespace

void kelGLBScanMesh(const KelMesh* mesh, KelGLBScan* scan) {
    unsigned top = 0;
    for (unsigned r = 0; r < mesh->numranges; r++) {
        const KelMeshRange& range = mesh->ranges[r];
        unsigned high = 0;
        for (unsigned i = range.first; i < range.first + range.count; i++) high = std::max(high, mesh->indices[i]);
        scan->rangeMax.push_back(high);
        if (range.count) top = std::max(top, high + 1);
    }
    const struct {
        const unsigned* indices;
        unsigned count;
    } others[2] = {{mesh->lineindices, mesh->numlineindices}, {mesh->pointindices, mesh->numpointindices}};
    for (const auto& other : others)
        scan->rangeMax.push_back(other.count ? *std::max_element(other.indices, other.indices + other.count) : 0);
    scan->triangleVertices = top;
    for (int c = 0; c < 3; c++) {
        scan->low[c] = scan->allLow[c] = INFINITY;
        scan->high[c] = scan->allHigh[c] = -INFINITY;
    }
    scan->finitePositions = scan->finiteColors = true;
    for (size_t v = 0; v < mesh->numvertices; v++)
        for (int c = 0; c < 3; c++) {
            float x = mesh->positions[3 * v + c];
            if (!std::isfinite(x)) x = 0, scan->finitePositions = false;
            if (v < top) scan->low[c] = std::min(scan->low[c], x), scan->high[c] = std::max(scan->high[c], x);
            scan->allLow[c] = std::min(scan->allLow[c], x), scan->allHigh[c] = std::max(scan->allHigh[c], x);
        }
    for (size_t i = 0; mesh->colors && i < 3 * size_t(mesh->numvertices); i++)
        if (!std::isfinite(mesh->colors[i])) scan->finiteColors = false;
    if (!mesh->normals) return;
    for (unsigned v = 0; v < top; v++)
        if (!isUnitable(&mesh->normals[3 * size_t(v)])) scan->zeroNormal.push_back(v);
    if (scan->zeroNormal.empty()) return;
    // Each zero normal takes the facet normal of the first triangle found
    // with it; one no triangle uses stays 0, 0, 1.
    scan->facetNormal.assign(3 * scan->zeroNormal.size(), 0);
    for (size_t i = 0; i < scan->zeroNormal.size(); i++) scan->facetNormal[3 * i + 2] = 1;
    std::vector<bool> found(scan->zeroNormal.size());
    for (size_t t = 0; t < mesh->numindices / 3; t++)
        for (int k = 0; k < 3; k++) {
            auto at = std::lower_bound(scan->zeroNormal.begin(), scan->zeroNormal.end(), mesh->indices[3 * t + k]);
            if (at == scan->zeroNormal.end() || *at != mesh->indices[3 * t + k]) continue;
            size_t i = size_t(at - scan->zeroNormal.begin());
            if (!found[i]) facetNormal(mesh, t, &scan->facetNormal[3 * i]), found[i] = true;
        }
}

void kelGLBNormal(const KelMesh* mesh, const KelGLBScan& scan, unsigned v, float n[3]) {
    memcpy(n, &mesh->normals[3 * size_t(v)], 3 * sizeof(float));
    if (isUnitable(n)) {
        unit(n);
        return;
    }
    auto at = std::lower_bound(scan.zeroNormal.begin(), scan.zeroNormal.end(), v);
    memcpy(n, &scan.facetNormal[3 * size_t(at - scan.zeroNormal.begin())], 3 * sizeof(float));
}

std::vector<float> kelGLBTangents(const KelMesh* mesh, const KelGLBScan& scan) {
    const size_t count = scan.triangleVertices;
    // Per vertex the sums of the triangles' directions of growing u, then
    // of growing v.
    std::vector<float> sums(6 * count, 0.0f);
    for (size_t t = 0; t < mesh->numindices / 3; t++) {
        const unsigned* corner = &mesh->indices[3 * t];
        const float* p[3];
        float uv[3][2];
        for (int k = 0; k < 3; k++) {
            p[k] = &mesh->positions[3 * size_t(corner[k])];
            uv[k][0] = mesh->texcoords[2 * size_t(corner[k])];
            uv[k][1] = 1 - mesh->texcoords[2 * size_t(corner[k]) + 1];
        }
        float e1[3], e2[3];
        for (int c = 0; c < 3; c++) e1[c] = p[1][c] - p[0][c], e2[c] = p[2][c] - p[0][c];
        float du1 = uv[1][0] - uv[0][0], dv1 = uv[1][1] - uv[0][1];
        float du2 = uv[2][0] - uv[0][0], dv2 = uv[2][1] - uv[0][1];
        float det = du1 * dv2 - du2 * dv1;
        if (det == 0 || !std::isfinite(det)) continue;
        float r = 1 / det;
        for (int k = 0; k < 3; k++)
            for (int c = 0; c < 3; c++) {
                sums[6 * corner[k] + c] += (e1[c] * dv2 - e2[c] * dv1) * r;
                sums[6 * corner[k] + 3 + c] += (e2[c] * du1 - e1[c] * du2) * r;
            }
    }
    std::vector<float> tangents(4 * count);
    for (size_t v = 0; v < count; v++) {
        float n[3], t[3];
        kelGLBNormal(mesh, scan, unsigned(v), n);
        const float* s = &sums[6 * v];
        float along = n[0] * s[0] + n[1] * s[1] + n[2] * s[2];
        for (int c = 0; c < 3; c++) t[c] = s[c] - n[c] * along;
        if (!isUnitable(t)) {
            // No direction from the texture: any one across the normal.
            const float axis[3] = {std::fabs(n[0]) < 0.9f ? 1.0f : 0.0f, std::fabs(n[0]) < 0.9f ? 0.0f : 1.0f, 0};
            t[0] = axis[1] * n[2] - axis[2] * n[1];
            t[1] = axis[2] * n[0] - axis[0] * n[2];
            t[2] = axis[0] * n[1] - axis[1] * n[0];
        }
        unit(t);
        // The handedness: whether n x t points along the direction of growing v.
        float b[3] = {n[1] * t[2] - n[2] * t[1], n[2] * t[0] - n[0] * t[2], n[0] * t[1] - n[1] * t[0]};
        float w = b[0] * s[3] + b[1] * s[4] + b[2] * s[5] < 0 ? -1.0f : 1.0f;
        memcpy(&tangents[4 * v], t, sizeof t);
        tangents[4 * v + 3] = w;
    }
    return tangents;
}

void kelGLBPutBytes(KelOut* out, const void* bytes, size_t size) {
    const char* p = static_cast<const char*>(bytes);
    for (size_t done = 0; done < size && out->ok;) {
        size_t n = std::min(size - done, kPiece * sizeof(float));
        char* room = kelRoom(out, n);
        memcpy(room, p + done, n);
        kelDone(out, room + n);
        addProgress(out, n);
        done += n;
    }
}

void kelGLBPutFinite(KelOut* out, const float* values, size_t count) {
    for (size_t i = 0; i < count && out->ok;) {
        size_t n = std::min(count - i, kPiece);
        float* room = reinterpret_cast<float*>(kelRoom(out, n * sizeof(float)));
        for (size_t k = 0; k < n; k++, i++) room[k] = std::isfinite(values[i]) ? values[i] : 0;
        kelDone(out, reinterpret_cast<char*>(room + n));
        addProgress(out, n * sizeof(float));
    }
}

void kelGLBPutNormals(KelOut* out, const KelMesh* mesh, const KelGLBScan& scan) {
    for (unsigned v = 0; v < scan.triangleVertices && out->ok;) {
        unsigned n = unsigned(std::min<size_t>(scan.triangleVertices - v, kPiece / 3));
        float* room = reinterpret_cast<float*>(kelRoom(out, 3 * n * sizeof(float)));
        for (unsigned i = 0; i < n; i++, v++) {
            float normal[3];
            const float* given = &mesh->normals[3 * size_t(v)];
            if (isUnitable(given)) {
                memcpy(normal, given, sizeof normal);
                unit(normal);
            } else {
                kelGLBNormal(mesh, scan, v, normal);
            }
            memcpy(room + 3 * i, normal, sizeof normal);
        }
        kelDone(out, reinterpret_cast<char*>(room + 3 * n));
        addProgress(out, 3 * n * sizeof(float));
    }
}

void kelGLBPutTexcoords(KelOut* out, const KelMesh* mesh, unsigned count) {
    for (unsigned v = 0; v < count && out->ok;) {
        unsigned n = unsigned(std::min<size_t>(count - v, kPiece / 2));
        float* room = reinterpret_cast<float*>(kelRoom(out, 2 * n * sizeof(float)));
        for (unsigned i = 0; i < n; i++, v++) {
            float u = mesh->texcoords[2 * size_t(v)], w = 1 - mesh->texcoords[2 * size_t(v) + 1];
            room[2 * i] = std::isfinite(u) ? u : 0;
            room[2 * i + 1] = std::isfinite(w) ? w : 0;
        }
        kelDone(out, reinterpret_cast<char*>(room + 2 * n));
        addProgress(out, 2 * n * sizeof(float));
    }
}

void kelGLBPutIndices(KelOut* out, const unsigned* indices, unsigned count, bool shortIndices) {
    if (!shortIndices) {
        kelGLBPutBytes(out, indices, size_t(count) * sizeof(unsigned));
        return;
    }
    for (unsigned i = 0; i < count && out->ok;) {
        unsigned n = unsigned(std::min<size_t>(count - i, kPiece));
        char* room = kelRoom(out, n * sizeof(uint16_t));
        for (unsigned k = 0; k < n; k++, i++) {
            uint16_t index = uint16_t(indices[i]);
            memcpy(room + 2 * k, &index, 2);
        }
        kelDone(out, room + 2 * n);
        addProgress(out, 2 * n);
    }
}

void kelGLBPad(KelOut* out, uint64_t size) {
    static const char zeros[4] = {0, 0, 0, 0};
    if (size % 4) kelPut(out, zeros, size_t(4 - size % 4)), addProgress(out, size_t(4 - size % 4));
}
