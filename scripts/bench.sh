#!/usr/bin/env bash
# Builds the performance programs (default preset), runs them all and prints one table:
# measure, figure (min / median / max of the runs), the limit or goal, their ratio, and
# whether the goal is met.
#
#   scripts/bench.sh [--quick] [--build-dir DIR] [--no-build]
#
#   --quick       one run of each, short device-list scans, 100 polling reads instead of 1000
#                 (about 30 s; the CTest test bench_quick runs this); the full run takes
#                 about 8 minutes, most of it the scans of silent addresses
#   --build-dir   the build tree to use (default build/default, configured with the default
#                 preset)
#   --no-build    use the programs already built there
#
# The programs' own output (Google Benchmark's report, progress) goes to
# DIR/bench/perf/bench.log. Figures taken while the machine is busy with other work are noisy.
set -euo pipefail
cd "$(dirname "$0")/.."

quick=0
build=1
dir=build/default
while [ $# -gt 0 ]; do
    case "$1" in
        --quick) quick=1 ;;
        --no-build) build=0 ;;
        --build-dir) dir=$2; shift ;;
        -h|--help) sed -n '2,16p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
        *) echo "bench.sh: unknown option $1" >&2; exit 2 ;;
    esac
    shift
done

if [ $build -eq 1 ]; then
    cmake --preset default -B "$dir" >/dev/null
    cmake --build "$dir" --target vek-bench
fi
bin=$dir/bench/perf
[ -x "$bin/vek-bench-line" ] && [ -x "$bin/vek-bench-startup" ] && [ -x "$bin/vek-bench-journal" ] || {
    echo "bench.sh: the programs are not built in $bin" >&2
    exit 1
}

export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
mode=()
[ $quick -eq 1 ] && mode=(--quick)
log=$bin/bench.log
rows=$(mktemp)
trap 'rm -f "$rows"' EXIT
: >"$log"

run() {
    local name=$1
    shift
    echo "running $name ${mode[*]}" >&2
    local start=$SECONDS
    echo "=== $name ${mode[*]}" >>"$log"
    if ! "$bin/$name" "${mode[@]}" "$@" 2>>"$log" | grep '^row' >>"$rows"; then
        echo "bench.sh: $name failed; the end of $log:" >&2
        tail -n 30 "$log" >&2
        exit 1
    fi
    echo "  $name done in $((SECONDS - start)) s" >&2
}

if [ -x "$bin/vek-bench-engine" ]; then
    run vek-bench-engine
else
    printf 'row\tengine figures: not built (Google Benchmark, libbenchmark-dev, missing)\t-\t-\t-\t\n' >>"$rows"
fi
run vek-bench-line
run vek-bench-startup
run vek-bench-journal

cpu=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1)
echo
echo "Benchmarks, $( [ $quick -eq 1 ] && echo 'quick run (one run each)' || echo 'full run'), $(date '+%Y-%m-%d %H:%M')"
buildtype=$(sed -n 's/^CMAKE_BUILD_TYPE:[A-Z]*=//p' "$dir/CMakeCache.txt" 2>/dev/null)
sanitize=$(sed -n 's/^VEK_SANITIZE:[A-Z]*=//p' "$dir/CMakeCache.txt" 2>/dev/null)
echo "Build: $dir, ${buildtype:-unknown}$( [ "${sanitize:-OFF}" = ON ] && echo ', with sanitizers (figures not representative)')"
echo "Machine: $(nproc) processors (${cpu:-unknown}), $(uname -sr), load average$(cut -d' ' -f1-3 /proc/loadavg | sed 's/^/ /')"
echo

# The table, columns padded by characters (the texts are UTF-8).
LC_ALL=C awk -F'\t' '
function chars(s,   t) { t = s; return length(s) - gsub(/[\200-\277]/, "", t) }
function pad(s, w) { while (chars(s) < w) s = s " "; return s }
BEGIN {
    head[1] = "measure"; head[2] = "figure (min / median / max)"; head[3] = "limit or goal"
    head[4] = "ratio"; head[5] = "goal"
    for (c = 1; c <= 5; c++) width[c] = chars(head[c])
}
{
    n++
    for (c = 1; c <= 5; c++) {
        cell[n, c] = $(c + 1)
        if (chars(cell[n, c]) > width[c]) width[c] = chars(cell[n, c])
    }
}
END {
    line = "|"; rule = "|"
    for (c = 1; c <= 5; c++) {
        line = line " " pad(head[c], width[c]) " |"
        r = ""; while (length(r) < width[c]) r = r "-"
        rule = rule " " r " |"
    }
    print line; print rule
    for (i = 1; i <= n; i++) {
        line = "|"
        for (c = 1; c <= 5; c++) line = line " " pad(cell[i, c], width[c]) " |"
        print line
    }
}' "$rows"
