#!/usr/bin/env bash
# The text box against a plain editor on a real X server: there Qt takes
# the X11 key scheme, which binds keys the offscreen platform leaves free
# (Ctrl+K deletes to the end of the line), and windows are mapped for real.
. "$(dirname "$0")/lib.sh"
: "${TEXT_BOX_TEST:?path of the test_text_box executable}"
start_display
QT_QPA_PLATFORM=xcb "$TEXT_BOX_TEST"
