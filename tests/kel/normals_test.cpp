// Facet normals, crease-angle and smoothing-group vertex normals and the
// vector helpers.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "kel/model_copy.h"
#include "kel/ops_models.h"

namespace {

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

TEST(KelVectors, CrossDotNormalize) {
    float x[3] = {1, 0, 0}, y[3] = {0, 1, 0}, n[3];
    kelCross(x, y, n);
    EXPECT_EQ(Vec3({0, 0, 1}), Vec3({n[0], n[1], n[2]}));
    EXPECT_EQ(0.0f, kelDot(x, y));
    float a[3] = {1, 2, 3}, b[3] = {4, -5, 6};
    EXPECT_EQ(12.0f, kelDot(a, b));

    float v[3] = {3, 4, 0};
    kelNormalize(v);
    EXPECT_EQ(Vec3({0.6f, 0.8f, 0}), Vec3({v[0], v[1], v[2]}));
}

TEST(KelVectors, NormalizeLeavesZeroAndRescuesExtremeLengths) {
    float zero[3] = {0, 0, 0};
    kelNormalize(zero);
    EXPECT_EQ(Vec3({0, 0, 0}), Vec3({zero[0], zero[1], zero[2]}));
    // Squares that underflow or overflow single precision still give a unit
    // vector, not a zero or infinite one.
    float tiny[3] = {0, 3e-30f, 4e-30f};
    kelNormalize(tiny);
    EXPECT_FLOAT_EQ(0.6f, tiny[1]);
    EXPECT_FLOAT_EQ(0.8f, tiny[2]);
    float huge[3] = {3e30f, 0, -4e30f};
    kelNormalize(huge);
    EXPECT_FLOAT_EQ(0.6f, huge[0]);
    EXPECT_FLOAT_EQ(-0.8f, huge[2]);
}

TEST(KelFacetNormals, OnePerTriangleFacingCounterClockwiseCorners) {
    KelModel* m = makeModel({{0, 0, 0}, {2, 0, 0}, {0, 2, 0}, {0, 0, 2}}, {{1, 2, 3}, {1, 3, 2}, {1, 4, 2}});
    kelFacetNormals(m);
    ASSERT_EQ(3u, m->numfacetnorms);
    for (unsigned t = 0; t < 3; t++) EXPECT_EQ(t + 1, m->triangles[t].findex);
    EXPECT_EQ(Vec3({0, 0, 1}), entry(m->facetnorms, 1));
    EXPECT_EQ(Vec3({0, 0, -1}), entry(m->facetnorms, 2));
    EXPECT_EQ(Vec3({0, 1, 0}), entry(m->facetnorms, 3));
    kelDelete(m);
}

TEST(KelFacetNormals, DegenerateTinyAndHugeTrianglesAmongOrdinaryOnes) {
    // Collinear and coincident corners give a zero normal, not NaN; lengths
    // whose squares under- or overflow still give unit normals. Triangles
    // are taken in fours, so each kind stands at every place in a four and
    // in the last, short one; the reference is computed in double precision.
    const std::vector<Vec3> points = {{0, 0, 0},      {1, 1, 1},       {2, 2, 2},     {1, 0, 0},
                                      {0, 1, 0},      {0.3f, 0.7f, 2}, {-1, 2, 0.5f}, {0, 3e-15f, 0},
                                      {0, 0, 4e-15f}, {3e18f, 0, 0},   {0, -4e18f, 0}};
    const std::vector<Tri> kinds = {{1, 2, 3}, {1, 1, 1}, {1, 8, 9}, {1, 10, 11}, {4, 6, 7}, {7, 5, 6}, {1, 4, 5}};
    std::vector<Tri> triangles;
    for (size_t i = 0; i < 4 * kinds.size() + 3; i++) triangles.push_back(kinds[(i * 3) % kinds.size()]);
    KelModel* m = makeModel(points, triangles);
    kelFacetNormals(m);
    kelFacetNormals(m);  // again, into the same table
    ASSERT_EQ(triangles.size(), m->numfacetnorms);
    for (unsigned t = 0; t < triangles.size(); t++) {
        SCOPED_TRACE(t);
        EXPECT_EQ(t + 1, m->triangles[t].findex);
        const Vec3& a = points[triangles[t][0] - 1];
        const Vec3& b = points[triangles[t][1] - 1];
        const Vec3& c = points[triangles[t][2] - 1];
        double u[3] = {double(b[0]) - a[0], double(b[1]) - a[1], double(b[2]) - a[2]};
        double v[3] = {double(c[0]) - a[0], double(c[1]) - a[1], double(c[2]) - a[2]};
        double n[3] = {u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2], u[0] * v[1] - u[1] * v[0]};
        double l = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
        Vec3 got = entry(m->facetnorms, t + 1);
        for (int k = 0; k < 3; k++) {
            if (l == 0)
                EXPECT_EQ(0.0f, got[k]);
            else
                EXPECT_NEAR(n[k] / l, got[k], 1e-6);
        }
    }
    kelDelete(m);
}

// Two triangles meeting at a right angle along the edge from vertex 1 to
// vertex 2: A = (1, 3, 2) faces +z, B = (1, 2, 4) faces +x, so their facet
// normals have a dot product of exactly 0.
KelModel* rightAngleRoof() {
    KelModel* m = makeModel({{0, 0, 0}, {0, 1, 0}, {1, 0, 0}, {0, 0, 1}}, {{1, 3, 2}, {1, 2, 4}});
    kelFacetNormals(m);
    return m;
}

TEST(KelVertexNormals, NinetyDegreesAveragesFacesAtExactlyARightAngle) {
    // pi enters in single precision, so the threshold is -4.371139e-8, below
    // the dot product 0: both faces are averaged at the shared vertices.
    KelModel* m = rightAngleRoof();
    kelVertexNormals(m, 90);
    ASSERT_EQ(4u, m->numnormals);
    const float h = 1 / std::sqrt(2.0f);
    EXPECT_EQ(Vec3({h, 0, h}), entry(m->normals, 1));
    EXPECT_EQ(Vec3({h, 0, h}), entry(m->normals, 2));
    EXPECT_EQ(Vec3({0, 0, 1}), entry(m->normals, 3));
    EXPECT_EQ(Vec3({1, 0, 0}), entry(m->normals, 4));
    EXPECT_EQ(Tri({1, 3, 2}),
              Tri({m->triangles[0].nindices[0], m->triangles[0].nindices[1], m->triangles[0].nindices[2]}));
    EXPECT_EQ(Tri({1, 2, 4}),
              Tri({m->triangles[1].nindices[0], m->triangles[1].nindices[1], m->triangles[1].nindices[2]}));
    kelDelete(m);
}

TEST(KelVertexNormals, BelowNinetyTheHeadsAverageComesFirstThenCopiesInListOrder) {
    KelModel* m = rightAngleRoof();
    kelVertexNormals(m, 89.99f);
    // Vertex 1's list starts with B (the later triangle): B's averaged normal
    // is 1, A's copy 2; vertex 2 likewise 3 and 4; then vertex 3 (A) and 4 (B).
    ASSERT_EQ(6u, m->numnormals);
    const Vec3 z = {0, 0, 1}, x = {1, 0, 0};
    EXPECT_EQ(x, entry(m->normals, 1));
    EXPECT_EQ(z, entry(m->normals, 2));
    EXPECT_EQ(x, entry(m->normals, 3));
    EXPECT_EQ(z, entry(m->normals, 4));
    EXPECT_EQ(z, entry(m->normals, 5));
    EXPECT_EQ(x, entry(m->normals, 6));
    EXPECT_EQ(Tri({2, 5, 4}),
              Tri({m->triangles[0].nindices[0], m->triangles[0].nindices[1], m->triangles[0].nindices[2]}));
    EXPECT_EQ(Tri({1, 3, 6}),
              Tri({m->triangles[1].nindices[0], m->triangles[1].nindices[1], m->triangles[1].nindices[2]}));
    kelDelete(m);
}

TEST(KelVertexNormals, ZeroDegreesGivesEveryCornerItsOwnFacetNormal) {
    KelModel* m = rightAngleRoof();
    kelVertexNormals(m, 0);
    ASSERT_EQ(6u, m->numnormals);
    for (unsigned t = 0; t < 2; t++)
        for (int k = 0; k < 3; k++)
            EXPECT_EQ(entry(m->facetnorms, t + 1), entry(m->normals, m->triangles[t].nindices[k]));
    // Nothing is averaged, so even the head takes a copy: vertex 1 gives B's
    // normal first, then A's.
    EXPECT_EQ(Vec3({1, 0, 0}), entry(m->normals, 1));
    EXPECT_EQ(2u, m->triangles[0].nindices[0]);
    kelDelete(m);
}

TEST(KelVertexNormals, OneEightyAveragesAllButAnExactlyOppositeFace) {
    // A faces +z, B +x, C = (1, 2, 3) faces -z; C is the head at vertices 1 to
    // 3 and A's dot product with it is exactly -1, which is not above -1.
    KelModel* m = makeModel({{0, 0, 0}, {0, 1, 0}, {1, 0, 0}, {0, 0, 1}}, {{1, 3, 2}, {1, 2, 4}, {1, 2, 3}});
    kelFacetNormals(m);
    kelVertexNormals(m, 180);
    // Vertex 1: average of C and B, then A's copy; vertex 2 the same; vertex
    // 3: C, then A's copy; vertex 4: B.
    ASSERT_EQ(7u, m->numnormals);
    const float h = 1 / std::sqrt(2.0f);
    EXPECT_EQ(Vec3({h, 0, -h}), entry(m->normals, 1));
    EXPECT_EQ(Vec3({0, 0, 1}), entry(m->normals, 2));
    EXPECT_EQ(Vec3({0, 0, -1}), entry(m->normals, 5));
    EXPECT_EQ(Vec3({0, 0, 1}), entry(m->normals, 6));
    EXPECT_EQ(Vec3({1, 0, 0}), entry(m->normals, 7));
    EXPECT_EQ(Tri({2, 6, 4}),
              Tri({m->triangles[0].nindices[0], m->triangles[0].nindices[1], m->triangles[0].nindices[2]}));
    EXPECT_EQ(Tri({1, 3, 7}),
              Tri({m->triangles[1].nindices[0], m->triangles[1].nindices[1], m->triangles[1].nindices[2]}));
    EXPECT_EQ(Tri({1, 3, 5}),
              Tri({m->triangles[2].nindices[0], m->triangles[2].nindices[1], m->triangles[2].nindices[2]}));
    kelDelete(m);
}

TEST(KelVertexNormals, UnusedVertexIsReportedOnceAndNumberingStaysConsecutive) {
    KelModel* m = makeModel({{0, 0, 0}, {9, 9, 9}, {1, 0, 0}, {0, 1, 0}}, {{1, 3, 4}});
    kelFacetNormals(m);
    CaptureStderr();
    kelVertexNormals(m, 90);
    EXPECT_EQ("kelVertexNormals(): vertex w/o a triangle\n", GetCapturedStderr());
    ASSERT_EQ(3u, m->numnormals);
    EXPECT_EQ(Tri({1, 2, 3}),
              Tri({m->triangles[0].nindices[0], m->triangles[0].nindices[1], m->triangles[0].nindices[2]}));
    kelDelete(m);
}

TEST(KelVertexNormals, SmoothSurfaceGivesOneNormalPerUsedVertexInVertexOrder) {
    // A flat fan of four triangles around vertex 5.
    KelModel* m = makeModel({{-1, -1, 0}, {1, -1, 0}, {1, 1, 0}, {-1, 1, 0}, {0, 0, 0}},
                            {{1, 2, 5}, {2, 3, 5}, {3, 4, 5}, {4, 1, 5}});
    kelFacetNormals(m);
    kelVertexNormals(m, 30);
    ASSERT_EQ(5u, m->numnormals);
    for (unsigned t = 0; t < 4; t++)
        for (int k = 0; k < 3; k++) EXPECT_EQ(m->triangles[t].vindices[k], m->triangles[t].nindices[k]);
    for (unsigned i = 1; i <= 5; i++) EXPECT_EQ(Vec3({0, 0, 1}), entry(m->normals, i));
    kelDelete(m);
}

TEST(KelVertexNormals, AVertexInManyTrianglesKeepsListOrderAtEveryCorner) {
    // Vertex 1 is in 40 triangles, each with its own two outer vertices:
    // even triangles face +z, odd ones +x. The head (triangle 39) faces +x,
    // so at 30 degrees the odd ones average to normal 1 and the even ones
    // take copies 2 to 21 from triangle 38 down; the outer vertices follow.
    std::vector<Vec3> vertices = {{0, 0, 0}};
    std::vector<Tri> triangles;
    for (unsigned j = 0; j < 40; j++) {
        vertices.push_back(j % 2 ? Vec3{0, 1, 0} : Vec3{1, 0, 0});
        vertices.push_back(j % 2 ? Vec3{0, 0, 1} : Vec3{0, 1, 0});
        triangles.push_back({1, 2 + 2 * j, 3 + 2 * j});
    }
    KelModel* m = makeModel(vertices, triangles);
    kelFacetNormals(m);
    kelVertexNormals(m, 30);
    ASSERT_EQ(101u, m->numnormals);
    EXPECT_EQ(Vec3({1, 0, 0}), entry(m->normals, 1));
    for (unsigned i = 2; i <= 21; i++) EXPECT_EQ(Vec3({0, 0, 1}), entry(m->normals, i));
    for (unsigned j = 0; j < 40; j++) {
        unsigned first = j % 2 ? 1 : 2 + (38 - j) / 2;
        EXPECT_EQ(Tri({first, 22 + 2 * j, 23 + 2 * j}),
                  Tri({m->triangles[j].nindices[0], m->triangles[j].nindices[1], m->triangles[j].nindices[2]}))
            << j;
    }
    kelDelete(m);
}

TEST(KelVertexNormals, RepeatedCallGivesTheSameResult) {
    KelModel* m = makeModel({{0, 0, 0}, {0, 1, 0}, {1, 0, 0}, {0, 0, 1}, {1, 1, 1}},
                            {{1, 3, 2}, {1, 2, 4}, {2, 3, 5}, {3, 4, 5}});
    kelFacetNormals(m);
    kelVertexNormals(m, 60);
    std::vector<float> first(m->normals + 3, m->normals + 3 * (m->numnormals + 1));
    std::vector<KelTriangle> tris(m->triangles, m->triangles + m->numtriangles);
    kelVertexNormals(m, 60);
    EXPECT_EQ(first, std::vector<float>(m->normals + 3, m->normals + 3 * (m->numnormals + 1)));
    for (unsigned t = 0; t < m->numtriangles; t++)
        EXPECT_EQ(0, memcmp(tris[t].nindices, m->triangles[t].nindices, sizeof tris[t].nindices));
    kelDelete(m);
}

TEST(KelVertexNormals, RepeatedVertexInATriangleGetsAValidNormalAtEveryCorner) {
    KelModel* m = makeModel({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {{1, 1, 2}, {1, 2, 3}, {2, 2, 2}});
    for (unsigned t = 0; t < 3; t++)
        for (unsigned& n : m->triangles[t].nindices) n = 999;
    kelFacetNormals(m);
    for (float angle : {0.0f, 90.0f}) {
        kelVertexNormals(m, angle);
        for (unsigned t = 0; t < 3; t++)
            for (int k = 0; k < 3; k++) {
                unsigned n = m->triangles[t].nindices[k];
                ASSERT_GE(n, 1u);
                ASSERT_LE(n, m->numnormals);
                for (float c : entry(m->normals, n)) EXPECT_FALSE(std::isnan(c));
            }
    }
    kelDelete(m);
}

TEST(KelVertexNormals, DegenerateNeighbourDoesNotPoisonTheAverage) {
    // Triangle 2 is collinear: its zero facet normal joins the average at the
    // shared vertices without turning it into not-a-number.
    KelModel* m = makeModel({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {2, 0, 0}}, {{1, 2, 3}, {1, 2, 4}});
    kelFacetNormals(m);
    kelVertexNormals(m, 90);
    for (unsigned i = 1; i <= m->numnormals; i++)
        for (float c : entry(m->normals, i)) EXPECT_FALSE(std::isnan(c)) << "normal " << i;
    EXPECT_EQ(Vec3({0, 0, 1}), entry(m->normals, m->triangles[0].nindices[0]));
    kelDelete(m);
}

TEST(KelVertexNormals, VerticesWithoutATriangleAreCountedInOneMessage) {
    // A point cloud with one face among its points must not give a line per
    // point: one line gives the count (the single vertex keeps the old text).
    const struct {
        unsigned points, faces;
        const char* message;
    } cases[] = {
        {2, 0, "kelVertexNormals(): 2 vertices w/o a triangle"},
        {100000, 1, "kelVertexNormals(): 99997 vertices w/o a triangle"},
        {4, 1, "kelVertexNormals(): vertex w/o a triangle"},
        {3, 1, nullptr},
    };
    for (const auto& c : cases) {
        std::vector<Vec3> points;
        for (unsigned i = 0; i < c.points; i++) points.push_back({float(i % 7), float(i / 7), 0});
        std::vector<Tri> faces;
        if (c.faces) faces.push_back({1, 2, 8 < c.points ? 8u : 3u});
        KelModel* m = makeModel(points, faces);
        ASSERT_EQ(KEL_OK, kelFacetNormals(m));
        EXPECT_EQ(c.faces, m->numfacetnorms);
        EXPECT_NE(nullptr, m->facetnorms);
        CaptureStderr();
        ASSERT_EQ(KEL_OK, kelVertexNormals(m, 90));
        EXPECT_EQ(c.message ? std::string(c.message) + "\n" : "", GetCapturedStderr()) << c.points;
        EXPECT_EQ(c.faces ? 3u : 0u, m->numnormals);
        EXPECT_NE(nullptr, m->normals);
        kelDelete(m);
    }
}

TEST(KelNormals, EveryFailedAllocationLeavesTheModelAsItWas) {
    // A creased fan whose last corner names no vertex (its normal index is
    // set to 0 only by a call that gets through), with smoothing groups,
    // earlier normals of another count and an unused vertex.
    KelModel* m = makeModel({{0, 0, 0}, {1, 0, 0.2f}, {0.5f, 1, 0.7f}, {-0.5f, 1, 0}, {-1, 0, 1}, {4, 4, 4}},
                            {{1, 2, 3}, {1, 3, 4}, {1, 4, 5}, {2, 3, 4}});
    m->smoothing = static_cast<unsigned*>(calloc(4, sizeof(unsigned)));
    m->smoothing[0] = m->smoothing[1] = 3;
    m->numnormals = 2;
    m->normals = makeTable({{0, 0, 1}, {0, 1, 0}});
    for (unsigned t = 0; t < 4; t++)
        for (unsigned& n : m->triangles[t].nindices) n = 1 + t % 2;
    const struct {
        const char* what;
        int (*call)(KelModel*);
        unsigned long allocations;
    } calls[] = {
        {"kelFacetNormals", kelFacetNormals, 1},        // a new table: none yet
        {"kelFacetNormals again", kelFacetNormals, 0},  // the table is reused
        {"kelVertexNormals", [](KelModel* model) { return kelVertexNormals(model, 30); }, 3},
        {"kelSmoothingGroupNormals", kelSmoothingGroupNormals, 3},
    };
    CaptureStderr();
    for (const auto& c : calls) {
        if (c.call != kelFacetNormals) m->triangles[3].vindices[2] = 7;  // after its facet normal
        EXPECT_EQ(c.allocations, expectEveryFailedAllocationKeepsTheModel(m, c.call, c.what));
    }
    GetCapturedStderr();
    EXPECT_EQ(0u, m->triangles[3].nindices[2]);
    EXPECT_EQ(4u, m->numfacetnorms);
    kelDelete(m);
}

TEST(KelSmoothingGroupNormals, EachGroupSharesOneNormalPerVertexAndGroupZeroStaysFaceted) {
    // A fan of six triangles around vertex 1, creased along every edge, in
    // the groups below; vertex 8 is used by no triangle, and the last
    // triangle's last corner names no vertex (9, set after its facet normal).
    const std::vector<Vec3> points = {{0, 0, 0},  {1, 0, 0.2f},   {0.5f, 1, 0.7f},  {-0.5f, 1, 0},
                                      {-1, 0, 1}, {-0.5f, -1, 0}, {0.5f, -1, 0.4f}, {9, 9, 9}};
    const std::vector<Tri> triangles = {{1, 2, 3}, {1, 3, 4}, {1, 4, 5}, {1, 5, 6}, {1, 6, 7}, {1, 7, 2}, {2, 3, 9}};
    const struct {
        std::vector<unsigned> groups;  // per triangle; empty: no table
    } cases[] = {{{}},
                 {{0, 0, 0, 0, 0, 0, 0}},
                 {{1, 1, 1, 1, 1, 1, 1}},
                 {{1, 1, 2, 2, 1, 0, 3}},
                 {{7, 0, 7, 0, 7, 0, 7}},
                 {{4000000000u, 1, 4000000000u, 2, 2, 1, 0}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.groups));
        std::vector<Tri> valid = triangles;
        valid.back()[2] = 8;
        KelModel* m = makeModel(points, valid);
        if (!c.groups.empty()) {
            m->smoothing = static_cast<unsigned*>(calloc(triangles.size(), sizeof(unsigned)));
            std::copy(c.groups.begin(), c.groups.end(), m->smoothing);
        }
        kelFacetNormals(m);
        m->triangles[6].vindices[2] = 9;
        kelSmoothingGroupNormals(m);
        auto group = [&](unsigned t) { return c.groups.empty() ? 0u : c.groups[t]; };
        // The reference, corner by corner: the normalised sum of the facet
        // normals of every corner at that vertex in the same nonzero group,
        // computed in double precision; the corner's own facet normal in
        // group 0. Corners share a normal exactly when both are in one
        // nonzero group at one vertex.
        unsigned expected = 0;
        for (unsigned t = 0; t < triangles.size(); t++)
            for (int k = 0; k < 3; k++) {
                unsigned v = triangles[t][k], n = m->triangles[t].nindices[k];
                if (v > points.size()) {
                    EXPECT_EQ(0u, n);
                    continue;
                }
                double sum[3] = {0, 0, 0};
                for (unsigned u = 0; u < triangles.size(); u++)
                    for (int j = 0; j < 3; j++)
                        if ((u == t && j == k) || (group(t) && triangles[u][j] == v && group(u) == group(t)))
                            for (int a = 0; a < 3; a++) sum[a] += m->facetnorms[3 * (u + 1) + a];
                double l = std::sqrt(sum[0] * sum[0] + sum[1] * sum[1] + sum[2] * sum[2]);
                ASSERT_GE(n, 1u);
                ASSERT_LE(n, m->numnormals);
                for (int a = 0; a < 3; a++) EXPECT_NEAR(sum[a] / l, m->normals[3 * n + a], 1e-6) << t << " " << k;
                bool first = true;
                for (unsigned u = 0; u <= t && first; u++)
                    for (int j = 0; j < (u == t ? k : 3); j++)
                        if (triangles[u][j] == v && group(t) && group(u) == group(t)) {
                            EXPECT_EQ(n, m->triangles[u].nindices[j]) << t << " " << k;
                            first = false;
                        }
                if (first) expected++;
            }
        // Every normal is used, so sharing counts them.
        EXPECT_EQ(expected, m->numnormals);
        // Numbered by vertex: the normals of a lower vertex come first.
        for (unsigned t = 0; t < triangles.size(); t++)
            for (unsigned u = 0; u < triangles.size(); u++)
                for (int k = 0; k < 3; k++)
                    for (int j = 0; j < 3; j++)
                        if (triangles[t][k] < triangles[u][j] && triangles[u][j] <= points.size()) {
                            EXPECT_LT(m->triangles[t].nindices[k], m->triangles[u].nindices[j]);
                        }
        kelDelete(m);
    }
}

TEST(KelNormalsDeathTest, MissingModelOrTables) {
    EXPECT_DEATH(kelFacetNormals(nullptr), "model");
    KelModel* m = makeModel({{0, 0, 0}}, {});
    EXPECT_DEATH(kelVertexNormals(m, 90), "model->facetnorms");
    EXPECT_DEATH(kelSmoothingGroupNormals(m), "model->facetnorms");
    free(m->vertices);
    m->vertices = nullptr;
    EXPECT_DEATH(kelFacetNormals(m), "model->vertices");
    kelDelete(m);
}

}  // namespace
