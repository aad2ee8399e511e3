#!/bin/bash
# Checks the configured Windows resource script: Explorer's properties page
# must show the project version and the Japanese names of the program.
#
# Usage: check_rc.sh <configured yonamito.rc> <project version>
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

rc=$1 version=$2

# Windows keeps four 16-bit numbers. The fields of the version are decimal
# and missing ones count as zero, so "2.00" becomes 2,0,0,0.
IFS=. read -ra fields <<<"$version"
numbers=$(for i in 0 1 2 3; do echo $((10#${fields[i]:-0})); done | paste -sd,)

lines=$(sed -E 's/^[[:space:]]+//; s/[[:space:]]+$//' "$rc")
expect() {
    grep -qxF "$1" <<<"$lines" || fail "$(basename "$rc") has no line: $1"
    ok "$(basename "$rc") has: $1"
}
expect "FILEVERSION $numbers"
expect "PRODUCTVERSION $numbers"
expect "VALUE \"FileVersion\", \"$version\""
expect "VALUE \"ProductVersion\", \"$version\""
# The strings are Japanese (0x0411) in Unicode (code page 1200).
expect 'BLOCK "041104b0"'
expect 'VALUE "ProductName", "ヨナミト"'
expect 'VALUE "FileDescription", "Exeﾌｧｲﾙ"'
expect 'FILETYPE VFT_APP'
