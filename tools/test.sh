#!/usr/bin/env bash
# Installs the test dependencies, builds, and runs every test, warnings as
# errors in every build:
#  1. the format check (clang-format 14),
#  2. the unit tests under AddressSanitizer and UndefinedBehaviorSanitizer
#     (build-asan/),
#  3. the unit tests built with clang-14 without SIMD code, under
#     ThreadSanitizer (build-tsan/),
#  4. each fuzzer for FUZZ_SECONDS (default 10) over its seed corpus, two at
#     a time (build-fuzz/),
#  5. the release build with the benchmarks (build/),
#  6. its unit, real-window, memory, install and Python module tests, and
#     the Khronos glTF validator over the conversion of every OBJ file the
#     suite has (npm's gltf-validator, installed into ~/.cache/orvandel/npm),
#     whose CTest summary ends the output.
set -euo pipefail
cd "$(dirname "$0")/.."

# npm (for the glTF validator) from Debian where the nodejs installed does
# not bring its own.
npm_package=
command -v npm >/dev/null || npm_package=npm
bash tools/deps.sh build-essential cmake ninja-build pkg-config \
  freeglut3-dev libglu1-mesa-dev libgl-dev libgl1-mesa-dri libglx-mesa0 \
  libgtest-dev libgmock-dev libbenchmark-dev \
  xvfb xauth xdotool x11-utils libx11-dev libpng-dev \
  clang-14 libclang-rt-14-dev clang-format-14 \
  libtinyobjloader-dev libmeshoptimizer-dev libstb-dev assimp-testmodels valgrind \
  pybind11-dev python3-dev python3-numpy python3-pytest \
  nlohmann-json3-dev nodejs $npm_package

jobs=$(nproc)
fuzz_seconds=${FUZZ_SECONDS:-10}
started=$SECONDS

banner() { echo "== [$1/6] $2 ($((SECONDS - started)) s so far)"; }

# Runs a command, passing its output on line by line (but CTest's "Start"
# lines: each test's result line follows) and adding a line of its own
# whenever the command has been quiet for 20 seconds.
quiet_watch() {
  local since=$SECONDS line
  "$@" 2>&1 | while true; do
    if IFS= read -r -t 20 line; then
      [[ $line =~ ^\ +Start\ +[0-9]+: ]] || printf '%s\n' "$line"
    elif [ $? -gt 128 ]; then
      [ -z "$line" ] || printf '%s\n' "$line"
      echo "   ... still running, $((SECONDS - since)) s"
    else
      [ -z "$line" ] || printf '%s\n' "$line"
      break
    fi
  done
}

banner 1 "Format check, clang-format 14"
mapfile -t sources < <(git ls-files '*.c' '*.cpp' '*.h' 2>/dev/null ||
  find app bench fuzz image kel scene tests tools -name '*.c' -o -name '*.cpp' -o -name '*.h')
unformatted=()
for f in "${sources[@]}"; do
  clang-format-14 --dry-run --Werror "$f" >/dev/null 2>&1 || unformatted+=("$f")
done
if [ ${#unformatted[@]} -gt 0 ]; then
  echo "These files are not formatted as .clang-format asks; run clang-format-14 -i on them:"
  printf '   %s\n' "${unformatted[@]}"
  exit 1
fi
echo "   ${#sources[@]} files formatted"

banner 2 "Unit tests under ASan and UBSan (build-asan/)"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DORVANDEL_TESTS=ON -DORVANDEL_SANITIZE=ON \
  -DORVANDEL_WERROR=ON >/dev/null
quiet_watch cmake --build build-asan --target unit_tests -j "$jobs"
# Memory from malloc is filled with 0xbe, however large, so that nothing
# counts on it being zero.
(cd build-asan && export ASAN_OPTIONS=detect_leaks=1:max_malloc_fill_size=1073741824 UBSAN_OPTIONS=print_stacktrace=1 &&
  quiet_watch ctest -L unit -j "$jobs" --output-on-failure)

banner 3 "Unit tests built with clang-14, no SIMD, under TSan (build-tsan/)"
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVANDEL_TESTS=ON -DORVANDEL_TSAN=ON \
  -DORVANDEL_SCALAR=ON -DORVANDEL_WERROR=ON -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 >/dev/null
quiet_watch cmake --build build-tsan --target unit_tests -j "$jobs"
(cd build-tsan && export TSAN_OPTIONS=halt_on_error=1 && quiet_watch ctest -L unit -j "$jobs" --output-on-failure)

banner 4 "Fuzzers, ${fuzz_seconds} s each, two at a time (build-fuzz/)"
cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVANDEL_FUZZ=ON -DORVANDEL_TESTS=OFF \
  -DORVANDEL_WERROR=ON -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 >/dev/null
quiet_watch cmake --build build-fuzz --target fuzzers -j "$jobs"

# Runs fuzz_NAME over a copy of its seed corpus and prints one result line;
# on a failure, the end of its log, and leaves build-fuzz/fuzz-NAME.failed.
# ASan fills the memory malloc gives, as in the unit tests.
fuzz() {
  local name=$1
  mkdir -p "build-fuzz/corpus-$name"
  cp -f fuzz/corpus/"$name"/* "build-fuzz/corpus-$name"/ 2>/dev/null || true
  if (cd build-fuzz && ASAN_OPTIONS=max_malloc_fill_size=1073741824 "./fuzz/fuzz_$name" \
        -max_total_time="$fuzz_seconds" -close_fd_mask=3 \
        "corpus-$name" >"fuzz-$name.log" 2>&1); then
    echo "   fuzz_$name: $(grep -E '^(#[0-9]+|Done)' "build-fuzz/fuzz-$name.log" | tail -n 1)"
  else
    tail -n 60 "build-fuzz/fuzz-$name.log"
    echo "   fuzz_$name FAILED (build-fuzz/fuzz-$name.log)"
    touch "build-fuzz/fuzz-$name.failed"
  fi
}
rm -f build-fuzz/fuzz-*.failed
for fuzzer in build-fuzz/fuzz/fuzz_*; do
  [ -x "$fuzzer" ] || continue
  while [ "$(jobs -rp | wc -l)" -ge 2 ]; do wait -n || true; done
  fuzz "${fuzzer##*/fuzz_}" &
done
wait
if ls build-fuzz/fuzz-*.failed >/dev/null 2>&1; then
  echo "fuzzers failed: $(cd build-fuzz && ls fuzz-*.failed | sed 's/^fuzz-\(.*\)\.failed$/fuzz_\1/' | tr '\n' ' ')"
  exit 1
fi

banner 5 "Release build with the benchmarks (build/)"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DORVANDEL_TESTS=ON -DORVANDEL_BENCH=ON \
  -DORVANDEL_WERROR=ON >/dev/null
quiet_watch cmake --build build -j "$jobs"

banner 6 "Release tests: unit, real-window, memory, install, Python, glTF (build/)"
(cd build && quiet_watch ctest -j "$jobs" --output-on-failure)

echo "== Done in $((SECONDS - started)) s"
