// Real-world OBJ files (Debian's assimp-testmodels, and the ship): every file
// is read in a child process, since the reader ends the process on files it
// refuses. Accepted files must read without a crash or a sanitizer report,
// and where tinyobjloader reads them too, both must count the same vertices
// and triangles, find the same vertex colours and give each material the
// same opacity, map names and names (a material's name is the whole rest
// of its newmtl line).
#include <fcntl.h>
#include <ftw.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <tiny_obj_loader.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "kel/kel.h"

namespace {

std::vector<std::string> objFiles;

int collect(const char* path, const struct stat*, int type, struct FTW*) {
    std::string p = path;
    if (type == FTW_F && p.size() > 4 &&
        (p.compare(p.size() - 4, 4, ".obj") == 0 || p.compare(p.size() - 4, 4, ".OBJ") == 0))
        objFiles.push_back(p);
    return 0;
}

struct Counts {
    unsigned vertices, triangles;
};

// Reads `path` with kelReadOBJ in a child process. Returns true when the
// reader accepted it; `output` gets what the child printed.
bool readInChild(const std::string& path, Counts* counts, std::string* output, int* status) {
    std::string log = testing::TempDir() + "kel_realworld_" + std::to_string(getpid()) + ".log";
    int pipefd[2];
    if (pipe(pipefd) != 0) return false;
    pid_t child = fork();
    if (child == 0) {
        int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(fd, 1);
        dup2(fd, 2);
        close(pipefd[0]);
        KelModel* m = kelReadOBJ(path.c_str());
        Counts c = {m->numvertices, m->numtriangles};
        unsigned sum = 0;
        for (KelGroup* g = m->groups; g; g = g->next) sum += g->numtriangles;
        if (sum != m->numtriangles) c.triangles = ~0u;  // every triangle in one group
        kelDelete(m);
        fflush(stdout);
        if (write(pipefd[1], &c, sizeof c) != sizeof c) _exit(2);
        _exit(0);
    }
    close(pipefd[1]);
    bool got = read(pipefd[0], counts, sizeof *counts) == sizeof *counts;
    close(pipefd[0]);
    waitpid(child, status, 0);
    std::ifstream in(log);
    std::stringstream text;
    text << in.rdbuf();
    *output = text.str();
    remove(log.c_str());
    return got && WIFEXITED(*status) && WEXITSTATUS(*status) == 0;
}

// The colours and materials of an accepted file against tinyobjloader's;
// counts the files that have colours, opacity other than 1 and maps.
struct Extras {
    int coloured = 0, translucent = 0, mapped = 0;
};

void expectSameExtras(const std::string& path, const tinyobj::attrib_t& attrib,
                      const std::vector<tinyobj::material_t>& materials, Extras* extras) {
    testing::internal::CaptureStdout();
    KelModel* m = kelReadOBJ(path.c_str());  // accepted: the child read it
    testing::internal::GetCapturedStdout();
    // tinyobjloader gives every vertex a colour, 1 1 1 when it has none.
    ASSERT_EQ(attrib.colors.size(), attrib.vertices.size());
    bool anyColour = false;
    for (size_t i = 0; i < attrib.colors.size(); i++) {
        if (m->colors)
            EXPECT_FLOAT_EQ(attrib.colors[i], m->colors[3 + i]) << "colour float " << i;
        else
            anyColour = anyColour || attrib.colors[i] != 1;
    }
    EXPECT_FALSE(anyColour) << "colours the reader missed";
    extras->coloured += m->colors != nullptr;
    // The reader puts "default" first.
    if (m->materials && m->nummaterials == materials.size() + 1) {
        bool translucent = false, mapped = false;
        for (size_t i = 0; i < materials.size(); i++) {
            const tinyobj::material_t& t = materials[i];
            const KelMaterial& k = m->materials[i + 1];
            // The whole rest of the newmtl line, the blanks around it dropped.
            size_t first = t.name.find_first_not_of(" \t"), last = t.name.find_last_not_of(" \t");
            EXPECT_EQ(first == std::string::npos ? "" : t.name.substr(first, last - first + 1), k.name);
            EXPECT_FLOAT_EQ(t.dissolve, k.dissolve) << k.name;
            EXPECT_EQ(t.diffuse_texname, k.diffuseMap ? k.diffuseMap : "") << k.name;
            EXPECT_EQ(t.bump_texname, k.bumpMap ? k.bumpMap : "") << k.name;
            translucent = translucent || k.dissolve != 1;
            mapped = mapped || k.diffuseMap || k.bumpMap;
        }
        extras->translucent += translucent;
        extras->mapped += mapped;
    }
    kelDelete(m);
}

TEST(RealWorldObj, ReadLikeTinyobjloader) {
    objFiles.clear();
    nftw("/usr/share/assimp", collect, 16, FTW_PHYS);
    if (objFiles.empty()) GTEST_SKIP() << "assimp-testmodels is not installed";
    objFiles.push_back("data/111.obj");
    int accepted = 0, compared = 0;
    Extras extras;
    for (const std::string& path : objFiles) {
        SCOPED_TRACE(path);
        Counts kel = {0, 0};
        std::string output;
        int status = 0;
        bool ok = readInChild(path, &kel, &output, &status);
        EXPECT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status) << "\n" << output;
        EXPECT_EQ(output.find("Sanitizer"), std::string::npos) << output;
        EXPECT_EQ(output.find("runtime error"), std::string::npos) << output;
        if (!ok) continue;
        accepted++;
        EXPECT_NE(kel.triangles, ~0u) << "group triangle counts do not add up";

        tinyobj::attrib_t attrib;
        std::vector<tinyobj::shape_t> shapes;
        std::vector<tinyobj::material_t> materials;
        std::string warn, err;
        std::string dir = path.substr(0, path.rfind('/') + 1);
        if (!tinyobj::LoadObj(&attrib, &shapes, &materials, &warn, &err, path.c_str(), dir.c_str(), false)) continue;
        compared++;
        // tinyobjloader keeps a face's corner count in one byte: its count
        // says nothing for files with faces of 256 corners or more.
        unsigned triangles = 0;
        size_t corners = 0, indices = 0;
        for (const tinyobj::shape_t& s : shapes) {
            for (unsigned char n : s.mesh.num_face_vertices) triangles += n >= 3 ? n - 2 : 1, corners += n;
            indices += s.mesh.indices.size();
        }
        EXPECT_EQ(kel.vertices, attrib.vertices.size() / 3);
        if (corners == indices) {
            EXPECT_EQ(kel.triangles, triangles);
        }
        expectSameExtras(path, attrib, materials, &extras);
    }
    EXPECT_GT(accepted, 10);
    EXPECT_GT(compared, 10);
    // The two cubes with vertex colours; the box whose "Windows" are half
    // transparent (in the library with material names full of blanks); the
    // spider's diffuse maps.
    EXPECT_GE(extras.coloured, 2);
    EXPECT_GE(extras.translucent, 1);
    EXPECT_GE(extras.mapped, 1);
    std::printf("%zu files, %d read, %d compared with tinyobjloader\n", objFiles.size(), accepted, compared);
}

}  // namespace
