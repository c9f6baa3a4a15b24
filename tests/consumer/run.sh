#!/bin/sh
# Installs the build into a fresh prefix and uses it as its users would:
# - runs the installed kel tool as it stands (no library path set);
# - builds the consumer project with find_package twice: as is (C99 programs
#   on kel::core, a shared module carrying kel::core, a C++ program on
#   kel::kel) and as a C-only project with OpenGL hidden (kel::core alone);
# - builds main.c with the C compiler and pkg-config's flags alone (--static
#   for a static install).
# Runs each program on a model.
# Usage: run.sh BUILD_DIR SOURCE_DIR MODEL WORK_DIR
set -eu
build=$1 src=$2 model=$3 work=$4
rm -rf "$work"
mkdir -p "$work"
cmake --install "$build" --prefix "$work/prefix" >/dev/null
prefix=$work/prefix
test -f "$prefix/include/kel/kel.h"
test -x "$prefix/bin/kel"
pcfile=$(find "$prefix" -name kel.pc)
test -n "$pcfile"
libdir=$(dirname "$(dirname "$pcfile")")
unset LD_LIBRARY_PATH

"$prefix/bin/kel" info "$model" >"$work/info.txt"
grep -q triangles "$work/info.txt"

cmake -S "$src/tests/consumer" -B "$work/build" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/build" >/dev/null
"$work/build/kel_consumer_c" "$model" "$work/out-c.obj"
"$work/build/kel_consumer_load" "$work/build/libkel_consumer_module.so"
"$work/build/kel_consumer" "$model" "$work/out.obj"

cmake -S "$src/tests/consumer" -B "$work/build-c" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_DISABLE_FIND_PACKAGE_OpenGL=ON -DEXPECT_DRAWING=OFF >/dev/null
cmake --build "$work/build-c" >/dev/null
"$work/build-c/kel_consumer_c" "$model" "$work/out-nogl.obj"
"$work/build-c/kel_consumer_load" "$work/build-c/libkel_consumer_module.so"

# pkg-config sees this prefix's kel.pc and nothing else.
pc() { PKG_CONFIG_LIBDIR=$(dirname "$pcfile") PKG_CONFIG_PATH='' pkg-config "$@" kel; }
version=$(pc --modversion)
major=${version%%.*} rest=${version#*.}
minor=${rest%%.*} patch=${rest#*.}
static=--static
if [ -e "$libdir/libkel_core.so" ]; then static=; fi
# shellcheck disable=SC2046 # pkg-config's flags are meant to be split
${CC:-cc} -std=c99 -pedantic -Wall -Wextra -Werror -DPACKAGE_MAJOR="$major" -DPACKAGE_MINOR="$minor" \
  -DPACKAGE_PATCH="$patch" -o "$work/pkg-config-c" "$src/tests/consumer/main.c" $(pc --cflags --libs $static)
LD_LIBRARY_PATH=$libdir "$work/pkg-config-c" "$model" "$work/out-pkg-config.obj"
