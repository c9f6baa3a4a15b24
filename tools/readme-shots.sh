#!/bin/sh
# Remakes the README's pictures in docs/ with the window tests' own screen
# grabs, on a private virtual display: the scene after a few seconds of
# motion (scene.png) and the ship in each of its draw modes
# (ship-wireframe.png, ship-material.png, ship-smooth.png).
# Needs what the window tests need: Xvfb, xdotool, Xlib and libpng.
# Usage: tools/readme-shots.sh [BUILD_DIR]   (default: build-shots)
set -eu
cd "$(dirname "$0")/.."
build=${1:-build-shots}
[ -f "$build/CMakeCache.txt" ] || cmake -S . -B "$build" -G Ninja -DORVANDEL_TESTS=ON >/dev/null
cmake --build "$build" --target window_tests
ORVANDEL_SHOTS_DIR="$PWD/docs" "$build/tests/window/window_tests" --gtest_filter='ReadmeShots.*' --gtest_brief=1
