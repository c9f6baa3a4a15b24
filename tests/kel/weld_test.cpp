// Welding: the worked cases and a differential test against the plain
// definition (each vector maps to the first kept vector within epsilon,
// otherwise it is kept).
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include "kel/model_copy.h"
#include "kel/ops_models.h"
#include "kel_files.h"

namespace {

struct Welded {
    std::vector<Vec3> kept;
    std::vector<unsigned> remap;  // remap[i - 1] for input i
};

// Every component strictly closer than epsilon (false for NaN), written out
// here rather than taken from the library.
bool plainEqual(const Vec3& u, const Vec3& v, float epsilon) {
    for (int a = 0; a < 3; a++)
        if (!(std::fabs(u[a] - v[a]) < epsilon)) return false;
    return true;
}

// The definition, scanning every kept vector.
Welded plainWeld(const std::vector<Vec3>& input, float epsilon) {
    Welded w;
    for (const Vec3& v : input) {
        unsigned j = 0;
        for (unsigned k = 0; k < w.kept.size() && !j; k++)
            if (plainEqual(v, w.kept[k], epsilon)) j = k + 1;
        if (!j) {
            w.kept.push_back(v);
            j = unsigned(w.kept.size());
        }
        w.remap.push_back(j);
    }
    return w;
}

Welded libraryWeld(const std::vector<Vec3>& input, float epsilon) {
    float* table = makeTable(input);
    unsigned n = unsigned(input.size());
    float* copies = kelWeldVectors(table, &n, epsilon);
    Welded w;
    for (unsigned i = 1; i <= n; i++) w.kept.push_back(entry(copies, i));
    for (unsigned i = 1; i <= input.size(); i++) {
        w.remap.push_back(unsigned(table[3 * i]));
        // Only x is scratch.
        EXPECT_EQ(input[i - 1][1], table[3 * i + 1]);
        EXPECT_EQ(input[i - 1][2], table[3 * i + 2]);
    }
    free(copies);
    free(table);
    return w;
}

void expectSameWeld(const std::vector<Vec3>& input, float epsilon) {
    Welded expected = plainWeld(input, epsilon);
    Welded actual = libraryWeld(input, epsilon);
    ASSERT_EQ(expected.kept.size(), actual.kept.size()) << "epsilon " << epsilon;
    for (size_t i = 0; i < expected.kept.size(); i++) {
        // Bitwise, so that -0 and +0 or two NaNs are told apart.
        ASSERT_EQ(0, memcmp(expected.kept[i].data(), actual.kept[i].data(), sizeof(Vec3))) << "kept " << i;
    }
    ASSERT_EQ(expected.remap, actual.remap) << "epsilon " << epsilon;
}

TEST(KelEqual, StrictOnEveryAxis) {
    const float a[3] = {0, 0, 0}, b[3] = {0.5f, -0.25f, 0.25f};
    EXPECT_TRUE(kelEqual(a, b, 0.75f));
    EXPECT_FALSE(kelEqual(a, a, 0));
    EXPECT_FALSE(kelEqual(a, a, NAN));
    for (int axis = 0; axis < 3; axis++) {
        // Exactly epsilon apart on one axis (either sign), well inside on the
        // others: unequal, and welded apart; just inside: equal.
        for (float d : {0.5f, -0.5f, std::nextafter(0.5f, 0.0f)}) {
            float c[3] = {0.1f, 0.1f, 0.1f};
            c[axis] = d;
            const bool inside = std::fabs(d) < 0.5f;
            EXPECT_EQ(inside, kelEqual(a, c, 0.5f)) << "axis " << axis << " offset " << d;
            EXPECT_EQ(inside ? 1u : 2u, libraryWeld({{0, 0, 0}, {c[0], c[1], c[2]}}, 0.5f).kept.size())
                << "axis " << axis << " offset " << d;
        }
    }
}

TEST(KelWeldVectors, WorkedCases) {
    // Epsilon 0 merges nothing, even identical vectors.
    Welded none = libraryWeld({{1, 2, 3}, {1, 2, 3}, {0, 0, 0}}, 0);
    EXPECT_EQ(3u, none.kept.size());
    EXPECT_EQ((std::vector<unsigned>{1, 2, 3}), none.remap);
    EXPECT_EQ(2u, libraryWeld({{1, 2, 3}, {1, 2, 3}}, -1).kept.size());
    EXPECT_EQ(2u, libraryWeld({{1, 2, 3}, {1, 2, 3}}, NAN).kept.size());

    // Not transitive: 0.6 joins 0, 1.2 is too far from the kept 0.
    Welded chain = libraryWeld({{0, 0, 0}, {0.6f, 0, 0}, {1.2f, 0, 0}}, 1);
    EXPECT_EQ((std::vector<unsigned>{1, 1, 2}), chain.remap);
    EXPECT_EQ(Vec3({1.2f, 0, 0}), chain.kept[1]);

    // The first kept vector wins even when a later one is closer.
    Welded first = libraryWeld({{0, 0, 0}, {1.5f, 0, 0}, {1.0f, 0, 0}}, 1.1f);
    EXPECT_EQ((std::vector<unsigned>{1, 2, 1}), first.remap);

    // Non-finite components equal nothing, not even themselves.
    const float inf = std::numeric_limits<float>::infinity();
    Welded odd = libraryWeld({{NAN, 0, 0}, {NAN, 0, 0}, {inf, 0, 0}, {inf, 0, 0}, {0, 0, 0}}, inf);
    EXPECT_EQ((std::vector<unsigned>{1, 2, 3, 4, 5}), odd.remap);
}

TEST(KelWeldVectors, InfiniteEpsilonMergesEveryFiniteVector) {
    const float inf = std::numeric_limits<float>::infinity();
    Welded all = libraryWeld({{1e30f, 0, 0}, {-3e38f, 5, 5}, {0, 0, 0}}, inf);
    EXPECT_EQ((std::vector<unsigned>{1, 1, 1}), all.remap);
}

TEST(KelWeldVectors, MatchesThePlainDefinitionOnRandomSets) {
    std::mt19937 rng(12345);
    std::uniform_real_distribution<float> unit(-1, 1);
    for (int round = 0; round < 300; round++) {
        float epsilon = std::ldexp(1.0f, -int(rng() % 12)) * (rng() % 2 ? 1.0f : 0.7f);
        std::vector<Vec3> input;
        int clusters = 1 + int(rng() % 40);
        for (int c = 0; c < clusters; c++) {
            // Cluster centres on multiples of epsilon (where the grid's cells
            // meet) or anywhere, members spread over a few epsilons.
            Vec3 centre;
            for (float& x : centre) x = rng() % 2 ? std::round(unit(rng) * 20) * epsilon : unit(rng) * 4 * epsilon * 20;
            int members = 1 + int(rng() % 12);
            for (int k = 0; k < members; k++) {
                Vec3 v = centre;
                for (float& x : v) {
                    switch (rng() % 4) {
                    case 0: break;                                       // on the centre
                    case 1: x += (rng() % 2 ? 1 : -1) * epsilon; break;  // exactly epsilon off
                    case 2: x = std::nextafter(x + epsilon, 0.0f); break;
                    default: x += unit(rng) * 2 * epsilon; break;
                    }
                }
                input.push_back(v);
            }
        }
        std::shuffle(input.begin(), input.end(), rng);
        expectSameWeld(input, epsilon);
        if (HasFatalFailure()) return;
    }
}

TEST(KelWeldVectors, MatchesThePlainDefinitionOnALatticeAtEpsilonSpacing) {
    // The densest packing of vectors that are kept apart, with every point
    // duplicated and nudged by less than epsilon.
    std::vector<Vec3> input;
    const float epsilon = 0.1f;
    for (int x = 0; x < 12; x++)
        for (int y = 0; y < 12; y++)
            for (int z = 0; z < 6; z++) {
                input.push_back({x * epsilon, y * epsilon, z * epsilon});
                input.push_back({x * epsilon + 0.03f, y * epsilon - 0.05f, z * epsilon});
            }
    std::shuffle(input.begin(), input.end(), std::mt19937(7));
    expectSameWeld(input, epsilon);
}

TEST(KelWeld, RenumbersTrianglesLinesAndPointsAndKeepsOtherIndices) {
    KelModel* m = makeModel({{0, 0, 0}, {1, 0, 0}, {0, 0, 0}, {5, 5, 5}}, {{1, 2, 3}, {3, 4, 2}});
    m->triangles[0].nindices[0] = 9;
    m->triangles[0].tindices[2] = 8;
    m->colors = makeTable({{1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {0.5f, 0.5f, 0.5f}});
    // Segments and points over merged, kept and missing vertices (0 and 5
    // name none and stay as they are).
    const unsigned lines[] = {3, 4, 2, 3, 0, 5}, points[] = {4, 3, 5};
    m->numlines = 3;
    m->lines = static_cast<unsigned*>(malloc(sizeof lines));
    memcpy(m->lines, lines, sizeof lines);
    m->numpoints = 3;
    m->points = static_cast<unsigned*>(malloc(sizeof points));
    memcpy(m->points, points, sizeof points);
    EXPECT_EQ(KEL_OK, kelWeld(m, 1e-5f));
    EXPECT_EQ((std::vector<unsigned>{1, 3, 2, 1, 0, 5}), std::vector<unsigned>(m->lines, m->lines + 6));
    EXPECT_EQ((std::vector<unsigned>{3, 1, 5}), std::vector<unsigned>(m->points, m->points + 3));
    ASSERT_EQ(3u, m->numvertices);
    EXPECT_EQ(Vec3({0, 0, 0}), entry(m->vertices, 1));
    EXPECT_EQ(Vec3({1, 0, 0}), entry(m->vertices, 2));
    EXPECT_EQ(Vec3({5, 5, 5}), entry(m->vertices, 3));
    // Colours stay with their vertices; the merged vertex 3 gives up its own.
    EXPECT_EQ(Vec3({1, 0, 0}), entry(m->colors, 1));
    EXPECT_EQ(Vec3({0, 1, 0}), entry(m->colors, 2));
    EXPECT_EQ(Vec3({0.5f, 0.5f, 0.5f}), entry(m->colors, 3));
    EXPECT_EQ(Tri({1, 2, 1}),
              Tri({m->triangles[0].vindices[0], m->triangles[0].vindices[1], m->triangles[0].vindices[2]}));
    EXPECT_EQ(Tri({1, 3, 2}),
              Tri({m->triangles[1].vindices[0], m->triangles[1].vindices[1], m->triangles[1].vindices[2]}));
    EXPECT_EQ(9u, m->triangles[0].nindices[0]);
    EXPECT_EQ(8u, m->triangles[0].tindices[2]);
    kelDelete(m);
}

TEST(KelWeld, AWeldedModelWithSegmentsSavesAndReadsBack) {
    // Two copies of the origin; the segment names the second and the last
    // vertex, which become 1 and 3.
    const char text[] = "v 0 0 0\nv 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 3 4\nl 2 4\np 4 2\n";
    KelModel* m = kelLoadOBJFromMemory(text, strlen(text), "w.obj", nullptr, nullptr);
    ASSERT_NE(nullptr, m);
    ASSERT_EQ(KEL_OK, kelWeld(m, 1e-4f));
    ASSERT_EQ(3u, m->numvertices);
    TempDir dir;
    KelError error;
    ASSERT_EQ(KEL_OK, kelSaveOBJ(m, dir.path("w.obj").c_str(), KEL_NONE, &error)) << error.message;
    kelDelete(m);
    m = kelLoadOBJ(dir.path("w.obj").c_str(), nullptr, &error);
    ASSERT_NE(nullptr, m) << error.message;
    ASSERT_EQ(1u, m->numlines);
    EXPECT_EQ(Vec3({0, 0, 0}), entry(m->vertices, m->lines[0]));
    EXPECT_EQ(Vec3({0, 1, 0}), entry(m->vertices, m->lines[1]));
    ASSERT_EQ(2u, m->numpoints);
    EXPECT_EQ(Vec3({0, 1, 0}), entry(m->vertices, m->points[0]));
    EXPECT_EQ(Vec3({0, 0, 0}), entry(m->vertices, m->points[1]));
    kelDelete(m);
}

TEST(KelWeld, EveryFailedAllocationLeavesTheModelAsItWas) {
    // Vertex j is (j - 1 mod 60, j - 1 mod 2, 0), so that the first 60 are
    // kept and j maps to (j - 1 mod 60) + 1; with vertex colours, segments
    // and points: every table kelWeld replaces or changes.
    std::vector<Vec3> vertices;
    for (unsigned i = 0; i < 300; i++) vertices.push_back({float(i % 60), float(i % 2), 0});
    KelModel* m = makeModel(vertices, {{1, 98, 195}, {2, 3, 300}});
    std::vector<Vec3> colors(vertices.size(), Vec3({0.5f, 0.25f, 1}));
    m->colors = makeTable(colors);
    m->numlines = 1;
    m->lines = static_cast<unsigned*>(malloc(2 * sizeof(unsigned)));
    m->lines[0] = 98, m->lines[1] = 300;
    m->numpoints = 1;
    m->points = static_cast<unsigned*>(malloc(sizeof(unsigned)));
    m->points[0] = 195;
    unsigned long allocations = expectEveryFailedAllocationKeepsTheModel(
        m, [](KelModel* model) { return kelWeld(model, 0.5f); }, "kelWeld");
    EXPECT_EQ(4u, allocations);  // two scratch tables, the hash table, the colours
    EXPECT_EQ(60u, m->numvertices);
    EXPECT_EQ(Tri({1, 38, 15}),
              Tri({m->triangles[0].vindices[0], m->triangles[0].vindices[1], m->triangles[0].vindices[2]}));
    EXPECT_EQ(38u, m->lines[0]);
    EXPECT_EQ(60u, m->lines[1]);
    EXPECT_EQ(15u, m->points[0]);
    kelDelete(m);

    // kelWeldVectors gives null and leaves its input alone.
    float* table = makeTable(vertices);
    unsigned n = unsigned(vertices.size());
    for (unsigned long k = 1; k <= 3; k++) {
        kelFailingAllocation = k;
        float* kept = kelWeldVectors(table, &n, 0.5f);
        kelFailingAllocation = 0;
        EXPECT_EQ(nullptr, kept) << k;
        free(kept);
        EXPECT_EQ(vertices.size(), n);
        for (unsigned i = 1; i <= n; i++) EXPECT_EQ(vertices[i - 1], entry(table, i));
    }
    free(table);
}

TEST(KelWeld, DistinctVerticesAreUnchanged) {
    KelModel* m = makeModel({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {{1, 2, 3}});
    kelWeld(m, 0.5f);
    ASSERT_EQ(3u, m->numvertices);
    EXPECT_EQ(Vec3({0, 1, 0}), entry(m->vertices, 3));
    EXPECT_EQ(Tri({1, 2, 3}),
              Tri({m->triangles[0].vindices[0], m->triangles[0].vindices[1], m->triangles[0].vindices[2]}));
    kelDelete(m);
}

TEST(KelWeld, IndicesStayExactBeyondTwoToTheTwentyFour) {
    // 2^24 + 1 is the first index a float cannot carry. Epsilon 0 keeps every
    // vertex, so each index must come back as it was.
    const unsigned n = (1u << 24) + 3;
    KelModel* m = makeModel({}, {{n, n - 1, n - 2}});
    free(m->vertices);
    m->numvertices = n;
    m->vertices = static_cast<float*>(calloc(size_t(n) + 1, 3 * sizeof(float)));
    kelWeld(m, 0);
    EXPECT_EQ(n, m->numvertices);
    EXPECT_EQ(Tri({n, n - 1, n - 2}),
              Tri({m->triangles[0].vindices[0], m->triangles[0].vindices[1], m->triangles[0].vindices[2]}));
    kelDelete(m);
}

}  // namespace
