// The keys that move, turn and zoom the view, judged by where the Sun and the
// ship stand on the screen afterwards.
#include "harness.h"

#include <cstdlib>
#include <vector>

namespace {

// A key, the key that undoes it, the least shift of the Sun's centre
// (pixels; the sign gives the direction, 0: at most a few pixels either way)
// and growth of its height it must cause, and whether it moves the eye
// forward or back (a reshape undoes that, so the picture cannot be settled
// through the box view).
struct Move {
    const char* key;
    const char* back;
    double dx, dy, grow;
    bool forward;
};

// Whether `now` is off `then` by at least `want` in its direction, or by at
// most 3 when `want` is 0.
bool shifted(double then, double now, double want) {
    const double d = now - then;
    return want > 0 ? d >= want : want < 0 ? d <= want : std::abs(d) <= 3;
}

// How far the drawn pixels of box `b` are from mirror symmetry about the
// box's middle column: 0 for a symmetric picture, up to 1. Compared column
// by column (counts of drawn pixels), so a shift by part of a pixel hardly
// matters.
double asymmetry(const Grab& g, const Box& b) {
    std::vector<int> column(size_t(b.width()), 0);
    for (int x = b.x0; x <= b.x1; ++x)
        for (int y = b.y0; y <= b.y1; ++y) column[size_t(x - b.x0)] += drawn(g.at(x, y));
    int unmatched = 0, total = 0;
    for (size_t i = 0, j = column.size() - 1; i < column.size(); ++i, --j) {
        unmatched += std::abs(column[i] - column[j]);
        total += column[i] + column[j];
    }
    return total ? double(unmatched) / total : 0;
}

class Movement : public RealWindow {
  protected:
    // Presses `m.key` `times` times and checks that the Sun has moved as `m`
    // says; returns the picture then.
    Grab press(const Move& m, int times, const Grab& start) {
        const Box sun0 = start.sun();
        const auto moved = [&](const Grab& g) {
            const Box sun = g.sun();
            return shifted(sun0.cx(), sun.cx(), m.dx) && shifted(sun0.cy(), sun.cy(), m.dy) &&
                   shifted(sun0.height(), sun.height(), m.grow);
        };
        keys(m.key, times);
        if (m.forward) waitFor([&] { return moved(grab()); }, 10);
        const Grab now = m.forward ? stableGrab() : settledGrab();
        EXPECT_TRUE(moved(now)) << "the Sun " << sun0 << " became " << now.sun();
        return now;
    }

    // Presses `m.back` `times` times and waits for `start` again, up to the
    // rounding of the camera values.
    void undo(const Move& m, int times, const Grab& start) {
        keys(m.back, times);
        EXPECT_TRUE(waitFor([&] { return grab().changes(start, start.all()).count < 100; }, 10))
            << "not back after " << m.back << ": " << difference(start, grab());
    }
};

TEST_F(Movement, ArrowsAndQWSlideTheBodiesPastWhileTheShipKeepsItsPlace) {
    const Move moves[] = {
        {"Left", "Right", 10, 0, 0, false},  // the camera goes left: the bodies pass to the right
        {"Right", "Left", -10, 0, 0, false}, {"Up", "Down", 0, 0, 5, true},  // forward: the Sun grows
        {"Down", "Up", 0, 0, -5, true},      {"q", "w", 0, -10, 0, false},   // down: the bodies rise
        {"w", "q", 0, 10, 0, false},
    };
    const Grab start = settledGrab();
    const Box ship = start.find(shipArea(start), drawn);
    for (const Move& m : moves) {
        SCOPED_TRACE(m.key);
        const Grab now = press(m, 6, start);
        // The ship moved with the camera: each of its pixels is still there,
        // but a few that rounding moves (the Sun may show in its gaps).
        int moved = 0;
        for (int y = ship.y0; y <= ship.y1; ++y)
            for (int x = ship.x0; x <= ship.x1; ++x) moved += drawn(start.at(x, y)) && now.at(x, y) != start.at(x, y);
        EXPECT_LT(moved, 30) << "of the ship " << ship;
        undo(m, 6, start);
    }
}

TEST_F(Movement, TurningKeysSwingTheViewAndTurnTheShip) {
    const Grab start = settledGrab();
    // The ship: whatever is drawn below the Sun. Seen from straight behind
    // at first, so mirror symmetric.
    const auto ship = [](const Grab& g) { return g.find({0, g.sun().y1 + 3, g.width, g.height}, drawn); };
    const Box ship0 = ship(start);
    ASSERT_LT(asymmetry(start, ship0), 0.08) << ship0;

    // Turning about the upright axis shows the ship from aside: lopsided.
    const Move yaws[] = {
        {"g", "j", 15, 0, 0, false},  // turns left: the Sun swings to the right
        {"j", "g", -15, 0, 0, false},
    };
    for (const Move& m : yaws) {
        SCOPED_TRACE(m.key);
        const Grab now = press(m, 4, start);
        const Box ship1 = ship(now);
        EXPECT_GT(asymmetry(now, ship1), 0.15) << ship1;
        undo(m, 4, start);
    }
    // Pitching shows it from above or below: still symmetric, but its nose
    // and tail foreshortened differently, so of another height.
    const Move pitches[] = {
        {"y", "h", 0, -8, 0, false},  // noses down: the Sun rises
        {"h", "y", 0, 8, 0, false},
    };
    for (const Move& m : pitches) {
        SCOPED_TRACE(m.key);
        const Grab now = press(m, 4, start);
        const Box ship1 = ship(now);
        EXPECT_LT(asymmetry(now, ship1), 0.08) << ship1;
        EXPECT_GT(std::abs(ship1.height() - ship0.height()), 0.15 * ship0.height()) << ship0 << " became " << ship1;
        undo(m, 4, start);
    }
}

TEST_F(Movement, ZAndXZoomTheSceneAboutItsCentre) {
    const Grab start = settledGrab();
    const int h = start.sun().height();
    const Move zooms[] = {
        {"z", "x", 0, 0, 0.15 * h, true},  // the camera block moves, eyeZ too
        {"x", "z", 0, 0, -0.12 * h, true},
    };
    for (const Move& m : zooms) {
        SCOPED_TRACE(m.key);
        press(m, 2, start);
        undo(m, 2, start);
    }
}

}  // namespace
