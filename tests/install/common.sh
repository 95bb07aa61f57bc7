# Shared by the install tests: loud failures, required tools, a scratch
# directory removed at exit, and an install of the build tree into it.

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# A tool the test cannot do without: missing means failed, never skipped.
need() {
    for tool in "$@"; do
        command -v "$tool" >/dev/null 2>&1 || fail "required tool '$tool' not found"
    done
}

make_scratch() {
    scratch=$(mktemp -d "${TMPDIR:-/tmp}/vendlink-install.XXXXXX") || fail "no scratch directory"
    trap 'rm -rf "$scratch"' EXIT
}

# install_tree BUILD PREFIX
install_tree() {
    "${CMAKE:-cmake}" --install "$1" --prefix "$2" >"$scratch/install.log" 2>&1 ||
        { cat "$scratch/install.log" >&2; fail "cmake --install into $2"; }
}

# The installed library directory (lib, or lib/<multiarch> under /usr).
libdir_of() {
    dir=$(dirname "$(find "$1" -name libvendlink.a | head -n 1)")
    [ -d "$dir" ] || fail "no libvendlink.a under $1"
    echo "$dir"
}
