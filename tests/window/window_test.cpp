// The first picture, the animation, the box view, the mouse, the window's
// size and keys that should do nothing, judged from screen grabs.
#include "harness.h"

namespace {

TEST_F(RealWindow, StartsWithTheSunAtTheCentreOnADarkSkyAndTheShipBelow) {
    const Grab g = settledGrab();
    EXPECT_EQ(g.width, 500);
    EXPECT_EQ(g.height, 500);
    EXPECT_GT(g.brightness(0.5, 0.5, 40, 40), 100);
    for (double f : {0.05, 0.95}) {
        EXPECT_LT(g.brightness(f, 0.05, 20, 20), 30);
        EXPECT_LT(g.brightness(f, 0.95, 20, 20), 30);
    }
    // A round Sun in the middle; the ship's dim lines below it, nothing bright.
    const Box sun = g.sun();
    EXPECT_NEAR(sun.cx(), 250, 4) << sun;
    EXPECT_NEAR(sun.cy(), 250, 4) << sun;
    EXPECT_NEAR(sun.width(), sun.height(), 3) << sun;
    const Box ship = g.find(shipArea(g), drawn);
    EXPECT_GT(ship.count, 2000) << ship;
    EXPECT_NEAR(ship.cx(), 250, 6) << ship;
    EXPECT_EQ(g.find(shipArea(g), bright).count, 0);
}

TEST_F(RealWindow, SpaceMovesTheBodiesButNotTheShipAndASecondSpaceStops) {
    const Grab still = settledGrab();
    const Rect sun = still.sun().rect();
    keys({"space"});
    // The Sun turns (and planets come out from behind it).
    EXPECT_TRUE(waitFor([&] { return grab().changes(still, sun).count > 1000; }, 10)) << "the Sun did not turn";
    keys({"space"});
    const Grab stopped = settledGrab();
    sleepMs(600);
    EXPECT_TRUE(grab() == stopped) << "the picture still changes after the second space";
    // The ship stands where it stood.
    EXPECT_EQ(stopped.changes(still, shipArea(still)).count, 0);
    // A third space goes on from there.
    keys({"space"});
    EXPECT_TRUE(waitFor([&] { return grab() != stopped; }, 10));
    keys({"space"});
}

TEST_F(RealWindow, PSwitchesToTheOrthographicBoxAndBack) {
    const Grab perspective = settledGrab();
    keys({"p"});
    // The box is smaller than the Sun, which is cut open by the near and far
    // planes: its middle shows the dark sky, its rim fills the window.
    ASSERT_TRUE(waitFor([&] { return grab().brightness(0.5, 0.5, 40, 40) < 30; }, 10));
    const Grab ortho = stableGrab();
    EXPECT_GT(ortho.brightness(0.5, 0.04, 20, 10), 30);
    keys({"p"});
    EXPECT_TRUE(becomes(perspective)) << "not back to the first picture: " << difference(perspective, grab());
}

TEST_F(RealWindow, LeftDragTurnsTheSceneWithTheShipOtherButtonsDoNot) {
    const Grab before = settledGrab();
    const std::string w = std::to_string(win);
    xdotool({"mousemove", "--window", w, "250", "250", "mousedown", "1"});
    for (int i = 0; i < 5; ++i) xdotool({"mousemove_relative", "--", "20", "10"});
    xdotool({"mouseup", "1"});
    EXPECT_TRUE(waitFor([&] { return grab() != before; }, 10)) << "the drag did not turn the scene";
    const Grab turned = settledGrab();
    EXPECT_GT(turned.brightness(0.5, 0.5, 20, 20), 100);  // turned about the Sun
    // The ship is part of the scene: it swings away from its place.
    EXPECT_GT(turned.changes(before, shipArea(before)).count, 1000);

    // After the release, a right-button drag changes nothing.
    xdotool({"mousedown", "3"});
    for (int i = 0; i < 5; ++i) xdotool({"mousemove_relative", "--", "-20", "10"});
    xdotool({"mouseup", "3"});
    EXPECT_TRUE(settledGrab() == turned);
}

TEST_F(RealWindow, ResizedWindowKeepsTheWholePictureUndistorted) {
    const std::string w = std::to_string(win);
    const std::pair<int, int> sizes[] = {{320, 200}, {640, 480}, {300, 500}};
    for (auto [width, height] : sizes) {
        SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height));
        xdotool({"windowsize", "--sync", w, std::to_string(width), std::to_string(height)});
        ASSERT_TRUE(waitFor(
            [&, width = width, height = height] {
                const Grab g = grab();
                return g.width == width && g.height == height && g.brightness(0.5, 0.5, 10, 10) > 100;
            },
            10));
        const Grab g = stableGrab();
        EXPECT_LT(g.brightness(0.05, 0.05, 10, 10), 30);
        EXPECT_LT(g.brightness(0.95, 0.95, 10, 10), 30);
        // The same view scaled to the new height: a round Sun at the centre,
        // as tall against the window as before, and the ship below it.
        const Box sun = g.sun();
        EXPECT_NEAR(sun.cx(), width / 2.0, 4) << sun;
        EXPECT_NEAR(sun.cy(), height / 2.0, 4) << sun;
        EXPECT_NEAR(sun.width(), sun.height(), 3) << sun;
        EXPECT_NEAR(sun.height(), 0.416 * height, 4) << sun;
        const Box ship = g.find(shipArea(g), drawn);
        EXPECT_GT(ship.count, 2000 * height / 500 * height / 500 / 2) << ship;
        EXPECT_NEAR(ship.cx(), width / 2.0, 6) << ship;
    }
    EXPECT_TRUE(alive(app));
}

TEST_F(RealWindow, EscapeAndUnlistedKeysNeitherEndNorChangeAnything) {
    const Grab before = settledGrab();
    expectNoChangeFrom(before,
                       {"Escape", "a", "A", "Z", "M", "1", "Return", "F1", "Shift_L", "Control_L", "Home", "Escape"});
    EXPECT_TRUE(alive(app)) << out() << err();
}

}  // namespace
