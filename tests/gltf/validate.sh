#!/usr/bin/env bash
# Converts every OBJ file the suite has to glTF with the kel tool and checks
# each result with the Khronos glTF validator (npm's gltf-validator,
# installed into a cache folder the first time): no error and no warning is
# allowed. The files: the ship (data/), the fuzz seeds, Debian's
# assimp-testmodels when installed, and files made here with every
# statement kind, several materials, textures of every kind (PNG, JPEG, BMP,
# PPM, another kind, a missing one), lines and points, vertex colours and
# names that are not UTF-8; each as .glb, and some as .gltf and with the
# tool's material options.
#
# Usage: validate.sh KEL_TOOL WORK_DIR
set -euo pipefail
tool=$(realpath "$1")
work=$2
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
cache=${XDG_CACHE_HOME:-$HOME/.cache}/orvandel/npm
if [ ! -d "$cache/node_modules/gltf-validator" ]; then
  command -v npm >/dev/null || { echo "validate.sh: npm is needed to install gltf-validator"; exit 1; }
  mkdir -p "$cache"
  npm install --prefix "$cache" --no-audit --no-fund gltf-validator >/dev/null
fi
rm -rf "$work"
mkdir -p "$work/made" "$work/out"
made=$work/made

# Images of every kind.
cp "$source_dir/docs/ship-smooth.png" "$made/color.png"
cp "$source_dir/docs/ship-wireframe.png" "$made/my normal.png"
cp "$source_dir/fuzz/corpus/bmp/rgb24_4x4.bmp" "$made/rgb.bmp"
cp "$source_dir/fuzz/corpus/bmp/pal8_5x3.bmp" "$made/palette.bmp"
printf 'P6\n# two by two\n2 2\n255\n\377\0\0\0\377\0\0\0\377\377\377\377' >"$made/glow.ppm"
printf 'GIF89a not really' >"$made/other.gif"
jpeg=$(find /usr/share/assimp -iname '*.jpg' 2>/dev/null | head -n 1 || true)
if [ -n "$jpeg" ]; then cp "$jpeg" "$made/photo.jpg"; else cp "$made/color.png" "$made/photo.jpg"; fi

# Materials: plain, shiny, see-through (d and Tr), glowing, textured with
# each kind, normal maps (bump with -bm, norm), metallic-roughness maps,
# map options before the name, names in Latin-1.
printf '%s\n' \
  'newmtl plain' 'Kd 0.8 0.1 0.1' \
  'newmtl shiny' 'Kd 0.2 0.2 0.9' 'Ks 0.9 0.9 0.9' 'Ns 900' \
  'newmtl glass' 'Kd 0.9 0.9 0.9' 'd 0.25' \
  'newmtl tinted' 'Kd 0.1 0.9 0.1' 'Tr 0.5' \
  'newmtl glow' 'Ke 2 0.5 0' 'map_Ke -clamp on glow.ppm' \
  'newmtl painted' 'map_Kd -s 2 2 1 -o 0.5 0 0 color.png' 'bump -bm 0.5 my normal.png' \
  'newmtl photo' 'map_Kd photo.jpg' 'norm rgb.bmp' \
  'newmtl bitmap' 'map_Kd palette.bmp' 'Pr 0.3' 'Pm 0.7' 'map_Pr rgb.bmp' 'map_Pm glow.ppm' \
  'newmtl odd' 'map_Kd other.gif' 'map_Ke missing.png' 'map_Pr palette.bmp' \
  $'newmtl caf\xe9 cr\xe8me' 'Kd 0.5 0.4 0.3' >"$made/every.mtl"

# Every statement kind: v with and without colours, vt, vn (one zero), faces
# of every form (quads too), o, g, s, usemtl, l, p, comments, unknown
# statements, a missing material, infinities and not-a-numbers.
{
  printf '%s\n' '# every statement kind' 'mtllib every.mtl' 'o thing'
  for z in 0 1 2; do
    printf 'v 0 0 %s 1 0 0\nv 1 0 %s 0 1 0\nv 1 1 %s 0 0 1\nv 0 1 %s 1 1 1\n' $z $z $z $z
  done
  printf '%s\n' 'vt 0 0' 'vt 1 0' 'vt 1 1' 'vt 0 1 0' 'vn 0 0 1' 'vn 0 0 2' 'vn 0 0 0' 'vn 0.1 0.1 -5'
  printf '%s\n' 'g plain part' 'usemtl plain' 's 1' 'f 1 2 3 4'
  printf '%s\n' 'usemtl shiny' 'f 1/1 2/2 3/3' 'usemtl glass' 'f 5/1/1 6/2/2 7/3/3 8/4/3'
  printf '%s\n' $'g gro\xdf \xe9t\xe9' 'usemtl tinted' 's off' 'f 9//4 10//3 11//1' 'usemtl glow' 'f 9/1/1 10/2/2 11/3/3'
  printf '%s\n' 'g textured' 'usemtl painted' 'f 1/1/1 2/2/2 3/3/3' 'usemtl photo' 'f 1/1/1 3/3/3 4/4/1'
  printf '%s\n' 'usemtl bitmap' 'f 5/1/1 6/2/2 7/3/3' 'usemtl odd' 'f 5/1/1 7/3/3 8/4/1'
  printf '%s\n' $'usemtl caf\xe9 cr\xe8me' 'f -3/-3/-3 -2/-2/-2 -1/-1/-1' 'usemtl nowhere' 'f 1/1/1 2/2/2 3/3/3'
  printf '%s\n' 'v inf 0 -inf' 'v nan 1 1 nan 0 1' 'vt nan inf' 'f 13/5 1/1 2/2' 'p 14'
  printf '%s\n' 'l 1 2 3 4' 'l 9 12' 'p 5 6 7' 'p 12' 'curv 0 1 1 2' 'bogus line'
} >"$made/every.obj"
# The same faces without texture coordinates and normals, a file of lines
# and points alone, one of many vertices (32-bit indices), and an empty one.
grep -av '^vt\|^vn' "$made/every.obj" | sed 's#/[0-9-]*/*[0-9-]*##g; s#//[0-9-]*##g' >"$made/bare.obj"
printf '%s\n' 'v 0 0 0' 'v 1 0 0' 'v 0 1 0' 'l 1 2 3 1' 'p 1 2 3' >"$made/lines.obj"
awk 'BEGIN { for (i = 0; i < 66000; i++) print "v", i, i % 7, 0;
             for (i = 1; i < 66000; i += 3) print "f", i, i + 1, i + 2 }' >"$made/big.obj"
: >"$made/empty.obj"

status=0
outputs=()
convert() {
  local in=$1 out=$2
  shift 2
  if "$tool" convert "$in" "$out" --optional-library "$@" >/dev/null 2>"$out.log"; then
    outputs+=("$out")
  else
    echo "   not converted (kel could not read it): $in: $(tail -n 1 "$out.log")"
  fi
}
n=0
while IFS= read -r obj; do
  n=$((n + 1))
  convert "$obj" "$work/out/$n-$(basename "$obj" .obj).glb"
done < <(
  ls "$source_dir"/data/*.obj "$source_dir"/fuzz/corpus/obj/*.obj "$made"/*.obj
  find /usr/share/assimp -iname '*.obj' 2>/dev/null | sort || true
)
convert "$made/every.obj" "$work/out/every.gltf"
convert "$made/every.obj" "$work/out/every-pbr.glb" --metallic-roughness
convert "$made/every.obj" "$work/out/every-unlit.glb" --unlit
convert "$made/every.obj" "$work/out/every-plain.gltf" --no-textures
node "$(dirname "$0")/validate.js" "$cache" "${outputs[@]}" || status=1
echo "${#outputs[@]} conversions validated"
exit $status
