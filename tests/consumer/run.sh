#!/bin/sh
# Installs the build into a fresh prefix and builds the consumer project
# against it with find_package twice: as is (a C99 program on kel::core and a
# C++ program on kel::kel) and with OpenGL hidden (kel::core alone). Runs the
# programs on a model.
# Usage: run.sh BUILD_DIR SOURCE_DIR MODEL WORK_DIR
set -eu
build=$1 src=$2 model=$3 work=$4
rm -rf "$work"
mkdir -p "$work"
cmake --install "$build" --prefix "$work/prefix" >/dev/null
test -f "$work/prefix/include/kel/kel.h"
test -x "$work/prefix/bin/kel"

cmake -S "$src/tests/consumer" -B "$work/build" -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
cmake --build "$work/build" >/dev/null
"$work/build/kel_consumer_c" "$model" "$work/out-c.obj"
"$work/build/kel_consumer" "$model" "$work/out.obj"

cmake -S "$src/tests/consumer" -B "$work/build-nogl" -DCMAKE_PREFIX_PATH="$work/prefix" \
  -DCMAKE_DISABLE_FIND_PACKAGE_OpenGL=ON -DEXPECT_DRAWING=OFF >/dev/null
cmake --build "$work/build-nogl" >/dev/null
"$work/build-nogl/kel_consumer_c" "$model" "$work/out-nogl.obj"
