#!/bin/bash
# Installs the build into a scratch root and has the icon checker compare the
# installed theme icons with the original 32x32 picture.
#
# Usage: check_icons.sh <build dir> <icon checker> <original xpm> <app id>
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

build=$1 checker=$2 original=$3 app_id=$4
install_tree "$build"
"$checker" "$original" "$scratch/root/usr/share/icons/hicolor" "$app_id" \
    || fail "the installed icons do not match $(basename "$original")"
