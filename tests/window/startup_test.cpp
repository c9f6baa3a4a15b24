// Starting the real program with one of its files missing or broken: a model
// it cannot use ends it before any window is made; a body image it cannot
// read is reported and the scene is drawn regardless.
#include "harness.h"

#include <fstream>

namespace {

TEST_F(RealWindow, ClosingTheWindowEndsTheProgramQuietly) {
    EXPECT_TRUE(windowMade());  // as seen by the check of the refused starts below
    EXPECT_EQ(closeWindow(), 0);
    EXPECT_EQ(out(), "");
}

struct Refusal {
    const char* name;
    void (*prepare)(const fs::path& run);
    const char* message;  // the whole standard error stream
};

void writeFile(const fs::path& path, const char* text) { std::ofstream(path, std::ios::binary) << text; }

const Refusal refusals[] = {
    {"MissingModel", [](const fs::path& run) { fs::remove(run / "data/111.obj"); },
     "kelReadOBJ() failed: can't open data file \"data/111.obj\".\n"},
    {"MissingMaterialLibrary", [](const fs::path& run) { fs::remove(run / "data/111.mtl"); },
     "kelReadMTL() failed: can't open material file \"data/111.mtl\".\n"},
    {"FaceIndexOutOfRange",
     [](const fs::path& run) {
         writeFile(run / "data/111.obj",
                   "# three vertices, a face naming a fourth\nv 0 0 0\nv 1 0 0\nv 0 1 0\n"
                   "f 1 2 3\nf 1 3 4\n");
     },
     "kelReadOBJ() failed: vertex index 4 out of range in \"data/111.obj\" line 6.\n"},
};

class RefusedStart : public Session, public ::testing::WithParamInterface<Refusal> {};

TEST_P(RefusedStart, PrintsItsMessageAndEndsWithStatus1BeforeAnyWindow) {
    GetParam().prepare(run());
    EXPECT_EQ(runToEnd(), 1);
    EXPECT_EQ(err(), GetParam().message);
    EXPECT_EQ(out(), "");
    EXPECT_FALSE(windowMade()) << "a window was made";
}

INSTANTIATE_TEST_SUITE_P(Model, RefusedStart, ::testing::ValuesIn(refusals),
                         [](const auto& p) { return std::string(p.param.name); });

// The body images under the names the program opens (CP949 bytes), from the
// table the program and the build share.
struct BodyImage {
    const char* texture;  // in textures/, "mercury.bmp": names the test
    const char* file;
};
const BodyImage bodyImages[] = {
#define BODY(texture, opened) {texture, opened},
#include "scene/bodies.def"
#undef BODY
};

class MissingImage : public Session, public ::testing::WithParamInterface<BodyImage> {};

TEST_P(MissingImage, IsReportedAndTheSceneIsDrawnRegardless) {
    const std::string file = GetParam().file;
    ASSERT_TRUE(fs::remove(run() / file)) << "no image " << file << " in the run directory";
    // The ship's lines and a round body at the centre (without its image
    // the Sun is drawn lit instead of textured).
    open([](const Grab& g) {
        return g.find(shipArea(g), drawn).count > 2000 && g.share(g.part(0.4, 0.4, 0.6, 0.6), drawn) > 0.99;
    });
    const Grab before = settledGrab();
    const Box sun = before.find(aboveShip(before), drawn);
    EXPECT_NEAR(sun.cx(), 250, 4) << sun;
    EXPECT_NEAR(sun.width(), sun.height(), 3) << sun;
    // It goes on answering the keys.
    keys({"z"});
    EXPECT_TRUE(waitFor([&] { return grab() != before; }, 10)) << "no new frame after a key";
    EXPECT_EQ(closeWindow(), 0);
    EXPECT_EQ(out(), "Could not open file '" + file + "'\n");
}

INSTANTIATE_TEST_SUITE_P(Bodies, MissingImage, ::testing::ValuesIn(bodyImages), [](const auto& p) {
    const std::string texture = p.param.texture;
    return texture.substr(0, texture.find('.'));
});

}  // namespace
