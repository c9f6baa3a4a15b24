#!/bin/sh
# Lays out the program's run directory: data/ as it stands in the source tree
# and the body images under the byte-exact (CP949) names the program opens.
# Usage: stage-run-dir.sh SOURCE_DIR RUN_DIR
set -eu
src=$1
dst=$2
mkdir -p "$dst/data"
cp -f "$src"/data/* "$dst/data/" 2>/dev/null || true
t=$src/textures
[ -d "$t" ] || exit 0
copy() { [ -f "$t/$1" ] && cp -f "$t/$1" "$dst/$(printf "$2").bmp" || true; }
copy sun.bmp     'Sun'
copy mercury.bmp '\274\366\274\272'
copy venus.bmp   '\261\335\274\272'
copy earth.bmp   '\301\366\261\270'
copy mars.bmp    '\310\255\274\272'
copy jupiter.bmp '\270\361\274\272'
copy saturn.bmp  '\305\344\274\272'
copy uranus.bmp  '\303\265\277\325\274\272'
copy neptune.bmp '\307\330\277\325\274\272'
copy belt.bmp    'Belt'
