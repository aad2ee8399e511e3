#!/bin/bash
# Installs the build into a scratch root and checks that the result is a
# complete desktop program: exactly the expected files, a desktop entry and
# AppStream metadata that the freedesktop.org validators accept, and metadata
# that agrees with the project's version and summary.
#
# Usage: check_install.sh <build dir> <app id> <version> <summary>
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

build=$1 app_id=$2 version=$3 summary=$4
need cmake desktop-file-validate appstreamcli xmllint file

make_scratch root
install_tree "$build" "$root"
ok "installed $build below $root with prefix /usr"

# The complete list: a file missing here means a broken menu entry or icon,
# an extra one means something was installed by accident.
expected=$(LC_ALL=C sort <<LIST
usr/bin/yonamito
usr/share/applications/$app_id.desktop
usr/share/doc/yonamito/copyright
usr/share/icons/hicolor/16x16/apps/$app_id.png
usr/share/icons/hicolor/32x32/apps/$app_id.png
usr/share/icons/hicolor/48x48/apps/$app_id.png
usr/share/icons/hicolor/64x64/apps/$app_id.png
usr/share/icons/hicolor/128x128/apps/$app_id.png
usr/share/icons/hicolor/256x256/apps/$app_id.png
usr/share/metainfo/$app_id.metainfo.xml
usr/share/pixmaps/$app_id.xpm
LIST
)
actual=$(list_files "$root")
if [[ $actual != "$expected" ]]; then
    diff <(printf '%s\n' "$expected") <(printf '%s\n' "$actual") >&2 || true
    fail "the installed files differ from the expected list (< expected, > installed)"
fi
ok "exactly the $(wc -l <<<"$expected") expected files are installed"

binary=$root/usr/bin/yonamito
[[ -x $binary ]] || fail "usr/bin/yonamito is not executable"
file -b "$binary" | grep -q '^ELF .*executable' \
    || fail "usr/bin/yonamito is not an ELF executable: $(file -b "$binary")"
ok "usr/bin/yonamito is an executable ELF program"

# --- Desktop entry -----------------------------------------------------------
desktop=$root/usr/share/applications/$app_id.desktop
# The validator exits with 0 on mere warnings and hints, so its output has
# to be empty as well.
if ! report=$(desktop-file-validate "$desktop" 2>&1) || [[ -n $report ]]; then
    printf '%s\n' "$report" >&2
    fail "desktop-file-validate rejects $app_id.desktop"
fi
ok "desktop-file-validate accepts $app_id.desktop without a remark"

key() {
    # Prints the value of a key in the [Desktop Entry] group; keys with a
    # locale are matched literally, brackets included.
    awk -v key="$1" '
        /^\[/ { in_group = ($0 == "[Desktop Entry]") }
        in_group && index($0, key "=") == 1 { print substr($0, length(key) + 2); found = 1 }
        END { exit !found }' "$desktop"
}
expect_key() {
    local value
    value=$(key "$1") || fail "$app_id.desktop has no $1 key"
    [[ $value == "$2" ]] || fail "$app_id.desktop has $1=$value, expected $1=$2"
    ok "$app_id.desktop has $1=$2"
}
expect_key Type Application
expect_key Name ヨナミト
expect_key 'Name[ja]' ヨナミト
expect_key Comment "$summary"
expect_key Exec yonamito
expect_key Terminal false
expect_key Categories 'Utility;TextEditor;'
expect_key Icon "$app_id"
comment_ja=$(key 'Comment[ja]') || fail "$app_id.desktop has no Japanese comment"
grep -qP '[\x{3040}-\x{30FF}\x{4E00}-\x{9FFF}]' <<<"$comment_ja" \
    || fail "Comment[ja] contains no Japanese text: $comment_ja"
ok "$app_id.desktop has a Japanese comment: $comment_ja"

# Exec=yonamito is only useful if that name is the installed program.
[[ -x $root/usr/bin/$(key Exec) ]] || fail "Exec names no program in usr/bin"
ok "Exec names the installed usr/bin/yonamito"

# --- AppStream metadata ------------------------------------------------------
metainfo=$root/usr/share/metainfo/$app_id.metainfo.xml
if ! report=$(appstreamcli validate --no-net --pedantic "$metainfo" 2>&1); then
    printf '%s\n' "$report" >&2
    fail "appstreamcli validate rejects $app_id.metainfo.xml"
fi
printf '%s\n' "$report"
ok "appstreamcli validate --no-net accepts $app_id.metainfo.xml"

# validate-tree also cross-checks the metadata against the installed desktop
# entry and icons.
if ! report=$(appstreamcli validate-tree --no-net "$root" 2>&1); then
    printf '%s\n' "$report" >&2
    fail "appstreamcli validate-tree rejects the installed tree"
fi
ok "appstreamcli validate-tree --no-net accepts the installed tree"

xpath() {
    xmllint --xpath "$1" "$metainfo"
}
expect_xpath() {
    local value
    value=$(xpath "string($1)")
    [[ $value == "$2" ]] || fail "metainfo $1 is '$value', expected '$2'"
    ok "metainfo $1 is '$2'"
}
expect_xpath /component/id "$app_id"
expect_xpath /component/@type desktop-application
expect_xpath '/component/launchable[@type="desktop-id"]' "$app_id.desktop"
expect_xpath '/component/summary[not(@xml:lang)]' "$summary"
expect_xpath /component/metadata_license CC0-1.0
expect_xpath /component/project_license MIT
expect_xpath /component/content_rating/@type oars-1.1
expect_xpath '/component/releases/release[1]/@version' "$version"
expect_xpath 'count(/component/releases/release)' 1
[[ -n $(xpath 'string(/component/summary[@xml:lang="ja"])') ]] \
    || fail "metainfo has no Japanese summary"
ok "metainfo has a Japanese summary"
[[ -f $root/usr/share/applications/$(xpath 'string(/component/launchable)') ]] \
    || fail "the launchable names no installed desktop entry"
ok "the launchable names the installed desktop entry"
