// Measuring, unitizing, scaling, moving and mirroring models.
#include <gtest/gtest.h>

#include <cmath>

#include "kel/ops_models.h"

namespace {

TEST(KelScalars, AbsAndMaxKeepTheirFirstArgumentOnTiesAndNaN) {
    EXPECT_EQ(2.0f, kelAbs(-2.0f));
    EXPECT_TRUE(std::signbit(kelAbs(-0.0f)));  // -0 is not below 0
    EXPECT_EQ(2.0f, kelMax(1, 2));
    EXPECT_TRUE(std::signbit(kelMax(-0.0f, 0.0f)));
    EXPECT_FALSE(std::signbit(kelMax(0.0f, -0.0f)));
    EXPECT_TRUE(std::isnan(kelMax(NAN, 1)));
    EXPECT_EQ(1.0f, kelMax(1, NAN));
}

// The box x 1..3, y 0..1, z 0..1: off the origin along x.
KelModel* offsetBox() { return makeModel({{1, 0, 0}, {3, 1, 1}, {2, 0.5f, 0.25f}}, {{1, 2, 3}}); }

TEST(KelDimensions, ExtentIsAbsMaxPlusAbsMin) {
    KelModel* m = offsetBox();
    float d[3];
    kelDimensions(m, d);
    EXPECT_EQ(Vec3({4, 1, 1}), Vec3({d[0], d[1], d[2]}));
    kelDelete(m);
}

TEST(KelUnitize, OffsetBoxUsesTheWiderExtent) {
    KelModel* m = offsetBox();
    EXPECT_EQ(0.5f, kelUnitize(m));
    EXPECT_EQ(Vec3({-0.5f, -0.25f, -0.25f}), entry(m->vertices, 1));
    EXPECT_EQ(Vec3({0.5f, 0.25f, 0.25f}), entry(m->vertices, 2));
    EXPECT_EQ(Vec3({0, 0, -0.125f}), entry(m->vertices, 3));
    kelDelete(m);
}

TEST(KelUnitize, BoxAroundTheOriginEndsInMinusOneToOne) {
    KelModel* m = makeModel({{-2, -2, -2}, {2, 2, 2}, {1, -1, 0.5f}}, {});
    EXPECT_EQ(0.5f, kelUnitize(m));
    EXPECT_EQ(Vec3({-1, -1, -1}), entry(m->vertices, 1));
    EXPECT_EQ(Vec3({1, 1, 1}), entry(m->vertices, 2));
    EXPECT_EQ(Vec3({0.5f, -0.5f, 0.25f}), entry(m->vertices, 3));
    kelDelete(m);
}

TEST(KelUnitize, DegenerateModelsNeedNoDivisionByZero) {
    // No vertices: nothing is read, nothing changes.
    KelModel* empty = makeModel({}, {});
    EXPECT_EQ(1.0f, kelUnitize(empty));
    float d[3] = {7, 7, 7};
    kelDimensions(empty, d);
    EXPECT_EQ(Vec3({0, 0, 0}), Vec3({d[0], d[1], d[2]}));
    kelDelete(empty);
    // Every vertex at the origin: every extent is zero.
    KelModel* point = makeModel({{0, 0, 0}, {0, -0.0f, 0}}, {});
    EXPECT_EQ(1.0f, kelUnitize(point));
    for (unsigned i = 1; i <= 2; i++)
        for (float c : entry(point->vertices, i)) EXPECT_EQ(0.0f, c);
    kelDelete(point);
}

TEST(KelUnitize, SinglePointOffTheOriginIsCentred) {
    KelModel* m = makeModel({{3, -4, 5}}, {});
    EXPECT_EQ(float(2.0 / 10.0), kelUnitize(m));
    EXPECT_EQ(Vec3({0, 0, 0}), entry(m->vertices, 1));
    kelDelete(m);
}

TEST(KelScaleTranslate, EveryVertexButEntryZero) {
    KelModel* m = makeModel({{1, 2, 3}, {-1, 0, 0.5f}}, {});
    m->vertices[0] = 42;
    kelScale(m, 2);
    const float offset[3] = {1, -1, 0.25f};
    kelTranslate(m, offset);
    EXPECT_EQ(Vec3({3, 3, 6.25f}), entry(m->vertices, 1));
    EXPECT_EQ(Vec3({-1, -1, 1.25f}), entry(m->vertices, 2));
    EXPECT_EQ(42.0f, m->vertices[0]);
    kelDelete(m);
}

TEST(KelReverseWinding, SwapsCornersNegatesNormalsAndTwiceRestores) {
    KelModel* m = makeModel({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}}, {{1, 2, 3}, {1, 4, 2}});
    kelFacetNormals(m);
    kelVertexNormals(m, 90);
    m->triangles[0].tindices[0] = 7;  // no texture coordinates: left alone
    std::vector<KelTriangle> tris(m->triangles, m->triangles + 2);
    std::vector<float> normals(m->normals, m->normals + 3 * (m->numnormals + 1));
    std::vector<float> facets(m->facetnorms, m->facetnorms + 9);

    kelReverseWinding(m);
    EXPECT_EQ(Tri({3, 2, 1}),
              Tri({m->triangles[0].vindices[0], m->triangles[0].vindices[1], m->triangles[0].vindices[2]}));
    EXPECT_EQ(tris[0].nindices[2], m->triangles[0].nindices[0]);
    EXPECT_EQ(tris[0].nindices[0], m->triangles[0].nindices[2]);
    EXPECT_EQ(7u, m->triangles[0].tindices[0]);
    EXPECT_EQ(tris[1].findex, m->triangles[1].findex);
    EXPECT_EQ(Vec3({0, 0, -1}), entry(m->facetnorms, 1));
    EXPECT_EQ(-normals[3], m->normals[3]);
    // The flipped winding and the negated normals agree.
    std::vector<float> negated(m->facetnorms, m->facetnorms + 9);
    kelFacetNormals(m);
    EXPECT_EQ(negated, std::vector<float>(m->facetnorms, m->facetnorms + 9));

    kelReverseWinding(m);
    for (unsigned t = 0; t < 2; t++) EXPECT_EQ(0, memcmp(&tris[t], &m->triangles[t], sizeof(KelTriangle)));
    EXPECT_EQ(normals, std::vector<float>(m->normals, m->normals + normals.size()));
    EXPECT_EQ(facets, std::vector<float>(m->facetnorms, m->facetnorms + 9));
    kelDelete(m);
}

TEST(KelReverseWinding, TextureIndicesSwapOnlyWhenTheModelHasTexcoords) {
    KelModel* m = makeModel({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {{1, 2, 3}});
    kelLinearTexture(m);
    kelReverseWinding(m);
    EXPECT_EQ(Tri({3, 2, 1}),
              Tri({m->triangles[0].tindices[0], m->triangles[0].tindices[1], m->triangles[0].tindices[2]}));
    kelDelete(m);
}

TEST(KelTransformDeathTest, MissingModelOrTables) {
    float d[3];
    EXPECT_DEATH(kelUnitize(nullptr), "model");
    EXPECT_DEATH(kelReverseWinding(nullptr), "model");
    KelModel* m = makeModel({{0, 0, 0}}, {});
    EXPECT_DEATH(kelDimensions(m, nullptr), "dimensions");
    free(m->vertices);
    m->vertices = nullptr;
    EXPECT_DEATH(kelDimensions(m, d), "model->vertices");
    kelDelete(m);
}

}  // namespace
