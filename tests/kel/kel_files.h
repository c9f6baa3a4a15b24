// Helpers for the reader tests: a private temporary directory that holds the
// small OBJ and MTL files a test writes, and short views of a read model.
#ifndef ORVANDEL_TESTS_KEL_KEL_FILES_H
#define ORVANDEL_TESTS_KEL_KEL_FILES_H

#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "kel/kel.h"

// A fresh directory under the test temporary directory, removed with
// everything in it when the object goes.
struct TempDir {
    std::string dir;
    TempDir() {
        std::string pattern = testing::TempDir() + "kel_XXXXXX";
        std::vector<char> buffer(pattern.begin(), pattern.end());
        buffer.push_back('\0');
        EXPECT_NE(mkdtemp(buffer.data()), nullptr);
        dir = buffer.data();
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
    }
    std::string path(const std::string& name) const { return dir + "/" + name; }
    // Writes `text` byte for byte and returns the file's path.
    std::string write(const std::string& name, const std::string& text) {
        std::string p = path(name);
        FILE* f = fopen(p.c_str(), "wb");
        EXPECT_NE(f, nullptr);
        fwrite(text.data(), 1, text.size(), f);
        fclose(f);
        return p;
    }
};

// The bytes of a file; "" when it cannot be read.
inline std::string readFile(const std::string& path) {
    std::string text;
    if (FILE* f = fopen(path.c_str(), "rb")) {
        char block[4096];
        for (size_t n; (n = fread(block, 1, sizeof block, f)) > 0;) text.append(block, n);
        fclose(f);
    }
    return text;
}

using Corners = std::array<unsigned, 3>;

// Vertex, texture-coordinate and normal indices of triangle i.
inline Corners vIdx(const KelModel* m, unsigned i) {
    const unsigned* c = m->triangles[i].vindices;
    return {c[0], c[1], c[2]};
}
inline Corners tIdx(const KelModel* m, unsigned i) {
    const unsigned* c = m->triangles[i].tindices;
    return {c[0], c[1], c[2]};
}
inline Corners nIdx(const KelModel* m, unsigned i) {
    const unsigned* c = m->triangles[i].nindices;
    return {c[0], c[1], c[2]};
}

// The group names from the head of the list, with their triangle lists.
inline std::vector<std::string> groupNames(const KelModel* m) {
    std::vector<std::string> names;
    for (const KelGroup* g = m->groups; g; g = g->next) names.push_back(g->name);
    return names;
}
inline std::vector<unsigned> groupTriangles(const KelGroup* g) {
    return std::vector<unsigned>(g->triangles, g->triangles + g->numtriangles);
}
// The triangles of the group named `name`; a missing group is a failure.
inline std::vector<unsigned> groupTriangles(KelModel* m, const char* name) {
    const KelGroup* g = kelFindGroup(m, name);
    if (!g) ADD_FAILURE() << "no group \"" << name << "\"";
    return g ? groupTriangles(g) : std::vector<unsigned>{};
}

// A material as the reader makes one before its statements: the documented
// defaults, a copy of `name`, no maps.
inline KelMaterial defaultMaterial(const char* name) {
    KelMaterial m = {};
    m.name = strdup(name);
    const float diffuse[4] = {0.8f, 0.8f, 0.8f, 1}, ambient[4] = {0.2f, 0.2f, 0.2f, 1}, black[4] = {0, 0, 0, 1};
    memcpy(m.diffuse, diffuse, sizeof diffuse);
    memcpy(m.ambient, ambient, sizeof ambient);
    memcpy(m.specular, black, sizeof black);
    memcpy(m.emission, black, sizeof black);
    m.shininess = 65;
    m.dissolve = 1;
    m.ior = 1;
    m.illum = -1;
    for (KelMap& map : m.maps) {
        map.scale[0] = map.scale[1] = map.scale[2] = 1;
        map.bumpScale = 1;
    }
    return m;
}

// Both models hold the same tables, groups and materials, bit for bit.
inline void expectFloats(const float* a, const float* b, size_t n) {
    if (n == 0) return;
    ASSERT_TRUE(a && b);
    EXPECT_EQ(memcmp(a, b, n * sizeof(float)), 0);
}

// The same n entries of two tables that are both null or both present.
inline void expectSameIndices(const unsigned* a, const unsigned* b, size_t n, const char* what) {
    ASSERT_EQ(a == nullptr, b == nullptr) << what;
    if (a && n) {
        EXPECT_EQ(std::vector<unsigned>(a, a + n), std::vector<unsigned>(b, b + n)) << what;
    }
}

inline void expectSameModel(const KelModel* a, const KelModel* b) {
    ASSERT_EQ(a->numvertices, b->numvertices);
    ASSERT_EQ(a->numnormals, b->numnormals);
    ASSERT_EQ(a->numtexcoords, b->numtexcoords);
    ASSERT_EQ(a->numtriangles, b->numtriangles);
    expectFloats(a->vertices, b->vertices, 3 * (size_t(a->numvertices) + 1));
    expectFloats(a->normals, b->normals, a->numnormals ? 3 * (size_t(a->numnormals) + 1) : 0);
    expectFloats(a->texcoords, b->texcoords, a->numtexcoords ? 2 * (size_t(a->numtexcoords) + 1) : 0);
    ASSERT_EQ(a->colors == nullptr, b->colors == nullptr);
    expectFloats(a->colors, b->colors, a->colors ? 3 * (size_t(a->numvertices) + 1) : 0);
    EXPECT_EQ(memcmp(a->triangles, b->triangles, a->numtriangles * sizeof(KelTriangle)), 0);
    expectSameIndices(a->trimaterials, b->trimaterials, a->numtriangles, "trimaterials");
    expectSameIndices(a->smoothing, b->smoothing, a->numtriangles, "smoothing");
    ASSERT_EQ(a->numlines, b->numlines);
    expectSameIndices(a->lines, b->lines, 2 * size_t(a->numlines), "lines");
    ASSERT_EQ(a->numpoints, b->numpoints);
    expectSameIndices(a->points, b->points, a->numpoints, "points");
    ASSERT_EQ(a->numobjects, b->numobjects);
    for (unsigned i = 0; i < a->numobjects; i++) {
        EXPECT_STREQ(a->objects[i].name, b->objects[i].name) << "object " << i;
        EXPECT_EQ(a->objects[i].first, b->objects[i].first) << "object " << i;
        EXPECT_EQ(a->objects[i].count, b->objects[i].count) << "object " << i;
    }
    ASSERT_EQ(groupNames(a), groupNames(b));
    for (const KelGroup *g = a->groups, *h = b->groups; g; g = g->next, h = h->next) {
        EXPECT_EQ(groupTriangles(g), groupTriangles(h)) << g->name;
        EXPECT_EQ(g->material, h->material) << g->name;
    }
    ASSERT_EQ(a->nummaterials, b->nummaterials);
    for (unsigned i = 0; i < a->nummaterials; i++) {
        const KelMaterial &m = a->materials[i], &n = b->materials[i];
        SCOPED_TRACE(m.name);
        EXPECT_STREQ(m.name, n.name);
        expectFloats(m.diffuse, n.diffuse, 4);
        expectFloats(m.ambient, n.ambient, 4);
        expectFloats(m.specular, n.specular, 4);
        expectFloats(m.emission, n.emission, 4);
        const float scalars[][8] = {
            {m.shininess, m.dissolve, m.ior, m.roughness, m.metallic, m.sheen, m.clearcoat, m.clearcoatRoughness},
            {n.shininess, n.dissolve, n.ior, n.roughness, n.metallic, n.sheen, n.clearcoat, n.clearcoatRoughness}};
        expectFloats(scalars[0], scalars[1], 8);
        EXPECT_EQ(m.illum, n.illum);
        EXPECT_STREQ(m.diffuseMap, n.diffuseMap);
        EXPECT_STREQ(m.bumpMap, n.bumpMap);
        EXPECT_STREQ(m.extras, n.extras);
        for (int k = 0; k < KEL_MAP_KINDS; k++) {
            const KelMap &p = m.maps[k], &q = n.maps[k];
            EXPECT_STREQ(p.name, q.name) << "map " << k;
            EXPECT_STREQ(p.options, q.options) << "map " << k;
            expectFloats(p.offset, q.offset, 3);
            expectFloats(p.scale, q.scale, 3);
            expectFloats(&p.bumpScale, &q.bumpScale, 1);
            EXPECT_EQ(p.clamp, q.clamp) << "map " << k;
        }
    }
}

#endif  // ORVANDEL_TESTS_KEL_KEL_FILES_H
