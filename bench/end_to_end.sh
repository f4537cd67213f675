#!/usr/bin/env bash
# End-to-end figures of the tool on synthetic 8-flightline surveys:
#   - the tool LAS -> LAS against reading the input twice and writing it once,
#   - LAS -> VZK and VZK -> LAS against LAS -> LAS,
#   - peak memory at 4 and 20 million points.
# Usage: bench/end_to_end.sh [build-dir] [work-dir]
set -euo pipefail
build=${1:-build}
work=${2:-$(mktemp -d)}
mkdir -p "$work"
tool=$(realpath "$build/tool/trevalon")
make_survey=$(realpath "$build/tools/make_survey")
las_copy=$(realpath "$build/tools/las_copy")
cd "$work"

# Prints "seconds max_rss_kb" of a command: the fastest of three runs, since
# other work on the machine only ever adds time, and the largest peak.
measure() {
  local best="" peak=0 t m
  for _ in 1 2 3; do
    /usr/bin/time -f "%e %M" -o time.txt "$@" 2>/dev/null >/dev/null
    read -r t m <time.txt
    if [ -z "$best" ] || awk -v a="$t" -v b="$best" 'BEGIN { exit !(a < b) }'; then best=$t; fi
    [ "$m" -gt "$peak" ] && peak=$m
  done
  echo "$best $peak"
}

echo "making surveys in $work ..."
"$make_survey" -o s4.las -lines 8 -points 4000000 -format 1 -seed 4
"$make_survey" -o s20.las -lines 8 -points 20000000 -format 1 -seed 20

read -r t_copy m_copy < <(measure "$las_copy" s4.las copy.las -passes 2)
read -r t_las m_las < <(measure "$tool" -i s4.las -o out.las)
read -r t_vzk m_vzk < <(measure "$tool" -i s4.las -o out.vzk)
read -r t_back m_back < <(measure "$tool" -i out.vzk -o back.las)
read -r t_20 m_20 < <(measure "$tool" -i s20.las -o out20.las)

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "n/a" }'; }
echo
echo "4 million points, 8 flightlines (seconds, peak MB):"
printf "  read twice + write once   %6.2f s  %6d MB\n" "$t_copy" $((m_copy / 1024))
printf "  trevalon LAS -> LAS       %6.2f s  %6d MB  ratio to baseline %s (target <= 4)\n" \
  "$t_las" $((m_las / 1024)) "$(ratio "$t_las" "$t_copy")"
printf "  trevalon LAS -> VZK       %6.2f s  %6d MB  ratio to LAS -> LAS %s (target <= 3)\n" \
  "$t_vzk" $((m_vzk / 1024)) "$(ratio "$t_vzk" "$t_las")"
printf "  trevalon VZK -> LAS       %6.2f s  %6d MB  ratio to LAS -> LAS %s (target <= 3)\n" \
  "$t_back" $((m_back / 1024)) "$(ratio "$t_back" "$t_las")"
echo "20 million points:"
printf "  trevalon LAS -> LAS       %6.2f s  %6d MB  memory ratio to 4 million %s (target within 1.2)\n" \
  "$t_20" $((m_20 / 1024)) "$(ratio "$m_20" "$m_las")"
cmp -s out.las back.las && echo "VZK round trip: identical output" || echo "VZK round trip: OUTPUTS DIFFER"
