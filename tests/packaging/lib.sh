# Shared by the packaging checks: sourced, not run.
skip=77
failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}
need() {  # PROGRAM DEBIAN_PACKAGE
    command -v "$1" >/dev/null 2>&1 ||
        { echo "FAIL: $1 is missing (Debian package $2; scripts/install-deps.sh installs it)" >&2; exit 1; }
}
finish() {  # WHAT
    [ "$failures" -eq 0 ] || { echo "$failures failure(s)" >&2; exit 1; }
    echo "$1: checks passed"
    exit 0
}
