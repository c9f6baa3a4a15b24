#!/bin/bash
# Draws reading throughput against the peers on the four generated files,
# one bar per reader and thread count (and one for kel from file to mesh), with the machine and date of the run
# under it, from tools/read-peers.sh's table (run here, or read from TABLE
# when given).
# Usage: tools/reading-chart.sh [BUILD_DIR] [OUT.png] [TABLE]
#        (default: build-rel docs/reading.png, a fresh run of seven pairs)
set -eu
cd "$(dirname "$0")/.."
build=${1:-build-rel}
out=${2:-docs/reading.png}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
if [ $# -ge 3 ]; then
    cp "$3" "$tmp/table"
else
    tools/read-peers.sh "$build" | tee "$tmp/table"
fi
# One row per file, one column per reader (MB/s); a missing peer gets "?".
readers="kel, 1 thread|kel, default threads|fast_obj|rapidobj, 1 thread|rapidobj, default threads|tinyobj|kel file to mesh"
awk -F' *[|] *' -v readers="$readers" '
    /^[|] grid/ { rate[$2, $4] = $6; size[$2] = $3; if (!($2 in seen)) { seen[$2] = 1; order[++n] = $2 } }
    END {
        k = split(readers, r, "|")
        for (i = 1; i <= n; i++) {
            f = order[i]
            name = f ~ /vtn/ ? "v/vt/vn triangles" : f ~ /quads/ ? "v/vt/vn quads,\\ngroups, materials" : \
                   f ~ /parts/ ? "positions in 100,000\\ngroups, 5000 materials" : "positions,\\ntriangles"
            name = name "\\n" size[f] " MB"
            line = "\"" name "\""
            for (j = 1; j <= k; j++) line = line " " ((f, r[j]) in rate && rate[f, r[j]] != "" ? rate[f, r[j]] : "?")
            print line
        }
    }' "$tmp/table" >"$tmp/data"
machine=$(grep -m1 '^# ' "$tmp/table" | sed 's/^# //')
# Other work on the machine during the run (a one-minute load of 1.5 or
# more beside the reader's own 1) is said under the chart.
if awk -v l="$(echo "$machine" | sed -n 's/.*load \([0-9.]*\).*/\1/p')" 'BEGIN {exit !(l >= 1.5)}'; then
    machine="$machine: busy machine, figures noisy"
fi
conditions=$(sed -n 2p "$tmp/table" | sed 's/^# //')
gnuplot <<GNUPLOT
set terminal pngcairo size 1000,560 font "sans,10"
set output "$out"
set title "Reading 2M-triangle OBJ files (whole process, median of paired runs)"
set ylabel "MB/s of file read"
set style data histograms
set style histogram clustered gap 1
set style fill solid 0.85 border -1
set boxwidth 0.9
set datafile missing "?"
set yrange [0:*]
set grid ytics
set key outside top center horizontal maxrows 2
set bmargin 7.5
set label 1 "$machine" at screen 0.01, screen 0.05 font "sans,8"
set label 2 "$conditions" at screen 0.01, screen 0.02 font "sans,8"
plot "$tmp/data" using 2:xtic(1) title "kel, 1 thread" lc rgb "#1f5fa8", \
     "" using 3 title "kel, default threads" lc rgb "#6fa8dc", \
     "" using 4 title "fast\\\\_obj" lc rgb "#e69138", \
     "" using 5 title "rapidobj, 1 thread" lc rgb "#6aa84f", \
     "" using 6 title "rapidobj, default threads" lc rgb "#b6d7a8", \
     "" using 7 title "tinyobjloader" lc rgb "#999999", \
     "" using 8 title "kel, file to mesh (default threads)" lc rgb "#0b3d6b"
GNUPLOT
echo "reading-chart: wrote $out"
