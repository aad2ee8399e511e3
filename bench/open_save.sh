#!/usr/bin/env bash
# Open/save benchmark: builds bench_open_save in an optimised build and runs
# it on a private virtual X display with a window manager, so that every
# paint and every keystroke it times goes through a real X server.
#
# Usage: bench/open_save.sh [-n REPS] [--limit SECONDS] [--only TEXT] [--no-build]
# Environment: BUILD_DIR (default build-bench). A new build folder is set
# up as a Release build; an existing one is used as it is configured.
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD_DIR=${BUILD_DIR:-$ROOT/build-bench}

usage() {
    echo "usage: $0 [-n REPS] [--limit SECONDS] [--only TEXT] [--no-build]" >&2
    exit 2
}

args=()
build=1
while [ $# -gt 0 ]; do
    case $1 in
    -n | --reps)
        [ $# -ge 2 ] || usage
        args+=(--reps "$2")
        shift 2
        ;;
    --limit | --only)
        [ $# -ge 2 ] || usage
        args+=("$1" "$2")
        shift 2
        ;;
    --no-build)
        build=0
        shift
        ;;
    *) usage ;;
    esac
done

if [ "$build" = 1 ]; then
    if [ ! -f "$BUILD_DIR/CMakeCache.txt" ]; then
        cmake -S "$ROOT" -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
    fi
    cmake --build "$BUILD_DIR" -j2 --target bench_open_save >/dev/null
fi
BENCH=$BUILD_DIR/bench/bench_open_save
if [ ! -x "$BENCH" ]; then
    echo "missing executable: $BENCH (it needs the libx11-dev package)" >&2
    exit 2
fi

. "$ROOT/bench/xdisplay.sh"
# A second try: another display starting at the same moment can take the
# number Xvfb was about to claim.
if ! start_bench_display && ! { stop_bench_display && start_bench_display; }; then
    echo "cannot start Xvfb with openbox (packages xvfb, openbox, x11-utils)" >&2
    exit 2
fi
echo "build: $BUILD_DIR ($(sed -n 's/^CMAKE_BUILD_TYPE:STRING=//p' "$BUILD_DIR/CMakeCache.txt")), display $DISPLAY"
env -u QT_QPA_PLATFORM QT_QPA_PLATFORM=xcb LC_ALL=C.UTF-8 "$BENCH" "${args[@]}"
