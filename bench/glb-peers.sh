#!/bin/bash
# OBJ to GLB on the three bench grids (bench_obj --generate: v/vt/vn
# triangles, positions only, v/vt/vn quads in 1000 groups with materials):
# `kel convert IN OUT.glb` against obj2gltf (npm, installed into
# ~/.cache/orvandel/npm) and assimp (`assimp export -fglb2`, Debian's
# assimp-utils), with kelLoadMesh alone (bench_obj --once kelmesh) as the
# floor. Each round runs the four in fresh processes, in an order that
# turns by one each round; a peer run is stopped after CAP seconds and
# shown as "> CAP s". Prints, per file and program, the median wall time,
# the spread (lowest to highest), the median CPU time (user and system, all
# threads: steadier than the wall time on a busy machine), the median peak
# resident memory (GNU time's maximum RSS, the same measure for every
# program), the ratios of the wall and CPU times to kel convert's, and of
# the peak to kelLoadMesh's.
# Usage: bench/glb-peers.sh [BUILD_DIR] [ROUNDS] [CAP]   (default: build 5 120)
set -eu
cd "$(dirname "$0")/.."
build=${1:-build}
rounds=${2:-5}
cap=${3:-120}
bench=$build/bench/bench_obj
kel=$build/tools/kel
for program in "$bench" "$kel"; do
    [ -x "$program" ] || { echo "glb-peers: no $program (configure with -DORVANDEL_BENCH=ON and build it)" >&2; exit 1; }
done
cache=${XDG_CACHE_HOME:-$HOME/.cache}/orvandel/npm
if [ ! -x "$cache/node_modules/.bin/obj2gltf" ]; then
    mkdir -p "$cache"
    npm install --prefix "$cache" --no-audit --no-fund obj2gltf >/dev/null
fi
bash tools/deps.sh assimp-utils time >/dev/null
dir=$("$bench" --generate | tail -1)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# One run of program $1 on file $2: "seconds peak_KiB cpu_seconds", or
# "> CAP" when it was stopped or failed.
run() {
    local path=$2 out=$tmp/out.glb
    local -a command
    case $1 in
    kel) command=("$kel" convert "$path" "$out") ;;
    kelmesh) command=("$bench" --once kelmesh "$path") ;;
    obj2gltf) command=(node "$cache/node_modules/obj2gltf/bin/obj2gltf.js" -i "$path" -o "$out") ;;
    assimp) command=(assimp export "$path" "$out" -fglb2) ;;
    esac
    rm -f "$out"
    if /usr/bin/time -f '%e %M %U %S' -o "$tmp/time" timeout "$cap" "${command[@]}" >/dev/null 2>"$tmp/err"; then
        tail -n 1 "$tmp/time" | awk '{print $1, $2, $3 + $4}'
    else
        echo "> $cap"
    fi
}

median() { sort -n | awk '{v[NR] = $1} END {print NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }

programs=(kel kelmesh obj2gltf assimp)
echo "# $(uname -n), $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | sed 's/.*: //'), $(date -u '+%Y-%m-%d %H:%M UTC'), load $(cut -d' ' -f1-3 /proc/loadavg)"
echo "# $rounds rounds, the four programs in turning order each round; peers stopped after $cap s"
printf '| %s | %s | %s | %s | %s | %s | %s | %s | %s |\n' file program "median s" "spread s" "CPU s" "peak MiB" \
    "time / kel convert" "CPU / kel convert" "peak / kelLoadMesh"
echo "|---|---|---|---|---|---|---|---|---|"
for name in grid_vtn_v1 grid_v_v1 grid_quads_v1; do
    path=$dir/$name.obj
    for p in "${programs[@]}"; do : >"$tmp/$p"; done
    for ((r = 0; r < rounds; r++)); do
        for ((k = 0; k < 4; k++)); do
            p=${programs[$(((r + k) % 4))]}
            # A peer that ran past the cap once is not started again.
            if grep -q '^>' "$tmp/$p" 2>/dev/null; then echo "> $cap" >>"$tmp/$p"; else run "$p" "$path" >>"$tmp/$p"; fi
        done
    done
    kelTime=$(grep -v '^>' "$tmp/kel" | cut -d' ' -f1 | median)
    kelCpu=$(grep -v '^>' "$tmp/kel" | cut -d' ' -f3 | median)
    meshPeak=$(grep -v '^>' "$tmp/kelmesh" | cut -d' ' -f2 | median)
    for p in "${programs[@]}"; do
        if grep -q '^>' "$tmp/$p"; then
            printf '| %s | %s | > %s | | | | > %s | | |\n' "$name" "$p" "$cap" "$(awk -v c="$cap" -v k="$kelTime" 'BEGIN {printf "%.0f", c / k}')"
            continue
        fi
        t=$(cut -d' ' -f1 "$tmp/$p" | median)
        lo=$(cut -d' ' -f1 "$tmp/$p" | sort -n | head -n 1)
        hi=$(cut -d' ' -f1 "$tmp/$p" | sort -n | tail -n 1)
        kib=$(cut -d' ' -f2 "$tmp/$p" | median)
        cpu=$(cut -d' ' -f3 "$tmp/$p" | median)
        awk -v f="$name" -v p="$p" -v t="$t" -v lo="$lo" -v hi="$hi" -v kib="$kib" -v k="$kelTime" -v m="$meshPeak" \
            -v c="$cpu" -v kc="$kelCpu" 'BEGIN {printf "| %s | %s | %.2f | %.2f-%.2f | %.2f | %.0f | %.2f | %.2f | %.2f |\n",
                f, p, t, lo, hi, c, kib / 1024, t / k, c / kc, kib / m}'
    done
done
