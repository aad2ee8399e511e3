#!/usr/bin/env bash
# The real program on a real X server: the compact dialog, Details, Close,
# the close box, and Enter while typing in the details.
. "$(dirname "$0")/lib.sh"
start_display

# Compact, then expanded by a real click on Details, then closed, at every
# scale: both client sizes are exact to the device pixel and the width never
# changes. The program starts with no locale at all; its title must still
# reach the window manager intact, in the legacy property too.
#
# Device pixels of a length in pixels at the current scale, rounded.
px() { awk -v s="$scale" -v n="$1" 'BEGIN { printf "%d", n * s + 0.5 }'; }
for scale in 1 1.25 1.5 1.75 2; do
    start_app -u LANG -u LC_ALL -u LC_CTYPE QT_SCALE_FACTOR="$scale"
    expect_eq "$(client_size "$APP_WINDOW")" "$(px 462) $(px 92)" "compact client size at $scale"
    if [ "$scale" = 1 ]; then
        titles=$(xprop -id "$APP_WINDOW" WM_NAME _NET_WM_NAME | sed 's/^[^"]*"//; s/"$//' | sort -u)
        expect_eq "$titles" "ヨナミト" "WM_NAME and _NET_WM_NAME without a locale"
        hints=$(xprop -id "$APP_WINDOW" WM_NORMAL_HINTS)
        grep -q "minimum size: 462 by 92" <<<"$hints" || fail "no fixed minimum size: $hints"
        grep -q "maximum size: 462 by 92" <<<"$hints" || fail "no fixed maximum size: $hints"
    fi
    screenshot "$APP_WINDOW" "compact-$scale"
    # Details sits at 5420,1010 twips, 1320 by 320: its centre is 405,78 px.
    click_at "$APP_WINDOW" "$(px 405)" "$(px 78)"
    sleep 0.3
    expect_eq "$(client_size "$APP_WINDOW")" "$(px 462) $(px 246)" "expanded client size at $scale"
    screenshot "$APP_WINDOW" "expanded-$scale"
    if [ "$scale" = 1 ]; then
        # Enter while typing in the details inserts a line and never closes.
        click_at "$APP_WINDOW" 200 150
        xdotool type --delay 20 "typed"
        xdotool key Return Return KP_Enter
        xdotool type --delay 20 "more"
        sleep 0.5
        running || fail "Enter in the details closed the program"
        echo "ok: Enter in the details kept the program open"
        screenshot "$APP_WINDOW" typed
    fi
    if [ "$scale" = 2 ]; then
        # The title bar's close box (the window manager's close) ends it too.
        xdotool key --clearmodifiers alt+F4
    else
        # Close sits at 5420,155 twips: its centre is 405,21 px.
        click_at "$APP_WINDOW" "$(px 405)" "$(px 21)"
    fi
    wait_exit "$APP_PID"
    expect_eq "$APP_STATUS" 0 "exit status after closing at $scale"
done
