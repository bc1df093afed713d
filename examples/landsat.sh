#!/bin/sh
# The Landsat 7 sample scene segmented from the command line into about 300
# regions, the borders drawn over a true-colour composite, and the area and
# band means of every region in a CSV.
#   usage: examples/landsat.sh SCENE OUT_DIR
#   sample: scripts/fetch-sample.sh data/L7_ETMs.tif
set -eu
scene=$1
out=$2
kavu=${KAVU:-kavu}                 # the installed command, or build/bin/kavu
mkdir -p "$out"
# --regions picks lambda from sample windows and prints it: repeat a run
# exactly with --lambda. --tile 128 cuts this small scene into 9 tiles.
"$kavu" segment "$scene" "$out/labels.tif" --regions 300 --tile 128
"$kavu" overlay "$scene" "$out/labels.tif" "$out/overlay.png" --bands 3,2,1
"$kavu" stats "$scene" "$out/labels.tif" -o "$out/stats.csv"
echo "$(($(wc -l < "$out/stats.csv") - 1)) regions: $out/labels.tif, $out/overlay.png, $out/stats.csv"
