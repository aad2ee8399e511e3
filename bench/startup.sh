#!/usr/bin/env bash
# Start-up benchmark: yonamito against a plain Qt window with the same
# controls, both on a private virtual X display with a window manager.
# Each run times the program from its start until its window is viewable,
# and reads its peak resident memory (VmHWM) once the window has settled.
# The two programs take turns, in alternating order, so that both see the
# same machine; the table shows medians and yonamito/baseline ratios.
#
# Usage: bench/startup.sh [-n RUNS] [YONAMITO [BASELINE]]
# Environment: BUILD_DIR (default build), RUNS (default 21), SETTLE_MS
# (default 300), RESULTS (CSV file for the raw figures).
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD_DIR=${BUILD_DIR:-$ROOT/build}
RUNS=${RUNS:-21}
SETTLE_MS=${SETTLE_MS:-300}
START_GOAL=1.20
MEMORY_GOAL=1.30

usage() {
    echo "usage: $0 [-n RUNS] [YONAMITO [BASELINE]]" >&2
    exit 2
}

positional=()
while [ $# -gt 0 ]; do
    case $1 in
    -n | --runs)
        [ $# -ge 2 ] || usage
        RUNS=$2
        shift 2
        ;;
    -h | --help) usage ;;
    *)
        positional+=("$1")
        shift
        ;;
    esac
done
[ ${#positional[@]} -le 2 ] || usage
[[ $RUNS =~ ^[1-9][0-9]*$ ]] || usage

YONAMITO=${positional[0]:-$BUILD_DIR/yonamito}
BASELINE=${positional[1]:-$BUILD_DIR/bench/bench_baseline_window}
PROBE=${PROBE:-$BUILD_DIR/bench/bench_map_probe}
for exe in "$YONAMITO" "$BASELINE" "$PROBE"; do
    if [ ! -x "$exe" ]; then
        echo "missing executable: $exe" >&2
        echo "build first: cmake -S . -B build && cmake --build build" >&2
        echo "(bench_map_probe needs the libx11-dev package)" >&2
        exit 2
    fi
done

. "$ROOT/bench/xdisplay.sh"
if ! start_bench_display; then
    echo "cannot start Xvfb with openbox (packages xvfb, openbox, x11-utils)" >&2
    exit 2
fi

RESULTS=${RESULTS:-$(mktemp "${TMPDIR:-/tmp}/yonamito-startup.XXXXXX.csv")}
LOG=${RESULTS%.csv}.log
echo "run,program,startup_us,hwm_kb,rss_kb" >"$RESULTS"
: >"$LOG"

# Runs one program under the probe; appends "run,name,figures" to the
# results unless the run is a warm-up (run 0).
measure() {
    local run=$1 name=$2 exe=$3 line
    if ! line=$(env -u QT_QPA_PLATFORM QT_QPA_PLATFORM=xcb LC_ALL=C.UTF-8 \
        "$PROBE" --settle-ms "$SETTLE_MS" -- "$exe" 2>>"$LOG"); then
        echo "run $run of $name failed; see $LOG" >&2
        exit 1
    fi
    local us hwm rss
    us=$(sed -n 's/.*startup_us=\([0-9]*\).*/\1/p' <<<"$line")
    hwm=$(sed -n 's/.*hwm_kb=\([0-9]*\).*/\1/p' <<<"$line")
    rss=$(sed -n 's/.*rss_kb=\([0-9]*\).*/\1/p' <<<"$line")
    if [ "$run" -gt 0 ]; then
        echo "$run,$name,$us,$hwm,$rss" >>"$RESULTS"
    fi
}

# The first start of each program pays for reading its files from disk and
# filling the font caches; it is run once and not counted.
measure 0 yonamito "$YONAMITO"
measure 0 baseline "$BASELINE"
for run in $(seq "$RUNS"); do
    if [ $((run % 2)) -eq 1 ]; then
        measure "$run" yonamito "$YONAMITO"
        measure "$run" baseline "$BASELINE"
    else
        measure "$run" baseline "$BASELINE"
        measure "$run" yonamito "$YONAMITO"
    fi
done

# column NAME FIELD: that column of one program's rows, one value a line.
column() {
    awk -F, -v name="$1" -v field="$2" 'NR > 1 && $2 == name { print $field }' "$RESULTS"
}
median() {
    sort -n | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
lowest() { sort -n | head -1; }
highest() { sort -n | tail -1; }

y_start=$(column yonamito 3 | median)
b_start=$(column baseline 3 | median)
y_mem=$(column yonamito 4 | median)
b_mem=$(column baseline 4 | median)

row() { printf '%-34s %10s %10s %7s  %-7s %s\n' "$@"; }
verdict() { awk -v r="$1" -v g="$2" 'BEGIN { print (r <= g ? "PASS" : "MISS") }'; }
ms() { awk -v v="$1" 'BEGIN { printf "%.1f", v / 1000 }'; }
mib() { awk -v v="$1" 'BEGIN { printf "%.1f", v / 1024 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", a / b }'; }

start_ratio=$(ratio "$y_start" "$b_start")
mem_ratio=$(ratio "$y_mem" "$b_mem")

echo "start-up benchmark: $RUNS runs of each program, alternating, on Xvfb $DISPLAY with openbox"
row "" yonamito baseline ratio goal result
row "start-up to window viewable (ms)" "$(ms "$y_start")" "$(ms "$b_start")" "$start_ratio" \
    "<= $START_GOAL" "$(verdict "$start_ratio" "$START_GOAL")"
row "  fastest .. slowest (ms)" \
    "$(ms "$(column yonamito 3 | lowest)")..$(ms "$(column yonamito 3 | highest)")" \
    "$(ms "$(column baseline 3 | lowest)")..$(ms "$(column baseline 3 | highest)")" "" "" ""
row "peak resident memory, VmHWM (MiB)" "$(mib "$y_mem")" "$(mib "$b_mem")" "$mem_ratio" \
    "<= $MEMORY_GOAL" "$(verdict "$mem_ratio" "$MEMORY_GOAL")"
row "  lowest .. highest (MiB)" \
    "$(mib "$(column yonamito 4 | lowest)")..$(mib "$(column yonamito 4 | highest)")" \
    "$(mib "$(column baseline 4 | lowest)")..$(mib "$(column baseline 4 | highest)")" "" "" ""
echo "medians of $RUNS runs each; raw figures: $RESULTS"
