#!/bin/bash
# Compiles the configured Windows resource script with llvm-rc and reads the
# binary .res file back: it must hold one Japanese version resource whose
# fixed block carries the project version as four numbers and whose strings
# arrive in UTF-16 exactly as written, and a Japanese icon group named
# IDI_ICON1 with one icon per image of the .ico file. This catches syntax
# errors and text that a wrong code page would garble, which reading the
# script as text cannot.
#
# Usage: compile_rc.sh <configured yonamito.rc> <project version> <ico sizes,...>
#                      <llvm-rc> <directory with a stand-in windows.h>
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

rc=$1 version=$2 ico_sizes=$3 llvm_rc=$4 include_dir=$5
need od iconv

make_scratch work
# llvm-rc 14 does not act on '#pragma code_page', which rc.exe and windres
# honour, so the code page the pragma asks for is given on the command line;
# check_rc.sh makes sure the pragma itself is in place.
"$llvm_rc" -I "$include_dir" -C 65001 -fo "$work/yonamito.res" "$rc" \
    || fail "llvm-rc cannot compile $rc"
ok "llvm-rc compiles $(basename "$rc")"

mapfile -t bytes < <(od -An -v -tu1 "$work/yonamito.res" | tr -s ' ' '\n' | sed '/^$/d')
size=${#bytes[@]}

u16() { echo $((bytes[$1] | bytes[$1 + 1] << 8)); }
u32() { echo $((bytes[$1] | bytes[$1 + 1] << 8 | bytes[$1 + 2] << 16 | bytes[$1 + 3] << 24)); }

# Reads a resource type or name at offset $1: either 0xFFFF and a number, or a
# zero-terminated UTF-16 string. Sets `ident` and `next`.
read_ident() {
    local at=$1
    if (($(u16 "$at") == 0xFFFF)); then
        ident="#$(u16 $((at + 2)))"
        next=$((at + 4))
    else
        ident=
        while (($(u16 "$at") != 0)); do
            ident+=$(printf "\\x$(printf %x "$(u16 "$at")")")
            at=$((at + 2))
        done
        next=$((at + 2))
    fi
}

# The .res file is a list of entries, each a header and its data, both
# padded to four bytes. The first entry is an empty marker.
resources=()
version_data=
at=0
while ((at < size)); do
    data_size=$(u32 "$at")
    header_size=$(u32 $((at + 4)))
    read_ident $((at + 8)); type=$ident
    read_ident "$next"; name=$ident
    fields=$(((next + 3) / 4 * 4))
    language=$(printf %04x "$(u16 $((fields + 6)))")
    data=$((at + header_size))
    ((data + data_size <= size)) || fail "the .res entry at byte $at runs past the end"
    if ((data_size > 0)); then
        resources+=("$type $name $language")
        [[ $type == '#16' ]] && version_data=$data
    fi
    at=$(((data + data_size + 3) / 4 * 4))
done

IFS=, read -ra ico_list <<<"$ico_sizes"
# The single images come first, then the group that lists them.
expected=()
for i in "${!ico_list[@]}"; do
    expected+=("#3 #$((i + 1)) 0411")
done
expected+=("#14 IDI_ICON1 0411" "#16 #1 0411")
[[ ${resources[*]} == "${expected[*]}" ]] \
    || fail "the resources are (${resources[*]}), expected (${expected[*]})"
ok "the .res holds the IDI_ICON1 group, ${#ico_list[@]} icons and the version, all Japanese (0411)"

# VS_FIXEDFILEINFO starts with the signature 0xFEEF04BD, right after the
# "VS_VERSION_INFO" key at byte 6 of the version data and its padding.
fixed=$(((version_data + 6 + 32 + 3) / 4 * 4))
(($(u32 "$fixed") == 0xFEEF04BD)) || fail "no fixed version block where it belongs"
IFS=. read -ra fields <<<"$version"
n=()
for i in 0 1 2 3; do n+=($((10#${fields[i]:-0}))); done
want_ms=$((n[0] << 16 | n[1])) want_ls=$((n[2] << 16 | n[3]))
for what in "file:8" "product:16"; do
    offset=${what#*:}
    ms=$(u32 $((fixed + offset))) ls=$(u32 $((fixed + offset + 4)))
    ((ms == want_ms && ls == want_ls)) \
        || fail "the ${what%:*} version is $((ms >> 16)),$((ms & 0xFFFF)),$((ls >> 16)),$((ls & 0xFFFF))"
    ok "the fixed ${what%:*} version is ${n[0]},${n[1]},${n[2]},${n[3]}"
done
(($(u32 $((fixed + 36))) == 1)) || fail "the file type is not VFT_APP (1)"
ok "the fixed file type is VFT_APP"

# String values follow their zero-terminated UTF-16 key, padded to four bytes.
hex=" $(printf '%02x ' "${bytes[@]}")"
utf16() {
    # Bytes as "xx " groups, matching the layout of $hex.
    printf '%s' "$1" | iconv -f UTF-8 -t UTF-16LE | od -An -v -tx1 | tr -s ' \n' ' ' | sed 's/^ //'
}
expect_value() {
    local pattern
    pattern=" $(utf16 "$1")00 00 (00 00 )?$(utf16 "$2")00 00 "
    grep -qE "$pattern" <<<"$hex" || fail "the .res has no $1 of \"$2\" in UTF-16"
    ok "the compiled $1 is \"$2\""
}
expect_value FileVersion "$version"
expect_value ProductVersion "$version"
expect_value ProductName ヨナミト
expect_value FileDescription Exeﾌｧｲﾙ
grep -qE " $(utf16 041104b0)00 00 " <<<"$hex" || fail "the .res has no string block 041104b0"
ok "the compiled strings sit in block 041104b0"
grep -qE " $(utf16 Translation)00 00 (00 00 )?11 04 b0 04 " <<<"$hex" \
    || fail "the .res has no Translation entry for 0x0411 and code page 1200"
ok "the compiled Translation entry is 0x0411, 1200"
