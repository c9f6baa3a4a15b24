#!/usr/bin/env bash
# Runs the built program in a real window on a virtual X server, with the
# animation started by the space key, and checks its memory:
#   memcheck  under valgrind while the bodies move and keys switch the
#             ship's draw modes, the projection and the GL toggles, each key
#             drawn in a frame of its own, until a few frames after the
#             last: no invalid
#             access, no use of uninitialised values, no definite leak
#             (suppressed: only what belongs to the system libraries)
#   flat      10,000 animated frames: the resident set and the heap in use
#             stay flat from frame 1,000 on, so nothing leaks per frame
# The frame probe (LD_PRELOAD) counts the animated frames, records the memory
# at chosen frames and ends the program after the last one, or a few frames
# after this script makes the file it watches.
#
# usage: check.sh memcheck|flat PROGRAM RUN_DIR PROBE SUPPRESSIONS WORK_DIR
set -uo pipefail
kind=$1
program=$(realpath "$2") run_dir=$(realpath "$3") probe=$(realpath "$4") suppressions=$(realpath "$5")
work=$(realpath -m "$6")

# Mesa's software renderer on one thread, into a tiny window: the frame's
# own work stays the same and the pixels cost next to nothing.
export LIBGL_ALWAYS_SOFTWARE=1 LP_NUM_THREADS=0
size=32

case $kind in
memcheck)
  marks=$(seq -s, 1 250) seconds=240
  wrapper=(valgrind --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite
           --show-leak-kinds=definite --num-callers=30 "--suppressions=$suppressions"
           "--log-file=$work/valgrind.log")
  ;;
flat)
  marks=$(seq -s, 1000 500 10000) seconds=240
  wrapper=()
  ;;
*)
  echo "unknown check: $kind" >&2
  exit 2
  ;;
esac

rm -rf "$work"
mkdir -p "$work"
fail() {
  echo "FAILED: $*"
  [ -s "$work/program.log" ] && { echo "--- $work/program.log"; tail -n 50 "$work/program.log"; }
  # valgrind's errors come first, the leaks and the summary last.
  [ -s "$work/valgrind.log" ] && { echo "--- $work/valgrind.log"; head -n 150 "$work/valgrind.log"; echo ...;
                                   grep -A 8 "definitely lost in\|ERROR SUMMARY" "$work/valgrind.log"; }
  exit 1
}

# Everything started here ends with this script: the program first, so that
# it never sees its display go away, then the display.
app= xvfb=
stop() {
  [ -n "$1" ] || return 0
  kill "$1" 2>/dev/null
  wait "$1" 2>/dev/null
}
cleanup() {
  stop "$app"
  stop "$xvfb"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

# A free display number: the server picks one and writes it to descriptor 3.
Xvfb -displayfd 3 -screen 0 640x480x24 -nolisten tcp -nolisten unix 3>"$work/display" >/dev/null 2>&1 &
xvfb=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || fail "the virtual X server did not start"
export DISPLAY=:$(head -n 1 "$work/display")

# Animated frames noted by the probe so far, and a wait for the count to
# reach $1 (the program must go on drawing). The wait is long: the first
# frame under valgrind on a busy two-core machine has taken over a minute.
framesDrawn() { cat "$work/frames" 2>/dev/null | wc -l; }
waitForFrames() {
  local since=$SECONDS
  while [ "$(framesDrawn)" -lt "$1" ]; do
    kill -0 "$app" 2>/dev/null || fail "ended before animated frame $1"
    [ $((SECONDS - since)) -lt 150 ] || fail "no animated frame $1 within 150 s"
    sleep 0.05
  done
}

start=$SECONDS
(cd "$run_dir" && FRAMEPROBE_LOG="$work/frames" FRAMEPROBE_MARKS=$marks FRAMEPROBE_END="$work/end" LD_PRELOAD=$probe \
   exec "${wrapper[@]}" "$program") >"$work/program.log" 2>&1 &
app=$!

window=$(timeout 120 xdotool search --sync --onlyvisible --name '^Orvandel$' 2>/dev/null | head -n 1)
[ -n "$window" ] || fail "no window \"Orvandel\""
xdotool windowsize --sync "$window" $size $size
xdotool windowfocus --sync "$window"
xdotool key space
if [ "$kind" = memcheck ]; then
  # The ship in each draw mode, both projections, every toggle twice, a
  # zoom, moves and a drag, all while the bodies move. The probe notes every
  # frame: each key waits for two frames after the one before it, so that
  # every setting is drawn, however long a frame takes under valgrind.
  waitForFrames 1
  for key in m m m p p c f d l s t v c f d l s t v z x Up Left q g y w j h Down Right; do
    drawn=$(framesDrawn)
    xdotool key "$key"
    waitForFrames $((drawn + 2))
  done
  drawn=$(framesDrawn)
  xdotool mousemove --window "$window" 10 10 mousedown 1 mousemove_relative 8 4 mouseup 1
  waitForFrames $((drawn + 2))
  touch "$work/end"
fi

# The probe ends the program after the last frame; a program still running
# at the deadline has stopped drawing.
while kill -0 "$app" 2>/dev/null && [ $((SECONDS - start)) -lt $seconds ]; do sleep 0.5; done
kill -0 "$app" 2>/dev/null && fail "still running after ${seconds}s: $(cat "$work/frames" 2>/dev/null | wc -l) marks reached"
wait "$app"
status=$?
app=
elapsed=$((SECONDS - start))
last=$(tail -n 1 "$work/frames" 2>/dev/null | cut -d' ' -f1)
if [ "$kind" = memcheck ]; then
  [ -n "$last" ] || fail "ended with status $status before the probe ended it"
  [ $status -eq 0 ] && grep -q "ERROR SUMMARY: 0 errors" "$work/valgrind.log" || fail "valgrind reported errors"
  echo "$last animated frames under valgrind without errors in ${elapsed}s"
  exit 0
fi
[ "$last" = "${marks##*,}" ] || fail "ended with status $status before animated frame ${marks##*,}"
[ $status -eq 0 ] || fail "status $status after the last frame"

# Columns: frame, resident bytes (less those backed by files), heap bytes in
# use, seconds. Both measures
# move by up to a MiB as the driver's buffers come and go, so each is compared
# as the least of the first four samples against the least of the last four:
# a leak raises the floor. The tolerance catches any leak of more than about
# 70 bytes a frame; one lost sphere mesh a frame would be 200 MiB.
awk -v tolerance=$((512 * 1024)) '
  function floor4(a, from,   i, m) {
    m = a[from]
    for (i = from + 1; i < from + 4; i++) if (a[i] < m) m = a[i]
    return m
  }
  { frame[NR] = $1; rss[NR] = $2; heap[NR] = $3; time[NR] = $4 }
  END {
    n = NR
    rss0 = floor4(rss, 1); rss1 = floor4(rss, n - 3)
    heap0 = floor4(heap, 1); heap1 = floor4(heap, n - 3)
    printf "least resident set: %.2f MiB by frame %d, %.2f MiB by frame %d\n", rss0 / 1048576, frame[4], rss1 / 1048576, frame[n]
    printf "least heap in use: %.2f MiB by frame %d, %.2f MiB by frame %d\n", heap0 / 1048576, frame[4], heap1 / 1048576, frame[n]
    printf "%d frames in %.1f s (%.0f frames/s)\n", frame[n] - frame[1], time[n] - time[1], (frame[n] - frame[1]) / (time[n] - time[1])
    bad = 0
    if (rss1 - rss0 > tolerance) { print "FAILED: the resident set grew by " rss1 - rss0 " bytes"; bad = 1 }
    if (heap1 - heap0 > tolerance) { print "FAILED: the heap in use grew by " heap1 - heap0 " bytes"; bad = 1 }
    exit bad
  }' "$work/frames" || fail "memory grows with the frames"
echo "flat over $last animated frames, ${elapsed}s"
