# Installs the Debian packages that a build or a test run needs, when any
# of them is missing. Sourced by run.sh and test.sh.

install_missing() {
    local missing=()
    local pkg
    for pkg in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
            missing+=("$pkg")
        fi
    done
    if [ ${#missing[@]} -eq 0 ]; then
        return 0
    fi
    local install=(apt-get install -y --no-install-recommends "${missing[@]}")
    local sudo=()
    if [ "$(id -u)" -ne 0 ]; then
        if ! command -v sudo >/dev/null; then
            echo "Missing Debian packages; run this as root, then try again: ${install[*]}" >&2
            exit 1
        fi
        sudo=(sudo)
    fi
    echo "Installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    # A fresh machine may have no package lists yet; an old list may name
    # versions the mirror no longer has. Try as is, then refresh once.
    if ! "${sudo[@]}" "${install[@]}"; then
        if ! { "${sudo[@]}" apt-get update && "${sudo[@]}" "${install[@]}"; }; then
            echo "Could not install the packages; run this as root, then try again: ${install[*]}" >&2
            exit 1
        fi
    fi
}

BUILD_PACKAGES=(cmake ninja-build g++ make qt6-base-dev qt6-base-private-dev qt6-base-dev-tools libgl-dev
    qt6-translations-l10n fonts-ipafont-gothic fonts-dejavu-core libx11-dev)
TEST_PACKAGES=(xvfb xauth openbox xdotool x11-utils imagemagick desktop-file-utils appstream
    dpkg-dev file libxml2-utils clang clang-tidy clang-format libclang-rt-14-dev python3
    lintian man-db groff-base)
