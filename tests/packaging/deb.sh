#!/bin/sh
# Builds and checks the Debian package:
#
#   deb.sh BUILD_DIR OUT_DIR build          cpack makes OUT_DIR/quenvol_*.deb
#   deb.sh BUILD_DIR OUT_DIR lintian README lintian finds no error, and each warning it
#                                           gives is explained in README
#   deb.sh BUILD_DIR OUT_DIR dpkg           the package installs on this machine, both
#                                           programs run from /usr/bin, and it removes
#                                           and purges cleanly
#
# The dpkg check changes the machine for its length only: it holds a lock so that two runs
# cannot collide, leaves alone a quenvol package someone installed, and purges its own
# whatever way it ends.
set -u

[ $# -ge 3 ] || { echo "usage: $0 BUILD_DIR OUT_DIR build|lintian README|dpkg" >&2; exit 2; }
build=$1
out=$2
mode=$3
. "$(dirname "$0")/lib.sh"
the_deb() {
    deb=$(ls "$out"/quenvol_*.deb 2>/dev/null | head -n 1)
    [ -n "$deb" ] || { echo "FAIL: no package in $out; the build check makes it" >&2; exit 1; }
}

case $mode in
build)
    need dpkg-shlibdeps dpkg-dev
    rm -rf "$out"
    mkdir -p "$out"
    if ! cpack -G DEB --config "$build/CPackConfig.cmake" -B "$out" >"$out/cpack.log" 2>&1; then
        cat "$out/cpack.log" >&2
        fail "cpack did not make the package"
    fi
    the_deb
    depends=$(dpkg-deb -f "$deb" Depends)
    echo "Depends: $depends"
    for library in libc6 libqt6widgets6 qt6-qpa-plugins; do
        printf '%s\n' "$depends" | grep -q "\\b$library\\b" || fail "the package does not depend on $library"
    done
    finish "package $mode"
    ;;
lintian)
    need lintian lintian
    [ $# -eq 4 ] || { echo "usage: $0 BUILD_DIR OUT_DIR lintian README" >&2; exit 2; }
    readme=$4
    the_deb
    lintian --tag-display-limit 0 "$deb" >"$out/lintian.log" 2>"$out/lintian.err"
    cat "$out/lintian.log"
    if grep -q '^E: ' "$out/lintian.log"; then fail "lintian reports errors"; fi
    # Lintian's own crash shows on its standard error, not as a tag.
    if grep -v 'running with root privileges is not recommended' "$out/lintian.err" | grep -q .; then
        cat "$out/lintian.err" >&2
        fail "lintian did not run cleanly"
    fi
    for tag in $(sed -n 's/^W: [^:]*: \([a-z0-9-]*\).*/\1/p' "$out/lintian.log" | sort -u); do
        grep -q -- "\`$tag\`" "$readme" || fail "lintian warns $tag, which README does not explain"
    done
    finish "package $mode"
    ;;
dpkg) ;;
*)
    echo "unknown check '$mode'" >&2
    exit 2
    ;;
esac

# --- dpkg: install, run, remove -----------------------------------------------------------
if [ "$(id -u)" -ne 0 ]; then
    echo "SKIP: installing a package needs root"
    exit $skip
fi
need flock util-linux
the_deb
tmp=$(mktemp -d "${TMPDIR:-/tmp}/quenvol-dpkg-XXXXXX") || exit 1
installed_here=0
pid=
cleanup() {
    [ -z "$pid" ] || kill "$pid" 2>/dev/null
    if [ "$installed_here" -eq 1 ]; then
        if run_dpkg --purge quenvol; then
            rm -f "$marker"
        else
            echo "could not purge the quenvol package" >&2
        fi
    fi
    rm -rf "$tmp"
}
trap cleanup EXIT
trap 'exit 1' HUP INT TERM

exec 9>/run/lock/quenvol-package-test.lock || exit 1
flock -w 300 9 || { echo "FAIL: another package check held the lock for 5 minutes" >&2; exit 1; }

# Set while this check's package is on the machine, so that one left by a killed run is
# known for ours and removed, and anyone else's is left alone.
marker=/run/lock/quenvol-package-test.installed
status() { dpkg-query -W -f='${db:Status-Abbrev}' quenvol 2>/dev/null; }
case $(status) in
"" | un*) ;;
*)
    if [ ! -e "$marker" ]; then
        echo "SKIP: a quenvol package is already on this machine ($(status)); it is left as it is"
        exit $skip
    fi
    echo "removing the quenvol package a stopped run of this check left"
    dpkg --purge quenvol >/dev/null 2>&1 || { echo "FAIL: could not purge it" >&2; exit 1; }
    ;;
esac

# dpkg waits for no one: another install on the machine (apt) makes it fail at once.
run_dpkg() {
    tries=0
    until dpkg "$@" >"$tmp/dpkg.log" 2>&1; do
        if grep -q 'lock' "$tmp/dpkg.log" && [ $tries -lt 150 ]; then
            tries=$((tries + 1))
            sleep 2
        else
            cat "$tmp/dpkg.log" >&2
            return 1
        fi
    done
}

installed_here=1
: >"$marker"
run_dpkg -i "$deb" || { echo "FAIL: dpkg -i $deb failed" >&2; exit 1; }
dpkg-query -L quenvol >"$tmp/files"
[ "$(status)" = "ii " ] || fail "after dpkg -i the package's state is '$(status)'"

for program in quenvol quenvol-cli; do
    [ "$(command -v $program)" = "/usr/bin/$program" ] || fail "$program is not found as /usr/bin/$program"
done
man -w quenvol-cli >/dev/null 2>&1 && man -w quenvol >/dev/null 2>&1 ||
    fail "man finds no installed page for quenvol or quenvol-cli"

cp -R /usr/share/quenvol/examples "$tmp/examples"
mkdir "$tmp/config"
if ! (cd "$tmp/examples/kit" && XDG_CONFIG_HOME=$tmp/config /usr/bin/quenvol-cli \
    --drive "$tmp/a.img" --create --yes --verify ../project) >"$tmp/cli.log" 2>&1; then
    cat "$tmp/cli.log" >&2
    fail "/usr/bin/quenvol-cli did not build the sample diskette"
fi

# The dialog program starts and stays up until it is ended. It does not get the lock's
# descriptor, so that it could not hold the lock should it outlive this check.
mkdir -m 700 "$tmp/runtime"
(cd "$tmp/examples/kit" && exec env QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$tmp/runtime" \
    XDG_CONFIG_HOME="$tmp/config" QUENVOL_DRIVE_A="$tmp/none.img" /usr/bin/quenvol) \
    >"$tmp/quenvol.log" 2>&1 9>&- &
pid=$!
sleep 3
if kill -0 "$pid" 2>/dev/null; then
    kill "$pid"
    wait "$pid" 2>/dev/null
else
    wait "$pid"
    fail "/usr/bin/quenvol ended by itself (status $?): $(cat "$tmp/quenvol.log")"
fi
pid=

run_dpkg -r quenvol || fail "dpkg -r quenvol failed"
# Every file the package brought is gone, and so is every folder that was its own.
while IFS= read -r path; do
    if [ -d "$path" ]; then
        case $path in
        */quenvol | */quenvol/*) fail "the folder $path is left after dpkg -r" ;;
        esac
    elif [ -e "$path" ] || [ -L "$path" ]; then
        fail "$path is left after dpkg -r"
    fi
done <"$tmp/files"
run_dpkg --purge quenvol || fail "dpkg --purge quenvol failed"
case $(status) in
"" | un*) installed_here=0 && rm -f "$marker" ;;
*) fail "after dpkg --purge the package's state is '$(status)'" ;;
esac
finish "package dpkg"
