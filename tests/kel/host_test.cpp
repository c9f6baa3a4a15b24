// What a host process meets when it embeds the reader: files that change
// while they are read, input that never ends, a limit on the input, the
// messages a load would print handed to the host, the system's reasons in
// errors, and strict reading.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "kel/kel_internal.h"
#include "kel_files.h"

namespace {

std::string errorText(const KelError& e) {
    return std::to_string(e.code) + " line " + std::to_string(e.line) + ": " + e.message;
}

// An OBJ text of about `bytes` bytes: a strip of triangles over a grid, in
// groups, with normals.
std::string gridObj(size_t bytes) {
    std::string text = "vn 0 0 1\n";
    unsigned rows = 0;
    while (text.size() < bytes / 2) {
        for (int x = 0; x < 100; x++) text += "v " + std::to_string(x) + " " + std::to_string(rows) + " 0.125\n";
        rows++;
    }
    for (unsigned r = 0; r + 1 < rows; r++) {
        text += "g row" + std::to_string(r % 7) + "\n";
        for (unsigned x = 1; x < 100; x++) {
            unsigned a = r * 100 + x, b = a + 100;
            text += "f " + std::to_string(a) + "//1 " + std::to_string(a + 1) + "//1 " + std::to_string(b) + "//1\n";
        }
    }
    return text;
}

TEST(KelHost, AFileRewrittenAndCutWhileItIsReadGivesAModelOrAnError) {
    TempDir dir;
    const std::string whole = gridObj(size_t(1) << 20);
    std::string path = dir.write("hot.obj", whole);
    pid_t parent = getpid();
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // An exporter that rewrites the file in place, cutting it short
        // first, again and again, for as long as the test runs (also when
        // it dies).
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        for (size_t round = 0; getppid() == parent; round++) {
            int fd = open(path.c_str(), O_WRONLY);
            if (fd < 0) _exit(1);
            if (ftruncate(fd, off_t(round % 3 == 0 ? 0 : whole.size() / (2 + round % 5))) != 0) _exit(1);
            usleep(200);
            size_t written = 0;
            while (written < whole.size()) {
                ssize_t n = pwrite(fd, whole.data() + written, whole.size() - written, off_t(written));
                if (n <= 0) _exit(1);
                written += size_t(n);
            }
            close(fd);
            usleep(200);
        }
        _exit(0);
    }
    int models = 0, errors = 0;
    for (int i = 0; i < 300; i++) {
        KelError error;
        KelModel* m = kelLoadOBJ(path.c_str(), nullptr, &error);
        if (m) {
            models++;
            EXPECT_EQ(error.code, KEL_OK);
            kelDelete(m);
        } else {
            errors++;
            EXPECT_NE(error.code, KEL_OK);
            EXPECT_NE(error.message[0], '\0');
        }
    }
    kill(child, SIGKILL);
    int status;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status)) << "the rewriting process stopped early";
    EXPECT_EQ(models + errors, 300);
}

// Progress calls seen by a callback that cancels once `cancelFrom` bytes
// are done.
struct Watcher {
    unsigned long long cancelFrom;
    std::vector<std::pair<unsigned long long, unsigned long long>> seen;
    size_t cancelledAt = 0;  // calls seen when it first cancelled; 0 while it has not
};

int watch(void* user, unsigned long long done, unsigned long long total) {
    Watcher* w = static_cast<Watcher*>(user);
    w->seen.push_back({done, total});
    if (done < w->cancelFrom) return 0;
    if (!w->cancelledAt) w->cancelledAt = w->seen.size();
    return 1;
}

// Loads `path` with progress cancelling from `cancelFrom` bytes and the
// input limited to `maxInput`; the error code, with the calls checked:
// every 16 MiB at least, none after the cancelling one.
int loadWatched(const std::string& path, unsigned long long cancelFrom, unsigned long long maxInput, unsigned threads,
                Watcher* w) {
    w->cancelFrom = cancelFrom;
    KelReadOptions options = {};
    options.progress = watch;
    options.user = w;
    options.maxInput = maxInput;
    options.threads = threads;
    KelError error;
    KelModel* m = kelLoadOBJ(path.c_str(), &options, &error);
    if (m) kelDelete(m);
    const unsigned long long step = 16ull << 20;
    unsigned long long last = 0;
    for (const auto& call : w->seen) {
        EXPECT_LE(call.first, last + step) << path;
        EXPECT_GE(call.first, last) << path;
        last = call.first;
    }
    if (w->cancelledAt) {
        EXPECT_EQ(w->cancelledAt, w->seen.size()) << path << ": called again after it cancelled";
    }
    return error.code;
}

TEST(KelHost, EndlessInputCanBeCancelledOrLimited) {
    // /dev/zero: one statement that never ends.
    Watcher zero;
    EXPECT_EQ(loadWatched("/dev/zero", 40ull << 20, 0, 1, &zero), KEL_ERROR_CANCELLED);
    ASSERT_FALSE(zero.seen.empty());
    EXPECT_LT(zero.seen.back().first, 80ull << 20);
    Watcher limited;
    EXPECT_EQ(loadWatched("/dev/zero", ~0ull, 5ull << 20, 0, &limited), KEL_ERROR_LIMIT);

    // A pipe that a writer fills with statements for as long as it is read.
    signal(SIGPIPE, SIG_IGN);
    for (int limit : {0, 1}) {
        int ends[2];
        ASSERT_EQ(pipe(ends), 0);
        std::thread writer([fd = ends[1]] {
            std::string lines;
            for (int i = 0; i < 1000; i++) lines += "v 1 2 3\nvn 0 0 1\n# more to come\n";
            while (write(fd, lines.data(), lines.size()) > 0) {
            }
            close(fd);
        });
        Watcher piped;
        std::string path = "/proc/self/fd/" + std::to_string(ends[0]);
        EXPECT_EQ(loadWatched(path, limit ? ~0ull : 20ull << 20, limit ? 3ull << 20 : 0, 0, &piped),
                  limit ? KEL_ERROR_LIMIT : KEL_ERROR_CANCELLED);
        close(ends[0]);
        writer.join();
    }
}

TEST(KelHost, TheLimitCountsTheWholeInput) {
    TempDir dir;
    std::string text = gridObj(100000);
    std::string path = dir.write("m.obj", text);
    for (unsigned threads : {1u, 2u}) {
        KelReadOptions options = {};
        options.threads = threads;
        options.maxInput = text.size();
        KelError error;
        KelModel* m = kelLoadOBJ(path.c_str(), &options, &error);
        ASSERT_NE(m, nullptr) << errorText(error);
        kelDelete(m);
        options.maxInput = text.size() - 1;
        EXPECT_EQ(kelLoadOBJ(path.c_str(), &options, &error), nullptr);
        EXPECT_EQ(error.code, KEL_ERROR_LIMIT) << errorText(error);
        EXPECT_NE(std::string(error.message).find(path), std::string::npos) << error.message;
        EXPECT_EQ(kelLoadOBJFromMemory(text.data(), text.size(), "m.obj", &options, &error), nullptr);
        EXPECT_EQ(error.code, KEL_ERROR_LIMIT) << errorText(error);
    }
}

struct Heard {
    std::vector<std::pair<unsigned long, std::string>> messages;
};

void hear(void* user, unsigned long line, const char* message) {
    static_cast<Heard*>(user)->messages.push_back({line, message});
}

TEST(KelHost, WarningsGoToTheCallbackAndNothingToTheStandardStreams) {
    TempDir dir;
    dir.write("lib.mtl", "newmtl red\nKd 1 0 0\n");
    std::string known = dir.write("known.obj",
                                  "mtllib lib.mtl\nv 0 0 0\nv 1 0 0\nv 0 1 0\n"
                                  "usemtl red\nf 1 2 3\n\nusemtl blue\nf 1 2 3\nusemtl green\n");
    std::string lost = dir.write("lost.obj", "v 0 0 0\n# a library that is not there\nmtllib gone.mtl\nf 1 1 1\n");
    const struct {
        std::string path;
        std::vector<std::pair<unsigned long, std::string>> heard;
    } cases[] = {
        {known,
         {{8, "kelFindMaterial():  can't find material \"blue\"."},
          {10, "kelFindMaterial():  can't find material \"green\"."}}},
        {lost,
         {{3, "kelReadOBJ() warning: kelReadMTL() failed: can't open material file \"" + dir.path("gone.mtl") +
                  "\".; every material is \"default\"."}}},
    };
    for (const auto& c : cases)
        for (unsigned threads : {1u, 3u}) {
            Heard heard;
            KelReadOptions options = {};
            options.threads = threads;
            options.optionalLibrary = 1;
            options.warning = hear;
            options.user = &heard;
            testing::internal::CaptureStdout();
            testing::internal::CaptureStderr();
            KelError error;
            KelModel* m = kelLoadOBJ(c.path.c_str(), &options, &error);
            std::string out = testing::internal::GetCapturedStdout() + testing::internal::GetCapturedStderr();
            ASSERT_NE(m, nullptr) << errorText(error);
            kelDelete(m);
            EXPECT_EQ(out, "") << c.path;
            EXPECT_EQ(heard.messages, c.heard) << c.path << " on " << threads << " threads";
        }
}

// What the message handler heard, with the user pointer each message came
// with.
struct Messages {
    std::vector<std::string> texts;
    std::vector<const void*> users;
};

void heardMessage(void* user, const char* message) {
    static_cast<Messages*>(user)->texts.push_back(message);
    static_cast<Messages*>(user)->users.push_back(user);
}

TEST(KelHost, MessagesOutsideLoadsAndSavesGoToTheHandler) {
    // No normals, texture coordinates or facet normals, no materials, and a
    // vertex no triangle uses.
    const char text[] = "v 0 0 0\nv 1 0 0\nv 0 1 0\nv 5 5 5\nf 1 2 3\n";
    KelModel* model = kelLoadOBJFromMemory(text, strlen(text), "h.obj", nullptr, nullptr);
    ASSERT_NE(model, nullptr);
    KelMesh* made = kelMakeMesh(model, KEL_NONE, nullptr);
    ASSERT_NE(made, nullptr);
    const struct {
        void (*call)(KelModel* m, const KelMesh* mesh);
        const char* message;
        bool toStderr;  // without a handler
    } cases[] = {
        {[](KelModel* m, const KelMesh*) { kelDraw(m, KEL_FLAT); },
         "kelDraw() warning: flat render mode requested with no facet normals defined.", false},
        {[](KelModel*, const KelMesh* mesh) { kelDrawMesh(mesh, KEL_TEXTURE); },
         "kelDrawMesh() warning: texture render mode requested with no texture coordinates defined.", false},
        {[](KelModel* m, const KelMesh*) { kelDeleteMesh(kelMakeMesh(m, KEL_SMOOTH, nullptr)); },
         "kelMakeMesh() warning: smooth render mode requested with no normals defined.", false},
        {[](KelModel* m, const KelMesh*) { kelFindMaterial(m, "steel"); },
         "kelFindMaterial():  can't find material \"steel\".", false},
        {[](KelModel* m, const KelMesh*) { kelFacetNormals(m), kelVertexNormals(m, 90); },
         "kelVertexNormals(): vertex w/o a triangle", true},
        {[](KelModel*, const KelMesh*) {
             int width, height;
             free(kelReadPPM("no-such-image.ppm", &width, &height));
         },
         "no-such-image.ppm: No such file or directory", true},
    };
    for (const auto& c : cases) {
        Messages heard;
        kelSetMessageHandler(heardMessage, &heard);
        void (*handler)(void*, const char*) = nullptr;
        void* user = nullptr;
        kelGetMessageHandler(&handler, &user);
        EXPECT_EQ(handler, heardMessage);
        EXPECT_EQ(user, &heard);
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        c.call(model, made);
        kelSetMessageHandler(nullptr, nullptr);
        EXPECT_EQ(testing::internal::GetCapturedStdout() + testing::internal::GetCapturedStderr(), "") << c.message;
        EXPECT_EQ(heard.texts, std::vector<std::string>{c.message});
        EXPECT_EQ(heard.users, std::vector<const void*>{&heard});
        // The default again: the message and a newline on its stream.
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        c.call(model, made);
        std::string out = testing::internal::GetCapturedStdout(), err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(c.toStderr ? err : out, std::string(c.message) + "\n");
        EXPECT_EQ(c.toStderr ? out : err, "");
    }
    kelDeleteMesh(made);
    kelDelete(model);
}

TEST(KelHost, TheHandlerMayChangeWhileOtherThreadsSendMessages) {
    // Threads send messages while the handler changes between two, each with
    // its own user: every message reaches one of them, with that one's user,
    // and nothing reaches stdout.
    KelModel* m = static_cast<KelModel*>(calloc(1, sizeof(KelModel)));
    // Plain function pointers, so the counts they keep are static.
    static int first, second;
    static std::atomic<unsigned> wrongUser, toFirst, toSecond;
    wrongUser = toFirst = toSecond = 0;
    void (*handlers[2])(void*, const char*) = {
        [](void* user, const char*) { user == &first ? ++toFirst : ++wrongUser; },
        [](void* user, const char*) { user == &second ? ++toSecond : ++wrongUser; }};
    testing::internal::CaptureStdout();
    kelSetMessageHandler(handlers[0], &first);
    const unsigned kThreads = 3, kMessages = 3000;
    std::vector<std::thread> threads;
    for (unsigned t = 0; t < kThreads; t++)
        threads.emplace_back([m] {
            for (unsigned i = 0; i < kMessages; i++) kelFindMaterial(m, "none");
        });
    for (unsigned i = 0; i < 20000; i++) kelSetMessageHandler(handlers[i % 2], i % 2 ? &second : &first);
    for (std::thread& t : threads) t.join();
    kelSetMessageHandler(nullptr, &first);  // a null handler keeps no user
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    void (*handler)(void*, const char*) = handlers[0];
    void* user = &first;
    kelGetMessageHandler(&handler, &user);
    EXPECT_EQ(handler, nullptr);
    EXPECT_EQ(user, nullptr);
    kelGetMessageHandler(nullptr, nullptr);
    EXPECT_EQ(wrongUser.load(), 0u);
    EXPECT_EQ(toFirst + toSecond, kThreads * kMessages);
    kelDelete(m);
}

TEST(KelHost, ErrorsCarryTheSystemsReason) {
    TempDir dir;
    std::string subdir = dir.path("sub");
    ASSERT_EQ(mkdir(subdir.c_str(), 0755), 0);
    ASSERT_EQ(mkdir(dir.path("lib.mtl").c_str(), 0755), 0);
    std::string missing = dir.path("missing.obj");
    std::string usesDirectory = dir.write("d.obj", "v 0 0 0\nmtllib lib.mtl\n");
    const struct {
        std::string path;
        int optionalLibrary;
        int code, systemError;
        std::string message;
    } cases[] = {
        {missing, 0, KEL_ERROR_OPEN, ENOENT, "kelReadOBJ() failed: can't open data file \"" + missing + "\"."},
        {subdir, 0, KEL_ERROR_OPEN, EISDIR, "kelReadOBJ() failed: can't open data file \"" + subdir + "\"."},
        {usesDirectory, 0, KEL_ERROR_LIBRARY, EISDIR,
         "kelReadMTL() failed: can't open material file \"" + dir.path("lib.mtl") + "\"."},
        {usesDirectory, 1, KEL_OK, 0, ""},
    };
    for (const auto& c : cases) {
        KelReadOptions options = {};
        options.optionalLibrary = c.optionalLibrary;
        options.warning = [](void*, unsigned long, const char*) {};
        KelError error;
        KelModel* m = kelLoadOBJ(c.path.c_str(), &options, &error);
        EXPECT_EQ(m != nullptr, c.code == KEL_OK) << c.path;
        if (m) kelDelete(m);
        EXPECT_EQ(error.code, c.code) << errorText(error);
        EXPECT_EQ(error.systemError, c.systemError) << c.path << ": " << strerror(error.systemError);
        EXPECT_EQ(error.message, c.message);
    }
    if (geteuid() != 0) {  // root reads any file
        std::string locked = dir.write("locked.obj", "v 0 0 0\n");
        chmod(locked.c_str(), 0);
        KelError error;
        EXPECT_EQ(kelLoadOBJ(locked.c_str(), nullptr, &error), nullptr);
        EXPECT_EQ(error.code, KEL_ERROR_OPEN);
        EXPECT_EQ(error.systemError, EACCES);
    }
}

TEST(KelHost, AMemoryLoadWithoutANameLooksNothingUpOnDisk) {
    TempDir dir;
    dir.write("lib.mtl", "newmtl red\n");
    std::string here = dir.dir;
    char before[4096];
    ASSERT_NE(getcwd(before, sizeof before), nullptr);
    ASSERT_EQ(chdir(here.c_str()), 0);  // a lookup beside a null name would look here
    const char text[] = "v 0 0 0\nmtllib lib.mtl\nf 1 1 1\n";
    KelError error;
    KelModel* m = kelLoadOBJFromMemory(text, sizeof text - 1, nullptr, nullptr, &error);
    EXPECT_EQ(m, nullptr);
    EXPECT_EQ(errorText(error), "2 line 2: kelReadMTL() failed: can't open material file \"lib.mtl\".");
    const char bad[] = "v 0 0 0\nvx 1\n";
    EXPECT_EQ(kelLoadOBJFromMemory(bad, sizeof bad - 1, nullptr, nullptr, &error), nullptr);
    EXPECT_EQ(error.code, KEL_ERROR_STATEMENT);
    const char noVertex[] = "f 1 2 3\n";
    EXPECT_EQ(kelLoadOBJFromMemory(noVertex, sizeof noVertex - 1, nullptr, nullptr, &error), nullptr);
    EXPECT_EQ(errorText(error), "3 line 1: kelReadOBJ() failed: vertex index 1 out of range in \"<memory>\" line 1.");
    m = kelLoadOBJFromMemory(text, 8, nullptr, nullptr, &error);
    ASSERT_NE(m, nullptr) << errorText(error);
    EXPECT_STREQ(m->pathname, "<memory>");
    kelDelete(m);
    ASSERT_EQ(chdir(before), 0);
}

// Strict reading: each case fails with KEL_ERROR_SYNTAX at its line, with a
// message that holds `problem`, and loads leniently without it.
TEST(KelHost, StrictReadingRefusesWhatTheFormatDoesNotAllow) {
    TempDir dir;
    const std::string tri = "v 0 0 0\nv 1 0 0\nv 0 1 0\n";
    const struct {
        std::string text;
        unsigned long line;
        std::string problem;
    } cases[] = {
        {tri + "f 1 2\n", 4, "a face needs three references"},
        {tri + "f 1 2 3\rf 1 2\r", 5, "a face needs three references"},            // a lone '\r' ends a line
        {tri + "f 1 \\\n2 3\nf 1 \\\r\n2\n", 6, "a face needs three references"},  // joined lines
        {tri + "f 1 2 3\nl 1\n", 5, "a line needs two references"},
        {tri + "f 1 2 x\n", 4, "\"x\" is not a reference"},
        {tri + "f 1 2 3/\n", 4, "\"3/\" is not a reference"},
        {tri + "f 1 2 3.5\n", 4, "\"3.5\" is not a reference"},
        {"v abc 0 0\n", 1, "\"abc\" is not a number"},
        {"v 1 2\n", 1, "v takes 3, 4 or 6 numbers, not 2"},
        {"v 1 2 3 4 5\n", 1, "v takes 3, 4 or 6 numbers, not 5"},
        {"v 1 2 3 0.5 0.5 0.5 7\n", 1, "v takes 3, 4 or 6 numbers, not 7"},
        {"vn 0 0\n", 1, "vn takes 3 numbers, not 2"},
        {"vn 0 0 1 1\n", 1, "vn takes 3 numbers, not 4"},
        {"vt\n", 1, "vt takes 1 to 3 numbers, not 0"},
        {"vt 0 0 0 0\n", 1, "vt takes 1 to 3 numbers, not 4"},
        {"vt 0 1e\n", 1, "\"1e\" is not a number"},
        {tri + "vt 0 0\nf 1/1 2 3\n", 5, "the references of a face mix forms"},
        {tri + "vn 0 0 1\nf 1//1 2//1 3/1/1\n", 5, "the references of a face mix forms"},
        {tri + "f 1 2 3\n\nf 1/1/1 2/2/2 3/3/3\n", 6, "texture coordinate index in a file without texture coordinates"},
        {tri + "vt 0 0\nf 1//1 2//1 3//1\n", 5, "normal index in a file without normals"},
        {tri + "f 1 2 3\nfoo 1 2\n", 5, "unknown keyword \"foo\""},
        {tri + "3 4 5\n", 4, "unknown keyword \"3\""},
        {tri + std::string("f 1 2 3\0\n", 9), 4, "NUL byte"},
        {std::string("\x7f"
                     "ELF\x02\x01\x01\0\0\0",
                     10),
         1, "NUL byte"},
    };
    for (const auto& c : cases) {
        std::string path = dir.write("strict.obj", c.text);
        for (unsigned threads : {1u, 2u})
            for (size_t chunk : {size_t(7), kelChunkSize}) {
                KelReadOptions options = {};
                options.threads = threads;
                KelError error;
                KelModel* m = kelLoadOBJChunks(path.c_str(), chunk, &options, &error);
                EXPECT_NE(m, nullptr) << c.text << errorText(error);
                if (m) kelDelete(m);
                options.strict = 1;
                EXPECT_EQ(kelLoadOBJChunks(path.c_str(), chunk, &options, &error), nullptr) << c.text;
                EXPECT_EQ(error.code, KEL_ERROR_SYNTAX) << c.text << errorText(error);
                EXPECT_EQ(error.line, c.line) << c.text << errorText(error);
                EXPECT_EQ(std::string(error.message), "kelReadOBJ() failed: " + c.problem + " in \"" + path +
                                                          "\" line " + std::to_string(c.line) + ".")
                    << c.text;
            }
    }
}

TEST(KelHost, StrictReadingTakesWhatTheFormatAllows) {
    TempDir dir;
    dir.write("lib.mtl", "newmtl red\nKd 1 0 0.5\nNs 10\n");
    std::string text =
        "# every statement kel reads, in each form the format allows\n"
        "mtllib lib.mtl\n"
        "o ship\n"
        "v 0 0 0\nv 1 0 0 1\nv 0 1 0 0.5 0.5 0.5\nv -1 -1e-3 +2.5E2  # a comment after the numbers\n"
        "vt 0\nvt 0 1\nvt 0 1 0\n"
        "vn 0 0 1\nvn 0 0 -1\nvn 1 0 0\n"
        "g hull\nusemtl red\ns 1\n"
        "f 1 2 3\nf 1/1 2/2 3/3\nf 1//1 2//2 3//3\nf 1/1/1 2/2/2 3/3/3 4/3/2\nf -1 -2 -3\n"
        "l 1 2\nl 1/1 2/2 3/3\np 1 2\r"     // a lone '\r' ends a line
        "f 1/1 2/2 \\\n  3/3 4/3 \\\r\n\n"  // a line a backslash joins to the next
        "s off\n\n"
        "cstype bezier\ndeg 3\ncurv 0 1 1 2 3 4\nparm u 0 1\nend\nsurf 0 1 0 1 1 2 3 4\n"
        "con 1 0 1 1 2 0 1 1\nmg 1 0.5\nlod 3\nusemap tex\nmaplib maps.mpc\n"
        "bevel on\nc_interp off\nd_interp off\nshadow_obj s.obj\ntrace_obj t.obj\nctech cparm 1\nstech cparma 1 1\n"
        "call other.obj\ncsh ls\nbmat u 1 0 0 1\nstep 1\ntrim 0 1 1\nhole 0 1 1\nscrv 0 1 1\nsp 1\ncurv2 1 2\n";
    std::string path = dir.write("good.obj", text);
    for (unsigned threads : {1u, 2u}) {
        KelReadOptions options = {};
        options.threads = threads;
        options.strict = 1;
        KelError error;
        KelModel* m = kelLoadOBJChunks(path.c_str(), 16, &options, &error);
        ASSERT_NE(m, nullptr) << errorText(error);
        EXPECT_EQ(m->numvertices, 4u);
        EXPECT_EQ(m->numtriangles, 8u);
        EXPECT_FLOAT_EQ(m->vertices[3 * 4 + 2], 250.0f);
        kelDelete(m);
    }

    // In the library, strict reading refuses a number that does not parse.
    dir.write("lib.mtl", "newmtl red\nKd 1 0 0.5\nNs ten\n");
    KelReadOptions options = {};
    options.strict = 1;
    KelError error;
    EXPECT_EQ(kelLoadOBJ(path.c_str(), &options, &error), nullptr);
    EXPECT_EQ(errorText(error),
              "10 line 2: kelReadMTL() failed: \"ten\" is not a number in \"" + dir.path("lib.mtl") + "\" line 3.");
    options.strict = 0;
    KelModel* m = kelLoadOBJ(path.c_str(), &options, &error);
    ASSERT_NE(m, nullptr) << errorText(error);
    kelDelete(m);
}

}  // namespace
