// Round trips: every model the reader accepts (the ship, a few of this
// test's own, and Debian's assimp-testmodels OBJ files), written in each mode
// and read back, keeps its vertices (with their colours), normals, texture
// coordinates, triangles and materials (with their opacity and maps).
// Numbers come back as "%f" wrote them, and groups under their names. Saved
// exact, the same models come back whole, bit for bit.
#include <ftw.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "kel/kel_files.h"

namespace {

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

std::vector<std::string> found;

int collect(const char* path, const struct stat*, int type, struct FTW*) {
    size_t n = strlen(path);
    if (type == FTW_F && n > 4 && strcasecmp(path + n - 4, ".obj") == 0) found.push_back(path);
    return 0;
}

// Whether kelReadOBJ accepts the file (tried in a child, as it ends the
// process on files it refuses).
bool accepted(const std::string& path) {
    pid_t pid = fork();
    if (pid == 0) {
        if (!freopen("/dev/null", "w", stdout) || !freopen("/dev/null", "w", stderr)) _exit(2);
        kelReadOBJ(path.c_str());
        _exit(0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

KelModel* readQuietly(const std::string& path) {
    CaptureStdout();
    KelModel* m = kelReadOBJ(path.c_str());
    GetCapturedStdout();
    return m;
}

// A value as it reads back from its "%f" text.
float viaText(float f) {
    char text[64];
    snprintf(text, sizeof text, "%f", f);
    return strtof(text, nullptr);
}

void expectTable(const float* original, unsigned count, const KelModel* back, const float* table, unsigned backCount,
                 int components, const char* what) {
    ASSERT_EQ(count, backCount) << what;
    if (!count) return;
    ASSERT_NE(nullptr, table) << what;
    for (size_t i = components; i < components * (size_t(count) + 1); i++) {
        float expected = viaText(original[i]);
        if (std::isnan(expected))
            EXPECT_TRUE(std::isnan(table[i])) << what << " float " << i;
        else
            EXPECT_EQ(expected, table[i]) << what << " float " << i;
    }
    (void)back;
}

bool namesEntries(const unsigned* indices, unsigned entries) {
    for (int k = 0; k < 3; k++)
        if (indices[k] < 1 || indices[k] > entries) return false;
    return true;
}

// The flags the writer keeps for this model (it drops the others with a
// warning).
unsigned served(const KelModel* m, unsigned mode) {
    if (!m->facetnorms) mode &= ~KEL_FLAT;
    if (!m->normals) mode &= ~KEL_SMOOTH;
    if (!m->texcoords) mode &= ~KEL_TEXTURE;
    if (mode & KEL_SMOOTH) mode &= ~KEL_FLAT;
    if (!m->materials) mode &= ~KEL_MATERIAL;
    return mode;
}

void expectSameModel(const KelModel* m, const KelModel* back, unsigned mode) {
    mode = served(m, mode);
    expectTable(m->vertices, m->numvertices, back, back->vertices, back->numvertices, 3, "vertices");
    // Colours are written in every mode.
    if (m->colors)
        expectTable(m->colors, m->numvertices, back, back->colors, back->numvertices, 3, "colours");
    else
        EXPECT_EQ(nullptr, back->colors);
    if (mode & KEL_SMOOTH)
        expectTable(m->normals, m->numnormals, back, back->normals, back->numnormals, 3, "normals");
    else if (mode & KEL_FLAT)
        expectTable(m->facetnorms, m->numfacetnorms, back, back->normals, back->numnormals, 3, "facet normals");
    else
        EXPECT_EQ(0u, back->numnormals);
    if (mode & KEL_TEXTURE)
        expectTable(m->texcoords, m->numtexcoords, back, back->texcoords, back->numtexcoords, 2, "texcoords");
    else
        EXPECT_EQ(0u, back->numtexcoords);

    ASSERT_EQ(m->numtriangles, back->numtriangles);
    // The same groups in the same list order: no group added, none renamed.
    ASSERT_EQ(groupNames(m), groupNames(back));
    for (const KelGroup* g = m->groups; g; g = g->next) {
        const KelGroup* b = kelFindGroup(const_cast<KelModel*>(back), g->name);
        ASSERT_NE(nullptr, b) << "group \"" << g->name << "\"";
        ASSERT_EQ(g->numtriangles, b->numtriangles) << "group \"" << g->name << "\"";
        for (unsigned i = 0; i < g->numtriangles; i++) {
            const KelTriangle& t = m->triangles[g->triangles[i]];
            const KelTriangle& u = back->triangles[b->triangles[i]];
            EXPECT_EQ(0, memcmp(t.vindices, u.vindices, sizeof t.vindices)) << g->name << " " << i;
            bool texture = (mode & KEL_TEXTURE) && namesEntries(t.tindices, m->numtexcoords);
            const unsigned none[3] = {0, 0, 0};
            EXPECT_EQ(0, memcmp(texture ? t.tindices : none, u.tindices, sizeof t.tindices)) << g->name << " " << i;
            unsigned facet[3] = {t.findex, t.findex, t.findex};
            const unsigned* normal = none;
            if ((mode & KEL_SMOOTH) && namesEntries(t.nindices, m->numnormals)) normal = t.nindices;
            if ((mode & KEL_FLAT) && t.findex >= 1 && t.findex <= m->numfacetnorms) normal = facet;
            EXPECT_EQ(0, memcmp(normal, u.nindices, sizeof t.nindices)) << g->name << " " << i;
        }
        if ((mode & KEL_MATERIAL) && m->mtllibname) {
            EXPECT_STREQ(m->materials[g->material].name, back->materials[b->material].name) << g->name;
        }
    }

    if (!(mode & KEL_MATERIAL) || !m->mtllibname) {
        EXPECT_EQ(nullptr, back->materials);
        return;
    }
    // The model's "default" (material 0, as the reader makes it) is the
    // reader's own again: no second one.
    ASSERT_EQ(m->nummaterials, back->nummaterials);
    for (unsigned i = 0; i < m->nummaterials; i++) {
        const KelMaterial& a = m->materials[i];
        const KelMaterial& b = back->materials[i];
        EXPECT_STREQ(a.name, b.name);
        EXPECT_STREQ(a.extras, b.extras) << a.name;
        for (int c = 0; c < 3; c++) {
            EXPECT_EQ(viaText(a.ambient[c]), b.ambient[c]) << a.name;
            EXPECT_EQ(viaText(a.diffuse[c]), b.diffuse[c]) << a.name;
            EXPECT_EQ(viaText(a.specular[c]), b.specular[c]) << a.name;
        }
        EXPECT_NEAR(a.shininess, b.shininess, 1e-5 * std::fmax(1.0f, std::fabs(a.shininess))) << a.name;
        EXPECT_EQ(viaText(a.dissolve), b.dissolve) << a.name;
        EXPECT_STREQ(a.diffuseMap, b.diffuseMap) << a.name;
        EXPECT_STREQ(a.bumpMap, b.bumpMap) << a.name;
    }
}

// Makes the folders a library name asks for below `dir`.
void makeLibraryFolders(const TempDir& dir, const char* mtllibname) {
    if (!mtllibname || mtllibname[0] == '/') return;
    std::string sub = mtllibname;
    for (size_t slash = sub.find('/'); slash != std::string::npos; slash = sub.find('/', slash + 1))
        mkdir(dir.path(sub.substr(0, slash)).c_str(), 0777);
}

// Load, exact save, load: the same model.
void exactRoundTrip(const KelModel* m) {
    TempDir dir;
    makeLibraryFolders(dir, m->mtllibname);
    std::string out = dir.path("exact.obj");
    KelSaveOptions options = {1, nullptr, nullptr, nullptr};
    KelError error;
    CaptureStdout();
    int status = kelSaveOBJWithOptions(m, out.c_str(), KEL_SMOOTH | KEL_TEXTURE | KEL_MATERIAL, &options, &error);
    GetCapturedStdout();
    ASSERT_EQ(KEL_OK, status) << error.message;
    CaptureStdout();
    KelModel* back = kelLoadOBJ(out.c_str(), nullptr, &error);
    GetCapturedStdout();
    ASSERT_NE(nullptr, back) << error.message;
    SCOPED_TRACE("exact");
    expectSameModel(m, back);
    kelDelete(back);
}

void roundTrip(const std::string& path) {
    SCOPED_TRACE(path);
    KelModel* m = readQuietly(path);
    exactRoundTrip(m);
    // Changed by kel's own calls: the same again.
    kelUnitize(m);
    kelLinearTexture(m);
    exactRoundTrip(m);
    kelFacetNormals(m);
    const unsigned modes[] = {KEL_NONE,
                              KEL_FLAT,
                              KEL_SMOOTH,
                              KEL_TEXTURE,
                              KEL_MATERIAL,
                              KEL_SMOOTH | KEL_TEXTURE | KEL_MATERIAL,
                              KEL_FLAT | KEL_TEXTURE};
    for (unsigned mode : modes) {
        SCOPED_TRACE("mode " + std::to_string(mode));
        TempDir dir;
        std::string out = dir.path("copy.obj");
        makeLibraryFolders(dir, m->mtllibname);  // a library in a subdirectory is written there
        CaptureStdout();
        kelWriteOBJ(m, out.c_str(), mode);
        GetCapturedStdout();
        KelModel* back = readQuietly(out);
        expectSameModel(m, back, mode);
        // Saved again, the model read back gives the same bytes: a cycle of
        // saves and loads does not drift.
        TempDir again;
        makeLibraryFolders(again, m->mtllibname);
        CaptureStdout();
        // Facet normals were written as the normals the model read back has.
        const unsigned backMode = (mode & KEL_FLAT) && !(mode & KEL_SMOOTH) ? (mode & ~KEL_FLAT) | KEL_SMOOTH : mode;
        kelWriteOBJ(back, again.path("copy.obj").c_str(), backMode);
        GetCapturedStdout();
        EXPECT_EQ(readFile(out), readFile(again.path("copy.obj")));
        if (back->mtllibname && (mode & KEL_MATERIAL)) {
            std::string library = back->mtllibname;  // as the first save wrote it: inside its folder
            EXPECT_EQ(readFile(dir.path(library)), readFile(again.path(library))) << library;
        }
        kelDelete(back);
        if (testing::Test::HasFatalFailure()) break;
    }
    kelDelete(m);
}

TEST(KelRoundTrip, TheShip) { roundTrip(ORVANDEL_RUN_DIR "/data/111.obj"); }

TEST(KelRoundTrip, OwnModels) {
    TempDir dir;
    dir.write("own.mtl",
              "Kd 0.1 0.2 0.3\n"  // changes "default"
              "newmtl shiny\nKa 0.5 0.25 0.125\nKd 1 0 0\nKs 0.3333 0.6667 1\nNs 96\n"
              "newmtl default\nNs 1000\n");
    std::string full = dir.write("full.obj",
                                 "mtllib own.mtl\n"
                                 "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nv 0.1234567 -7.654321 1e-7\n"
                                 "vt 0 0\nvt 1 0\nvt 1 1\nvn 0 0 1\nvn 0 0.6 0.8\n"
                                 "f 1/1/1 2/2/1 3/3/2 4/1/2\n"
                                 "g  two  words \nusemtl shiny\nf 1//1 2//2 5//1\n"
                                 "g empty\ng\nf 5 4 3 2 1\n"
                                 "g tex\nusemtl default\nf 1/3 2/2 3/1\n"
                                 "g two  words \nf 3 4 5\n");
    std::string bare = dir.write("bare.obj", "v 1 2 3\nv 4 5 6\nv 7 8 9\nf 1 2 3\nf 3 2 1\n");
    std::string empty = dir.write("empty.obj", "");
    dir.write("paint.mtl",
              "newmtl glass\nTr 0.3\nmap_Kd -o 0.5 0.5 -clamp on  stained glass.png \r\n"
              "newmtl stone\nd 0\nmap_Bump -bm 2 stone bump.tga\nmap_Kd stone.tga\n"
              "newmtl plain\nbump plain.png\n");
    std::string painted = dir.write("painted.obj",
                                    "mtllib paint.mtl\n"
                                    "v 0 0 0 1 0 0\nv 1 0 0\nv 1 1 0 0.1 0.2 0.3\nv 0 1 0 0.25 0.5 0.75 1\n"
                                    "usemtl glass\nf 1 2 3\ng stone\nusemtl stone\nf 1 3 4\n");
    // Groups met again, made without faces, and given their material by a
    // later "g" or usemtl: an exact save keeps the list and every group's
    // material.
    std::string mixed = dir.write("mixed.obj",
                                  "mtllib own.mtl\nv 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\n"
                                  "usemtl shiny\ng a\nf 1 2 3\ng b\nusemtl default\nf 1 2 3\ng a\nf 2 3 4\n"
                                  "g c\nusemtl shiny\ng b\n");
    // As exporters write them: objects without groups, materials and
    // smoothing groups switched between faces, lines and points.
    std::string exported = dir.write("exported.obj",
                                     "mtllib own.mtl\no Cube\nv 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nv 0.1 0.2 0.3\n"
                                     "usemtl shiny\ns 1\nf 1 2 3\nusemtl default\nf 1 3 4\ns off\nf 2 3 4\n"
                                     "o Wires\nl 1 2 3 1\nl 5 4\np 5 1\no Empty\ng parts\ns 7\nf 4 5 1\n");
    for (const std::string& path : {full, bare, empty, painted, mixed, exported}) roundTrip(path);
}

TEST(KelRoundTrip, EveryAcceptedTestModel) {
    found.clear();
    nftw("/usr/share/assimp/models", collect, 16, FTW_PHYS);
    if (found.empty()) GTEST_SKIP() << "assimp-testmodels is not installed";
    int tried = 0;
    for (const std::string& path : found) {
        if (!accepted(path)) continue;
        roundTrip(path);
        tried++;
    }
    EXPECT_GT(tried, 10);
}

}  // namespace
