// kelMakeMesh, kelLoadMesh and kelDeleteMesh: the mesh against a plain
// reference built with a map of index combinations, for every mode and on
// any number of threads; ranges and materials; warnings, index faults,
// counts past 32 bits and every failed allocation.
#include <gtest/gtest.h>

#include <array>
#include <map>
#include <string>
#include <vector>

#include "kel/kel_internal.h"
#include "kel_files.h"

namespace {

// What a mesh holds, as plain vectors.
struct Flat {
    std::vector<float> positions, normals, texcoords, colors;
    std::vector<unsigned> indices, lineindices, pointindices;
    std::vector<std::array<unsigned, 3>> ranges;  // first, count, material
    std::vector<std::string> groups;
};

Flat flatten(const KelMesh* mesh) {
    Flat f;
    auto take = [&](const float* a, int width, std::vector<float>& out) {
        if (a) out.assign(a, a + size_t(width) * mesh->numvertices);
    };
    take(mesh->positions, 3, f.positions);
    take(mesh->normals, 3, f.normals);
    take(mesh->texcoords, 2, f.texcoords);
    take(mesh->colors, 3, f.colors);
    f.indices.assign(mesh->indices, mesh->indices + mesh->numindices);
    if (mesh->numlineindices) f.lineindices.assign(mesh->lineindices, mesh->lineindices + mesh->numlineindices);
    if (mesh->numpointindices) f.pointindices.assign(mesh->pointindices, mesh->pointindices + mesh->numpointindices);
    for (unsigned r = 0; r < mesh->numranges; r++) {
        const KelMeshRange& range = mesh->ranges[r];
        f.ranges.push_back({range.first, range.count, range.material});
        f.groups.push_back(range.group);
    }
    return f;
}

// The reference: corners in drawing order, each combination of the indices
// the mode uses looked up in a map and numbered when first met; a range
// for each run of one material in a group; then a vertex for each
// position the segments and points name, also when first met.
Flat reference(const KelModel* m, unsigned mode) {
    Flat f;
    std::map<std::array<unsigned, 3>, unsigned> seen;
    auto push = [](std::vector<float>& out, const float* table, unsigned i, int width) {
        out.insert(out.end(), table + size_t(width) * i, table + size_t(width) * (i + 1));
    };
    for (const KelGroup* g = m->groups; g; g = g->next) {
        for (unsigned i = 0; i < g->numtriangles; i++) {
            unsigned material = !m->materials ? 0 : m->trimaterials ? m->trimaterials[g->triangles[i]] : g->material;
            if (i == 0 || material != f.ranges.back()[2]) {
                f.ranges.push_back({unsigned(f.indices.size()), 0, material});
                f.groups.push_back(g->name);
            }
            f.ranges.back()[1] += 3;
            const KelTriangle& t = m->triangles[g->triangles[i]];
            for (int k = 0; k < 3; k++) {
                unsigned n = (mode & KEL_SMOOTH) ? t.nindices[k] : (mode & KEL_FLAT) ? t.findex : 0;
                std::array<unsigned, 3> key = {t.vindices[k], n, (mode & KEL_TEXTURE) ? t.tindices[k] : 0};
                auto found = seen.find(key);
                if (found == seen.end()) {
                    found = seen.emplace(key, unsigned(seen.size())).first;
                    push(f.positions, m->vertices, key[0], 3);
                    if (mode & KEL_SMOOTH) push(f.normals, m->normals, n, 3);
                    if (mode & KEL_FLAT) push(f.normals, m->facetnorms, n, 3);
                    if (mode & KEL_TEXTURE) push(f.texcoords, m->texcoords, key[2], 2);
                    if (mode & KEL_VERTEX_COLOR) push(f.colors, m->colors, key[0], 3);
                }
                f.indices.push_back(found->second);
            }
        }
    }
    std::map<unsigned, unsigned> lineSeen;
    for (unsigned i = 0; i < 2 * m->numlines + m->numpoints; i++) {
        unsigned v = i < 2 * m->numlines ? m->lines[i] : m->points[i - 2 * m->numlines];
        if (!lineSeen.count(v)) {
            lineSeen[v] = unsigned(f.positions.size() / 3);
            push(f.positions, m->vertices, v, 3);
            if (mode & (KEL_SMOOTH | KEL_FLAT)) f.normals.insert(f.normals.end(), 3, 0.0f);
            if (mode & KEL_TEXTURE) f.texcoords.insert(f.texcoords.end(), 2, 0.0f);
            if (mode & KEL_VERTEX_COLOR) push(f.colors, m->colors, v, 3);
        }
        (i < 2 * m->numlines ? f.lineindices : f.pointindices).push_back(lineSeen[v]);
    }
    return f;
}

void expectSame(const Flat& a, const Flat& b, const std::string& what) {
    EXPECT_EQ(a.indices, b.indices) << what;
    EXPECT_EQ(a.positions, b.positions) << what;
    EXPECT_EQ(a.normals, b.normals) << what;
    EXPECT_EQ(a.texcoords, b.texcoords) << what;
    EXPECT_EQ(a.colors, b.colors) << what;
    EXPECT_EQ(a.ranges, b.ranges) << what;
    EXPECT_EQ(a.lineindices, b.lineindices) << what;
    EXPECT_EQ(a.pointindices, b.pointindices) << what;
    EXPECT_EQ(a.groups, b.groups) << what;
}

// A wavy strip of `side` x 4 positions with colours, texture coordinates
// that repeat (so a position meets several), a normal per position and a
// seam of normals on one column; its triangles spread over groups that
// come back every `rows` rows of the strip (0: all in one group), so group
// lists interleave, and four materials.
std::string stripText(unsigned side, unsigned rows = 3) {
    std::string text = "mtllib m.mtl\n";
    for (unsigned i = 0; i < side; i++)
        for (unsigned j = 0; j < 4; j++)
            text += "v " + std::to_string(i) + " " + std::to_string(j * j % 3) + " " + std::to_string(j) + " 0." +
                    std::to_string(i % 10) + " 0.5 1\n";
    for (unsigned j = 0; j < 6; j++) text += "vt 0." + std::to_string(j) + " 0.25\n";
    for (unsigned k = 0; k < 4 * side + 1; k++) text += "vn 0 " + std::to_string(k) + " 1\n";
    const char* groups[] = {"g a\nusemtl red\n", "g b\nusemtl blue\n", "g a\n", "g c\nusemtl green\n", "g b\n"};
    for (unsigned i = 0; i + 1 < side; i++) {
        if (rows && i % rows == 0) text += groups[(i / rows) % 5];
        for (unsigned j = 0; j + 1 < 4; j++) {
            unsigned a = 4 * i + j + 1, b = a + 1, c = a + 4, d = c + 1;
            auto corner = [&](unsigned v) {
                unsigned n = (v % 4 == 2 && i % 2) ? 4 * side + 1 : v;  // the seam
                return std::to_string(v) + "/" + std::to_string(v % 6 + 1) + "/" + std::to_string(n) + " ";
            };
            text += "f " + corner(a) + corner(c) + corner(b) + "\nf " + corner(b) + corner(c) + corner(d) + "\n";
        }
    }
    return text;
}

// Each range against the model, triangle by triangle, walking the groups
// in list order: the k-th triangle drawn lies in the range that holds
// index 3 k, whose group is the triangle's group and whose material is the
// triangle's (trimaterials, else its group's); its corners' positions are
// the triangle's vertices. Ranges are not empty and follow each other.
void expectRangesDrawTheGroups(const KelMesh* mesh, const KelModel* m, const std::string& what) {
    unsigned drawn = 0, r = 0;
    for (unsigned i = 0; i < mesh->numranges; i++) {
        EXPECT_GT(mesh->ranges[i].count, 0u) << what;
        EXPECT_EQ(mesh->ranges[i].first, i ? mesh->ranges[i - 1].first + mesh->ranges[i - 1].count : 0) << what;
    }
    for (const KelGroup* g = m->groups; g; g = g->next)
        for (unsigned i = 0; i < g->numtriangles; i++, drawn++) {
            unsigned t = g->triangles[i];
            while (r < mesh->numranges && 3 * drawn >= mesh->ranges[r].first + mesh->ranges[r].count) r++;
            ASSERT_LT(r, mesh->numranges) << what << ": triangle " << t << " of group " << g->name << " in no range";
            const KelMeshRange& range = mesh->ranges[r];
            EXPECT_STREQ(range.group, g->name) << what << ": triangle " << t;
            unsigned material = !m->materials ? 0 : m->trimaterials ? m->trimaterials[t] : g->material;
            EXPECT_EQ(range.material, material) << what << ": triangle " << t;
            for (int k = 0; k < 3; k++) {
                unsigned v = mesh->indices[3 * drawn + k];
                for (int a = 0; a < 3; a++)
                    EXPECT_EQ(mesh->positions[3 * size_t(v) + a], m->vertices[3 * m->triangles[t].vindices[k] + a])
                        << what << ": triangle " << t << " corner " << k;
            }
        }
    EXPECT_EQ(3 * drawn, mesh->numindices) << what;
}

// A fan of triangles over a zigzag of positions, without normals or texture
// coordinates: for each group `name` its `count` triangles (the statements
// in `before[i]` ahead of triangle i of the group, when given).
struct FanGroup {
    const char* name;
    unsigned count;
    std::map<unsigned, std::string> before;
};
std::string fanText(const std::vector<FanGroup>& groups) {
    std::string text = "mtllib m.mtl\n";
    unsigned total = 0;
    for (const FanGroup& g : groups) total += g.count;
    for (unsigned i = 0; i < total + 2; i++)
        text += "v " + std::to_string(i) + " " + std::to_string(i % 2) + " " + std::to_string(i % 3) + "\n";
    unsigned t = 0;
    for (const FanGroup& g : groups) {
        text += std::string("g ") + g.name + "\n";
        for (unsigned i = 0; i < g.count; i++, t++) {
            auto found = g.before.find(i);
            if (found != g.before.end()) text += found->second;
            text += "f " + std::to_string(t + 1) + " " + std::to_string(t + 2) + " " + std::to_string(t + 3) + "\n";
        }
    }
    return text;
}

const char kLibrary[] = "newmtl red\nKd 1 0 0\nnewmtl blue\nKd 0 0 1\nmap_Kd blue.ppm\nnewmtl green\nKd 0 1 0\n";

struct MeshTest : testing::Test {
    TempDir dir;
    std::string path;
    KelModel* m = nullptr;
    void SetUp() override {
        dir.write("m.mtl", kLibrary);
        path = dir.write("m.obj", stripText(40));
        KelError error;
        m = kelLoadOBJ(path.c_str(), nullptr, &error);
        ASSERT_NE(m, nullptr) << error.message;
        kelFacetNormals(m);
    }
    void TearDown() override {
        if (m) kelDelete(m);
    }
    // The mesh made on `threads` threads, flattened; checked to have made it.
    Flat make(unsigned mode, unsigned threads) {
        KelError error;
        KelMesh* mesh = kelMakeMeshThreads(m, mode, threads, nullptr, &error);
        EXPECT_NE(mesh, nullptr) << error.message;
        if (!mesh) return Flat();
        EXPECT_EQ(error.code, KEL_OK);
        Flat f = flatten(mesh);
        kelDeleteMesh(mesh);
        return f;
    }
};

TEST_F(MeshTest, OneVertexPerCombinationOfTheModesIndicesOnAnyNumberOfThreads) {
    const unsigned modes[] = {KEL_NONE,
                              KEL_SMOOTH,
                              KEL_FLAT,
                              KEL_TEXTURE,
                              KEL_VERTEX_COLOR,
                              KEL_SMOOTH | KEL_TEXTURE | KEL_VERTEX_COLOR,
                              KEL_FLAT | KEL_TEXTURE | KEL_MATERIAL | KEL_WIREFRAME};
    for (int extras = 0; extras < 2; extras++) {
        if (extras) {
            // A material per triangle that changes within groups, and
            // segments and points that share positions with each other
            // and with the triangles.
            free(m->trimaterials);  // the file's, replaced
            m->trimaterials = static_cast<unsigned*>(malloc(m->numtriangles * sizeof(unsigned)));
            for (unsigned t = 0; t < m->numtriangles; t++) m->trimaterials[t] = (t / 4 + t / 7) % m->nummaterials;
            m->numlines = 3;
            m->lines = static_cast<unsigned*>(malloc(6 * sizeof(unsigned)));
            const unsigned lines[] = {5, 9, 9, 2, 7, 5};
            memcpy(m->lines, lines, sizeof lines);
            m->numpoints = 2;
            m->points = static_cast<unsigned*>(malloc(2 * sizeof(unsigned)));
            m->points[0] = 11, m->points[1] = 2;
        }
        for (unsigned mode : modes) {
            Flat expect = reference(m, mode);
            for (unsigned threads : {1u, 2u, 3u, 7u, 64u}) {
                SCOPED_TRACE("mode " + std::to_string(mode) + ", " + std::to_string(threads) + " threads, extras " +
                             std::to_string(extras));
                expectSame(make(mode, threads), expect, "");
            }
        }
    }
    EXPECT_GT(reference(m, KEL_NONE).ranges.size(), 3u);
    // What the strip gives: positions alone merge every corner of a
    // position; texture coordinates split some of them, the normals' seam
    // others, facet normals nearly all.
    EXPECT_EQ(reference(m, KEL_NONE).positions.size(), 3 * size_t(m->numvertices + 5));  // 5 for the lines
    EXPECT_GT(reference(m, KEL_SMOOTH | KEL_TEXTURE).positions.size(), reference(m, KEL_TEXTURE).positions.size());
    EXPECT_EQ(make(KEL_NONE, 0).indices, reference(m, KEL_NONE).indices);  // the default thread count
}

TEST_F(MeshTest, RangesFollowTheGroupListAndCopyTheMaterials) {
    KelMap& map = m->materials[2].maps[KEL_MAP_DIFFUSE];
    free(map.name), free(map.options);
    map.name = strdup("blue.ppm"), map.options = strdup("-blendu off");
    free(m->materials[2].extras), m->materials[2].extras = strdup("Tf 1 1 1\n");
    // Each group in one material, as a model built by hand has it: the
    // file's "g a" after "g b" would otherwise draw a's triangles there in
    // blue, a range of their own.
    free(m->trimaterials), m->trimaterials = nullptr;
    KelMesh* mesh = kelMakeMesh(m, KEL_NONE, nullptr);
    ASSERT_NE(mesh, nullptr);
    // Groups newest first; "default" is empty and left out.
    ASSERT_EQ(mesh->numranges, 3u);
    const char* names[] = {"c", "b", "a"};
    unsigned next = 0;
    for (unsigned r = 0; r < 3; r++) {
        EXPECT_STREQ(mesh->ranges[r].group, names[r]);
        EXPECT_EQ(mesh->ranges[r].material, kelFindGroup(m, names[r])->material);
        EXPECT_EQ(mesh->ranges[r].first, next);
        EXPECT_EQ(mesh->ranges[r].count, 3 * kelFindGroup(m, names[r])->numtriangles);
        next += mesh->ranges[r].count;
    }
    EXPECT_EQ(next, mesh->numindices);
    EXPECT_NE(mesh->ranges[0].material, mesh->ranges[1].material);
    ASSERT_EQ(mesh->nummaterials, m->nummaterials);
    for (unsigned i = 0; i < m->nummaterials; i++) {
        EXPECT_STREQ(mesh->materials[i].name, m->materials[i].name);
        EXPECT_NE(mesh->materials[i].name, m->materials[i].name);
        EXPECT_EQ(memcmp(mesh->materials[i].diffuse, m->materials[i].diffuse, sizeof(float[4])), 0);
    }
    EXPECT_STREQ(mesh->materials[2].diffuseMap, "blue.ppm");
    EXPECT_NE(mesh->materials[2].diffuseMap, m->materials[2].diffuseMap);
    EXPECT_STREQ(mesh->materials[2].maps[KEL_MAP_DIFFUSE].name, "blue.ppm");
    EXPECT_STREQ(mesh->materials[2].maps[KEL_MAP_DIFFUSE].options, "-blendu off");
    EXPECT_NE(mesh->materials[2].maps[KEL_MAP_DIFFUSE].options, m->materials[2].maps[KEL_MAP_DIFFUSE].options);
    EXPECT_STREQ(mesh->materials[2].extras, "Tf 1 1 1\n");
    EXPECT_NE(mesh->materials[2].extras, m->materials[2].extras);
    EXPECT_EQ(mesh->numlineindices + mesh->numpointindices, 0u);
    kelDeleteMesh(mesh);
    kelDeleteMesh(nullptr);
}

TEST_F(MeshTest, ASmallModelGivesTheVerticesByHand) {
    // Corners in drawing order: (1,1) (2,1) (3,2) then (1,1) (3,2) (4,1):
    // four vertices with texture coordinates, the first two reused.
    const char text[] = "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nvt 0 0\nvt 1 1\nf 1/1 2/1 3/2\nf 1/1 3/2 4/1\n";
    KelModel* s = kelLoadOBJFromMemory(text, strlen(text), "s.obj", nullptr, nullptr);
    ASSERT_NE(s, nullptr);
    KelMesh* mesh = kelMakeMesh(s, KEL_TEXTURE, nullptr);
    ASSERT_NE(mesh, nullptr);
    Flat f = flatten(mesh);
    EXPECT_EQ(f.indices, (std::vector<unsigned>{0, 1, 2, 0, 2, 3}));
    EXPECT_EQ(f.positions, (std::vector<float>{0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0}));
    EXPECT_EQ(f.texcoords, (std::vector<float>{0, 0, 0, 0, 1, 1, 0, 0}));
    EXPECT_TRUE(f.normals.empty() && f.colors.empty());
    EXPECT_EQ(f.groups, (std::vector<std::string>{"default"}));
    EXPECT_EQ(mesh->nummaterials, 0u);
    EXPECT_EQ(mesh->materials, nullptr);
    kelDeleteMesh(mesh);
    kelDelete(s);
}

TEST_F(MeshTest, FlagsTheModelCannotServeAreDroppedWithAWarning) {
    free(m->normals), m->normals = nullptr, m->numnormals = 0;
    const struct {
        unsigned mode, served;
        const char* printed;
    } cases[] = {
        {KEL_SMOOTH | KEL_TEXTURE, KEL_TEXTURE,
         "kelMakeMesh() warning: smooth render mode requested with no normals defined.\n"},
        {KEL_SMOOTH | KEL_FLAT, KEL_FLAT,
         "kelMakeMesh() warning: smooth render mode requested with no normals defined.\n"},
        {KEL_COLOR | KEL_MATERIAL | KEL_WIREFRAME, KEL_NONE, ""},
        // What the model has, silently: smooth falls back to flat.
        {KEL_SMOOTH | KEL_TEXTURE | KEL_IF_PRESENT, KEL_TEXTURE, ""},
        {KEL_SMOOTH | KEL_FLAT | KEL_IF_PRESENT, KEL_FLAT, ""},
        {KEL_SMOOTH | KEL_VERTEX_COLOR | KEL_IF_PRESENT, KEL_VERTEX_COLOR, ""},
    };
    for (const auto& c : cases) {
        testing::internal::CaptureStdout();
        Flat f = make(c.mode, 2);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.printed);
        expectSame(f, reference(m, c.served), std::to_string(c.mode));
    }
    // Facet normals and vertex normals both present: flat still gives way
    // to smooth with its warning, as that flag is overridden, not missing.
    m->numnormals = 4 * 40 + 1;  // the strip's normals and its seam
    m->normals = static_cast<float*>(calloc(3 * (size_t(m->numnormals) + 1), sizeof(float)));
    testing::internal::CaptureStdout();
    make(KEL_SMOOTH | KEL_FLAT | KEL_IF_PRESENT, 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "kelMakeMesh() warning: flat render mode requested and smooth render mode requested (using smooth).\n");
}

TEST_F(MeshTest, LoadingSendsTheModeWarningsWhereTheLoadSendsItsOwn) {
    // Positions only: no normals, texture coordinates or colours to serve.
    const std::string bare = dir.write("bare.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");
    const unsigned all = KEL_SMOOTH | KEL_TEXTURE | KEL_VERTEX_COLOR;
    const std::string smooth = "kelMakeMesh() warning: smooth render mode requested with no normals defined.";
    const std::string texture =
        "kelMakeMesh() warning: texture render mode requested with no texture coordinates defined.";
    const std::string color =
        "kelMakeMesh() warning: vertex color render mode requested with no vertex colors defined.";
    const struct {
        unsigned mode;
        bool callback;
        std::vector<std::string> received;
        std::string printed;
    } cases[] = {
        {all, true, {smooth, texture, color}, ""},
        {all | KEL_IF_PRESENT, true, {}, ""},
        {all | KEL_IF_PRESENT, false, {}, ""},
        {KEL_TEXTURE, false, {}, texture + "\n"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> received;
        KelReadOptions options = {};
        options.user = &received;
        if (c.callback)
            options.warning = [](void* user, unsigned long line, const char* message) {
                EXPECT_EQ(line, 0u);
                static_cast<std::vector<std::string>*>(user)->push_back(message);
            };
        testing::internal::CaptureStdout();
        KelError error;
        KelMesh* mesh = kelLoadMesh(bare.c_str(), &options, c.mode, &error);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.printed) << c.mode;
        ASSERT_NE(mesh, nullptr) << error.message;
        EXPECT_EQ(received, c.received) << c.mode;
        EXPECT_EQ(mesh->numvertices, 3u);
        EXPECT_EQ(mesh->normals, nullptr);
        EXPECT_EQ(mesh->texcoords, nullptr);
        EXPECT_EQ(mesh->colors, nullptr);
        kelDeleteMesh(mesh);
    }
}

TEST_F(MeshTest, IndicesOutsideTheirTablesFailTheFirstInDrawingOrder) {
    // The groups draw c, b, a: a fault in a triangle of "b" comes before
    // one in "a" whatever the parts the threads take.
    const KelGroup* b = kelFindGroup(m, "b");
    const KelGroup* a = kelFindGroup(m, "a");
    unsigned tb = b->triangles[5], ta = a->triangles[0];
    struct {
        unsigned* slot;
        unsigned value, mode;
        std::string message;
    } cases[] = {
        {&m->triangles[tb].vindices[1], m->numvertices + 1, KEL_NONE,
         "triangle " + std::to_string(tb) + " names vertex " + std::to_string(m->numvertices + 1) + " of " +
             std::to_string(m->numvertices)},
        {&m->triangles[tb].vindices[2], 0xFFFFFFFFu, KEL_NONE, "names vertex 4294967295"},
        {&m->triangles[tb].nindices[0], m->numnormals + 1, KEL_SMOOTH, "names normal"},
        {&m->triangles[tb].findex, m->numfacetnorms + 7, KEL_FLAT, "names facet normal"},
        {&m->triangles[tb].tindices[2], 7, KEL_TEXTURE, "names texture coordinate 7 of 6"},
        {&b->triangles[7], m->numtriangles, KEL_NONE, "group \"b\" names triangle " + std::to_string(m->numtriangles)},
    };
    for (auto& c : cases) {
        unsigned saved = *c.slot, savedA = m->triangles[ta].vindices[0];
        *c.slot = c.value;
        m->triangles[ta].vindices[0] = m->numvertices + 5;  // later in drawing order
        for (unsigned threads : {1u, 2u, 5u}) {
            KelError error;
            EXPECT_EQ(kelMakeMeshThreads(m, c.mode, threads, nullptr, &error), nullptr);
            EXPECT_EQ(error.code, KEL_ERROR_INDEX);
            EXPECT_NE(std::string(error.message).find(c.message), std::string::npos) << error.message;
        }
        *c.slot = saved;
        m->triangles[ta].vindices[0] = savedA;
        // Index kinds the mode does not use are not looked at.
        *c.slot = c.value;
        if (c.mode != KEL_NONE) {
            KelMesh* mesh = kelMakeMesh(m, KEL_NONE, nullptr);
            EXPECT_NE(mesh, nullptr);
            kelDeleteMesh(mesh);
        }
        *c.slot = saved;
    }
    // Segments and points come after every triangle.
    m->numpoints = 2;
    m->points = static_cast<unsigned*>(calloc(2, sizeof(unsigned)));
    m->points[1] = m->numvertices + 1;
    KelError error;
    EXPECT_EQ(kelMakeMeshThreads(m, KEL_NONE, 2, nullptr, &error), nullptr);
    EXPECT_STREQ(error.message, ("kelMakeMesh(): point 1 names vertex " + std::to_string(m->numvertices + 1) + " of " +
                                 std::to_string(m->numvertices) + ".")
                                    .c_str());
}
TEST_F(MeshTest, CountsPastThirtyTwoBitsFailBeforeAnythingIsRead) {
    KelModel* big = static_cast<KelModel*>(calloc(1, sizeof(KelModel)));
    big->vertices = static_cast<float*>(calloc(3, sizeof(float)));
    // Never read: the count is checked first.
    kelAddGroup(big, "a")->numtriangles = 0x40000000;
    kelAddGroup(big, "b")->numtriangles = 0x15555556;  // 3 * (both) = 2^32 + 2
    KelError error;
    EXPECT_EQ(kelMakeMesh(big, KEL_NONE, &error), nullptr);
    EXPECT_EQ(error.code, KEL_ERROR_MEMORY);
    EXPECT_STREQ(error.message, "kelMakeMesh(): 4294967298 indices do not fit a 32-bit count.");
    for (KelGroup* g = big->groups; g; g = g->next) g->numtriangles = 0;
    kelDelete(big);
}

TEST_F(MeshTest, EveryFailedAllocationIsReportedAndKeepsNothing) {
    m->numlines = 1;
    m->lines = static_cast<unsigned*>(malloc(2 * sizeof(unsigned)));
    m->lines[0] = 3, m->lines[1] = 4;
    for (unsigned threads : {1u, 3u})
        for (unsigned long n = 1;; n++) {
            kelFailingAllocation = n;
            KelError error;
            KelMesh* mesh =
                kelMakeMeshThreads(m, KEL_SMOOTH | KEL_TEXTURE | KEL_VERTEX_COLOR, threads, nullptr, &error);
            bool failed = kelFailingAllocation == 0;
            kelFailingAllocation = 0;
            if (!failed) {
                ASSERT_NE(mesh, nullptr);
                EXPECT_GT(n, 8u);
                kelDeleteMesh(mesh);
                break;
            }
            EXPECT_EQ(mesh, nullptr) << n;
            EXPECT_EQ(error.code, KEL_ERROR_MEMORY) << n;
        }
    // And loading, with the facet normals made on the way, from files whose
    // groups interleave in long and in short stretches and from one drawn
    // in reading order.
    KelReadOptions options = {};
    options.threads = 1;
    const std::string files[] = {path, dir.write("rows.obj", stripText(40, 1)),
                                 dir.write("single.obj", stripText(40, 0))};
    for (unsigned long n = 1, file = 0; file < 3; n++) {
        kelFailingAllocation = n;
        KelError error;
        KelMesh* mesh = kelLoadMesh(files[file].c_str(), &options, KEL_FLAT | KEL_TEXTURE, &error);
        bool failed = kelFailingAllocation == 0;
        kelFailingAllocation = 0;
        if (!failed) {
            ASSERT_NE(mesh, nullptr);
            kelDeleteMesh(mesh);
            file++, n = 0;
            continue;
        }
        EXPECT_EQ(mesh, nullptr) << n;
        EXPECT_EQ(error.code, KEL_ERROR_MEMORY) << n;
    }
}

TEST_F(MeshTest, LoadingGivesTheMeshOfTheLoadedModel) {
    // Long strips (so that pages of the triangle table are given back while
    // the mesh is made) whose groups take turns every third row (drawn out
    // of reading order), every row (too often to be streamed) and never
    // (drawn in reading order); then the fixture's short strip.
    std::vector<std::string> paths;
    std::vector<KelModel*> models;
    for (unsigned rows : {3u, 1u, 0u}) {
        paths.push_back(dir.write("strip" + std::to_string(rows) + ".obj", stripText(2000, rows)));
        models.push_back(kelLoadOBJ(paths.back().c_str(), nullptr, nullptr));
        ASSERT_NE(models.back(), nullptr);
        kelFacetNormals(models.back());
    }
    // Short files without normals: a group whose material changes right
    // after its first triangle (two ranges, blue then green) and again
    // later; two groups of a few more than eight triangles each (drawn in
    // reading order); and two groups of exactly eight.
    const std::vector<FanGroup> fans[] = {
        {{"a", 9, {{0, "usemtl blue\n"}, {1, "usemtl green\n"}, {5, "usemtl red\n"}}}, {"b", 3, {}}},
        {{"a", 9, {{0, "usemtl red\n"}}}, {"b", 10, {{0, "usemtl blue\n"}}}},
        {{"a", 8, {}}, {"b", 8, {{4, "usemtl green\n"}}}},
    };
    for (const auto& fan : fans) {
        paths.push_back(dir.write("fan" + std::to_string(paths.size()) + ".obj", fanText(fan)));
        models.push_back(kelLoadOBJ(paths.back().c_str(), nullptr, nullptr));
        ASSERT_NE(models.back(), nullptr);
        ASSERT_EQ(models.back()->normals, nullptr);
        kelFacetNormals(models.back());
    }
    paths.push_back(path);
    models.push_back(m);
    for (size_t f = 0; f < models.size(); f++)
        for (unsigned mode : {KEL_SMOOTH | KEL_TEXTURE, KEL_FLAT | KEL_VERTEX_COLOR, KEL_FLAT | KEL_SMOOTH}) {
            const KelModel* model = models[f];
            // With both kinds of normals, the file's win and no facet
            // normals are made; without the file's, the facet normals.
            unsigned served = mode & ~(model->normals ? 0 : KEL_SMOOTH) & ~(model->texcoords ? 0 : KEL_TEXTURE) &
                              ~(model->colors ? 0 : KEL_VERTEX_COLOR);
            if (served & KEL_SMOOTH) served &= ~KEL_FLAT;
            Flat expect = reference(model, served);
            KelMesh* made = kelMakeMesh(model, served, nullptr);
            ASSERT_NE(made, nullptr);
            expectSame(flatten(made), expect, paths[f] + " made, " + std::to_string(mode));
            expectRangesDrawTheGroups(made, model, paths[f] + " made");
            kelDeleteMesh(made);
            for (unsigned threads : {0u, 1u, 2u, 3u}) {
                KelReadOptions options = {};
                options.threads = threads;
                KelError error;
                testing::internal::CaptureStdout();  // modes the file cannot serve
                KelMesh* mesh = kelLoadMesh(paths[f].c_str(), &options, mode, &error);
                testing::internal::GetCapturedStdout();
                ASSERT_NE(mesh, nullptr) << error.message;
                std::string what = paths[f] + " " + std::to_string(mode) + " " + std::to_string(threads);
                expectSame(flatten(mesh), expect, what);
                expectRangesDrawTheGroups(mesh, model, what);
                kelDeleteMesh(mesh);
            }
        }
    // The fans' ranges as written: blue, green, red in a; green in b.
    KelMesh* first = kelMakeMesh(models[3], KEL_NONE, nullptr);
    ASSERT_NE(first, nullptr);
    std::vector<std::array<unsigned, 3>> ranges;
    for (unsigned r = 0; r < first->numranges; r++)
        ranges.push_back({first->ranges[r].first, first->ranges[r].count, first->ranges[r].material});
    // Newest group first: b (3 triangles, still red), then a.
    EXPECT_EQ(ranges, (std::vector<std::array<unsigned, 3>>{{0, 9, 1}, {9, 3, 2}, {12, 12, 3}, {24, 12, 1}}));
    kelDeleteMesh(first);
    for (size_t f = 0; f + 1 < models.size(); f++) kelDelete(models[f]);
    // A model let go whose groups draw one triangle twice and leave one out
    // (hand-made: a read never does) is not streamed.
    KelModel* odd = kelLoadOBJ(paths[0].c_str(), nullptr, nullptr);
    ASSERT_NE(odd, nullptr);
    odd->groups->triangles[1] = odd->groups->triangles[0];
    kelFacetNormals(odd);  // so that the triangle left out has keys of its own
    Flat expect = reference(odd, KEL_FLAT);
    KelMesh* mesh = kelMakeMeshThreads(odd, KEL_FLAT, 2, odd, nullptr);
    ASSERT_NE(mesh, nullptr);
    expectSame(flatten(mesh), expect, "a triangle drawn twice");
    kelDeleteMesh(mesh);
    kelDelete(odd);
    KelError error;
    EXPECT_EQ(kelLoadMesh(dir.path("missing.obj").c_str(), nullptr, KEL_NONE, &error), nullptr);
    EXPECT_EQ(error.code, KEL_ERROR_OPEN);
}

}  // namespace
