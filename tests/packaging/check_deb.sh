#!/bin/bash
# Builds the Debian package with CPack into a scratch directory and checks its
# file name, its version and dependencies, and that it carries exactly the
# files a plain install puts below /usr.
#
# Usage: check_deb.sh <build dir> <project version>
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

build=$1 version=$2
arch=$(dpkg --print-architecture)

cpack -G DEB -B "$scratch/out" --config "$build/CPackConfig.cmake" >"$scratch/cpack.log" 2>&1 \
    || { cat "$scratch/cpack.log" >&2; fail "cpack -G DEB failed"; }
deb=$scratch/out/yonamito_${version}_${arch}.deb
[[ -f $deb ]] || fail "cpack wrote no $(basename "$deb"), only: $(cd "$scratch/out" && echo *.deb)"
ok "cpack -G DEB built $(basename "$deb")"

info=$(dpkg-deb --info "$deb")
grep -qxF " Version: $version" <<<"$info" || fail "dpkg-deb --info shows no Version: $version"
ok "dpkg-deb --info shows Version: $version"

# The Qt libraries come from dpkg-shlibdeps, the fonts, which the program
# only looks up by name at run time, from the CPack settings. Entries may
# carry version limits.
depends=$(sed -n 's/^ Depends: //p' <<<"$info" | tr ',' '\n' | sed -E 's/^ *//; s/ *\(.*//')
for package in libqt6widgets6 fonts-ipafont-gothic qt6-translations-l10n; do
    grep -qxF "$package" <<<"$depends" || fail "Depends lacks $package: ${depends//$'\n'/, }"
    ok "Depends names $package"
done

# Whatever is installed outside /usr, or only by one of the two, shows here.
install_tree "$build"
installed=$(cd "$scratch/root" && find usr ! -type d -printf './%p\n' | LC_ALL=C sort)
packaged=$(dpkg-deb --contents "$deb" | awk '$1 !~ /^d/ { print $6 }' | LC_ALL=C sort)
if [[ $packaged != "$installed" ]]; then
    diff <(echo "$installed") <(echo "$packaged") >&2 || true
    fail "the package contents differ from a plain install below /usr (< installed, > packaged)"
fi
ok "the package holds exactly the $(wc -l <<<"$installed") files a plain install puts below /usr"

# Debian's own checks. Lintian warns when it runs as root, which CI does; that
# notice is not about the package.
report=$(lintian --fail-on error,warning "$deb" 2>&1) \
    || fail "lintian finds errors or warnings: $report"
report=$(grep -v '^running with root privileges is not recommended!$' <<<"$report" || true)
[[ -z $report ]] || fail "lintian reports: $report"
ok "lintian reports no error and no warning"

changelog=$(zcat "$scratch/root/usr/share/doc/yonamito/changelog.gz" | dpkg-parsechangelog -l - -S Version)
[[ $changelog == "$version" ]] || fail "the changelog's latest entry is $changelog, not $version"
ok "the changelog's latest entry is $version"

# Each manual page renders without a single warning from groff (-ww), in
# the width man gives when it writes to no terminal, and in its own language.
for row in "man/man1/yonamito.1.gz NAME" "man/ja/man1/yonamito.1.gz 名前"; do
    read -r page heading <<<"$row"
    file=$scratch/root/usr/share/$page
    [[ -f $file ]] || fail "no manual page $page"
    report=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings=w -E UTF-8 -l "$file" 2>&1 >"$scratch/page")
    [[ -z $report ]] || fail "man -l $page warns: $report"
    grep -qxF "$heading" "$scratch/page" || fail "man -l $page has no heading $heading"
    ok "man -l $page renders without a warning, headed $heading"
done
