#!/bin/bash
# Whole-process reads of the four generated OBJ files (bench_obj
# --generate), kel against each peer in pairs: kel first, then the peer, in
# fresh processes, PAIRS times; each reader's median wall time and peak
# resident memory, and the ratio of the medians (peer time / kel time, so
# above 1 means kel reads faster). Single-threaded peers (fast_obj, rapidobj
# held to one thread, tinyobjloader) pair with kel on one thread; rapidobj
# with its default threads pairs with kel's default.
# With "in-process", each pairing's reads alternate in one process instead
# (bench_obj --paired), which leaves out starting a process and the cost of
# the first touch of memory the system hands a new one; peak memory then
# comes from one whole-process read by each reader.
# Needs bench_obj built with the peers (see bench/obj.cmake).
# Usage: tools/read-peers.sh [BUILD_DIR] [PAIRS] [in-process]
#        (default: build-rel 7, whole processes)
# Prints a table; tools/reading-chart.sh draws it.
set -eu
cd "$(dirname "$0")/.."
build=${1:-build-rel}
pairs=${2:-7}
mode=${3:-whole}
bench=$build/bench/bench_obj
[ -x "$bench" ] || { echo "read-peers: no $bench (configure with -DORVANDEL_BENCH=ON)" >&2; exit 1; }
dir=$("$bench" --generate | tail -1)
files="grid_vtn_v1.obj grid_v_v1.obj grid_quads_v1.obj grid_parts_v1.obj"
# kel reader, peer reader: the kel reader names the thread count compared.
# kelmesh is kel from file to mesh (kelLoadMesh), paired with fast_obj's read
# alone.
pairings="kel1:fast_obj kel:fast_obj kel1:rapidobj1 kel:rapidobj kel1:tinyobj kelmesh:fast_obj"

# One process: "seconds peak_KiB", or nothing when the reader is not built in.
run() {
    local start end out
    start=$(date +%s%N)
    out=$("$bench" --once "$1" "$2" 2>/dev/null) || return 0
    end=$(date +%s%N)
    echo "$(( (end - start) / 1000 )) ${out#* }"
}

median() { sort -n | awk '{v[NR] = $1} END {print NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }

label() {
    case $1 in
    kel1) echo "kel, 1 thread" ;;
    kel) echo "kel, default threads" ;;
    kelmesh) echo "kel file to mesh" ;;
    rapidobj1) echo "rapidobj, 1 thread" ;;
    rapidobj) echo "rapidobj, default threads" ;;
    *) echo "$1" ;;
    esac
}

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
echo "# $(uname -n), $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | sed 's/.*: //'), $(date -u '+%Y-%m-%d %H:%M UTC'), load $(cut -d' ' -f1-3 /proc/loadavg)"
if [ "$mode" = in-process ]; then
    echo "# $pairs paired runs in one process per pairing (kel first); medians"
else
    echo "# $pairs paired whole-process runs (kel first); medians"
fi
printf '| %s | %s | %s | %s | %s | %s | %s |\n' file MB reader "median s" "MB/s" "peak MiB" "kel time / peer time (below 1: kel faster)"
echo "|---|---|---|---|---|---|---|"
for file in $files; do
    path=$dir/$file
    mb=$(stat -c %s "$path" | awk '{printf "%.1f", $1 / 1e6}')
    "$bench" --once kel "$path" >/dev/null  # page cache warm
    for pairing in $pairings; do
        k=${pairing%%:*} p=${pairing#*:}
        : >"$tmp/$k.$p.kel"
        : >"$tmp/$k.$p.peer"
        if [ "$mode" = in-process ]; then
            # Times from one process; peak memory from one read by each alone.
            if "$bench" --paired "$k" "$p" "$path" "$pairs" >"$tmp/pairs" 2>/dev/null; then
                kkib=$(run "$k" "$path" | cut -d' ' -f2)
                pkib=$(run "$p" "$path" | cut -d' ' -f2)
                awk -v kib="$kkib" '{print $1, kib}' "$tmp/pairs" >>"$tmp/$k.$p.kel"
                awk -v kib="$pkib" '{print $2, kib}' "$tmp/pairs" >>"$tmp/$k.$p.peer"
            fi
        else
            for ((i = 0; i < pairs; i++)); do
                run "$k" "$path" >>"$tmp/$k.$p.kel"
                run "$p" "$path" >>"$tmp/$k.$p.peer"
            done
        fi
        cat "$tmp/$k.$p.kel" >>"$tmp/$k.all"
    done
    # kel's own rows: every run it made with that thread count.
    for k in kel1 kel kelmesh; do
        us=$(cut -d' ' -f1 "$tmp/$k.all" | median)
        kib=$(cut -d' ' -f2 "$tmp/$k.all" | median)
        awk -v f="$file" -v mb="$mb" -v r="$(label $k)" -v us="$us" -v kib="$kib" \
            'BEGIN {printf "| %s | %s | %s | %.3f | %.0f | %.0f | |\n", f, mb, r, us / 1e6, mb / (us / 1e6), kib / 1024}'
        rm "$tmp/$k.all"
    done
    for pairing in $pairings; do
        k=${pairing%%:*} p=${pairing#*:}
        if [ ! -s "$tmp/$k.$p.peer" ]; then
            echo "| $file | $mb | $(label "$p") | not built in | | | |"
            continue
        fi
        us=$(cut -d' ' -f1 "$tmp/$k.$p.peer" | median)
        kib=$(cut -d' ' -f2 "$tmp/$k.$p.peer" | median)
        kus=$(cut -d' ' -f1 "$tmp/$k.$p.kel" | median)
        awk -v f="$file" -v mb="$mb" -v r="$(label "$p")" -v us="$us" -v kib="$kib" -v kus="$kus" -v k="$(label "$k")" \
            'BEGIN {printf "| %s | %s | %s | %.3f | %.0f | %.0f | %.2f (%s) |\n", f, mb, r, us / 1e6, mb / (us / 1e6), kib / 1024, kus / us, k}'
    done
done
