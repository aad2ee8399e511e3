#!/bin/bash
# Builds the Debian package with CPack into a scratch directory and checks
# it: the Debian file name, the control fields, that it carries exactly the
# files a plain install puts below /usr with Debian's owners and modes, that
# those files are the installed ones (the program stripped), and that the
# md5sums match.
#
# Usage: check_deb.sh <build dir> <version> <summary>
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

build=$1 version=$2 summary=$3
need cmake cpack dpkg dpkg-deb dpkg-shlibdeps file md5sum cmp

make_scratch work
arch=$(dpkg --print-architecture)

cpack -G DEB -B "$work/out" --config "$build/CPackConfig.cmake" >"$work/cpack.log" 2>&1 \
    || { cat "$work/cpack.log" >&2; fail "cpack -G DEB failed"; }
deb=$work/out/yonamito_${version}_${arch}.deb
[[ -f $deb ]] || { ls -l "$work/out" >&2; fail "cpack wrote no $(basename "$deb")"; }
debs=("$work"/out/*.deb)
[[ ${#debs[@]} == 1 ]] || fail "cpack wrote ${#debs[@]} packages instead of one"
ok "cpack -G DEB built $(basename "$deb")"

dpkg-deb --info "$deb"

field() {
    dpkg-deb --field "$deb" "$1"
}
expect_field() {
    [[ $(field "$1") == "$2" ]] || fail "the package has $1: $(field "$1"), expected $2"
    ok "the package has $1: $2"
}
expect_field Package yonamito
expect_field Version "$version"
expect_field Architecture "$arch"
expect_field Section editors
[[ $(field Maintainer) == *'<'*'@'*'>' ]] || fail "the maintainer has no mail address"
ok "the package has Maintainer: $(field Maintainer)"
[[ $(field Description | head -n 1) == "$summary" ]] \
    || fail "the package summary is '$(field Description | head -n 1)'"
ok "the package summary is '$summary'"
[[ $(field Description | wc -l) -gt 1 ]] || fail "the package has no long text below its summary"
ok "the package has a long text below its summary"

# Depends is a comma-separated list whose entries may carry version limits.
mapfile -t depends < <(field Depends | tr ',' '\n' | sed -E 's/^ *//; s/ *\(.*\)$//')
for package in libqt6widgets6 libqt6gui6 libqt6core6 libc6 libstdc++6 \
               fonts-ipafont-gothic fonts-dejavu-core; do
    printf '%s\n' "${depends[@]}" | grep -qxF "$package" \
        || fail "Depends lacks $package: $(field Depends)"
    ok "Depends names $package"
done

# The package must carry exactly what cmake --install records for prefix /usr.
# The manifest lists the final paths, without the staging root; removing it
# first makes sure the list read below comes from this very install.
rm -f "$build/install_manifest.txt"
install_tree "$build" "$work/root"
[[ -f $build/install_manifest.txt ]] || fail "cmake --install wrote no install manifest"
! grep -v '^/usr/' "$build/install_manifest.txt" || fail "the install manifest names files outside /usr"
expected=$(sed 's|^/|./|' "$build/install_manifest.txt" | LC_ALL=C sort)
dpkg-deb --contents "$deb" >"$work/contents"
packaged=$(awk '$1 !~ /^d/ { print $6 }' "$work/contents" | LC_ALL=C sort)
if [[ $packaged != "$expected" ]]; then
    diff <(printf '%s\n' "$expected") <(printf '%s\n' "$packaged") >&2 || true
    fail "the package contents differ from the install manifest (< installed, > packaged)"
fi
ok "the package holds exactly the $(wc -l <<<"$expected") files of the install manifest"

# Every entry belongs to root; the program is executable, the rest is data.
awk '
    $2 != "root/root" { print "owned by " $2 ": " $6; bad = 1 }
    $1 ~ /^d/ && $1 != "drwxr-xr-x" { print "mode " $1 ": " $6; bad = 1 }
    $1 ~ /^-/ && $6 == "./usr/bin/yonamito" && $1 != "-rwxr-xr-x" { print "mode " $1 ": " $6; bad = 1 }
    $1 ~ /^-/ && $6 != "./usr/bin/yonamito" && $1 != "-rw-r--r--" { print "mode " $1 ": " $6; bad = 1 }
    $1 !~ /^[-d]/ { print "not a plain file or directory: " $6; bad = 1 }
    END { exit bad }' "$work/contents" >&2 || fail "the package has wrong owners or modes"
ok "every packaged entry is owned by root/root with Debian's usual modes"

dpkg-deb -x "$deb" "$work/unpacked"
dpkg-deb -e "$deb" "$work/control"
while read -r path; do
    [[ $path == ./usr/bin/yonamito ]] && continue
    cmp "$work/root/$path" "$work/unpacked/$path" || fail "$path differs from the installed file"
done <<<"$expected"
ok "every packaged data file is identical to the installed one"

kind=$(file -b "$work/unpacked/usr/bin/yonamito")
[[ $kind == ELF*executable* && $kind == *", stripped"* ]] \
    || fail "the packaged program is not a stripped ELF executable: $kind"
ok "the packaged program is a stripped ELF executable"

[[ -f $work/control/md5sums ]] || fail "the package has no md5sums"
(cd "$work/unpacked" && md5sum --check --quiet "$work/control/md5sums") \
    || fail "the md5sums do not match the packaged files"
[[ $(wc -l <"$work/control/md5sums") == $(wc -l <<<"$expected") ]] \
    || fail "the md5sums do not cover every packaged file"
ok "the md5sums cover and match every packaged file"
