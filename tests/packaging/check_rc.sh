#!/bin/bash
# Checks the configured Windows resource script: it must be UTF-8 that tells
# the resource compiler so before any Japanese text, carry the project
# version both as the "2.00" strings Explorer displays and as the four
# numbers of the fixed version block, declare itself Japanese/Unicode,
# and name an icon file that the build actually produced.
#
# Usage: check_rc.sh <configured yonamito.rc> <project version> <ico sizes,...>
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

rc=$1 version=$2 ico_sizes=$3
need iconv file
[[ -f $rc ]] || fail "$rc does not exist"

iconv -f UTF-8 -t UTF-8 "$rc" >/dev/null || fail "$rc is not valid UTF-8"
[[ $(head -c 3 "$rc" | od -An -tx1 | tr -d ' ') != efbbbf ]] \
    || fail "$rc starts with a byte order mark, which the pragma makes redundant"
ok "$(basename "$rc") is UTF-8 without a byte order mark"

pragma_line=$(grep -n -m1 -xF '#pragma code_page(65001)' "$rc" | cut -d: -f1) \
    || fail "$rc has no '#pragma code_page(65001)' line"
first_non_ascii=$(LC_ALL=C grep -n -m1 -P '[^\x00-\x7F]' "$rc" | cut -d: -f1) \
    || fail "$rc contains no Japanese text at all"
((pragma_line < first_non_ascii)) \
    || fail "line $first_non_ascii has non-ASCII text before the code page pragma on line $pragma_line"
ok "#pragma code_page(65001) on line $pragma_line precedes the first non-ASCII text on line $first_non_ascii"

# Windows wants four 16-bit numbers; leading zeros are not octal but decimal
# version fields, so "2.00" means 2,0,0,0.
IFS=. read -ra fields <<<"$version"
((${#fields[@]} >= 1 && ${#fields[@]} <= 4)) || fail "cannot split version '$version'"
numbers=()
for i in 0 1 2 3; do
    field=${fields[i]:-0}
    [[ $field =~ ^[0-9]+$ ]] || fail "version field '$field' is not a number"
    numbers+=($((10#$field)))
done
commas=$(IFS=,; echo "${numbers[*]}")

expect_line() {
    grep -qxE "[[:space:]]*$1[[:space:]]*" "$rc" || fail "$rc has no line matching: $1"
    ok "$(basename "$rc") has: $2"
}
expect_line "FILEVERSION $commas" "FILEVERSION $commas"
expect_line "PRODUCTVERSION $commas" "PRODUCTVERSION $commas"
expect_line 'FILETYPE VFT_APP' 'FILETYPE VFT_APP'
expect_line 'LANGUAGE LANG_JAPANESE, SUBLANG_DEFAULT' 'LANGUAGE LANG_JAPANESE, SUBLANG_DEFAULT'
expect_line 'BLOCK "041104b0"' 'the string block for Japanese (0x0411) in Unicode (1200)'
expect_line 'VALUE "Translation", 0x0411, 1200' 'a Translation entry for 0x0411 and code page 1200'

escaped_version=${version//./\\.}
expect_line "VALUE \"FileVersion\", \"$escaped_version\"" "FileVersion \"$version\""
expect_line "VALUE \"ProductVersion\", \"$escaped_version\"" "ProductVersion \"$version\""
expect_line 'VALUE "ProductName", "ヨナミト"' 'ProductName "ヨナミト"'
expect_line 'VALUE "FileDescription", "Exeﾌｧｲﾙ"' 'FileDescription "Exeﾌｧｲﾙ"'

# No placeholder may survive configuration.
! grep -n '@[A-Z_]*@' "$rc" || fail "$rc still holds configure placeholders"
ok "no configure placeholders are left"

ico=$(sed -nE 's/^[[:space:]]*IDI_ICON1[[:space:]]+ICON[[:space:]]+"([^"]+)"[[:space:]]*$/\1/p' "$rc")
[[ -n $ico ]] || fail "$rc has no IDI_ICON1 icon"
[[ -f $ico ]] || fail "the icon $ico named by $rc does not exist"
IFS=, read -ra ico_list <<<"$ico_sizes"
kind=$(file -b "$ico")
[[ $kind == "MS Windows icon resource - ${#ico_list[@]} icons"* ]] \
    || fail "$ico is '$kind'"
ok "IDI_ICON1 names $(basename "$ico"), a Windows icon with ${#ico_list[@]} images"
