#!/usr/bin/env bash
# Encoding detection on real Japanese text, beside uchardet and nkf measured
# in the same run; see README.md. Usage: bench/detect.sh [-n PER_CELL]
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}

# The packages whose Japanese message catalogues give the short strings and
# the English ones the ASCII files, and the Japanese manual pages that give
# the paragraphs. Naming them (instead of taking whatever is installed)
# keeps the corpus the same from machine to machine.
CATALOGUE_PACKAGES="coreutils apt dpkg bash grep sed tar findutils diffutils libc-l10n"
PACKAGES="uchardet nkf gettext manpages-ja $CATALOGUE_PACKAGES"

missing=()
for p in $PACKAGES; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    if [ "$(id -u)" -ne 0 ]; then
        echo "detect.sh: install first: apt-get install ${missing[*]}" >&2
        exit 1
    fi
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
fi

[ -f "$BUILD_DIR/build.ninja" ] || [ -f "$BUILD_DIR/Makefile" ] ||
    cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD_DIR" --target bench_detect >/dev/null

WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

# Each message of a catalogue, translated and in English, ends in a zero
# byte (msgexec's built-in "0" command).
for p in $CATALOGUE_PACKAGES; do
    dpkg -L "$p" | grep '/locale/ja/LC_MESSAGES/.*\.mo$' || true
done | sort -u >"$WORK/catalogues"
if [ ! -s "$WORK/catalogues" ]; then
    echo "detect.sh: no Japanese message catalogues installed (are locales excluded" \
        "in /etc/dpkg/dpkg.cfg.d?)" >&2
    exit 1
fi
while read -r mo; do
    msgunfmt "$mo" | msgexec 0 >>"$WORK/messages"
    # msgen fills only empty translations, so they are emptied first.
    msgunfmt "$mo" | msgfilter --keep-header sed -e d | msgen - | msgexec 0 >>"$WORK/english"
done <"$WORK/catalogues"

# The manual pages as roff source; the benchmark cuts them into paragraphs.
dpkg -L manpages-ja | grep '/man/ja/man[1-8]/.*\.gz$' | sort | while read -r page; do
    [ -f "$page" ] && ! [ -L "$page" ] && zcat "$page"
done >"$WORK/manpages"

echo "corpus: $(wc -l <"$WORK/catalogues") catalogues of: $CATALOGUE_PACKAGES;" \
    "$(dpkg -L manpages-ja | grep -c '/man/ja/man[1-8]/.*\.gz$') manual pages of manpages-ja"
"$BUILD_DIR/bench/bench_detect" --messages "$WORK/messages" --english "$WORK/english" \
    --manpages "$WORK/manpages" --work "$WORK/files" "$@"
