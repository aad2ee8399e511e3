#!/bin/bash
# Installs the build into a scratch root and checks that desktops and
# software centres accept the desktop entry and the AppStream metadata found
# there, and that the metadata announces the project's version.
#
# Usage: check_install.sh <build dir> <app id> <project version>
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

build=$1 app_id=$2 version=$3
install_tree "$build"
root=$scratch/root

desktop=$root/usr/share/applications/$app_id.desktop
# The validator exits with 0 on warnings and hints, so any output at all
# counts as a rejection.
if ! report=$(desktop-file-validate "$desktop" 2>&1) || [[ -n $report ]]; then
    fail "desktop-file-validate rejects $app_id.desktop: $report"
fi
ok "desktop-file-validate accepts $app_id.desktop without a remark"

# The program reads nothing from its command line, so Exec must be the bare
# name of the installed program: with a field code such as %f, file managers
# would offer to open files with it that it silently ignores.
program=$(sed -n 's/^Exec=//p' "$desktop")
[[ -n $program && -f $root/usr/bin/$program && -x $root/usr/bin/$program ]] \
    || fail "Exec=$program is not the bare name of a program in /usr/bin"
ok "Exec=$program names the installed program without arguments"

metainfo=$root/usr/share/metainfo/$app_id.metainfo.xml
report=$(appstreamcli validate --no-net --pedantic "$metainfo" 2>&1) \
    || fail "appstreamcli validate rejects $app_id.metainfo.xml: $report"
ok "appstreamcli validate --no-net accepts $app_id.metainfo.xml"

# Software centres show the first release listed as the installed version.
release=$(xmllint --xpath 'string(/component/releases/release[1]/@version)' "$metainfo")
[[ $release == "$version" ]] || fail "the metainfo release is '$release', not $version"
ok "the metainfo release is the project version $version"
