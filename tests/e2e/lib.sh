# Shared steps of the end-to-end tests: a virtual X display of the test's
# own with a window manager, the real program on it, and a few helpers to
# look at its window. Sourced by each test; needs YONAMITO and ARTIFACTS.

set -euo pipefail
# xprop prints and xdotool matches Japanese titles only in a UTF-8 locale,
# which a fresh machine does not set; the program inherits it too.
export LC_ALL=C.UTF-8

: "${YONAMITO:?path of the yonamito executable}"
: "${ARTIFACTS:?folder for screenshots}"
mkdir -p "$ARTIFACTS"

E2E_PIDS=()
cleanup_e2e() {
    local pid
    for pid in "${E2E_PIDS[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    wait 2>/dev/null || true
}
trap cleanup_e2e EXIT

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# Starts Xvfb on a free display and openbox on it.
start_display() {
    local fifo
    fifo=$(mktemp -u)
    mkfifo "$fifo"
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
    E2E_PIDS+=($!)
    local number
    read -r -t 20 number <"$fifo" || fail "Xvfb did not start"
    rm -f "$fifo"
    export DISPLAY=":$number"
    # On a loaded machine openbox has been seen to miss the screen; start it
    # again if it ended, and show what it said when it never takes over.
    local log wm attempt
    log=$(mktemp)
    for attempt in 1 2 3; do
        openbox >"$log" 2>&1 &
        wm=$!
        E2E_PIDS+=("$wm")
        # Wait until the window manager owns the screen, so that every
        # window the program maps gets its frame.
        for _ in $(seq 200); do
            if xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id"; then
                rm -f "$log"
                return 0
            fi
            running "$wm" || break
            sleep 0.1
        done
        echo "openbox, attempt $attempt:" >&2
        cat "$log" >&2
        kill "$wm" 2>/dev/null || true
    done
    fail "openbox did not start"
}

# Starts the program, with changes to its environment given as env(1)
# arguments; sets APP_PID and APP_WINDOW.
start_app() {
    env -u QT_QPA_PLATFORM "$@" QT_QPA_PLATFORM=xcb "$YONAMITO" &
    APP_PID=$!
    E2E_PIDS+=("$APP_PID")
    APP_WINDOW=$(xdotool search --sync --onlyvisible --pid "$APP_PID" --name "ヨナミト" | head -1)
    [ -n "$APP_WINDOW" ] || fail "no window appeared"
    # Let the window manager finish placing and activating it.
    sleep 0.5
}

# Prints "W H" of the window's client area.
client_size() {
    xwininfo -id "$1" | awk '/^  Width:/ {w=$2} /^  Height:/ {h=$2} END {print w, h}'
}

# Prints "X Y" of the client area's top left corner on the screen.
client_origin() {
    xwininfo -id "$1" | awk '/Absolute upper-left X:/ {x=$4} /Absolute upper-left Y:/ {y=$4} END {print x, y}'
}

# Moves the pointer to a point given in the client area's pixels and waits
# until it is there. xdotool's own wait lasts 15 s when the pointer is
# there already, so it only runs when the pointer has to move.
pointer_to() {
    local window=$1 x=$2 y=$3 ox oy
    read -r ox oy < <(client_origin "$window")
    if [ "$(xdotool getmouselocation | cut -d' ' -f1-2)" != "x:$((ox + x)) y:$((oy + y))" ]; then
        xdotool mousemove --sync $((ox + x)) $((oy + y))
    fi
}

# Clicks at a point given in the client area's pixels.
click_at() {
    pointer_to "$@"
    xdotool click 1
}

double_click_at() {
    pointer_to "$@"
    xdotool click --repeat 2 --delay 80 1
}

# Prints the window's title as the window manager shows it.
window_title() {
    xprop -id "$1" _NET_WM_NAME | sed 's/^[^"]*"//; s/"$//'
}

# Waits for a second window of the program (a dialog or a message box) and
# prints its id.
wait_other_window() {
    local other=""
    for _ in $(seq 100); do
        other=$(xdotool search --onlyvisible --pid "$APP_PID" 2>/dev/null | grep -v "^$APP_WINDOW\$" | head -1 || true)
        if [ -n "$other" ]; then
            echo "$other"
            return 0
        fi
        sleep 0.1
    done
    fail "no second window appeared"
}

# Saves a screenshot of the window, frame included.
screenshot() {
    local window=$1 name=$2 frame
    frame=$(xwininfo -id "$window" -children | awk '/Parent window id:/ {print $4}')
    import -window "${frame:-$window}" "$ARTIFACTS/$name.png"
    echo "screenshot: $ARTIFACTS/$name.png"
}

# Whether the program still runs: an ended child stays a zombie, which
# kill -0 still finds, until its shell reaps it.
running() {
    local pid=${1:-$APP_PID}
    kill -0 "$pid" 2>/dev/null && ! grep -q '^State:.*Z' "/proc/$pid/status" 2>/dev/null
}

# Waits up to N tenths of a second for the program to end and sets
# APP_STATUS to its exit status. It must run in the shell that started the
# program, never in a command substitution: only that shell can reap it.
wait_exit() {
    local pid=$1 tenths=${2:-50}
    for _ in $(seq "$tenths"); do
        if ! running "$pid"; then
            APP_STATUS=0
            wait "$pid" || APP_STATUS=$?
            return 0
        fi
        sleep 0.1
    done
    fail "the program did not end"
}

expect_eq() {
    [ "$1" = "$2" ] || fail "$3: expected '$2', got '$1'"
    echo "ok: $3 = $1"
}
