#!/usr/bin/env bash
# The pulsing icon on a real X server: a real double-click on the message
# starts it, the sizes show on screen, and a second double-click stops it.
. "$(dirname "$0")/lib.sh"
start_display

# Prints the width of the red part of the icon as the screen shows it.
red_width() {
    local ox oy
    read -r ox oy < <(client_origin "$APP_WINDOW")
    import -window root -crop "300x300+$ox+$oy" +repage png:- 2>/dev/null |
        convert png:- -fill black +opaque "#FF0000" -trim -format "%w" info: 2>/dev/null || echo 0
}

start_app
xdotool key --clearmodifiers alt+d
sleep 0.3
rest=$(red_width)
echo "red width at rest: $rest"
[ "$rest" -gt 16 ] && [ "$rest" -le 32 ] || fail "the resting icon is not 32 px wide"

# A point of the message that the icon never covers, even at 256 px.
double_click_at "$APP_WINDOW" 300 20
# A screenshot takes about two ticks of the timer, so a fixed number of
# samples can keep missing the largest size; sampling goes on until it has
# been seen, for at most 60 samples. A screenshot and a fixed pause have
# been seen to add up to half the pulse's cycle exactly, so that every
# sample saw one of two sizes; the pause varies so that the samples drift
# through the cycle whatever a screenshot takes.
widths=()
for i in $(seq 60); do
    widths+=("$(red_width)")
    distinct=$(printf '%s\n' "${widths[@]}" | sort -un | wc -l)
    largest=$(printf '%s\n' "${widths[@]}" | sort -n | tail -1)
    [ "$distinct" -ge 3 ] && [ "$largest" -gt 128 ] && break
    sleep "$(printf '0.%03d' $((i % 5 * 37 + 10)))"
done
echo "red widths while pulsing: ${widths[*]}"
[ "$distinct" -ge 3 ] || fail "the icon did not change size on screen"
[ "$largest" -gt 128 ] || fail "the icon never grew past 128 px"
screenshot "$APP_WINDOW" pulse

double_click_at "$APP_WINDOW" 300 20
sleep 0.4
after=()
for _ in $(seq 2); do
    after+=("$(red_width)")
    sleep 0.1
done
echo "red widths after stopping: ${after[*]}"
for w in "${after[@]}"; do
    expect_eq "$w" "$rest" "icon width after stopping"
done
click_at "$APP_WINDOW" 405 21
wait_exit "$APP_PID"
expect_eq "$APP_STATUS" 0 "exit status after Close"
