// Linear and sphere-map texture coordinates.
#include <gtest/gtest.h>

#include <cmath>

#include "kel/model_copy.h"
#include "kel/ops_models.h"

namespace {

std::array<float, 2> texcoord(const KelModel* m, unsigned i) { return {m->texcoords[2 * i], m->texcoords[2 * i + 1]}; }

TEST(KelLinearTexture, ScaleComesFromTheLargestExtentEvenAlongY) {
    // Box x -2..2, y -5..5, z -1..1: s = 2 / 10.
    KelModel* m = makeModel({{-2, -5, -1}, {2, 5, 1}, {2, 0, 1}, {0, 0, 0}}, {{1, 2, 3}, {2, 3, 4}});
    kelLinearTexture(m);
    ASSERT_EQ(4u, m->numtexcoords);
    EXPECT_FLOAT_EQ(0.7f, texcoord(m, 3)[0]);
    EXPECT_FLOAT_EQ(0.6f, texcoord(m, 3)[1]);
    EXPECT_EQ((std::array<float, 2>{0.5f, 0.5f}), texcoord(m, 4));
    EXPECT_FLOAT_EQ(0.3f, texcoord(m, 1)[0]);
    for (unsigned t = 0; t < 2; t++)
        EXPECT_EQ(0, memcmp(m->triangles[t].vindices, m->triangles[t].tindices, sizeof(unsigned[3])));
    kelDelete(m);
}

TEST(KelLinearTexture, ReplacesTexcoordsAndOnlyTouchesGroupedTriangles) {
    KelModel* m = makeModel({{1, 0, 1}, {-1, 0, -1}, {0, 0, 0}}, {{1, 2, 3}, {3, 2, 1}});
    m->numtexcoords = 1;
    m->texcoords = static_cast<float*>(calloc(2, 2 * sizeof(float)));
    m->groups->numtriangles = 1;  // triangle 1 belongs to no group
    m->triangles[1].tindices[0] = 1;
    kelLinearTexture(m);
    EXPECT_EQ(3u, m->numtexcoords);
    EXPECT_EQ((std::array<float, 2>{1, 1}), texcoord(m, 1));
    EXPECT_EQ((std::array<float, 2>{0, 0}), texcoord(m, 2));
    EXPECT_EQ(Tri({1, 2, 3}),
              Tri({m->triangles[0].tindices[0], m->triangles[0].tindices[1], m->triangles[0].tindices[2]}));
    EXPECT_EQ(Tri({1, 0, 0}),
              Tri({m->triangles[1].tindices[0], m->triangles[1].tindices[1], m->triangles[1].tindices[2]}));
    kelDelete(m);
}

TEST(KelLinearTexture, DegenerateModels) {
    KelModel* point = makeModel({{0, 0, 0}, {0, 0, 0}}, {{1, 2, 1}});
    kelLinearTexture(point);
    EXPECT_EQ((std::array<float, 2>{0.5f, 0.5f}), texcoord(point, 1));
    EXPECT_EQ((std::array<float, 2>{0.5f, 0.5f}), texcoord(point, 2));
    kelDelete(point);
    KelModel* empty = makeModel({}, {});
    kelLinearTexture(empty);
    EXPECT_EQ(0u, empty->numtexcoords);
    EXPECT_NE(nullptr, empty->texcoords);
    kelDelete(empty);
}

TEST(KelTexture, EveryFailedAllocationLeavesTheModelAsItWas) {
    // Earlier texture coordinates of another count, named by the triangles,
    // and vertex normals for the sphere map.
    KelModel* m = makeModel({{1, 0, 1}, {-1, 0, -1}, {0, 2, 0}, {3, 3, 3}}, {{1, 2, 3}, {3, 2, 4}});
    m->numtexcoords = 1;
    m->texcoords = static_cast<float*>(calloc(2, 2 * sizeof(float)));
    m->numnormals = 2;
    m->normals = makeTable({{0, 0, 1}, {0.6f, 0.8f, 0}});
    for (unsigned t = 0; t < 2; t++)
        for (int k = 0; k < 3; k++) m->triangles[t].tindices[k] = 1, m->triangles[t].nindices[k] = 1 + (t + k) % 2;
    const struct {
        const char* what;
        int (*call)(KelModel*);
        unsigned count;  // texture coordinates made
    } calls[] = {{"kelLinearTexture", kelLinearTexture, 4}, {"kelSpheremapTexture", kelSpheremapTexture, 2}};
    for (const auto& c : calls) {
        EXPECT_EQ(1u, expectEveryFailedAllocationKeepsTheModel(m, c.call, c.what));
        EXPECT_EQ(c.count, m->numtexcoords) << c.what;
    }
    kelDelete(m);
}

// A model whose vertex normals are the given vectors, one triangle using them.
KelModel* withNormals(const std::vector<Vec3>& normals) {
    KelModel* m = makeModel({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {{1, 2, 3}});
    m->numnormals = unsigned(normals.size());
    m->normals = makeTable(normals);
    for (int k = 0; k < 3; k++) m->triangles[0].nindices[k] = unsigned(k % normals.size()) + 1;
    return m;
}

TEST(KelSpheremapTexture, AnglesOfTheRearrangedComponents) {
    KelModel* m = withNormals({{1, 0, 0}, {-1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {0, 0, -1}, {0, 0.6f, 0.8f}, {0, 0, 0}});
    kelSpheremapTexture(m);
    ASSERT_EQ(7u, m->numtexcoords);
    EXPECT_EQ((std::array<float, 2>{0, 0}), texcoord(m, 1));
    EXPECT_EQ((std::array<float, 2>{0, 0}), texcoord(m, 2));
    EXPECT_FLOAT_EQ(1.0f, texcoord(m, 3)[0]);
    EXPECT_FLOAT_EQ(0.5f, texcoord(m, 3)[1]);
    EXPECT_FLOAT_EQ(0.5f, texcoord(m, 4)[0]);
    EXPECT_FLOAT_EQ(0.5f, texcoord(m, 4)[1]);
    EXPECT_EQ(texcoord(m, 4), texcoord(m, 5));
    EXPECT_FLOAT_EQ(0.5f, texcoord(m, 6)[1]);
    EXPECT_GT(texcoord(m, 6)[0], 0.5f);
    EXPECT_LT(texcoord(m, 6)[0], 1.0f);
    EXPECT_EQ((std::array<float, 2>{0, 0}), texcoord(m, 7));  // a zero normal
    EXPECT_EQ(Tri({1, 2, 3}),
              Tri({m->triangles[0].tindices[0], m->triangles[0].tindices[1], m->triangles[0].tindices[2]}));
    kelDelete(m);
}

TEST(KelSpheremapTexture, StaysInsideTheUnitSquare) {
    std::vector<Vec3> normals;
    for (int i = 0; i < 200; i++) {
        float a = i * 0.1f, b = i * 0.37f;
        Vec3 n = {std::cos(a) * std::sin(b), std::sin(a) * std::sin(b), std::cos(b)};
        kelNormalize(n.data());
        normals.push_back(n);
    }
    KelModel* m = withNormals(normals);
    kelSpheremapTexture(m);
    for (unsigned i = 1; i <= m->numtexcoords; i++)
        for (float c : texcoord(m, i)) {
            EXPECT_GE(c, 0.0f);
            EXPECT_LE(c, 1.0f + 1e-6f);
        }
    kelDelete(m);
}

TEST(KelTextureDeathTest, MissingModelOrTables) {
    EXPECT_DEATH(kelLinearTexture(nullptr), "model");
    KelModel* m = makeModel({{0, 0, 0}}, {});
    EXPECT_DEATH(kelSpheremapTexture(m), "model->normals");
    kelDelete(m);
}

}  // namespace
