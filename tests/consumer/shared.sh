#!/bin/sh
# Builds kel alone (no program, so no freeglut looked for) as shared
# libraries, checks that they export the calls kel.h declares and nothing
# else and that libkel records its need of GL, and runs the consumer project
# against them.
# Usage: shared.sh SOURCE_DIR MODEL WORK_DIR
set -eu
src=$1 model=$2 work=$3
rm -rf "$work"
mkdir -p "$work"
# CMake refuses the configure if anything still asks for GLUT.
cmake -S "$src" -B "$work/build" -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=ON -DORVANDEL_TESTS=OFF \
  -DORVANDEL_APP=OFF -DCMAKE_DISABLE_FIND_PACKAGE_GLUT=ON >/dev/null
cmake --build "$work/build" --target kel_core kel kel_tool -j2 >/dev/null

# The calls of the header, as C sees it once comments and macros are gone.
${CC:-cc} -E -P -x c "$src/kel/kel.h" | grep -o 'kel[A-Z][A-Za-z0-9]*[ ]*(' | tr -d ' (' | sort -u >"$work/header.txt"
test -s "$work/header.txt"
for lib in "$work"/build/kel/libkel_core.so "$work"/build/kel/libkel.so; do
  nm -D --defined-only "$lib" | awk '{print $3}'
done | sort >"$work/exported.txt"
if ! diff -u "$work/header.txt" "$work/exported.txt"; then
  echo "the shared libraries export other symbols than the calls of kel.h (- header, + exported)"
  exit 1
fi
ldd "$work/build/tools/kel" | grep -q 'libkel'
if ! readelf -d "$work/build/kel/libkel.so" | grep NEEDED | grep -Eq 'lib(OpenGL|GL)\.so'; then
  echo "libkel.so does not record its need of GL:"
  readelf -d "$work/build/kel/libkel.so" | grep NEEDED
  exit 1
fi
sh "$src/tests/consumer/run.sh" "$work/build" "$src" "$model" "$work/consume"
