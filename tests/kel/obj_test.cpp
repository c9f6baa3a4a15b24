// The OBJ reader on small files: face forms and fans, groups, materials of
// groups and triangles, objects, smoothing groups, lines and points,
// statement boundaries, numbers, and the files it refuses.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <utility>

#include "kel_files.h"

namespace {

struct ObjTest : testing::Test {
    TempDir dir;
    KelModel* model = nullptr;
    KelModel* read(const std::string& obj) {
        model = kelReadOBJ(dir.write("m.obj", obj).c_str());
        return model;
    }
    ~ObjTest() override {
        if (model) kelDelete(model);
    }
};

const char* kQuad = "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nv 2 2 0\n";

TEST_F(ObjTest, EveryFaceFormStoresTheIndicesItCarries) {
    read(std::string(kQuad) + "vt 0 0\nvt 1 0\nvt 1 1\nvn 0 0 1\nvn 0 1 0\nvn 1 0 0\n" +
         "f 1 2 3\n"
         "f 1/3 2/2 3/1\n"
         "f 1//3 2//2 3//1\n"
         "f 1/2/3 2/3/1 3/1/2\n");
    ASSERT_EQ(model->numtriangles, 4u);
    for (unsigned i = 0; i < 4; i++) EXPECT_EQ(vIdx(model, i), (Corners{1, 2, 3}));
    EXPECT_EQ(tIdx(model, 0), (Corners{0, 0, 0}));
    EXPECT_EQ(nIdx(model, 0), (Corners{0, 0, 0}));
    EXPECT_EQ(tIdx(model, 1), (Corners{3, 2, 1}));
    EXPECT_EQ(nIdx(model, 1), (Corners{0, 0, 0}));
    EXPECT_EQ(tIdx(model, 2), (Corners{0, 0, 0}));
    EXPECT_EQ(nIdx(model, 2), (Corners{3, 2, 1}));
    EXPECT_EQ(tIdx(model, 3), (Corners{2, 3, 1}));
    EXPECT_EQ(nIdx(model, 3), (Corners{3, 1, 2}));
    EXPECT_EQ(model->numvertices, 5u);
    EXPECT_EQ(model->numtexcoords, 3u);
    EXPECT_EQ(model->numnormals, 3u);
    EXPECT_FLOAT_EQ(model->texcoords[2 * 3 + 1], 1.0f);
    EXPECT_FLOAT_EQ(model->normals[3 * 3 + 0], 1.0f);
}

TEST_F(ObjTest, PolygonsBecomeFansAndFacesRunAcrossLineEnds) {
    read(std::string(kQuad) + "v 3 3 0\nv 4 4 0\nv 5 5 0\nv 6 6 0\n" +
         "f 1 2 3 4\n"
         "f 5 6\n7 8\n  9\n"
         "f 1 2\n"
         "f 4\n");
    ASSERT_EQ(model->numtriangles, 2u + 3u + 1u + 1u);
    EXPECT_EQ(vIdx(model, 0), (Corners{1, 2, 3}));
    EXPECT_EQ(vIdx(model, 1), (Corners{1, 3, 4}));
    EXPECT_EQ(vIdx(model, 2), (Corners{5, 6, 7}));
    EXPECT_EQ(vIdx(model, 3), (Corners{5, 7, 8}));
    EXPECT_EQ(vIdx(model, 4), (Corners{5, 8, 9}));
    EXPECT_EQ(vIdx(model, 5), (Corners{1, 2, 2}));  // two references
    EXPECT_EQ(vIdx(model, 6), (Corners{4, 4, 4}));  // one reference
    EXPECT_EQ(model->groups->numtriangles, 7u);
}

TEST_F(ObjTest, ReferencesAreWholeTokensAndShortOnesKeepEarlierMembers) {
    read(std::string(kQuad) + "vt 0 0\nvt 1 0\nvt 1 1\nvt 0 1\nvt 5 5\nvt 6 6\nvt 7 7\n" +
         "vn 0 0 1\nvn 0 1 0\n"
         "f 1/7/ 2/6/ 3/5/\n"              // trailing slashes: vertex and texture coordinate
         "f 1/1/1 2/2/2 3 4/4\n"           // short references keep the previous members
         "f 1/1/1 2/2/2 3/3/2 -1/-1/-1\n"  // relative indices
         // indices of 7 to 10 digits
         "f 0000001/00000007/000000001 00000002/000000006/0000000002 000000003/0000000005/0000001\n"
         // index lengths that change within a reference, between them and between faces
         "f 01/7/001 2/0006/02 0003/5/1\n"
         "f 1/7/1 000002/006/2 3/00000005/1\n"
         "f 1// 2// 3//\n");  // empty normal indices: vertices only
    ASSERT_EQ(model->numtriangles, 1u + 2u + 2u + 1u + 1u + 1u + 1u);
    EXPECT_EQ(vIdx(model, 0), (Corners{1, 2, 3}));
    EXPECT_EQ(tIdx(model, 0), (Corners{7, 6, 5}));
    EXPECT_EQ(nIdx(model, 0), (Corners{0, 0, 0}));
    EXPECT_EQ(vIdx(model, 1), (Corners{1, 2, 3}));
    EXPECT_EQ(tIdx(model, 1), (Corners{1, 2, 2}));
    EXPECT_EQ(nIdx(model, 1), (Corners{1, 2, 2}));
    EXPECT_EQ(vIdx(model, 2), (Corners{1, 3, 4}));
    EXPECT_EQ(tIdx(model, 2), (Corners{1, 2, 4}));
    EXPECT_EQ(nIdx(model, 2), (Corners{1, 2, 2}));
    EXPECT_EQ(vIdx(model, 4), (Corners{1, 3, 5}));
    EXPECT_EQ(tIdx(model, 4), (Corners{1, 3, 7}));
    EXPECT_EQ(nIdx(model, 4), (Corners{1, 2, 2}));
    for (unsigned i = 5; i < 8; i++) {
        EXPECT_EQ(vIdx(model, i), (Corners{1, 2, 3}));
        EXPECT_EQ(tIdx(model, i), (Corners{7, 6, 5}));
        EXPECT_EQ(nIdx(model, i), (Corners{1, 2, 1}));
    }
    EXPECT_EQ(vIdx(model, 8), (Corners{1, 2, 3}));
    EXPECT_EQ(tIdx(model, 8), (Corners{0, 0, 0}));
    EXPECT_EQ(nIdx(model, 8), (Corners{0, 0, 0}));
}

TEST_F(ObjTest, RelativeIndicesCountBackFromTheLatestEntry) {
    read("v 0 0 0\nv 1 0 0\nv 1 1 0\nf -3 -2 -1\nv 5 5 5\nf -4 -2 -1\n");
    EXPECT_EQ(vIdx(model, 0), (Corners{1, 2, 3}));
    EXPECT_EQ(vIdx(model, 1), (Corners{1, 3, 4}));
}

TEST_F(ObjTest, IndicesIntoTablesTheFileLacksAreDropped) {
    read(std::string(kQuad) + "f 1/1/1 2/2/2 3/3/3\nf 1//9 2//9 3//9\n");
    EXPECT_EQ(model->normals, nullptr);
    EXPECT_EQ(model->texcoords, nullptr);
    EXPECT_EQ(tIdx(model, 0), (Corners{0, 0, 0}));
    EXPECT_EQ(nIdx(model, 1), (Corners{0, 0, 0}));
}

TEST_F(ObjTest, GroupsAreNamedByTheirLineWithoutTheBlanksAroundIt) {
    // Names of 255 and 256 characters: the reader copies a name for its
    // lookups, on the stack below 256 bytes and on the heap from there.
    const std::string short255(255, 'L'), long256(256, 'L');
    read(std::string(kQuad) +
         "f 1 2 3\n"
         "g hull\n"
         "f 1 2 3\n"
         "g  hull \t\r\n"  // the same group
         "f 1 2 3\n"
         "g left wing\n"
         "f 1 2 3\n"
         "g hull\n"
         "f 2 3 4\n"
         "g default\n"  // the group in force before any "g"
         "f 1 2 3\n"
         "g\tleft  wing \n"  // blanks inside the name are kept
         "f 1 2 3\n"
         "g wing\nf 1 2 3\ng wing2\nf 1 2 3\ng win\nf 1 2 3\ng wing\nf 1 2 3\n"  // names sharing a prefix
         "g " +
         short255 + "\nf 1 2 3\ng   " + long256 + "  \r\nf 1 2 3\ng " + long256 + "\nf 2 3 4\n" +
         "g tail ");  // no line end
    EXPECT_EQ(groupNames(model), (std::vector<std::string>{"tail", long256, short255, "win", "wing2", "wing",
                                                           "left  wing", "left wing", "hull", "default"}));
    EXPECT_EQ(model->numgroups, 10u);
    const std::pair<std::string, std::vector<unsigned>> groups[] = {
        {"default", {0, 5}}, {"hull", {1, 2, 4}}, {"left wing", {3}}, {"left  wing", {6}}, {"wing", {7, 10}},
        {"wing2", {8}},      {"win", {9}},        {short255, {11}},   {long256, {12, 13}}, {"tail", {}}};
    for (const auto& [name, triangles] : groups) EXPECT_EQ(groupTriangles(model, name.c_str()), triangles) << name;
    EXPECT_NE(kelFindGroup(model, "hull"), nullptr);
}

TEST_F(ObjTest, AFileWithoutGroupsHasOnlyDefault) {
    read(std::string(kQuad) + "f 1 2 3 4\n");
    EXPECT_EQ(groupNames(model), (std::vector<std::string>{"default"}));
    EXPECT_EQ(groupTriangles(model->groups), (std::vector<unsigned>{0, 1}));
}

TEST_F(ObjTest, AnEmptyFileIsAnEmptyModel) {
    read("");
    EXPECT_EQ(model->numvertices, 0u);
    EXPECT_NE(model->vertices, nullptr);
    EXPECT_EQ(model->numtriangles, 0u);
    EXPECT_EQ(model->materials, nullptr);
    EXPECT_EQ(model->colors, nullptr);
    EXPECT_EQ(model->mtllibname, nullptr);
    EXPECT_EQ(groupNames(model), (std::vector<std::string>{"default"}));
    EXPECT_STREQ(model->pathname, dir.path("m.obj").c_str());
}

TEST_F(ObjTest, UseMaterialGivesItsMaterialToTheWholeCurrentGroup) {
    dir.write("lib.mtl", "newmtl red\nnewmtl blue\n");
    testing::internal::CaptureStdout();
    read(std::string(kQuad) +
         "mtllib lib.mtl\r\n"
         "g a\nf 1 2 3\nusemtl red\nf 1 2 3\n"
         "g b\nf 1 2 3\n"            // red stays current
         "g a\nusemtl blue\n"        // all of a becomes blue
         "g c\nusemtl green\n"       // unknown: material 0 and a message
         "usemap x\nmaplib y.mtl\n"  // other words are unknown statements
         "usemtl\n");                // no name: nothing changes
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "kelFindMaterial():  can't find material \"green\".\n");
    EXPECT_STREQ(model->mtllibname, "lib.mtl");
    ASSERT_EQ(model->nummaterials, 3u);
    for (auto [name, material] : {std::pair{"a", 2u}, {"b", 1u}, {"c", 0u}, {"default", 0u}}) {
        const KelGroup* group = kelFindGroup(model, name);
        ASSERT_NE(group, nullptr) << name;
        EXPECT_EQ(group->material, material) << name;
    }
    // Each triangle keeps the material in force where it stands.
    ASSERT_NE(model->trimaterials, nullptr);
    EXPECT_EQ(std::vector<unsigned>(model->trimaterials, model->trimaterials + 3), (std::vector<unsigned>{0, 1, 1}));
}

TEST_F(ObjTest, ObjectsSmoothingGroupsLinesAndPoints) {
    const struct {
        const char* text;  // after five vertices
        std::vector<std::string> objects;
        std::vector<unsigned> firsts, counts;
        std::vector<unsigned> smoothing;  // empty: no table
        std::vector<unsigned> lines, points;
    } cases[] = {
        {"o  My Cube \t\nf 1 2 3\nobject x\no\nf 1 2 3\nf 2 3 4\no last\n",
         {"My Cube", "", "last"},
         {0, 1, 3},
         {1, 2, 0},
         {},
         {},
         {}},
        {"s 1\nf 1 2 3\ns off\nf 1 2 3\ns 0\nf 1 2 3\ns 2\nf 1 2 3\ns\nf 1 2 3\nsmooth 5\nf 1 2 3\n"
         "s x\nf 1 2 3\ns 3 4\ng other\nf 1 2 3\n",
         {},
         {},
         {},
         {1, 0, 0, 2, 0, 0, 0, 3},  // "smooth" is no "s"; a group goes on across "g"
         {},
         {}},
        {"s off\nf 1 2 3\n", {}, {}, {}, {}, {}, {}},  // no group other than 0: no table
        {"f 1 2 3\ns 1\n", {}, {}, {}, {}, {}, {}},    // nor for one no triangle follows
        {"l 1 2 3\nl 1\nl 5/1 2/1\nl 3 x 1\nl\t4  -1\nlod 1 2\n4 5\np 1 2 3\np -1\npoints 1\np\n",
         {},
         {},
         {},
         {},
         {1, 2, 2, 3, 5, 2, 4, 5},  // a line ends with its line, and at a word that is no index
         {1, 2, 3, 5}},
    };
    for (const auto& c : cases) {
        read(std::string(kQuad) + "vt 0 0\n" + c.text);
        ASSERT_EQ(model->numobjects, c.objects.size()) << c.text;
        for (unsigned i = 0; i < model->numobjects; i++) {
            EXPECT_EQ(model->objects[i].name, c.objects[i]) << c.text;
            EXPECT_EQ(model->objects[i].first, c.firsts[i]) << c.text;
            EXPECT_EQ(model->objects[i].count, c.counts[i]) << c.text;
        }
        if (c.smoothing.empty())
            EXPECT_EQ(model->smoothing, nullptr) << c.text;
        else
            EXPECT_EQ(std::vector<unsigned>(model->smoothing, model->smoothing + model->numtriangles), c.smoothing);
        EXPECT_EQ(std::vector<unsigned>(model->lines, model->lines + 2 * model->numlines), c.lines) << c.text;
        EXPECT_EQ(std::vector<unsigned>(model->points, model->points + model->numpoints), c.points) << c.text;
        EXPECT_EQ(model->trimaterials, nullptr);  // no materials
        kelDelete(model), model = nullptr;
    }
}

TEST_F(ObjTest, VertexStatementsEndWhereTheirLastNumberStands) {
    read(
        "v 1 2 3 f 1 2 3\n"  // one vertex, nothing more
        "v 4 5\nf 1 2 3\n"   // third number fails: 0, then a face
        "v 6 7\n8 9\n"       // numbers continue on the next line
        "v 1 2 3 4\n"        // a fourth component is dropped
        "vn 0 0 1 vn 1 1 1\n"
        "vt 0.5 vt 0.25\n"
        "# a comment with v words v 1 2 3 " +
        std::string(300, 'x') + " v vx vp\n");
    EXPECT_EQ(model->numvertices, 4u);
    EXPECT_EQ(model->numnormals, 1u);
    EXPECT_EQ(model->numtexcoords, 1u);
    EXPECT_EQ(model->numtriangles, 1u);
    const float expect[] = {1, 2, 3, 4, 5, 0, 6, 7, 8, 1, 2, 3};
    for (int i = 0; i < 12; i++) EXPECT_EQ(model->vertices[3 + i], expect[i]) << i;
    EXPECT_EQ(model->texcoords[2], 0.5f);
    EXPECT_EQ(model->texcoords[3], 0.0f);
}

TEST_F(ObjTest, SixNumbersOnTheLineOfZGiveAVertexColour) {
    using Colours = std::vector<float>;  // r g b of vertices 1 and 2; empty: no table
    const struct {
        const char* vertices;
        Colours colours;
    } cases[] = {
        {"v 1 2 3\nv 4 5 6\n", {}},
        {"v 1 2 3 0.5\nv 4 5 6\n", {}},  // a w
        {"v 1 2 3 0.5 0.25 0.125\nv 4 5 6\n", {0.5f, 0.25f, 0.125f, 1, 1, 1}},
        {"v 1 2 3\r\nv 4 5 6 0 1 0.5\r\n", {1, 1, 1, 0, 1, 0.5f}},
        {"v 1 2 3 0.5 0.25 0.125 x\nv 4 5 6 1 0 0 # red\n", {0.5f, 0.25f, 0.125f, 1, 0, 0}},
        {"v 1 2\n3 0.5 0.25 0.125\nv 4 5 6\n", {0.5f, 0.25f, 0.125f, 1, 1, 1}},  // the line of z
        {"v 1 2 3\n0.5 0.25 0.125\nv 4 5 6\n", {}},                              // the next line is not the vertex's
        {"v 1 2 3 \n0.5 0.25 0.125\nv 4 5 6\n", {}},                             // ... after a blank either
        {"v 1 2 3\r\n0.5 0.25 0.125\nv 4 5 6\n", {}},                            // ... or a CR LF
        {"v 1 2 3 0.5 0.25\nv 4 5 6 0.5 0.25 0.125 1\n", {}},                    // five or seven numbers
        {"v 1 2 x 0.5 0.25 0.125\nv 4 5 6\n", {}},                               // z missing: no more numbers
        {"v 1 2 3\t0.5\v0.25\f0.125\nv 4 5 6\n", {0.5f, 0.25f, 0.125f, 1, 1, 1}},
    };
    for (const auto& c : cases) {
        read(std::string(c.vertices) + "vn 0 0 1 1 1 1\nf 1 2 2\n");
        ASSERT_EQ(model->numvertices, 2u) << c.vertices;
        EXPECT_EQ(model->vertices[3 * 1 + 0], 1.0f) << c.vertices;
        EXPECT_EQ(model->vertices[3 * 1 + 1], 2.0f) << c.vertices;
        EXPECT_EQ(model->vertices[3 * 2 + 2], 6.0f) << c.vertices;
        if (c.colours.empty()) {
            EXPECT_EQ(model->colors, nullptr) << c.vertices;
        } else {
            ASSERT_NE(model->colors, nullptr) << c.vertices;
            EXPECT_EQ(Colours(model->colors + 3, model->colors + 9), c.colours) << c.vertices;
        }
        kelDelete(model), model = nullptr;
    }
}

TEST_F(ObjTest, NumbersAreReadAsStrtofReadsThem) {
    std::vector<std::string> numbers = {
        "0.1",   "+1.5",         "-2.",        ".25",         "1e2",     "3.1E-2",         "16777217",
        "1e-45", "3.4028236e38", "inf",        "-nan",        "0x1.8p1", "1.17549435e-38", "7.038531e-26",
        "-0",    "0.30000001",   "99999999.5", "123456789012"};
    // And many numbers written as exporters write them, near rounding edges.
    srand(7);
    char buffer[64];
    for (int i = 0; i < 3000; i++) {
        double value = std::ldexp(rand() - RAND_MAX / 2, -(rand() % 40));
        const char* formats[] = {"%.6f", "%.9g", "%.4e", "%.8f", "%.17g"};
        snprintf(buffer, sizeof buffer, formats[i % 5], value);
        numbers.push_back(buffer);
    }
    std::string text;
    for (const std::string& n : numbers) text += "vt " + n + " 0\n";
    read(text);
    ASSERT_EQ(model->numtexcoords, numbers.size());
    for (unsigned i = 0; i < numbers.size(); i++) {
        float expect = strtof(numbers[i].c_str(), nullptr), got = model->texcoords[2 * (i + 1)];
        if (std::isnan(expect))
            EXPECT_TRUE(std::isnan(got)) << numbers[i];
        else
            EXPECT_EQ(memcmp(&expect, &got, sizeof got), 0) << numbers[i] << " read as " << got;
    }
}

TEST_F(ObjTest, TheShipModelIsComplete) {
    model = kelReadOBJ("data/111.obj");
    EXPECT_GT(model->numtriangles, 1000u);
    EXPECT_EQ(model->numnormals > 0, true);
    EXPECT_GT(model->numgroups, 4u);
    EXPECT_GT(model->nummaterials, 4u);
    unsigned sum = 0;
    for (KelGroup* g = model->groups; g; g = g->next) sum += g->numtriangles;
    EXPECT_EQ(sum, model->numtriangles);
    for (unsigned i = 0; i < model->numtriangles; i++)
        for (int k = 0; k < 3; k++) EXPECT_NE(model->triangles[i].nindices[k], 0u);
}

// --- Refused files --------------------------------------------------------------

using ObjDeathTest = ObjTest;

TEST_F(ObjDeathTest, AFileThatCannotBeOpenedEndsTheProcess) {
    std::string path = dir.path("missing.obj");
    EXPECT_EXIT(kelReadOBJ(path.c_str()), testing::ExitedWithCode(1),
                "^kelReadOBJ\\(\\) failed: can't open data file \"" + path + "\"\\.\n$");
    std::string obj = dir.write("m.obj", "mtllib nothere.mtl\n");
    EXPECT_EXIT(kelReadOBJ(obj.c_str()), testing::ExitedWithCode(1),
                "^kelReadMTL\\(\\) failed: can't open material file \"" + dir.path("nothere.mtl") + "\"\\.\n$");
    // A message longer than KelError holds is printed whole.
    std::string name = std::string(463, 'n') + ".mtl";
    obj = dir.write("m.obj", "mtllib " + name + "\n");
    EXPECT_EXIT(kelReadOBJ(obj.c_str()), testing::ExitedWithCode(1),
                "^kelReadMTL\\(\\) failed: can't open material file \"" + dir.path(name) + "\"\\.\n$");
}

TEST_F(ObjDeathTest, AnUnknownVertexStatementEndsTheProcess) {
    std::string obj = dir.write("m.obj", "v 1 2 3\nvp 0.5 0.5\n");
    // The message goes to the standard output; send it where the test sees it.
    EXPECT_EXIT((dup2(2, 1), kelReadOBJ(obj.c_str())), testing::ExitedWithCode(1),
                "^kelFirstPass\\(\\): Unknown token \"vp\"\\.\n$");
    std::string token = "v" + std::string(478, 'x');  // longer than KelError's message holds
    obj = dir.write("m.obj", "v 1 2 3\n" + token + " 1\n");
    EXPECT_EXIT((dup2(2, 1), kelReadOBJ(obj.c_str())), testing::ExitedWithCode(1),
                "^kelFirstPass\\(\\): Unknown token \"" + token + "\"\\.\n$");
}

TEST_F(ObjDeathTest, AnIndexOutsideItsTableEndsTheProcess) {
    std::string obj = dir.write("m.obj", "v 0 0 0\nv 1 0 0\nv 1 1 0\n\nf 1 2 4\n");
    EXPECT_EXIT(kelReadOBJ(obj.c_str()), testing::ExitedWithCode(1),
                "^kelReadOBJ\\(\\) failed: vertex index 4 out of range in \"" + obj + "\" line 5\\.\n$");
}

}  // namespace
