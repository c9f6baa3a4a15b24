#!/bin/sh
# Lays out the program's run directory: data/ as it stands in the source tree
# and the body images of textures/ under the byte-exact (CP949) names the
# program opens, as scene/bodies.def pairs them. A missing file is an error.
# Usage: stage-run-dir.sh SOURCE_DIR RUN_DIR
set -eu
src=$1
dst=$2
fail() {
  echo "stage-run-dir.sh: $*" >&2
  exit 1
}
mkdir -p "$dst/data"
for f in "$src"/data/*; do
  [ -f "$f" ] || fail "no data files in $src/data"
  cp -f "$f" "$dst/data/"
done
# Each line BODY("texture file", "opened name") gives its two names; the
# opened name's octal escapes are printf's own.
bodies=$(sed -n 's/^BODY("\([^"]*\)", "\([^"]*\)")$/\1 \2/p' "$src/scene/bodies.def")
[ -n "$bodies" ] || fail "no BODY lines in $src/scene/bodies.def"
echo "$bodies" | while read -r texture opened; do
  [ -f "$src/textures/$texture" ] || fail "missing body image $src/textures/$texture"
  cp -f "$src/textures/$texture" "$dst/$(printf "$opened")"
done
