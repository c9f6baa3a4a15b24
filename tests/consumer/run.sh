#!/bin/sh
# Installs the build into a fresh prefix, builds the consumer project against
# it with find_package, and runs the consumer on a model.
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
"$work/build/kel_consumer" "$model" "$work/out.obj"
