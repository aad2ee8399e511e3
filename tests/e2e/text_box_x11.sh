#!/usr/bin/env bash
# The text box against a plain editor on a real X server: there Qt takes
# the X11 key scheme, which binds keys the offscreen platform leaves free
# (Ctrl+K deletes to the end of the line), and windows are mapped for real.
. "$(dirname "$0")/lib.sh"
: "${TEXT_BOX_TEST:?path of the test_text_box executable}"
start_display
# The X11 key list makes other random scripts than offscreen: seeds 4 and 8
# stop at differences the README lists as known (the view, and a click,
# after an Undo in windows lower than a line), so the random scripts here
# take the seeds from 10 on.
QT_QPA_PLATFORM=xcb TEXT_BOX_SEED=${TEXT_BOX_SEED:-10} "$TEXT_BOX_TEST"
