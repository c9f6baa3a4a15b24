#!/usr/bin/env bash
# Installs what is missing, builds the release program in build/ and starts it
# in its run directory build/run. Without a display it runs the program a few
# seconds on a virtual one with the animation started, saves a screenshot and
# prints the PNG file's path.
set -euo pipefail
cd "$(dirname "$0")/.."

# freeglut, Mesa's GL and GLU, the compilers; the virtual display and the
# screen-grab tool's libraries for the headless run.
bash tools/deps.sh build-essential cmake ninja-build pkg-config \
  freeglut3-dev libglu1-mesa-dev libgl-dev libgl1-mesa-dri libglx-mesa0 \
  libx11-dev libpng-dev xvfb xauth xdotool

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DORVANDEL_TESTS=OFF >/dev/null
cmake --build build --target orvandel screenshot -j "$(nproc)"

if [ -n "${DISPLAY:-}" ]; then
  cd build/run
  exec ../orvandel
fi

# No display: a virtual one that picks a free number, with Mesa's software
# renderer. Everything started here ends with this script: the program first,
# so that it never sees its display go away, then the display.
app= xvfb= numberfile=
stop() {
  [ -n "$1" ] || return 0
  kill "$1" 2>/dev/null || true
  wait "$1" 2>/dev/null || true
}
cleanup() {
  stop "$app"
  stop "$xvfb"
  [ -z "$numberfile" ] || rm -f "$numberfile"
}
trap cleanup EXIT
numberfile=$(mktemp)
Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp -nolisten unix 3>"$numberfile" >/dev/null 2>&1 &
xvfb=$!
for _ in $(seq 100); do [ -s "$numberfile" ] && break; sleep 0.1; done
[ -s "$numberfile" ] || { echo "the virtual display (Xvfb) did not start" >&2; exit 1; }
export DISPLAY=:$(head -n 1 "$numberfile")
export LIBGL_ALWAYS_SOFTWARE=1

(cd build/run && exec ../orvandel) &
app=$!
window=$(timeout 20 xdotool search --sync --name '^Orvandel$' | head -n 1)
# Without a window manager the window is placed at (-1, -1), a pixel off
# the screen: move it into view so that the screenshot holds all of it.
xdotool windowmove --sync "$window" 0 0
xdotool windowfocus --sync "$window"
xdotool key space
sleep 4
build/tools/screenshot "$PWD/build/screenshot.png" "$window"
