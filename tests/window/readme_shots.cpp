// The README's pictures, made with the tests' own screen grabs when
// ORVANDEL_SHOTS_DIR names the directory to write them to (see
// tools/readme-shots.sh). Not part of the test run.
#include "harness.h"

#include <cstdlib>

namespace {

class ReadmeShots : public RealWindow {
  protected:
    void SetUp() override {
        const char* out = std::getenv("ORVANDEL_SHOTS_DIR");
        if (!out || !*out) GTEST_SKIP() << "ORVANDEL_SHOTS_DIR names no directory";
        shots = out;
        fs::create_directories(shots);
        RealWindow::SetUp();
        if (HasFatalFailure()) return;
        // The whole window on the screen (it opens at (-1, -1)).
        xdotool({"windowmove", "--sync", std::to_string(win), "0", "0"});
    }

    void save(const char* name, const Rect* r = nullptr) {
        const fs::path path = shots / name;
        EXPECT_TRUE(savePng(path, r)) << path;
        std::cout << path.string() << "\n";
    }

    fs::path shots;
};

TEST_F(ReadmeShots, SceneAndShipDrawModes) {
    const Grab wire = settledGrab();
    const Rect ship = wire.part(0.28, 0.72, 0.72, 0.97);
    save("ship-wireframe.png", &ship);

    // A few seconds of motion: the planets come out from behind the Sun.
    keys({"space"});
    sleepMs(3000);
    keys({"space"});
    settledGrab();
    save("scene.png");

    // The draw modes in the order "m" reaches them: with materials, lines
    // again, plain grey.
    keys({"m"});
    Grab g = settledGrab();
    ASSERT_TRUE(materialShip(g));
    save("ship-material.png", &ship);
    keys("m", 2);
    g = settledGrab();
    ASSERT_TRUE(smoothShip(g));
    save("ship-smooth.png", &ship);
}

}  // namespace
