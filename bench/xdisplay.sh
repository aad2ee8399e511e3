# shellcheck shell=bash
# A private virtual X display with a window manager, for the benchmarks.
# Sourced by startup.sh and pulse.sh; start_bench_display exports DISPLAY
# and the display goes away when the sourcing script exits.

BENCH_DISPLAY_PIDS=()

stop_bench_display() {
    local pid
    for pid in "${BENCH_DISPLAY_PIDS[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    for pid in "${BENCH_DISPLAY_PIDS[@]}"; do
        wait "$pid" 2>/dev/null || true
    done
    BENCH_DISPLAY_PIDS=()
}
trap stop_bench_display EXIT

# Starts Xvfb on a display number it picks itself, then openbox, and waits
# until openbox manages the screen: a window mapped before that would get
# no frame and would map faster than it ever does on a desktop.
# Returns non-zero when either cannot start.
start_bench_display() {
    command -v Xvfb >/dev/null && command -v openbox >/dev/null && command -v xprop >/dev/null ||
        return 1
    local fifo number
    fifo=$(mktemp -u)
    mkfifo "$fifo"
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
    BENCH_DISPLAY_PIDS+=($!)
    if ! read -r -t 20 number <"$fifo"; then
        rm -f "$fifo"
        return 1
    fi
    rm -f "$fifo"
    export DISPLAY=":$number"
    openbox --sm-disable >/dev/null 2>&1 &
    BENCH_DISPLAY_PIDS+=($!)
    local _
    for _ in $(seq 100); do
        if xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id"; then
            return 0
        fi
        sleep 0.1
    done
    return 1
}
