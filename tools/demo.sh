#!/usr/bin/env bash
# Makes a small synthetic survey, runs the tool on it in two modes and shows
# what it marked.
set -euo pipefail
build=${1:-build}
out=demo-out
rm -rf "$out"
mkdir -p "$out"
bin="$build/tool/trevalon"
make_survey="$build/tools/make_survey"
summary="$build/tools/survey_summary"

echo "== 1. one LAS 1.2 file (point format 1), four flightlines told apart by point source ID"
"$make_survey" -o "$out/survey12.las" -lines 4 -points 200000 -format 1
"$bin" -i "$out/survey12.las" -o "$out/survey12_classified.las" -v 2>&1
"$summary" "$out/survey12_classified.las"

echo
echo "== 2. one LAS 1.4 file (point format 6) compressed to VZK, overage flagged as overlap"
"$make_survey" -o "$out/survey14.las" -lines 4 -points 200000 -format 6
"$bin" -i "$out/survey14.las" -o "$out/survey14_overlap.vzk" -flag_as_overlap -v 2>&1
"$summary" "$out/survey14_overlap.vzk"

echo
echo "== 3. one file per flightline (-files_are_flightlines), overage removed"
"$make_survey" -o "$out/line.las" -lines 3 -points 150000 -format 1 -split
"$bin" -i "$out"/line_*.las -files_are_flightlines -remove_overage -odix _kept -v 2>&1
"$summary" "$out"/line_*_kept.las

echo
echo "== 4. the marking recorded as a layers file beside the input (-otrl), the input left untouched"
"$bin" -i "$out/survey12.las" -otrl -quiet -v 2>&1
ls -l "$out/survey12.trl" | awk '{print "survey12.trl: " $5 " bytes"}'
"$summary" "$out/survey12.las"
"$summary" -itrl "$out/survey12.las"
