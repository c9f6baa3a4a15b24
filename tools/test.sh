#!/usr/bin/env bash
# Installs the test dependencies, builds, and runs every test:
#  1. the unit tests under AddressSanitizer and UndefinedBehaviorSanitizer,
#  2. each fuzzer for a short while over its seed corpus (clang-14, libFuzzer),
#  3. the release build's unit and real-window tests, whose CTest summary
#     ends the output.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

bash tools/deps.sh build-essential cmake ninja-build pkg-config \
  freeglut3-dev libglu1-mesa-dev libgl-dev libgl1-mesa-dri libglx-mesa0 \
  libgtest-dev libgmock-dev libbenchmark-dev \
  xvfb xauth xdotool x11-utils libx11-dev libpng-dev \
  clang-14 libclang-rt-14-dev \
  libtinyobjloader-dev libmeshoptimizer-dev libstb-dev assimp-testmodels valgrind

jobs=$(nproc)
fuzz_seconds=${FUZZ_SECONDS:-20}

echo "== Unit tests under ASan and UBSan"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DORVANDEL_TESTS=ON -DORVANDEL_SANITIZE=ON >/dev/null
cmake --build build-asan -j "$jobs"
(cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest -L unit -j "$jobs" --output-on-failure)

echo "== Fuzzers, ${fuzz_seconds}s each"
cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVANDEL_FUZZ=ON -DORVANDEL_TESTS=OFF \
  -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 >/dev/null
cmake --build build-fuzz -j "$jobs"
for fuzzer in build-fuzz/fuzz/fuzz_*; do
  [ -x "$fuzzer" ] || continue
  name=${fuzzer##*/fuzz_}
  work=build-fuzz/corpus-$name
  mkdir -p "$work"
  cp -f fuzz/corpus/"$name"/* "$work"/ 2>/dev/null || true
  echo "-- $name"
  if ! (cd build-fuzz && "./fuzz/fuzz_$name" -max_total_time="$fuzz_seconds" -close_fd_mask=3 \
          "corpus-$name" >"fuzz-$name.log" 2>&1); then
    tail -n 60 "build-fuzz/fuzz-$name.log"
    echo "fuzz_$name failed"
    exit 1
  fi
  grep -E '^(#[0-9]+|Done)' "build-fuzz/fuzz-$name.log" | tail -n 1
done

echo "== Release build: unit and real-window tests"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DORVANDEL_TESTS=ON -DORVANDEL_BENCH=ON >/dev/null
cmake --build build -j "$jobs"
cd build
ctest -j "$jobs" --output-on-failure
