#!/usr/bin/env bash
# Icon pulse benchmark: runs bench_pulse on a private virtual X display
# with a window manager, so that every repaint it times reaches a real X
# server. Without Xvfb it falls back to Qt's offscreen platform, where a
# repaint only reaches memory.
#
# Usage: bench/pulse.sh [BENCH_PULSE] [-- bench_pulse options, e.g. --ticks 50]
# Environment: BUILD_DIR (default build).
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD_DIR=${BUILD_DIR:-$ROOT/build}
BENCH_PULSE=$BUILD_DIR/bench/bench_pulse
if [ $# -gt 0 ] && [ "$1" != "--" ]; then
    BENCH_PULSE=$1
    shift
fi
[ "${1:-}" != "--" ] || shift
if [ ! -x "$BENCH_PULSE" ]; then
    echo "missing executable: $BENCH_PULSE" >&2
    echo "build first: cmake -S . -B build && cmake --build build --target bench_pulse" >&2
    exit 2
fi

. "$ROOT/bench/xdisplay.sh"
if start_bench_display; then
    if env -u QT_QPA_PLATFORM QT_QPA_PLATFORM=xcb LC_ALL=C.UTF-8 "$BENCH_PULSE" "$@"; then
        exit 0
    fi
    echo "bench_pulse failed on $DISPLAY; trying the offscreen platform" >&2
    stop_bench_display
else
    echo "no virtual X display (packages xvfb, openbox, x11-utils); using the offscreen platform" >&2
fi
env -u DISPLAY QT_QPA_PLATFORM=offscreen LC_ALL=C.UTF-8 "$BENCH_PULSE" "$@"
