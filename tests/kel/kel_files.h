// Helpers for the reader tests: a private temporary directory that holds the
// small OBJ and MTL files a test writes, and short views of a read model.
#ifndef ORVANDEL_TESTS_KEL_KEL_FILES_H
#define ORVANDEL_TESTS_KEL_KEL_FILES_H

#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
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

#endif  // ORVANDEL_TESTS_KEL_KEL_FILES_H
