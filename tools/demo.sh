#!/usr/bin/env bash
# Makes a small synthetic survey and shows what the library does with it.
set -euo pipefail
build=${1:-build}
out=demo-out
mkdir -p "$out"
"$build/tools/make_survey" "$out/survey.las"
echo "demo: wrote $out/survey.las"
