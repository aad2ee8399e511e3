#!/bin/bash
# Installs the build into a scratch root and checks the program icon at every
# size: each file must exist, be a square PNG of its directory's size and be
# a pixel-exact nearest-neighbour copy of the 32x32 original. The Windows
# .ico file from the build tree is held to the same rule, and the XPM kept
# for old menus must be the original file.
#
# Usage: check_icons.sh <build dir> <app id> <icon checker> <source xpm>
#                       <ico file> <sizes,...> <ico sizes,...>
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

build=$1 app_id=$2 checker=$3 source_xpm=$4 ico=$5 sizes=$6 ico_sizes=$7
need cmake file cmp

make_scratch root
install_tree "$build" "$root"
ok "installed $build below $root with prefix /usr"
hicolor=$root/usr/share/icons/hicolor

IFS=, read -ra size_list <<<"$sizes"
for size in "${size_list[@]}"; do
    png=$hicolor/${size}x${size}/apps/$app_id.png
    [[ -f $png ]] || fail "no icon installed at ${size}x${size}"
    # file(1) reads the PNG header on its own, independently of Qt.
    kind=$(file -b "$png")
    [[ $kind == "PNG image data, $size x $size, "* ]] \
        || fail "${size}x${size}/apps/$app_id.png is '$kind'"
    ok "${size}x${size}/apps/$app_id.png is a $size x $size PNG according to file(1)"
done

# No other sizes may hide in the theme: a stray size could be picked instead.
expected=$(for size in "${size_list[@]}"; do
    echo "${size}x${size}/apps/$app_id.png"
done | LC_ALL=C sort)
[[ $(list_files "$hicolor") == "$expected" ]] \
    || fail "the icon theme holds other files than: $(echo $expected)"
ok "no icon sizes besides $sizes are installed"

kind=$(file -b "$ico")
IFS=, read -ra ico_list <<<"$ico_sizes"
[[ $kind == "MS Windows icon resource - ${#ico_list[@]} icons"* ]] \
    || fail "$ico is '$kind'"
ok "$(basename "$ico") is a Windows icon resource according to file(1): $kind"

"$checker" "$source_xpm" "$hicolor" "$app_id" "$sizes" "$ico" "$ico_sizes"

cmp "$source_xpm" "$root/usr/share/pixmaps/$app_id.xpm" \
    || fail "the installed XPM differs from $source_xpm"
ok "usr/share/pixmaps/$app_id.xpm is the original XPM"
