// The readers take files in chunks that end only where a statement cannot go
// on. Every chunk size, down to one byte, must give the model that a read in
// one go gives: faces and numbers (a vertex colour among them) across line
// ends at a boundary, long comments, "\r\n" line ends, lines that begin with
// "inf" or "nan", map names with blanks, faces longer than any small chunk,
// on one line or many, and objects, smoothing groups, lines and points.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "kel/kel_internal.h"
#include "kel_files.h"

namespace {

// The statements that run on across line ends come first, so that the
// first boundary of a chunk of n bytes falls at byte n. The long comments and
// the long face come last: a chunk grows to hold the longest run without a
// place to end, and stays that large.
std::string awkwardObj() {
    std::string obj =
        "v 1 2\ninf\nv 1 2\n\n  nan\nv .5 1\n.5\nv 1 0.5\n  -2.25 0.25 0.5 1\r\nvt 0.5\n+.5\nvn 0 0 1\r\n";
    obj += "mtllib m.mtl\r\ng  first\r\nusemtl red\no  Cube  \r\ns 2\n";
    obj += "f -1/-1/-1 -2/-1/-1\n-3/-1/-1\n\n   -4/-1/-1 -1/-1/-1\r\n";
    obj += "f -4//-1\r\n-3//-1 -2//-1\ns off\nl 1 2 3\r\nl -1 -2\np 4 3 2 1\n";
    obj += "g second\nusemtl blue\r\nf 1 2\n3\n";
    // A face whose line a backslash joins to the next, lone '\r' line ends,
    // a group whose name holds the blanks a joining backslash and its line
    // end became, and a material named by its whole line (none is: 0).
    obj += "f 1 2 \\\n3 4\rg con\\\r\ntinued\rusemtl red wood \rf 1 2 3\\\r\n";  // line 36 names the material
    obj += "# " + std::string(300, 'c') + "\n#" + std::string(5000, '#') + "\ng  first\nf";
    for (int i = 0; i < 400; i++) obj += (i % 10 ? " " : "\n") + std::to_string(i % 4 + 1);  // on 40 lines
    obj += "\nf";  // one line of 40 references, longer than 64 bytes
    for (int i = 0; i < 40; i++) obj += " " + std::to_string(i % 4 + 1) + "/1";
    obj += "\nf 1 2\t3\n\n 4\n";              // a tab, then the face goes on after a blank line
    obj += "g last\r\no\nl 1\ns 3\nf 1 2 3";  // no line end at the end of the file
    return obj;
}

const char* kMtl =
    "Kd 0.1\n0.2 0.3\nnewmtl red\r\nNs\n500\nKa 1 0 0\nTr\n0.25\nmap_Kd -s 1 2 red  wood.png \r\n"
    "newmtl blue\nKs 0 0\n  1\nd 0.5\nTr 0.25\nbump -bm 2 blue.png\n"
    "Tf 1 1 1\n# kept with blue\n  sharpness 60 \r\nnewmtl  Hard Shiny  \n";

TEST(KelChunks, EveryChunkSizeGivesTheModelOfOneRead) {
    TempDir dir;
    dir.write("m.mtl", kMtl);
    std::string path = dir.write("m.obj", awkwardObj());
    testing::internal::CaptureStdout();
    KelModel* whole = kelReadOBJ(path.c_str());
    EXPECT_NE(testing::internal::GetCapturedStdout().find("\"red wood\""), std::string::npos);
    // The file as written: faces, numbers and materials across line ends.
    ASSERT_EQ(whole->numvertices, 4u);
    EXPECT_TRUE(std::isinf(whole->vertices[3 * 1 + 2]));
    EXPECT_TRUE(std::isnan(whole->vertices[3 * 2 + 2]));
    EXPECT_EQ(whole->vertices[3 * 3 + 2], 0.5f);
    EXPECT_EQ(whole->vertices[3 * 4 + 2], -2.25f);
    ASSERT_NE(whole->colors, nullptr);
    EXPECT_EQ(whole->colors[3 * 3 + 2], 1.0f);
    EXPECT_EQ(whole->colors[3 * 4 + 0], 0.25f);
    EXPECT_EQ(whole->colors[3 * 4 + 2], 1.0f);
    EXPECT_EQ(whole->texcoords[2 * 1 + 1], 0.5f);
    ASSERT_EQ(whole->numtriangles, 3u + 1u + 1u + 2u + 1u + 398u + 38u + 2u + 1u);
    EXPECT_EQ(vIdx(whole, 0), (Corners{4, 3, 2}));
    EXPECT_EQ(tIdx(whole, 2), (Corners{1, 1, 1}));
    EXPECT_EQ(vIdx(whole, 3), (Corners{1, 2, 3}));
    EXPECT_EQ(nIdx(whole, 3), (Corners{1, 1, 1}));
    EXPECT_EQ(vIdx(whole, 5), (Corners{1, 2, 3}));
    EXPECT_EQ(vIdx(whole, 6), (Corners{1, 3, 4}));
    EXPECT_EQ(vIdx(whole, 7), (Corners{1, 2, 3}));
    EXPECT_EQ(groupNames(whole), (std::vector<std::string>{"last", "con   tinued", "second", "first", "default"}));
    EXPECT_EQ(groupTriangles(whole, "second"), (std::vector<unsigned>{4, 5, 6}));
    EXPECT_EQ(kelFindGroup(whole, "second")->material, 2u);
    EXPECT_EQ(kelFindGroup(whole, "con   tinued")->material, 0u);
    EXPECT_EQ(groupTriangles(whole, "con   tinued"), (std::vector<unsigned>{7}));
    EXPECT_EQ(kelFindGroup(whole, "first")->numtriangles, 3u + 1u + 398u + 38u + 2u);
    ASSERT_EQ(whole->nummaterials, 4u);
    EXPECT_STREQ(whole->materials[2].extras, "Tf 1 1 1\n# kept with blue\nsharpness 60\n");
    EXPECT_STREQ(whole->materials[3].name, "Hard Shiny");
    EXPECT_EQ(whole->materials[0].diffuse[2], 0.3f);
    EXPECT_EQ(whole->materials[1].shininess, 64.0f);
    EXPECT_EQ(whole->materials[2].specular[2], 1.0f);
    std::string text = awkwardObj();
    EXPECT_EQ(whole->materials[1].dissolve, 0.75f);
    EXPECT_STREQ(whole->materials[1].diffuseMap, "red  wood.png");
    EXPECT_EQ(whole->materials[2].dissolve, 0.5f);
    EXPECT_STREQ(whole->materials[2].bumpMap, "blue.png");
    // Objects, smoothing groups, lines (relative indices too) and points,
    // and a material per triangle.
    ASSERT_EQ(whole->numobjects, 2u);
    EXPECT_STREQ(whole->objects[0].name, "Cube");
    EXPECT_EQ(whole->objects[0].first, 0u);
    EXPECT_EQ(whole->objects[0].count, 446u);
    EXPECT_STREQ(whole->objects[1].name, "");
    EXPECT_EQ(whole->objects[1].count, 1u);
    ASSERT_NE(whole->smoothing, nullptr);
    EXPECT_EQ(std::vector<unsigned>(whole->smoothing, whole->smoothing + 6), (std::vector<unsigned>{2, 2, 2, 2, 0, 0}));
    EXPECT_EQ(whole->smoothing[446], 3u);
    ASSERT_EQ(whole->numlines, 3u);
    EXPECT_EQ(std::vector<unsigned>(whole->lines, whole->lines + 6), (std::vector<unsigned>{1, 2, 2, 3, 4, 3}));
    ASSERT_EQ(whole->numpoints, 4u);
    EXPECT_EQ(std::vector<unsigned>(whole->points, whole->points + 4), (std::vector<unsigned>{4, 3, 2, 1}));
    ASSERT_NE(whole->trimaterials, nullptr);
    EXPECT_EQ(std::vector<unsigned>(whole->trimaterials, whole->trimaterials + 9),
              (std::vector<unsigned>{1, 1, 1, 1, 2, 2, 2, 0, 0}));
    // Files are read where they lie, with the padding after a chunk over
    // the next one's bytes, or (copyInput) through the buffer: the same
    // again with a comment that makes the file end (in a number, with no
    // line end) at the end of a page. The file must be left as it was.
    std::string pageEnd = text;
    size_t last = pageEnd.rfind("g last");
    pageEnd.insert(last, "#" + std::string(4 * 4096 - pageEnd.size() % 4096 - 2, '-') + "\n");
    ASSERT_EQ(pageEnd.size() % 4096, 0u);
    // Progress looks whether the file is mapped while it is read.
    // ... and the unknown material's message names it and its line.
    struct Mapped {
        std::string path;
        bool seen;
        std::vector<std::string> warnings;
    } mapped = {};
    KelReadOptions options = {};
    options.user = &mapped;
    options.warning = [](void* user, unsigned long line, const char* message) {
        static_cast<Mapped*>(user)->warnings.push_back(std::to_string(line) + ": " + message);
    };
    options.progress = [](void* user, unsigned long long, unsigned long long) {
        Mapped* m = static_cast<Mapped*>(user);
        m->seen = m->seen || readFile("/proc/self/maps").find(m->path) != std::string::npos;
        return 0;
    };
    for (const std::string& input : {text, pageEnd}) {
        path = dir.write("m.obj", input);
        for (size_t chunk = 1; chunk <= 200; chunk++) {
            SCOPED_TRACE(chunk);
            options.threads = 1 + chunk % 4;
            options.mapInput = chunk % 3 != 0;   // mapped, not read through the buffer,
            options.copyInput = chunk % 5 == 0;  // unless the buffer is asked for too
            mapped = {path, false, {}};
            KelModel* m = kelLoadOBJChunks(path.c_str(), chunk, &options, nullptr);
            expectSameModel(m, whole);
            kelDelete(m);
            ASSERT_EQ(mapped.warnings.size(), 1u);
            EXPECT_EQ(mapped.warnings[0].rfind("36: ", 0), 0u) << mapped.warnings[0];
            EXPECT_NE(mapped.warnings[0].find("\"red wood\""), std::string::npos) << mapped.warnings[0];
            if (options.threads == 1) {  // whose progress comes from the thread that reads
                EXPECT_EQ(mapped.seen, options.mapInput && !options.copyInput);
            }
            options.threads = 1 + (chunk + 1) % 4;
            m = kelLoadOBJFromMemoryChunks(input.data(), input.size(), path.c_str(), chunk, &options, nullptr);
            expectSameModel(m, whole);
            kelDelete(m);
        }
        EXPECT_EQ(readFile(path), input);
    }
    kelDelete(whole);
}

// Every file of the fuzz corpus gives the same model, or the same error, at
// every chunk size and thread count.
TEST(KelChunks, CorpusFilesReadAlikeOnAnyNumberOfThreads) {
    TempDir dir;
    dir.write("fuzz.mtl", readFile(ORVANDEL_SOURCE_DIR "/fuzz/corpus/mtl/basic.mtl"));
    DIR* corpus = opendir(ORVANDEL_SOURCE_DIR "/fuzz/corpus/obj");
    ASSERT_NE(corpus, nullptr);
    int files = 0;
    while (dirent* e = readdir(corpus)) {
        if (e->d_name[0] == '.') continue;
        files++;
        std::string path =
            dir.write(e->d_name, readFile(std::string(ORVANDEL_SOURCE_DIR "/fuzz/corpus/obj/") + e->d_name));
        KelError expected, error;
        testing::internal::CaptureStdout();  // messages of materials not found, in file order
        KelModel* reference = kelLoadOBJ(path.c_str(), nullptr, &expected);
        std::string messages = testing::internal::GetCapturedStdout();
        KelReadOptions options = {};
        for (size_t chunk : {1, 7, 64, 4096})
            for (unsigned threads = 1; threads <= 4; threads++) {
                SCOPED_TRACE(std::string(e->d_name) + " chunk " + std::to_string(chunk) + " threads " +
                             std::to_string(threads));
                options.threads = threads;
                testing::internal::CaptureStdout();
                KelModel* m = kelLoadOBJChunks(path.c_str(), chunk, &options, &error);
                EXPECT_EQ(testing::internal::GetCapturedStdout(), messages);
                ASSERT_EQ(m != nullptr, reference != nullptr) << error.message;
                if (m) {
                    expectSameModel(m, reference);
                    kelDelete(m);
                } else {
                    EXPECT_EQ(error.code, expected.code);
                    EXPECT_EQ(error.line, expected.line);
                    EXPECT_STREQ(error.message, expected.message);
                }
            }
        if (reference) kelDelete(reference);
    }
    closedir(corpus);
    EXPECT_GE(files, 8);
}

TEST(KelChunks, AFileThatCannotSeekIsReadOnce) {
    TempDir dir;
    dir.write("m.mtl", kMtl);
    std::string text = awkwardObj(), path = dir.write("m.obj", text), fifo = dir.path("pipe.obj");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::thread writer([&] {
        FILE* f = fopen(fifo.c_str(), "wb");
        fwrite(text.data(), 1, text.size(), f);
        fclose(f);
    });
    // The message of the unknown material names its line, lone '\r' and
    // joined line ends counted.
    std::vector<unsigned long> lines;
    KelReadOptions options = {};
    options.user = &lines;
    options.warning = [](void* user, unsigned long line, const char*) {
        static_cast<std::vector<unsigned long>*>(user)->push_back(line);
    };
    KelModel* piped = kelLoadOBJChunks(fifo.c_str(), 16, &options, nullptr);
    writer.join();
    EXPECT_EQ(lines, std::vector<unsigned long>{36});
    testing::internal::CaptureStdout();
    KelModel* whole = kelReadOBJ(path.c_str());
    testing::internal::GetCapturedStdout();
    expectSameModel(piped, whole);
    kelDelete(piped);
    kelDelete(whole);
    // Nothing to read is an empty model.
    KelError error;
    KelModel* empty = kelLoadOBJ("/dev/null", nullptr, &error);
    ASSERT_NE(empty, nullptr) << error.message;
    EXPECT_EQ(empty->numvertices, 0u);
    EXPECT_EQ(empty->numtriangles, 0u);
    kelDelete(empty);
}

// A read on one thread takes one pass into tables that grow; a read on two
// takes two passes into tables made to measure. Each file must give both the
// same model, or the same error, and print the same messages; the one pass
// must report progress that never goes back, even when it has to read the
// file again in two passes.
TEST(KelChunks, OnePassReadsAsTwoPassesDo) {
    TempDir dir;
    dir.write("m.mtl", kMtl);
    dir.write("other.mtl", "newmtl x\nKd 0 1 0\n");
    auto repeat = [](const std::string& text, int n) {
        std::string all;
        for (int i = 0; i < n; i++) all += text;
        return all;
    };
    std::string fan = "f";
    for (int i = 0; i < 60000; i++) fan += i % 4 ? " 1" : "\n2";
    struct Case {
        const char* what;
        std::string obj;
        int optionalLibrary;
    } cases[] = {
        // More entries than the tables are first made for, so each grows.
        // Some entries lack numbers, which read as 0 however the table grew.
        {"short vertex lines, some with colours", repeat("v 1 2 3\nv 4 5 6 0.5 0.25 1\nv 7\n", 10000) + "f 1 2 3\n", 0},
        {"short normal lines", "v 1 2 3\n" + repeat("vn 0 0 1\nvn 1\n", 15000) + "f 1//1 1//2 1//30000\n", 0},
        {"short texture-coordinate lines", "v 1 2 3\n" + repeat("vt 1 0\nvt\n", 20000) + "f 1/1 1/2 1/40000\n", 0},
        {"a fan of 60000 references", "v 0 0 0\nv 1 0 0\n" + fan + "\n", 0},
        // What only two passes read as they should.
        {"an index to a vertex further on", "f 1 2 3\nv 0 0 0\nv 1 0 0\nv 0 1 0\n", 0},
        {"a material used before its library", "usemtl red\nv 0 0 0\nf 1 1 1\nmtllib m.mtl\n", 0},
        {"a second library after a material",
         "mtllib m.mtl\nusemtl blue\nv 0 0 0\nf 1 1 1\nmtllib other.mtl\nusemtl x\nusemtl red\nf 1 1 1\n", 0},
        {"texture coordinates after faces that name them", "v 0 0 0\nf 1/1 1/1 1/1\nvt 0.5 0.25\n", 0},
        {"normals after faces that name them", "v 0 0 0\nf 1//1 1//1 1//1\nvn 0 0 1\n", 0},
        {"a missing library that may be missing, then an index further on",
         "mtllib none.mtl\nusemtl red\nv 0 0 0\nf 1 1 2\nv 1 1 1\n", 1},
        {"an index error, then a statement error", "v 0 0 0\nf 1 2 3\nvx 1\n", 0},
        {"an index error past the first chunk", repeat("v 0 0 0\nf 1 1 1\n", 500) + "f 1 2 9999\n", 0},
        {"materials that are not there", "mtllib m.mtl\nv 0 0 0\nusemtl gone\nf 1 1 1\nusemtl lost\nf 1 1 1\n", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string path = dir.write("m.obj", c.obj);
        KelReadOptions options = {};
        options.optionalLibrary = c.optionalLibrary;
        std::vector<unsigned long long> progress;
        options.user = &progress;
        options.progress = [](void* user, unsigned long long done, unsigned long long total) {
            auto* seen = static_cast<std::vector<unsigned long long>*>(user);
            EXPECT_TRUE(seen->empty() || done >= seen->back());
            EXPECT_EQ(total, seen->empty() ? total : seen->at(0));
            if (seen->empty()) seen->push_back(total);
            seen->push_back(done);
            return 0;
        };
        options.threads = 1;
        KelError onePassError, twoPassError;
        testing::internal::CaptureStdout();
        KelModel* one = kelLoadOBJ(path.c_str(), &options, &onePassError);
        std::string onePassOutput = testing::internal::GetCapturedStdout();
        if (one) {
            EXPECT_EQ(progress.back(), progress.at(0));  // done reaches total
        }
        options.threads = 2;
        options.progress = nullptr;
        testing::internal::CaptureStdout();
        KelModel* two = kelLoadOBJChunks(path.c_str(), 8, &options, &twoPassError);  // many chunks: two passes
        EXPECT_EQ(testing::internal::GetCapturedStdout(), onePassOutput);
        ASSERT_EQ(one != nullptr, two != nullptr) << onePassError.message << twoPassError.message;
        if (one) {
            expectSameModel(one, two);
            kelDelete(one);
            kelDelete(two);
        } else {
            EXPECT_EQ(onePassError.code, twoPassError.code);
            EXPECT_EQ(onePassError.line, twoPassError.line);
            EXPECT_STREQ(onePassError.message, twoPassError.message);
        }
    }
}

// Thousands of groups, each with a material of a hundred (one name twice in
// the library: the first is the one used), then every seventh group named
// again, twice running: every read, however split, gives each group its
// triangles in file order and its last material, and lists the groups
// newest first.
TEST(KelChunks, ThousandsOfGroupsKeepTheirTrianglesAcrossChunksAndThreads) {
    TempDir dir;
    std::string mtl;
    for (int i = 0; i < 100; i++) mtl += "newmtl m" + std::to_string(i) + "\nKd 0.5 0.5 0.5\n";
    dir.write("m.mtl", mtl + "newmtl m7\n");
    const unsigned n = 3000;
    std::string obj = "mtllib m.mtl\nv 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n";
    for (unsigned i = 0; i < n; i++)
        obj += "g part" + std::to_string(i) + "\nusemtl m" + std::to_string(i % 100) + "\nf 1 2 3\n";
    for (unsigned i = n - 1; i < n; i -= 7)
        obj += "g part" + std::to_string(i) + "\nf 1 2 3\ng part" + std::to_string(i) + "\nf 1 2 3\n";
    std::string path = dir.write("m.obj", obj);
    KelReadOptions options = {};
    for (size_t chunk : {size_t(64), size_t(4096), kelChunkSize})
        for (unsigned threads = 1; threads <= 4; threads++) {
            SCOPED_TRACE("chunk " + std::to_string(chunk) + " threads " + std::to_string(threads));
            options.threads = threads;
            KelModel* m = kelLoadOBJChunks(path.c_str(), chunk, &options, nullptr);
            ASSERT_NE(m, nullptr);
            ASSERT_EQ(m->numgroups, n + 1);
            const KelGroup* g = m->groups;
            for (unsigned i = n - 1; i < n; i--, g = g->next) {
                ASSERT_EQ(std::string(g->name), "part" + std::to_string(i));
                std::vector<unsigned> expected = {1 + i};
                unsigned material = 1 + i % 100;  // after "default"
                if ((n - 1 - i) % 7 == 0) {
                    unsigned k = (n - 1 - i) / 7;
                    expected.insert(expected.end(), {n + 1 + 2 * k, n + 2 + 2 * k});
                    material = 1 + (n - 1) % 100;  // in force where the group is named again
                }
                ASSERT_EQ(std::vector<unsigned>(g->triangles, g->triangles + g->numtriangles), expected);
                ASSERT_EQ(g->material, material);
            }
            EXPECT_STREQ(g->name, "default");
            EXPECT_EQ(g->numtriangles, 1u);
            kelDelete(m);
        }
}

TEST(KelChunks, ErrorsNameTheLineAcrossChunks) {
    TempDir dir;
    std::string obj = "v 0 0 0\nv 1 0 0\nv 1 1 0\n";
    for (int i = 0; i < 200; i++) obj += "f 1 2\r\n 3\n";
    obj += "f 1 2 4\n";  // line 404
    std::string path = dir.write("m.obj", obj);
    for (size_t chunk : {size_t(5), kelChunkSize}) {
        KelError error;
        EXPECT_EQ(kelLoadOBJChunks(path.c_str(), chunk, nullptr, &error), nullptr);
        EXPECT_EQ(error.code, KEL_ERROR_INDEX);
        EXPECT_EQ(error.line, 404u);
        EXPECT_EQ(std::string(error.message),
                  "kelReadOBJ() failed: vertex index 4 out of range in \"" + path + "\" line 404.");
    }
}

}  // namespace
