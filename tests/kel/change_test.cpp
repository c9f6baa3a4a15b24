// A file that other threads rewrite and cut short while it is loaded, over
// and over, on one thread, two and as many as help: every load gives a
// model or an error, never ends the process. The loop runs for
// KEL_CHANGE_SECONDS seconds (default 2; run it for minutes by hand).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>

#include "kel/kel_internal.h"
#include "kel_files.h"

namespace {

// Two versions of a model of many small chunks: groups, materials and
// faces in different places, so that counts and group spans differ.
std::string version(int which) {
    std::string text = "mtllib m.mtl\n";
    for (int i = 0; i < 300; i++) text += "v " + std::to_string(i) + " 0 " + std::to_string(which) + "\n";
    for (int i = 0; i < 400; i++) {
        if (i % (which ? 7 : 11) == 0) text += "g part" + std::to_string(i % (which ? 5 : 3)) + "\nusemtl red\n";
        if (i % 13 == 0) text += "# " + std::string(size_t(40 + which * 30), 'c') + "\n";
        text += "f " + std::to_string(1 + i % 300) + " " + std::to_string(1 + (i + which + 1) % 300) + " " +
                std::to_string(1 + (i + 2) % 300) + (which ? "\n" : " 1\n");
    }
    return text;
}

TEST(KelChange, AFileRewrittenAndCutWhileItIsLoadedGivesAModelOrAnError) {
    TempDir dir;
    dir.write("m.mtl", "newmtl red\nKd 1 0 0\n");
    const std::string versions[2] = {version(0), version(1)};
    std::string path = dir.write("m.obj", versions[0]);
    const char* seconds = getenv("KEL_CHANGE_SECONDS");
    const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds ? atof(seconds) : 2);
    std::atomic<bool> stop{false};
    // The writer puts either version in place, from its start; the cutter
    // cuts the file at any length.
    std::thread writer([&] {
        for (unsigned n = 0; !stop; n++) {
            int fd = open(path.c_str(), O_WRONLY);
            if (fd < 0) continue;
            const std::string& text = versions[n % 2];
            for (size_t at = 0; at < text.size() && !stop;) {
                ssize_t wrote =
                    pwrite(fd, text.data() + at, text.size() - at < 4096 ? text.size() - at : 4096, off_t(at));
                if (wrote <= 0) break;
                at += size_t(wrote);
            }
            close(fd);
        }
    });
    std::thread cutter([&] {
        std::mt19937 random(7);
        while (!stop) {
            if (truncate(path.c_str(), off_t(random() % versions[1].size())) != 0) continue;
            std::this_thread::sleep_for(std::chrono::microseconds(random() % 200));
        }
    });
    unsigned loads = 0, models = 0;
    for (; std::chrono::steady_clock::now() < until; loads++) {
        KelReadOptions options = {};
        options.threads = loads % 3 == 2 ? 0 : loads % 3 + 1;
        options.strict = loads % 4 == 3;
        options.warning = [](void*, unsigned long, const char*) {};
        KelError error;
        KelModel* m = kelLoadOBJChunks(path.c_str(), loads % 5 ? 256 : 4096, &options, &error);
        if (m) {
            models++;
            // What a model holds is consistent: every face names a vertex it has.
            for (unsigned t = 0; t < m->numtriangles; t++)
                for (unsigned v : m->triangles[t].vindices) ASSERT_TRUE(v >= 1 && v <= m->numvertices) << t;
            kelDelete(m);
        } else {
            EXPECT_NE(error.code, KEL_OK);
            EXPECT_NE(error.code, KEL_ERROR_MEMORY) << error.message;
        }
    }
    stop = true;
    writer.join();
    cutter.join();
    EXPECT_GT(loads, 0u);
    std::printf("%u loads, %u models\n", loads, models);
}

}  // namespace
