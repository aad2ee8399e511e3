# Helpers shared by the packaging tests. Each test sources this file after
# `set -euo pipefail`, so any command that fails ends the test.

ok() {
    printf 'ok: %s\n' "$*"
}

fail() {
    printf 'FAIL: %s\n' "$*" >&2
    exit 1
}

need() {
    local tool
    for tool in "$@"; do
        command -v "$tool" >/dev/null || fail "$tool is not installed"
    done
}

# Creates a scratch directory that disappears when the test ends, however it
# ends, and stores its path in the variable named by $1.
make_scratch() {
    local dir
    dir=$(mktemp -d "${TMPDIR:-/tmp}/yonamito-packaging.XXXXXX")
    # The trap is set here, in the caller's shell, and removes every scratch
    # directory made so far.
    scratch_dirs+=("$dir")
    trap 'rm -rf "${scratch_dirs[@]}"' EXIT
    printf -v "$1" '%s' "$dir"
}
scratch_dirs=()

# Installs the build tree the way a distribution package does: prefix /usr,
# staged below a root directory.
install_tree() {
    local build=$1 root=$2
    DESTDIR=$root cmake --install "$build" --prefix /usr >/dev/null
}

# Prints the regular files and links below a directory, relative to it and
# sorted, one per line.
list_files() {
    (cd "$1" && find . \( -type f -o -type l \) -printf '%P\n' | LC_ALL=C sort)
}
