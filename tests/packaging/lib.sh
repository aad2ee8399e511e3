# Shared by the packaging tests, which source it after `set -euo pipefail`,
# so any command that fails ends the test.

ok() { printf 'ok: %s\n' "$*"; }
fail() {
    printf 'FAIL: %s\n' "$*" >&2
    exit 1
}

# Scratch space that disappears however the test ends.
scratch=$(mktemp -d "${TMPDIR:-/tmp}/yonamito-packaging.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

# Installs the build the way a distribution package does: prefix /usr,
# staged below $scratch/root.
install_tree() {
    DESTDIR=$scratch/root cmake --install "$1" --prefix /usr >/dev/null
    ok "installed $1 below $scratch/root with prefix /usr"
}
