#!/usr/bin/env bash
# The hidden editor on a real X server: show the bar, open a Shift-JIS file
# through the real file dialog, save it under a new name, compare bytes.
. "$(dirname "$0")/lib.sh"
start_display

work=$(mktemp -d)
trap 'cleanup_e2e; rm -rf "$work"' EXIT
printf 'ヨナミト テスト\r\n日本語のﾃｷｽﾄ\r\n\r\nlast line\r\n' | iconv -f UTF-8 -t CP932 >"$work/in.txt"

# Waits for the program's file dialog, checks its title and answers it
# with a path.
answer_dialog() {
    local path=$1 title=$2 dialog
    dialog=$(wait_other_window)
    sleep 0.5
    expect_eq "$(window_title "$dialog")" "$title" "file dialog title"
    # The dialog opens with the focus on its file name field.
    xdotool type --delay 10 "$path"
    xdotool key Return
    for _ in $(seq 50); do
        xdotool search --onlyvisible --pid "$APP_PID" 2>/dev/null | grep -q "^$dialog\$" || return 0
        sleep 0.1
    done
    fail "the file dialog did not close"
}

# On a Japanese desktop, whose locale this machine need not have, Qt's own
# dialogs speak Japanese while the program's texts stay as they are.
start_app -u LC_ALL LANG=ja_JP.UTF-8
xdotool key --clearmodifiers alt+d
sleep 0.3
# A click on the message shows the bar along the bottom edge.
click_at "$APP_WINDOW" 250 20
sleep 0.3
screenshot "$APP_WINDOW" panel

# The bar's inside starts at 13,218 px; Open is at 1080 twips (72 px) and
# Save at 2160 (144 px), each 73 px wide.
click_at "$APP_WINDOW" $((13 + 72 + 36)) 230
answer_dialog "$work/in.txt" "開く"
sleep 0.3
screenshot "$APP_WINDOW" opened

click_at "$APP_WINDOW" $((13 + 144 + 36)) 230
answer_dialog "$work/out" "名前を付けて保存"
for _ in $(seq 50); do
    [ -f "$work/out" ] && break
    sleep 0.1
done
[ -f "$work/out" ] || fail "Save wrote no file (or added a suffix): $(ls "$work")"
cmp "$work/in.txt" "$work/out" || fail "the saved bytes differ from the opened file"
echo "ok: a Shift-JIS file opened and saved under a new name is byte-identical"

# A character Shift-JIS cannot hold: Save asks, in the program's own box,
# before anything is written, and いいえ writes nothing.
click_at "$APP_WINDOW" 200 150
xdotool key --clearmodifiers ctrl+End
# é is not on the virtual keyboard: xdotool maps it to a spare key for the
# press and unmaps it after the delay, which must outlast the program's
# reading of the new map.
xdotool key --clearmodifiers --delay 300 eacute
click_at "$APP_WINDOW" $((13 + 144 + 36)) 230
answer_dialog "$work/out2" "名前を付けて保存"
box=$(wait_other_window)
sleep 0.3
screenshot "$box" ask-utf8
expect_eq "$(window_title "$box")" "ヨナミト" "question box title"
xdotool key --clearmodifiers alt+n
sleep 0.5
xdotool search --onlyvisible --pid "$APP_PID" | grep -q "^$box\$" && fail "いいえ did not close the question box"
[ -e "$work/out2" ] && fail "Save wrote a file although いいえ was chosen"
echo "ok: a character Shift-JIS cannot hold is asked about, and いいえ writes nothing"

# About: a box of its own whose title is exactly its own, closed by Enter.
click_at "$APP_WINDOW" $((13 + 368 + 32)) 230
box=$(wait_other_window)
sleep 0.3
screenshot "$box" about
expect_eq "$(window_title "$box")" "ﾊﾞｰﾁｬﾝ情報" "About box title as the window manager shows it"
xdotool key Return
sleep 0.3
xdotool search --onlyvisible --pid "$APP_PID" | grep -q "^$box\$" && fail "Enter did not close the About box"

running || fail "the program ended"
click_at "$APP_WINDOW" 405 21
wait_exit "$APP_PID"
expect_eq "$APP_STATUS" 0 "exit status after Close"
