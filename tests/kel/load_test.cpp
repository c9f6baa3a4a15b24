// The error-returning calls: each failure's code, line and message; nothing
// held after a failure, however many; every failed allocation; progress and
// cancelling; loads from memory with their libraries; loads in several
// threads at once; and saves that fail without touching the old file.
#include <dirent.h>
#include <gtest/gtest.h>
#include <malloc.h>
#include <sys/stat.h>

#include <cerrno>
#include <string>
#include <thread>
#include <vector>

#include "kel/kel_internal.h"
#include "kel_files.h"

namespace {

const char kTriangle[] = "v 0 0 0\nv 1 0 0\nv 1 1 0\n";

std::string errorText(const KelError& e) {
    return std::to_string(e.code) + " line " + std::to_string(e.line) + ": " + e.message;
}

std::string repeated(const char* line, int times) {
    std::string text;
    for (int i = 0; i < times; i++) text += line;
    return text;
}

TEST(KelLoad, FailuresCarryTheirCodeLineAndMessage) {
    TempDir dir;
    std::string missing = dir.path("missing.obj"), library = dir.path("nothere.mtl");
    const struct {
        std::string text;  // the OBJ file; "-" for none
        int code;
        unsigned long line;
        std::string message;
    } cases[] = {
        {"-", KEL_ERROR_OPEN, 0, "kelReadOBJ() failed: can't open data file \"" + missing + "\"."},
        {"v 1 2 3\n\nmtllib nothere.mtl\n", KEL_ERROR_LIBRARY, 3,
         "kelReadMTL() failed: can't open material file \"" + library + "\"."},
        {"v 1 2 3\nvp 0.5 0.5\n", KEL_ERROR_STATEMENT, 2, "kelFirstPass(): Unknown token \"vp\"."},
        {std::string(kTriangle) + "f 1 2 4\n", KEL_ERROR_INDEX, 4, "vertex index 4"},
        {std::string(kTriangle) + "f 0 1 2\n", KEL_ERROR_INDEX, 4, "vertex index 0"},
        {std::string(kTriangle) + "\nf 1 2 3 -4\n", KEL_ERROR_INDEX, 5, "vertex index -4"},
        {std::string(kTriangle) + "f 1 2 +0004\n", KEL_ERROR_INDEX, 4, "vertex index +0004"},
        {std::string(kTriangle) + "f 1 2 123456789012345678901234\n", KEL_ERROR_INDEX, 4,
         "vertex index 123456789012345678901234"},
        {std::string(kTriangle) + "vt 0 0\nf 1/1 2/2 3/1\n", KEL_ERROR_INDEX, 5, "texture coordinate index 2"},
        {std::string(kTriangle) + "vn 0 0 1\nf 1//1 2//1 3//-2\n", KEL_ERROR_INDEX, 5, "normal index -2"},
        // Lines and points check their indices as faces do.
        {std::string(kTriangle) + "l 1 4\n", KEL_ERROR_INDEX, 4, "vertex index 4"},
        {std::string(kTriangle) + "l 1 2\np 3 -4\n", KEL_ERROR_INDEX, 5, "vertex index -4"},
        {std::string(kTriangle) + "p 1\nl 2 0 1\n", KEL_ERROR_INDEX, 5, "vertex index 0"},
        {std::string(kTriangle) + "vt 0 0\nvn 0 0 1\nf 1/1/1 2/1/1\n3/1/0\n", KEL_ERROR_INDEX, 7, "normal index 0"},
        // Lone '\r' line ends, and lines a backslash joins, count as lines.
        {"v 0 0 0\rv 1 0 0\rv 1 1 0\r\rf 1 2 4\r", KEL_ERROR_INDEX, 5, "vertex index 4"},
        {std::string(kTriangle) + "f 1 2 \\\n3\\\r\nf 1 \\\r2 4\n", KEL_ERROR_INDEX, 7, "vertex index 4"},
        {"v 1 2 3\rvp 0.5 0.5\r", KEL_ERROR_STATEMENT, 2, "kelFirstPass(): Unknown token \"vp\"."},
        // Hundreds of lines of 16 bytes: a line end in the same column of every 16.
        {std::string(kTriangle) + repeated("# 3456789abcdef\n", 400) + "f 1 2 4\n", KEL_ERROR_INDEX, 404,
         "vertex index 4"},
        {std::string("\xFF\xFE") + "v\0 \0" + "1\0", KEL_ERROR_ENCODING, 0, "is UTF-16 text; kel reads ASCII or UTF-8"},
        {std::string("\xFE\xFF") + "\0v", KEL_ERROR_ENCODING, 0, "is UTF-16 text; kel reads ASCII or UTF-8"},
    };
    for (const auto& c : cases) {
        std::string path = c.text == "-" ? missing : dir.write("m.obj", c.text);
        for (size_t chunk : {size_t(3), kelChunkSize}) {
            KelError error;
            EXPECT_EQ(kelLoadOBJChunks(path.c_str(), chunk, nullptr, &error), nullptr);
            EXPECT_EQ(error.code, c.code) << c.text;
            EXPECT_EQ(error.line, c.line) << c.text;
            EXPECT_NE(std::string(error.message).find(c.message), std::string::npos) << errorText(error);
            if (c.code == KEL_ERROR_INDEX) {
                EXPECT_EQ(std::string(error.message), "kelReadOBJ() failed: " + c.message + " out of range in \"" +
                                                          path + "\" line " + std::to_string(c.line) + ".");
            }
        }
    }
    // A directory opens, but is no text to read.
    KelError error;
    EXPECT_EQ(kelLoadOBJ(dir.dir.c_str(), nullptr, &error), nullptr);
    EXPECT_EQ(error.code, KEL_ERROR_OPEN) << errorText(error);
    EXPECT_EQ(error.systemError, EISDIR);
}

TEST(KelLoad, AUtf8ByteOrderMarkIsSkipped) {
    TempDir dir;
    dir.write("m.mtl", "\xEF\xBB\xBFnewmtl red\nKd 1 0 0\n");
    std::string path = dir.write("m.obj", "\xEF\xBB\xBFv 0 0 0\nv 1 0 0\nv 1 1 0\nmtllib m.mtl\nusemtl red\nf 1 2 3\n");
    for (size_t chunk : {size_t(1), size_t(4), kelChunkSize}) {
        KelError error;
        KelModel* m = kelLoadOBJChunks(path.c_str(), chunk, nullptr, &error);
        ASSERT_NE(m, nullptr) << errorText(error);
        EXPECT_EQ(m->numvertices, 3u);
        EXPECT_EQ(vIdx(m, 0), (Corners{1, 2, 3}));
        ASSERT_EQ(m->nummaterials, 2u);
        EXPECT_STREQ(m->materials[1].name, "red");
        EXPECT_EQ(m->groups->material, 1u);
        kelDelete(m);
    }
}

size_t openDescriptors() {
    size_t n = 0;
    DIR* d = opendir("/proc/self/fd");
    while (readdir(d)) n++;
    closedir(d);
    return n;
}

TEST(KelLoad, TenThousandFailuresOfEachKindHoldNothing) {
    TempDir dir;
    std::vector<std::string> paths = {
        dir.path("missing.obj"),
        dir.write("library.obj", std::string(kTriangle) + "mtllib nothere.mtl\n"),
        dir.write("statement.obj", std::string(kTriangle) + "g a\nf 1 2 3\nvx 1\n"),
        dir.write("index.obj", std::string(kTriangle) + "g a\nf 1 2 3\ng b\nf 1 2 9\n"),
        dir.write("encoding.obj", "\xFF\xFEv\0"),
        dir.dir,  // a read error
    };
    auto cancel = [](void*, unsigned long long, unsigned long long) { return 1; };
    KelReadOptions cancelling = {};
    cancelling.progress = cancel;
    std::string good = dir.write("good.obj", std::string(kTriangle) + "g a\nf 1 2 3\n");
    auto failAll = [&] {
        for (const std::string& path : paths) EXPECT_EQ(kelLoadOBJ(path.c_str(), nullptr, nullptr), nullptr);
        EXPECT_EQ(kelLoadOBJ(good.c_str(), &cancelling, nullptr), nullptr);
    };
    // The first rounds may set up the C library's own buffers, and fill its
    // caches of freed blocks (up to seven of each small size).
    for (int i = 0; i < 8; i++) failAll();
    size_t descriptors = openDescriptors();
    size_t heap = mallinfo2().uordblks;
    for (int i = 0; i < 10000; i++) failAll();
    EXPECT_EQ(openDescriptors(), descriptors);
    EXPECT_LE(mallinfo2().uordblks, heap + 4096);
}

TEST(KelLoad, EveryFailedAllocationIsReportedAndFreesWhatWasBuilt) {
    TempDir dir;
    dir.write("m.mtl", "newmtl red\nKd 1 0 0\nnewmtl blue\n");
    std::string text =
        std::string(kTriangle) + "vt 0 0\nvn 0 0 1\nmtllib m.mtl\ng a b\nusemtl red\nf 1/1/1 2/1/1 3/1/1\n";
    // The second file names a vertex before it stands, which one pass leaves
    // to two: the allocations of both are failed in turn. The third has
    // vertex colours as well.
    for (const std::string& path : {dir.write("m.obj", text), dir.write("ahead.obj", text + "f 1 2 4\nv 0 0 1\n"),
                                    dir.write("colour.obj", text + "v 0 1 1 0.5 0.5 0.5\nf 1 2 5\nv 0 0 1\n")})
        for (unsigned long n = 1;; n++) {
            kelFailingAllocation = n;
            KelError error;
            KelModel* m = kelLoadOBJChunks(path.c_str(), 8, nullptr, &error);
            bool failed = kelFailingAllocation == 0;
            kelFailingAllocation = 0;
            if (!failed) {
                ASSERT_NE(m, nullptr) << n;
                EXPECT_GT(n, 10u);  // the groups, names, tables and library each failed on their turn
                // Saving fails the same way at each of its allocations.
                for (unsigned long k = 1;; k++) {
                    kelFailingAllocation = k;
                    int status = kelSaveOBJ(m, dir.path("out.obj").c_str(), KEL_SMOOTH | KEL_MATERIAL, &error);
                    bool saveFailed = kelFailingAllocation == 0;
                    kelFailingAllocation = 0;
                    if (!saveFailed) {
                        EXPECT_EQ(status, KEL_OK);
                        break;
                    }
                    EXPECT_EQ(status, KEL_ERROR_MEMORY) << k;
                }
                kelDelete(m);
                break;
            }
            EXPECT_EQ(m, nullptr) << n;
            EXPECT_EQ(error.code, KEL_ERROR_MEMORY) << n << " " << errorText(error);
        }
}

struct Calls {
    std::vector<std::pair<unsigned long long, unsigned long long>> seen;
    size_t cancelAt = SIZE_MAX;
};

int record(void* user, unsigned long long done, unsigned long long total) {
    Calls* calls = static_cast<Calls*>(user);
    calls->seen.push_back({done, total});
    return calls->seen.size() == calls->cancelAt;
}

TEST(KelLoad, ProgressRisesToItsTotalAndCanCancel) {
    TempDir dir;
    std::string text = kTriangle;
    for (int i = 0; i < 300; i++) text += "f 1 2 3\n";
    std::string path = dir.write("m.obj", text);
    Calls calls;
    KelReadOptions options = {};
    options.progress = record;
    options.user = &calls;
    KelModel* m = kelLoadOBJChunks(path.c_str(), 64, &options, nullptr);
    ASSERT_NE(m, nullptr);
    kelDelete(m);
    ASSERT_GT(calls.seen.size(), 2 * text.size() / 128);  // a call for every chunk or so
    for (size_t i = 0; i < calls.seen.size(); i++) {
        EXPECT_EQ(calls.seen[i].second, text.size());
        if (i) {
            EXPECT_GE(calls.seen[i].first, calls.seen[i - 1].first);
        }
    }
    EXPECT_EQ(calls.seen.back().first, calls.seen.back().second);
    // The input's bytes, each once, on one thread or two, with strict
    // reading or without, from a file or a pipe (which is read whole first,
    // with `total` 0, and then counts as done).
    std::string fifo = dir.path("pipe.obj");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    for (int pipe : {0, 1})
        for (unsigned threads : {1u, 2u})
            for (int strict : {0, 1}) {
                SCOPED_TRACE(std::to_string(pipe) + " " + std::to_string(threads) + " " + std::to_string(strict));
                Calls each;
                KelReadOptions o = options;
                o.user = &each, o.threads = threads, o.strict = strict;
                std::thread writer;
                if (pipe)
                    writer = std::thread([&] {
                        FILE* f = fopen(fifo.c_str(), "wb");
                        fwrite(text.data(), 1, text.size(), f);
                        fclose(f);
                    });
                m = kelLoadOBJChunks((pipe ? fifo : path).c_str(), 64, &o, nullptr);
                if (pipe) writer.join();
                ASSERT_NE(m, nullptr);
                kelDelete(m);
                ASSERT_FALSE(each.seen.empty());
                unsigned long long before = 0;
                for (const auto& [done, total] : each.seen) {
                    EXPECT_TRUE(total == text.size() || (pipe && total == 0)) << total;
                    EXPECT_LE(done, text.size());
                    EXPECT_GE(done, before);
                    before = done;
                }
                EXPECT_EQ(each.seen.back(),
                          std::make_pair((unsigned long long)text.size(), (unsigned long long)text.size()));
            }
    // Each call tells the work done so far: the one before the last, once
    // every chunk is read, tells it all.
    EXPECT_EQ(calls.seen[calls.seen.size() - 2].first, calls.seen.back().second);
    for (size_t at : {size_t(1), calls.seen.size() / 2, calls.seen.size()}) {
        Calls cancelling;
        cancelling.cancelAt = at;
        options.user = &cancelling;
        KelError error;
        EXPECT_EQ(kelLoadOBJChunks(path.c_str(), 64, &options, &error), nullptr);
        EXPECT_EQ(error.code, KEL_ERROR_CANCELLED);
        EXPECT_EQ(cancelling.seen.size(), at);
    }
}

// A statement longer than many chunks (a comment of 300 KB here) has its
// progress reported as it is read, at least every kelWatchChunks chunks of
// input, whether the file is read through the buffer or mapped.
TEST(KelLoad, ProgressGoesOnWithinAStatementLongerThanManyChunks) {
    TempDir dir;
    std::string text = std::string(kTriangle) + "#" + std::string(300000, 'x') + "\nf 1 2 3\n";
    std::string path = dir.write("m.obj", text);
    const size_t chunk = 1024;
    for (int map : {0, 1}) {
        Calls calls;
        KelReadOptions options = {};
        options.threads = 1;
        options.mapInput = map;
        options.progress = record;
        options.user = &calls;
        KelModel* m = kelLoadOBJChunks(path.c_str(), chunk, &options, nullptr);
        ASSERT_NE(m, nullptr);
        kelDelete(m);
        unsigned long long before = 0;
        for (const auto& [done, total] : calls.seen) {
            EXPECT_LE(done - before, kelWatchChunks * chunk) << map;
            before = done;
        }
        EXPECT_EQ(before, text.size());
    }
}

// A file changed between the passes (here by the library callback, which
// runs once the first pass has counted) fails as changed, whatever changed.
TEST(KelLoad, AFileChangedBetweenThePassesFails) {
    TempDir dir;
    struct Change {
        std::string path, text;
    } change;
    const std::string before = "mtllib m.mtl\n" + std::string(kTriangle) + "f 1 2 3\nf 1 2 3\n";
    const std::string changes[] = {
        "mtllib m.mtl\n" + std::string(kTriangle) + "f 1 2 3\n# 1 2 3\n",  // a face fewer
        "mtllib m.mtl\n" + std::string(kTriangle) + "f 1 2 3\nv 1 2 3\n",  // a vertex more
        "mtllib m.mtl\n" + std::string(kTriangle) + "g 1 2 3\nf 1 2 3\n",  // a group the first pass did not see
    };
    for (const std::string& after : changes) {
        change = {dir.write("m.obj", before), after};
        KelReadOptions options = {};
        options.threads = 2;
        options.user = &change;
        options.library = [](void* user, const char*, size_t* size) -> const void* {
            const Change* c = static_cast<const Change*>(user);
            FILE* f = fopen(c->path.c_str(), "r+b");  // in place, the same size
            fwrite(c->text.data(), 1, c->text.size(), f);
            fclose(f);
            static const char mtl[] = "newmtl red\n";
            *size = sizeof mtl - 1;
            return mtl;
        };
        KelError error;
        EXPECT_EQ(kelLoadOBJChunks(change.path.c_str(), 16, &options, &error), nullptr) << after;
        EXPECT_EQ(errorText(error),
                  "6 line 0: kelReadOBJ() failed: \"" + change.path + "\" changed while it was read.");
    }
}

const void* serveLibrary(void* user, const char* name, size_t* size) {
    const std::string* text = static_cast<const std::string*>(user);
    if (std::string(name) != "lib.mtl") return nullptr;
    *size = text->size();
    return text->data();
}

TEST(KelLoad, MemoryLoadsFindTheirLibraryBesideTheNameOrThroughTheCallback) {
    TempDir dir;
    dir.write("lib.mtl", "newmtl red\nKd 1 0 0\n");
    std::string obj = std::string(kTriangle) + "mtllib lib.mtl\nusemtl red\nf 1 2 3\n";
    KelError error;
    KelModel* m = kelLoadOBJFromMemory(obj.data(), obj.size(), dir.path("m.obj").c_str(), nullptr, &error);
    ASSERT_NE(m, nullptr) << errorText(error);
    EXPECT_EQ(m->materials[1].diffuse[1], 0.0f);
    EXPECT_EQ(std::string(m->pathname), dir.path("m.obj"));
    kelDelete(m);

    std::string served = "newmtl red\nKd 0 1 0\n";
    KelReadOptions options = {};
    options.library = serveLibrary;
    options.user = &served;
    m = kelLoadOBJFromMemory(obj.data(), obj.size(), "archive/m.obj", &options, &error);
    ASSERT_NE(m, nullptr) << errorText(error);
    EXPECT_EQ(m->materials[1].diffuse[1], 1.0f);
    kelDelete(m);

    std::string other = std::string(kTriangle) + "mtllib other.mtl\nf 1 2 3\n";
    EXPECT_EQ(kelLoadOBJFromMemory(other.data(), other.size(), "archive/m.obj", &options, &error), nullptr);
    EXPECT_EQ(errorText(error), "2 line 4: kelReadMTL() failed: can't open material file \"archive/other.mtl\".");
    m = kelLoadOBJFromMemory(nullptr, 0, "empty.obj", nullptr, &error);  // no bytes: an empty model
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->numvertices, 0u);
    kelDelete(m);
}

TEST(KelLoad, AnOptionalLibraryThatIsMissingLeavesOnlyTheDefaultMaterial) {
    TempDir dir;
    std::string path = dir.write("m.obj", std::string(kTriangle) + "mtllib gone.mtl\ng a\nusemtl red\nf 1 2 3\n");
    KelReadOptions options = {};
    options.optionalLibrary = 1;
    testing::internal::CaptureStdout();
    KelError error;
    KelModel* m = kelLoadOBJ(path.c_str(), &options, &error);
    std::string out = testing::internal::GetCapturedStdout();
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(error.code, KEL_OK);
    EXPECT_EQ(out, "kelReadOBJ() warning: kelReadMTL() failed: can't open material file \"" + dir.path("gone.mtl") +
                       "\".; every material is \"default\".\n");
    ASSERT_EQ(m->nummaterials, 1u);
    EXPECT_STREQ(m->materials[0].name, "default");
    EXPECT_EQ(m->groups->material, 0u);
    kelDelete(m);
}

TEST(KelLoad, LoadsInSeveralThreadsGiveTheModelsOfSerialLoads) {
    TempDir dir;
    dir.write("m.mtl", "newmtl red\nKd 1 0 0\nnewmtl blue\nKd 0 0 1\n");
    std::vector<std::string> paths;
    for (int f = 0; f < 4; f++) {
        std::string text = "mtllib m.mtl\n";
        for (int i = 0; i < 200 + 50 * f; i++)
            text += "v " + std::to_string(i * 0.25 + f) + " " + std::to_string(-i) + " 0.5\n";
        for (int i = 1; i + 2 < 200; i++)
            text += (i % 40 == 0 ? "g g" + std::to_string(i) + "\nusemtl " + (i % 80 ? "red" : "blue") + "\n" : "") +
                    "f " + std::to_string(i) + " " + std::to_string(i + 1) + " -" + std::to_string(1 + f) + "\n";
        paths.push_back(dir.write("m" + std::to_string(f) + ".obj", text));
    }
    std::vector<KelModel*> serial;
    for (const std::string& p : paths) serial.push_back(kelLoadOBJChunks(p.c_str(), 256, nullptr, nullptr));
    std::vector<std::thread> threads;
    std::vector<int> mismatches(paths.size());
    for (size_t t = 0; t < paths.size(); t++)
        threads.emplace_back([&, t] {
            for (int round = 0; round < 10; round++) {
                KelModel* m = kelLoadOBJChunks(paths[t].c_str(), 256, nullptr, nullptr);
                if (!m || m->numtriangles != serial[t]->numtriangles ||
                    memcmp(m->triangles, serial[t]->triangles, m->numtriangles * sizeof(KelTriangle)) != 0 ||
                    memcmp(m->vertices, serial[t]->vertices, 3 * (m->numvertices + 1) * sizeof(float)) != 0)
                    mismatches[t]++;
                if (m) kelDelete(m);
            }
        });
    for (std::thread& t : threads) t.join();
    for (size_t t = 0; t < paths.size(); t++) {
        EXPECT_EQ(mismatches[t], 0) << paths[t];
        kelDelete(serial[t]);
    }
}

TEST(KelSave, FailuresAreReturnedAndKeepTheOldFile) {
    TempDir dir;
    KelModel* m = kelLoadOBJFromMemory(kTriangle, sizeof kTriangle - 1, "t.obj", nullptr, nullptr);
    ASSERT_NE(m, nullptr);
    KelError error;
    // A write that fails after the open: the disk is full.
    EXPECT_EQ(kelSaveOBJ(m, "/dev/full", KEL_NONE, &error), KEL_ERROR_IO);
    EXPECT_STREQ(error.message, "kelWriteOBJ() failed: can't write file \"/dev/full\".");
    EXPECT_EQ(error.systemError, ENOSPC);
    std::string missing = dir.path("missing/m.obj");
    EXPECT_EQ(kelSaveOBJ(m, missing.c_str(), KEL_NONE, &error), KEL_ERROR_OPEN);
    EXPECT_EQ(error.systemError, ENOENT);
    EXPECT_EQ(std::string(error.message), "kelWriteOBJ() failed: can't open file \"" + missing + "\" to write.");
    std::string keep = dir.write("keep.obj", "old");
    auto cancel = [](void*, unsigned long long, unsigned long long) { return 1; };
    EXPECT_EQ(kelSaveOBJWithProgress(m, keep.c_str(), KEL_NONE, cancel, nullptr, &error), KEL_ERROR_CANCELLED);
    EXPECT_EQ(readFile(keep), "old");
    EXPECT_EQ(kelSaveOBJ(m, keep.c_str(), KEL_NONE, nullptr), KEL_OK);
    EXPECT_NE(readFile(keep), "old");
    kelDelete(m);
}

}  // namespace
