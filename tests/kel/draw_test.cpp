// kelDraw, kelCompileList and kelDrawMesh against the recording double of
// GL: the calls of each mode, the warnings of modes the model cannot serve,
// the assertions, and a mesh's array calls against the model's.
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <map>

#include "gldouble/gldouble.h"
#include "kel_files.h"

namespace {

using Calls = std::vector<std::string>;

float* table(std::initializer_list<float> values) {
    float* t = static_cast<float*>(calloc(values.size(), sizeof(float)));
    std::copy(values.begin(), values.end(), t);
    return t;
}

// Two triangles in the group " hull" (material 1), then the empty group
// "default" (material 0). Every table present: the tests remove those they
// need missing.
KelModel* makeDrawModel() {
    KelModel* m = static_cast<KelModel*>(calloc(1, sizeof(KelModel)));
    m->numvertices = 4;
    m->vertices = table({0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1, 1, 1, 1});
    m->numnormals = 3;
    m->normals = table({0, 0, 0, 0.5f, 0, 0, 0, 0.5f, 0, 0, 0, 0.5f});
    m->numtexcoords = 3;
    m->texcoords = table({0, 0, 0.25f, 0, 0, 0.25f, 0.25f, 0.25f});
    m->numfacetnorms = 2;
    m->facetnorms = table({0, 0, 0, 0, 0, -1, 0, -1, 0});
    m->colors = table({0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1, 0.5f, 0.5f, 0.5f});
    m->numtriangles = 2;
    m->triangles = static_cast<KelTriangle*>(calloc(2, sizeof(KelTriangle)));
    m->triangles[0] = {{1, 2, 3}, {1, 2, 3}, {1, 2, 3}, 1};
    m->triangles[1] = {{1, 3, 4}, {3, 2, 1}, {3, 2, 1}, 2};
    m->nummaterials = 2;
    m->materials = static_cast<KelMaterial*>(calloc(2, sizeof(KelMaterial)));
    m->materials[0] = defaultMaterial("default");
    KelMaterial& red = m->materials[1] = defaultMaterial("red");
    const float diffuse[4] = {1, 0, 0, 1}, ambient[4] = {0.25f, 0, 0, 1}, specular[4] = {0.5f, 0.5f, 0.5f, 1};
    memcpy(red.diffuse, diffuse, sizeof diffuse);
    memcpy(red.ambient, ambient, sizeof ambient);
    memcpy(red.specular, specular, sizeof specular);
    red.shininess = 12.5f;
    kelAddGroup(m, "default");
    KelGroup* hull = kelAddGroup(m, " hull");
    hull->numtriangles = 2;
    hull->triangles = static_cast<unsigned*>(calloc(2, sizeof(unsigned)));
    hull->triangles[1] = 1;
    hull->material = 1;
    return m;
}

struct DrawTest : testing::Test {
    KelModel* m = makeDrawModel();
    ~DrawTest() override { kelDelete(m); }

    std::string ignored;
    // The calls of one draw, with what it printed.
    Calls draw(unsigned mode, std::string* printed = nullptr) {
        glDoubleReset();
        testing::internal::CaptureStdout();
        kelDraw(m, mode);
        std::string out = testing::internal::GetCapturedStdout();
        if (printed)
            *printed = out;
        else
            EXPECT_EQ(out, "");
        return glCallStrings();
    }
    std::string entry(const char* name, const float* t, unsigned i, int n) {
        return glFormat(name, std::vector<double>(t + n * i, t + n * i + n));
    }
    std::string V(unsigned i) { return entry("glVertex3fv", m->vertices, i, 3); }
    std::string N(unsigned i) { return entry("glNormal3fv", m->normals, i, 3); }
    std::string F(unsigned i) { return entry("glNormal3fv", m->facetnorms, i, 3); }
    std::string T(unsigned i) { return entry("glTexCoord2fv", m->texcoords, i, 2); }
    std::string C(unsigned i) { return entry("glColor3fv", m->colors, i, 3); }
    static std::string call(const char* name, std::vector<double> args = {}) { return glFormat(name, args); }
    std::vector<std::string> materialCalls(unsigned i) {
        const KelMaterial& k = m->materials[i];
        auto v4 = [](GLenum p, const float* c) {
            return glFormat("glMaterialfv", {GL_FRONT_AND_BACK, double(p), c[0], c[1], c[2], c[3]});
        };
        return {v4(GL_AMBIENT, k.ambient), v4(GL_DIFFUSE, k.diffuse), v4(GL_SPECULAR, k.specular),
                glFormat("glMaterialf", {GL_FRONT_AND_BACK, GL_SHININESS, k.shininess})};
    }
};

const std::string kBeginTriangles = glFormat("glBegin", {GL_TRIANGLES});
const std::string kBeginLoop = glFormat("glBegin", {GL_LINE_LOOP});
const std::string kEnd = glFormat("glEnd", {});

TEST_F(DrawTest, WireframeDrawsEachTriangleAsALineLoop) {
    EXPECT_EQ(draw(KEL_WIREFRAME), (Calls{kBeginLoop, V(1), V(2), V(3), kEnd, kBeginLoop, V(1), V(3), V(4), kEnd}));
}

TEST_F(DrawTest, NoFlagsDrawsOneTriangleBlockPerGroup) {
    EXPECT_EQ(draw(KEL_NONE),
              (Calls{kBeginTriangles, V(1), V(2), V(3), V(1), V(3), V(4), kEnd, kBeginTriangles, kEnd}));
    EXPECT_EQ(draw(0xffffff00u), draw(KEL_NONE));  // unknown bits are ignored
}

TEST_F(DrawTest, NormalsAndTextureCoordinatesGoBeforeTheirVertex) {
    EXPECT_EQ(draw(KEL_FLAT | KEL_WIREFRAME),
              (Calls{kBeginLoop, F(1), V(1), V(2), V(3), kEnd, kBeginLoop, F(2), V(1), V(3), V(4), kEnd}));
    Calls smooth = draw(KEL_SMOOTH | KEL_TEXTURE);
    EXPECT_EQ(smooth, (Calls{kBeginTriangles,
                             N(1),
                             T(1),
                             V(1),
                             N(2),
                             T(2),
                             V(2),
                             N(3),
                             T(3),
                             V(3),
                             N(3),
                             T(3),
                             V(1),
                             N(2),
                             T(2),
                             V(3),
                             N(1),
                             T(1),
                             V(4),
                             kEnd,
                             kBeginTriangles,
                             kEnd}));
    std::string printed;
    EXPECT_EQ(draw(KEL_FLAT | KEL_SMOOTH | KEL_TEXTURE, &printed), smooth);
    EXPECT_EQ(printed,
              "kelDraw() warning: flat render mode requested and smooth render mode requested (using smooth).\n");
}

TEST_F(DrawTest, VertexColoursGoBeforeTheirVertex) {
    EXPECT_EQ(draw(KEL_VERTEX_COLOR | KEL_WIREFRAME), (Calls{kBeginLoop, C(1), V(1), C(2), V(2), C(3), V(3), kEnd,
                                                             kBeginLoop, C(1), V(1), C(3), V(3), C(4), V(4), kEnd}));
    // After the normal and texture coordinate; a group's colour comes first
    // and each corner's overrides it.
    const float* red = m->materials[1].diffuse;
    const float* grey = m->materials[0].diffuse;
    EXPECT_EQ(draw(KEL_VERTEX_COLOR | KEL_SMOOTH | KEL_TEXTURE | KEL_COLOR),
              (Calls{call("glEnable", {GL_COLOR_MATERIAL}),
                     call("glColor3fv", {red[0], red[1], red[2]}),
                     kBeginTriangles,
                     N(1),
                     T(1),
                     C(1),
                     V(1),
                     N(2),
                     T(2),
                     C(2),
                     V(2),
                     N(3),
                     T(3),
                     C(3),
                     V(3),
                     N(3),
                     T(3),
                     C(1),
                     V(1),
                     N(2),
                     T(2),
                     C(3),
                     V(3),
                     N(1),
                     T(1),
                     C(4),
                     V(4),
                     kEnd,
                     call("glColor3fv", {grey[0], grey[1], grey[2]}),
                     kBeginTriangles,
                     kEnd}));
}

TEST_F(DrawTest, MissingTablesDropTheirFlagsWithAWarning) {
    free(m->normals), m->normals = nullptr;
    free(m->texcoords), m->texcoords = nullptr;
    std::string printed;
    EXPECT_EQ(draw(KEL_FLAT | KEL_SMOOTH | KEL_TEXTURE | KEL_WIREFRAME, &printed), draw(KEL_FLAT | KEL_WIREFRAME));
    EXPECT_EQ(printed,
              "kelDraw() warning: smooth render mode requested with no normals defined.\n"
              "kelDraw() warning: texture render mode requested with no texture coordinates defined.\n");
    free(m->facetnorms), m->facetnorms = nullptr;
    EXPECT_EQ(draw(KEL_FLAT, &printed), draw(KEL_NONE));
    EXPECT_EQ(printed, "kelDraw() warning: flat render mode requested with no facet normals defined.\n");
    free(m->colors), m->colors = nullptr;
    EXPECT_EQ(draw(KEL_VERTEX_COLOR | KEL_SMOOTH, &printed), draw(KEL_NONE));
    EXPECT_EQ(printed,
              "kelDraw() warning: smooth render mode requested with no normals defined.\n"
              "kelDraw() warning: vertex color render mode requested with no vertex colors defined.\n");
}

TEST_F(DrawTest, ColourModeSetsEachGroupsDiffuseColour) {
    const float* red = m->materials[1].diffuse;
    const float* grey = m->materials[0].diffuse;
    EXPECT_EQ(
        draw(KEL_COLOR | KEL_WIREFRAME),
        (Calls{call("glEnable", {GL_COLOR_MATERIAL}), call("glColor3fv", {red[0], red[1], red[2]}), kBeginLoop, V(1),
               V(2), V(3), kEnd, kBeginLoop, V(1), V(3), V(4), kEnd, call("glColor3fv", {grey[0], grey[1], grey[2]})}));
}

TEST_F(DrawTest, MaterialModeWinsOverColourMode) {
    Calls expect = {call("glDisable", {GL_COLOR_MATERIAL})};
    for (const std::string& c : materialCalls(1)) expect.push_back(c);
    for (const std::string& c : {kBeginTriangles, V(1), V(2), V(3), V(1), V(3), V(4), kEnd}) expect.push_back(c);
    for (const std::string& c : materialCalls(0)) expect.push_back(c);
    expect.push_back(kBeginTriangles);
    expect.push_back(kEnd);  // an empty group still gets its material and block
    std::string printed;
    EXPECT_EQ(draw(KEL_COLOR | KEL_MATERIAL, &printed), expect);
    EXPECT_EQ(printed, "kelDraw() warning: color and material render mode requested using only material mode.\n");
    EXPECT_EQ(draw(KEL_MATERIAL), expect);
}

TEST_F(DrawTest, ATriangleOfAnotherMaterialSetsItFirst) {
    // Triangles that hold their group's material draw exactly as without
    // the per-triangle table, in every mode.
    const unsigned modes[] = {KEL_NONE, KEL_MATERIAL, KEL_COLOR | KEL_WIREFRAME, KEL_MATERIAL | KEL_SMOOTH, 0x7F};
    std::vector<Calls> before;
    for (unsigned mode : modes) before.push_back(draw(mode, &ignored));
    m->trimaterials = static_cast<unsigned*>(calloc(2, sizeof(unsigned)));
    m->trimaterials[0] = m->trimaterials[1] = 1;
    for (size_t i = 0; i < before.size(); i++) EXPECT_EQ(draw(modes[i], &ignored), before[i]) << modes[i];

    // The second triangle of " hull" is of material 0: it is set before it,
    // inside the block, and the next group sets its own again.
    m->trimaterials[1] = 0;
    Calls expect = {call("glDisable", {GL_COLOR_MATERIAL})};
    auto add = [&](const Calls& calls) { expect.insert(expect.end(), calls.begin(), calls.end()); };
    add(materialCalls(1));
    add({kBeginTriangles, V(1), V(2), V(3)});
    add(materialCalls(0));
    add({V(1), V(3), V(4), kEnd});
    add(materialCalls(0));
    add({kBeginTriangles, kEnd});
    EXPECT_EQ(draw(KEL_MATERIAL), expect);
    const float* red = m->materials[1].diffuse;
    const float* grey = m->materials[0].diffuse;
    EXPECT_EQ(draw(KEL_COLOR | KEL_WIREFRAME),
              (Calls{call("glEnable", {GL_COLOR_MATERIAL}), call("glColor3fv", {red[0], red[1], red[2]}), kBeginLoop,
                     V(1), V(2), V(3), kEnd, call("glColor3fv", {grey[0], grey[1], grey[2]}), kBeginLoop, V(1), V(3),
                     V(4), kEnd, call("glColor3fv", {grey[0], grey[1], grey[2]})}));
    // Without a material mode the table changes nothing.
    EXPECT_EQ(draw(KEL_NONE), before[0]);
}

TEST_F(DrawTest, LinesAndPointsFollowTheTrianglesWithKelLines) {
    m->numlines = 2;
    m->lines = static_cast<unsigned*>(calloc(4, sizeof(unsigned)));
    const unsigned lines[] = {1, 2, 4, 3};
    memcpy(m->lines, lines, sizeof lines);
    m->numpoints = 1;
    m->points = static_cast<unsigned*>(calloc(1, sizeof(unsigned)));
    m->points[0] = 4;
    // Without the flag they are not drawn.
    Calls triangles = draw(KEL_WIREFRAME | KEL_FLAT);
    m->numlines = m->numpoints = 0;
    EXPECT_EQ(draw(KEL_WIREFRAME | KEL_FLAT | KEL_LINES), triangles);
    m->numlines = m->numpoints = 1;
    // No normals or texture coordinates go with them; colours do.
    Calls expect = triangles;
    for (const std::string& c :
         {call("glBegin", {GL_LINES}), V(1), V(2), kEnd, call("glBegin", {GL_POINTS}), V(4), kEnd})
        expect.push_back(c);
    EXPECT_EQ(draw(KEL_WIREFRAME | KEL_FLAT | KEL_LINES), expect);
    m->numlines = 2, m->numpoints = 0;
    Calls coloured = draw(KEL_VERTEX_COLOR);
    for (const std::string& c : {call("glBegin", {GL_LINES}), C(1), V(1), C(2), V(2), C(4), V(4), C(3), V(3), kEnd})
        coloured.push_back(c);
    EXPECT_EQ(draw(KEL_VERTEX_COLOR | KEL_LINES), coloured);
}

TEST_F(DrawTest, ColourAndMaterialModesNeedMaterials) {
    for (unsigned i = 0; i < m->nummaterials; i++) free(m->materials[i].name);
    free(m->materials), m->materials = nullptr, m->nummaterials = 0;
    std::string printed;
    EXPECT_EQ(draw(KEL_COLOR | KEL_MATERIAL | KEL_WIREFRAME, &printed), draw(KEL_WIREFRAME));
    EXPECT_EQ(printed,
              "kelDraw() warning: color render mode requested with no materials defined.\n"
              "kelDraw() warning: material render mode requested with no materials defined.\n");
}

TEST_F(DrawTest, AModelWithoutGroupsOnlySwitchesColourMaterial) {
    KelGroup* groups = m->groups;
    m->groups = nullptr;
    EXPECT_EQ(draw(KEL_COLOR), (Calls{call("glEnable", {GL_COLOR_MATERIAL})}));
    EXPECT_EQ(draw(KEL_NONE), Calls{});
    m->groups = groups;
}

TEST_F(DrawTest, CompileListRecordsOneDrawIntoANewList) {
    glDoubleReset();
    testing::internal::CaptureStdout();
    m->numpoints = 1;
    m->points = static_cast<unsigned*>(calloc(1, sizeof(unsigned)));
    m->points[0] = 2;
    unsigned list = kelCompileList(m, KEL_WIREFRAME | KEL_SMOOTH | KEL_VERTEX_COLOR | KEL_LINES);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    Calls calls = glCallStrings();
    Calls body = draw(KEL_WIREFRAME | KEL_SMOOTH | KEL_VERTEX_COLOR | KEL_LINES);
    EXPECT_EQ(body.back(), kEnd);
    EXPECT_EQ(body[body.size() - 4], call("glBegin", {GL_POINTS}));
    body.insert(body.begin(), {call("glGenLists", {1}), call("glNewList", {1, GL_COMPILE})});
    body.push_back(call("glEndList"));
    EXPECT_EQ(list, 1u);
    EXPECT_EQ(calls, body);
}

// The calls of a draw from vertex arrays, each glDrawElements replaced by
// the immediate-mode calls that draw the same: glBegin, then per index its
// normal, texture coordinate and colour from the enabled arrays and its
// vertex, then glEnd. Pointer and client-state calls are left out; they
// must enable each array once and disable it again by the end.
Calls expandArrays(const std::vector<GlCall>& calls) {
    std::map<double, const float*> pointers;
    std::map<double, bool> enabled;
    Calls out;
    auto put = [&](const char* name, double array, unsigned i, int n) {
        if (!enabled[array]) return;
        const float* t = pointers[array] + size_t(n) * i;
        out.push_back(glFormat(name, std::vector<double>(t, t + n)));
    };
    for (const GlCall& c : calls) {
        const std::map<std::string, double> arrays = {{"glVertexPointer", GL_VERTEX_ARRAY},
                                                      {"glNormalPointer", GL_NORMAL_ARRAY},
                                                      {"glTexCoordPointer", GL_TEXTURE_COORD_ARRAY},
                                                      {"glColorPointer", GL_COLOR_ARRAY}};
        if (arrays.count(c.name)) {
            pointers[arrays.at(c.name)] = static_cast<const float*>(c.pointer);
        } else if (c.name == "glEnableClientState" || c.name == "glDisableClientState") {
            bool enable = c.name == "glEnableClientState";
            EXPECT_NE(enabled[c.args[0]], enable) << c.str();
            enabled[c.args[0]] = enable;
        } else if (c.name == "glDrawElements") {
            EXPECT_EQ(c.args[2], GL_UNSIGNED_INT);
            out.push_back(glFormat("glBegin", {c.args[0]}));
            for (size_t k = 3; k < c.args.size(); k++) {
                unsigned i = unsigned(c.args[k]);
                put("glNormal3fv", GL_NORMAL_ARRAY, i, 3);
                put("glTexCoord2fv", GL_TEXTURE_COORD_ARRAY, i, 2);
                put("glColor3fv", GL_COLOR_ARRAY, i, 3);
                put("glVertex3fv", GL_VERTEX_ARRAY, i, 3);
            }
            out.push_back(kEnd);
        } else {
            out.push_back(c.str());
        }
    }
    for (const auto& e : enabled) EXPECT_FALSE(e.second) << "array " << e.first << " left enabled";
    return out;
}

TEST_F(DrawTest, AMeshDrawsWhatTheModelDraws) {
    // A triangle for "default" too, so that no group is empty (a mesh has
    // no range for an empty group, where kelDraw still sets its material).
    m->triangles = static_cast<KelTriangle*>(realloc(m->triangles, 3 * sizeof(KelTriangle)));
    m->triangles[2] = {{4, 2, 3}, {1, 1, 2}, {2, 2, 2}, 1};
    m->numtriangles = 3;
    KelGroup* last = m->groups->next;
    last->triangles = static_cast<unsigned*>(malloc(sizeof(unsigned)));
    last->triangles[0] = 2;
    last->numtriangles = 1;
    const unsigned modes[] = {KEL_NONE,
                              KEL_WIREFRAME,
                              KEL_SMOOTH | KEL_TEXTURE,
                              KEL_SMOOTH | KEL_TEXTURE | KEL_VERTEX_COLOR | KEL_COLOR,
                              KEL_MATERIAL | KEL_SMOOTH | KEL_WIREFRAME,
                              KEL_COLOR | KEL_VERTEX_COLOR};
    for (unsigned mode : modes) {
        KelMesh* mesh = kelMakeMesh(m, mode, nullptr);
        ASSERT_NE(mesh, nullptr);
        Calls model = draw(mode);
        glDoubleReset();
        kelDrawMesh(mesh, mode);
        EXPECT_EQ(expandArrays(glCalls), model) << mode;
        kelDeleteMesh(mesh);
    }
    // Facet normals: the triangle's normal at each of its corners.
    KelMesh* mesh = kelMakeMesh(m, KEL_FLAT, nullptr);
    glDoubleReset();
    kelDrawMesh(mesh, KEL_FLAT | KEL_WIREFRAME);
    EXPECT_EQ(expandArrays(glCalls),
              (Calls{kBeginLoop, F(1), V(1), F(1), V(2),       F(1), V(3), kEnd, kBeginLoop, F(2), V(1), F(2),
                     V(3),       F(2), V(4), kEnd, kBeginLoop, F(1), V(4), F(1), V(2),       F(1), V(3), kEnd}));
    // The array calls themselves, and a flag the mesh cannot serve.
    glDoubleReset();
    testing::internal::CaptureStdout();
    kelDrawMesh(mesh, KEL_FLAT | KEL_SMOOTH | KEL_TEXTURE);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "kelDrawMesh() warning: texture render mode requested with no texture coordinates defined.\n");
    std::vector<double> triangles = {GL_TRIANGLES, 6, GL_UNSIGNED_INT, 0, 1, 2, 3, 4, 5};
    EXPECT_EQ(
        glCallStrings(),
        (Calls{call("glVertexPointer", {3, GL_FLOAT, 0}), call("glNormalPointer", {GL_FLOAT, 0}),
               call("glEnableClientState", {GL_VERTEX_ARRAY}), call("glEnableClientState", {GL_NORMAL_ARRAY}),
               call("glDrawElements", triangles), call("glDrawElements", {GL_TRIANGLES, 3, GL_UNSIGNED_INT, 6, 1, 2}),
               call("glDisableClientState", {GL_VERTEX_ARRAY}), call("glDisableClientState", {GL_NORMAL_ARRAY})}));
    EXPECT_EQ(glCalls[0].pointer, mesh->positions);
    EXPECT_EQ(glCalls[1].pointer, mesh->normals);
    EXPECT_EQ(glCalls[5].pointer, mesh->indices + 6);
    kelDeleteMesh(mesh);
    // Segments and points after the triangles, positions (and colours)
    // only, with KEL_LINES alone.
    m->numlines = 1, m->lines = static_cast<unsigned*>(malloc(2 * sizeof(unsigned)));
    m->lines[0] = 2, m->lines[1] = 4;
    m->numpoints = 1, m->points = static_cast<unsigned*>(malloc(sizeof(unsigned)));
    m->points[0] = 4;
    mesh = kelMakeMesh(m, KEL_SMOOTH | KEL_VERTEX_COLOR, nullptr);
    for (unsigned lines : {0u, unsigned(KEL_LINES)}) {
        glDoubleReset();
        kelDrawMesh(mesh, KEL_SMOOTH | KEL_VERTEX_COLOR | KEL_WIREFRAME | lines);
        Calls calls = expandArrays(glCalls);
        Calls extra = {call("glBegin", {GL_LINES}),  C(2), V(2), C(4), V(4), kEnd,
                       call("glBegin", {GL_POINTS}), C(4), V(4), kEnd};
        if (lines) {
            EXPECT_EQ(Calls(calls.end() - 10, calls.end()), extra);
        } else {
            EXPECT_EQ(calls, draw(KEL_SMOOTH | KEL_VERTEX_COLOR | KEL_WIREFRAME));
        }
    }
    kelDeleteMesh(mesh);
}

TEST_F(DrawTest, NullModelOrVerticesStopTheProcessInEveryBuild) {
    EXPECT_DEATH(kelDraw(nullptr, KEL_WIREFRAME), "Assertion `model' failed");
    float* vertices = m->vertices;
    m->vertices = nullptr;
    EXPECT_DEATH(kelDraw(m, KEL_WIREFRAME), "Assertion `model->vertices' failed");
    m->vertices = vertices;
}

}  // namespace
