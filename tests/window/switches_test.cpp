// The keys that switch GL state and the ship's draw mode, each judged where
// its effect shows: on the spheres, on the ship in one of its draw modes, or
// nowhere, in which case the picture must stay as it was.
#include "harness.h"

#include <algorithm>
#include <vector>

namespace {

// The brightness levels of the drawn pixels of `r`, in ascending order.
std::vector<double> drawnLevels(const Grab& g, Rect r) {
    std::vector<double> levels;
    for (int y = r.y0; y < r.y1; ++y)
        for (int x = r.x0; x < r.x1; ++x)
            if (drawn(g.at(x, y))) levels.push_back(level(g.at(x, y)));
    std::sort(levels.begin(), levels.end());
    return levels;
}

// How far apart the brightness of the drawn pixels of `r` lies: the 90th
// less the 10th percentile of their levels. Small for something drawn unlit
// in one colour, which only the fog shades a little with the distance.
double levelSpread(const Grab& g, Rect r) {
    const std::vector<double> v = drawnLevels(g, r);
    return v.empty() ? 0 : v[v.size() * 9 / 10] - v[v.size() / 10];
}

// The median brightness of the drawn pixels of `r`.
double medianLevel(const Grab& g, Rect r) {
    const std::vector<double> v = drawnLevels(g, r);
    return v.empty() ? 0 : v[v.size() / 2];
}

// Share (0..1) of side-by-side pairs of drawn pixels of `r` that have the
// same colour: higher where faces are shaded flat than smooth.
double evenShare(const Grab& g, Rect r) {
    int pairs = 0, even = 0;
    for (int y = r.y0; y < r.y1; ++y)
        for (int x = r.x0; x + 1 < r.x1; ++x)
            if (drawn(g.at(x, y)) && drawn(g.at(x + 1, y))) pairs++, even += g.at(x, y) == g.at(x + 1, y);
    return pairs ? double(even) / pairs : 0;
}

bool dark(long p) { return p >= 0 && level(p) < 60; }

class Switches : public RealWindow {
  protected:
    // Presses "m" `times` times and returns the settled picture, on which
    // `shows` must hold.
    template <typename F>
    Grab shipMode(int times, F shows) {
        keys("m", times);
        const Grab g = settledGrab();
        EXPECT_TRUE(shows(g)) << "not the draw mode expected after " << times << " times m";
        return g;
    }
    // Waits for a picture other than `before` and returns the steady one.
    Grab changedFrom(const Grab& before) {
        EXPECT_TRUE(waitFor([&] { return grab() != before; }, 10)) << "the picture did not change";
        return stableGrab();
    }
};

TEST_F(Switches, MCyclesTheShipThroughMaterialWireframeAndSmooth) {
    // Until "m" is first pressed: lines with black gaps between them.
    const Grab wire = settledGrab();
    EXPECT_GT(wire.share(fuselage(wire), [](long p) { return !drawn(p); }), 0.08);
    EXPECT_FALSE(warmNozzles(wire));

    // Then shaded and filled with its materials (warm engine nozzles), lines
    // again, shaded in plain grey, and with its materials again.
    const Grab material = shipMode(1, materialShip);
    const Grab wireAgain = shipMode(1, wireShip);
    EXPECT_GT(wireAgain.share(fuselage(wireAgain), [](long p) { return !drawn(p); }), 0.08);
    // Same lines; their colour is the last material's now.
    EXPECT_EQ(wireAgain.find(shipArea(wireAgain), drawn).rect().area(), wire.find(shipArea(wire), drawn).rect().area());
    const Grab smooth = shipMode(1, smoothShip);
    for (int side : {-1, 1}) {
        double rgb[3];
        smooth.meanColour(nozzle(smooth, side), rgb);
        EXPECT_NEAR(rgb[0], rgb[2], 15) << "nozzle " << side;
        EXPECT_GT(rgb[0], 60) << "nozzle " << side;
    }
    const Grab materialAgain = shipMode(1, materialShip);
    EXPECT_TRUE(materialAgain == material) << difference(material, materialAgain);
    // The Sun never changed.
    const Box sun = wire.sun();
    for (const Grab* g : {&material, &wireAgain, &smooth}) EXPECT_EQ(g->changes(wire, sun.rect()).count, 0);
}

TEST_F(Switches, CullingAndWindingShowTheSpheresFarSideAndOutlines) {
    const Grab start = settledGrab();
    const Box sun = start.sun();
    const Rect inside = sun.inner(0.08);

    // Culling off alone: the back faces' outlines lie behind the front faces;
    // they show at the rim, and hardly a pixel inside it. The ship's lines
    // are never culled.
    keys({"c"});
    const Grab noCull = changedFrom(start);
    EXPECT_LT(noCull.changes(start, inside).count, inside.area() / 200);
    EXPECT_EQ(noCull.changes(start, shipArea(start)).count, 0);
    EXPECT_LT(noCull.changes(start, start.all()).count, sun.count / 30);
    keys({"c"});
    ASSERT_TRUE(becomes(start)) << difference(start, grab());

    // Clockwise front faces with culling on: the near half of each sphere is
    // culled and the inside of its far half shows, as bright but another
    // picture within the same outline.
    keys({"f"});
    ASSERT_TRUE(waitFor([&] { return grab().changes(start, inside).count > inside.area() / 3; }, 10));
    const Grab farSide = stableGrab();
    const Box farSun = farSide.sun();
    EXPECT_NEAR(farSun.x0, sun.x0, 2);
    EXPECT_NEAR(farSun.x1, sun.x1, 2);
    EXPECT_NEAR(farSun.y0, sun.y0, 2);
    EXPECT_NEAR(farSun.y1, sun.y1, 2);
    EXPECT_GT(farSide.share(inside, bright), 0.8);
    EXPECT_EQ(farSide.changes(start, shipArea(start)).count, 0);

    // Culling off as well: the near half comes back as the outlines of its
    // faces (back faces are drawn as lines), a grid over the whole disc.
    keys({"c"});
    const Grab outlined = changedFrom(farSide);
    const Box lines = outlined.changes(farSide, inside);
    EXPECT_GT(lines.count, inside.area() / 100) << lines;
    EXPECT_LT(lines.count, inside.area() / 4) << lines;
    EXPECT_GT(lines.width(), 0.8 * (inside.x1 - inside.x0)) << lines;
    EXPECT_GT(lines.height(), 0.8 * (inside.y1 - inside.y0)) << lines;

    keys({"c", "f"});
    EXPECT_TRUE(becomes(start)) << difference(start, grab());
}

TEST_F(Switches, DepthTestOffLetsTheBodiesDrawnLastCoverTheShip) {
    // Zoomed out, the ship stands in front of the Sun, darker than it.
    const Grab start = settledGrab();
    keys("x", 3);
    ASSERT_TRUE(waitFor([&] { return grab().sun().height() < 0.6 * start.sun().height(); }, 10));
    const Grab zoomed = stableGrab();
    const Box sun = zoomed.sun();
    const Rect shipSpot = zoomed.part(0.44, 0.51, 0.56, 0.56);
    EXPECT_GT(zoomed.find(shipSpot, dark).count, 40);
    const Rect middle = zoomed.part(0.47, 0.44, 0.53, 0.5);
    EXPECT_GT(zoomed.share(middle, bright), 0.9);

    // The ship is drawn first, the Sun and then the planets after it: without
    // the depth test the Sun covers the ship, and the planets behind the Sun
    // show on its face.
    keys({"d"});
    ASSERT_TRUE(waitFor([&] { return grab().find(shipSpot, dark).count < 10; }, 10))
        << "the ship still shows: " << grab().find(shipSpot, dark);
    const Grab flat = stableGrab();
    EXPECT_GT(flat.changes(zoomed, middle, 30).count, middle.area() / 4);
    EXPECT_EQ(flat.sun().rect().area(), sun.rect().area());

    keys({"d"});
    EXPECT_TRUE(becomes(zoomed)) << difference(zoomed, grab());
}

TEST_F(Switches, ReshapingSwitchesTheDepthTestBackOnBehindTheKeysBack) {
    const Grab start = settledGrab();
    const Rect middle = start.part(0.47, 0.44, 0.53, 0.5);
    const auto planetsShow = [&] { return grab().changes(start, middle, 30).count > middle.area() / 4; };
    keys({"d"});
    ASSERT_TRUE(waitFor(planetsShow, 10));
    // The box view and back re-run the reshape, which enables the depth test
    // while the key's flag stays off...
    keys({"p", "p"});
    ASSERT_TRUE(becomes(start)) << difference(start, grab());
    // ...so the next "d" turns the flag on and changes nothing, and the one
    // after switches the test off again. (Seen after lighting off and on,
    // which shows on the ship's lines and leaves the depth test alone.)
    const Rect ship = shipArea(start);
    keys({"d", "l"});
    ASSERT_TRUE(waitFor([&] { return medianLevel(grab(), ship) > 120; }, 10));
    keys({"l"});
    ASSERT_TRUE(waitFor([&] { return medianLevel(grab(), ship) < 60; }, 10));
    const Grab after = stableGrab();
    EXPECT_TRUE(after == start) << difference(start, after);
    keys({"d"});
    EXPECT_TRUE(waitFor(planetsShow, 10));
}

TEST_F(Switches, LightingOffDrawsTheShipInOneFlatColour) {
    // Lit, the lines of the first picture are dim (lit from behind) and the
    // shaded ship runs from dark to bright; unlit, either is drawn in its
    // plain colour, bright, and the same all over but for the fog.
    const Grab wire = settledGrab();
    const Rect ship = shipArea(wire);
    for (bool shaded : {false, true}) {
        SCOPED_TRACE(shaded ? "smooth" : "wireframe");
        const Grab lit = shaded ? shipMode(3, smoothShip) : wire;
        if (shaded)
            EXPECT_GT(levelSpread(lit, ship), 40);
        else
            EXPECT_LT(medianLevel(lit, ship), 60);
        keys({"l"});
        const Grab unlit = changedFrom(lit);
        EXPECT_LT(levelSpread(unlit, ship), 12);
        EXPECT_GT(medianLevel(unlit, ship), 120);
        // Same outline; the textured spheres are not lit anyway.
        EXPECT_EQ(unlit.find(ship, drawn).rect().area(), lit.find(ship, drawn).rect().area());
        EXPECT_EQ(unlit.changes(lit, aboveShip(lit)).count, 0);
        keys({"l"});
        EXPECT_TRUE(becomes(lit)) << difference(lit, grab());
    }
}

TEST_F(Switches, FlatShadingGivesEachLineAndFacetOfTheShipOneColour) {
    // The lines: each in the colour of one of its ends instead of running
    // between them. Nothing else changes.
    const Grab wire = settledGrab();
    const Rect ship = shipArea(wire);
    keys({"s"});
    const Grab flatWire = changedFrom(wire);
    EXPECT_GT(flatWire.changes(wire, ship, 0).count, 100);
    EXPECT_EQ(flatWire.changes(wire, aboveShip(wire), 0).count, 0);
    keys({"s"});
    ASSERT_TRUE(becomes(wire)) << difference(wire, grab());

    // The shaded ship: facets, so neighbouring pixels share their colour
    // more often; the same outline.
    const Grab smooth = shipMode(3, smoothShip);
    keys({"s"});
    const Grab flat = changedFrom(smooth);
    const Box changed = flat.changes(smooth, ship, 3);
    EXPECT_GT(changed.count, 150) << changed;
    EXPECT_EQ(flat.changes(smooth, aboveShip(smooth)).count, 0);
    EXPECT_EQ(flat.find(ship, drawn).rect().area(), smooth.find(ship, drawn).rect().area());
    EXPECT_GT(evenShare(flat, ship), evenShare(smooth, ship) + 0.05);
    keys({"s"});
    EXPECT_TRUE(becomes(smooth)) << difference(smooth, grab());
}

TEST_F(Switches, LocalViewerMovesTheShipsHighlightsInTheMaterialMode) {
    const Grab material = shipMode(1, materialShip);
    const Rect ship = shipArea(material);
    keys({"v"});
    const Grab local = changedFrom(material);
    const Box changed = local.changes(material, ship, 3);
    EXPECT_GT(changed.count, 150) << changed;
    EXPECT_EQ(local.changes(material, aboveShip(material)).count, 0);
    EXPECT_EQ(local.find(ship, drawn).rect().area(), material.find(ship, drawn).rect().area());
    keys({"v"});
    EXPECT_TRUE(becomes(material)) << difference(material, grab());
}

TEST_F(Switches, TwoSidedLightingShowsOnlyOnBackFacesOnceCullingIsOff) {
    const Grab material = shipMode(1, materialShip);
    const Rect ship = shipArea(material);
    // With culling on no back face of the ship is drawn: nothing to light.
    expectNoChangeFrom(material, {"t"});
    keys({"t"});  // off again
    // Culling off: back faces show as outlines, lit from their own side
    // with two-sided lighting.
    keys({"c"});
    const Grab outlined = changedFrom(material);
    keys({"t"});
    const Grab twoSided = changedFrom(outlined);
    const Box changed = twoSided.changes(outlined, ship, 3);
    EXPECT_GT(changed.count, 100) << changed;
    EXPECT_EQ(twoSided.changes(outlined, aboveShip(outlined)).count, 0);
    keys({"t"});
    EXPECT_TRUE(becomes(outlined)) << difference(outlined, grab());
}

TEST_F(Switches, LightModelKeysLeaveTheFirstPictureAlone) {
    // The ship's lines at start are lit from their front side only and
    // without highlights, and the spheres are not lit at all: neither
    // two-sided lighting nor the local viewer changes a pixel.
    const Grab start = settledGrab();
    expectNoChangeFrom(start, {"t", "v"});
    expectNoChangeFrom(start, {"t", "v"});
}

}  // namespace
