#!/bin/sh
# Builds and checks the Debian package:
#
#   deb.sh BUILD_DIR OUT_DIR build          cpack makes OUT_DIR/quenvol-cli_*.deb (no Qt in
#                                           its dependencies) and quenvol_*.deb (on top of
#                                           it), each program built with the hardening flags
#   deb.sh BUILD_DIR OUT_DIR lintian README lintian finds no error, and each warning it
#                                           gives is explained in README
#   deb.sh BUILD_DIR OUT_DIR dpkg           quenvol-cli installs and builds alone, then
#                                           quenvol on it; both run from /usr/bin, and they
#                                           remove and purge cleanly
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
    cli_deb=$(ls "$out"/quenvol-cli_*.deb 2>/dev/null | head -n 1)
    [ -n "$deb" ] && [ -n "$cli_deb" ] ||
        { echo "FAIL: no packages in $out; the build check makes them" >&2; exit 1; }
}
# hardened PROGRAM: built as dpkg-buildflags' hardening=+all builds (PIE, full RELRO, stack
# protector, checked calls).
hardened() {
    header=$(readelf -h "$1") && dynamic=$(readelf -d "$1") && segments=$(readelf -lW "$1") &&
        symbols=$(readelf --dyn-syms -W "$1") || { fail "readelf cannot read $1"; return; }
    printf '%s\n' "$header" | grep -q 'Type: *DYN' || fail "$1 is not a position-independent program"
    printf '%s\n' "$segments" | grep -q GNU_RELRO || fail "$1 has no read-only relocations (relro)"
    printf '%s\n' "$dynamic" | grep -Eq 'BIND_NOW|FLAGS.*NOW' || fail "$1 binds its symbols lazily (no -z now)"
    printf '%s\n' "$symbols" | grep -q '__stack_chk_fail' || fail "$1 has no stack protector"
    printf '%s\n' "$symbols" | grep -Eq '__[a-z]+_chk' || fail "$1 calls no checked (fortified) function"
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
    cli_depends=$(dpkg-deb -f "$cli_deb" Depends)
    echo "quenvol Depends: $depends"
    echo "quenvol-cli Depends: $cli_depends"
    for library in libc6 libqt6widgets6 qt6-qpa-plugins "quenvol-cli (= $(dpkg-deb -f "$cli_deb" Version))"; do
        printf '%s\n' "$depends" | grep -qF "$library" || fail "quenvol does not depend on $library"
    done
    printf '%s\n' "$cli_depends" | grep -q '\blibc6\b' || fail "quenvol-cli does not depend on libc6"
    # A build server takes quenvol-cli without a toolkit or a graphics stack.
    printf '%s\n' "$cli_depends" | grep -Eiq 'qt|libgl|libx|wayland|fontconfig|freetype' &&
        fail "quenvol-cli depends on a toolkit or graphics library: $cli_depends"
    # Which package holds what.
    dpkg-deb -c "$cli_deb" | awk '{ print $NF }' >"$out/cli.files"
    dpkg-deb -c "$deb" | awk '{ print $NF }' >"$out/gui.files"
    for f in usr/bin/quenvol-cli usr/share/man/man1/quenvol-cli.1.gz usr/lib/udev/rules.d/60-quenvol-floppy.rules \
        usr/share/polkit-1/rules.d/60-quenvol.rules \
        usr/share/quenvol/examples/kit/minidos.sys usr/share/quenvol/quenvol.HLP \
        usr/share/bash-completion/completions/quenvol-cli usr/share/doc/quenvol-cli/README.md \
        usr/share/doc/quenvol-cli/copyright; do
        grep -qx "\./$f" "$out/cli.files" || fail "quenvol-cli does not hold $f"
    done
    for f in usr/bin/quenvol usr/share/man/man1/quenvol.1.gz usr/share/applications/org.quenvol.Quenvol.desktop \
        usr/share/icons/hicolor/scalable/apps/org.quenvol.Quenvol.svg usr/share/doc/quenvol/copyright; do
        grep -qx "\./$f" "$out/gui.files" || fail "quenvol does not hold $f"
    done
    grep -q 'usr/bin/quenvol$' "$out/cli.files" && fail "quenvol-cli holds the dialog program"
    grep -q 'usr/share/quenvol/' "$out/gui.files" && fail "quenvol holds files of quenvol-cli's data folder"
    rm -rf "$out/unpacked" && dpkg-deb -x "$cli_deb" "$out/unpacked" && dpkg-deb -x "$deb" "$out/unpacked" ||
        fail "dpkg-deb cannot unpack the packages"
    need readelf binutils
    hardened "$out/unpacked/usr/bin/quenvol-cli"
    hardened "$out/unpacked/usr/bin/quenvol"
    # The disk service's bus client is loaded when a build asks the service, not at each start.
    for program in quenvol-cli quenvol; do
        readelf -d "$out/unpacked/usr/bin/$program" | grep -q 'NEEDED.*libsystemd' &&
            fail "$program loads libsystemd at start"
    done
    printf '%s\n' "$(dpkg-deb -f "$cli_deb" Recommends)" | grep -q 'libsystemd0' ||
        fail "quenvol-cli does not recommend libsystemd0, which it loads to reach the disk service"
    finish "package $mode"
    ;;
lintian)
    need lintian lintian
    [ $# -eq 4 ] || { echo "usage: $0 BUILD_DIR OUT_DIR lintian README" >&2; exit 2; }
    readme=$4
    the_deb
    lintian --tag-display-limit 0 "$cli_deb" "$deb" >"$out/lintian.log" 2>"$out/lintian.err"
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
        if run_dpkg --purge quenvol quenvol-cli; then
            rm -f "$marker"
        else
            echo "could not purge the quenvol packages" >&2
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
status() { dpkg-query -W -f='${db:Status-Abbrev}' "${1:-quenvol}" 2>/dev/null; }
for package in quenvol quenvol-cli; do
    case $(status $package) in
    "" | un*) ;;
    *)
        if [ ! -e "$marker" ]; then
            echo "SKIP: a $package package is already on this machine ($(status $package)); it is left as it is"
            exit $skip
        fi
        echo "removing the $package package a stopped run of this check left"
        dpkg --purge quenvol quenvol-cli >/dev/null 2>&1 || { echo "FAIL: could not purge it" >&2; exit 1; }
        ;;
    esac
done

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
# The console program's package alone, as a build server takes it.
run_dpkg -i "$cli_deb" || { echo "FAIL: dpkg -i $cli_deb failed" >&2; exit 1; }
[ "$(status quenvol-cli)" = "ii " ] || fail "after dpkg -i quenvol-cli's state is '$(status quenvol-cli)'"
[ -e /usr/bin/quenvol ] && fail "quenvol-cli alone installed /usr/bin/quenvol"
cp -R /usr/share/quenvol/examples "$tmp/alone"
mkdir "$tmp/config-alone"
if ! (cd "$tmp/alone/kit" && XDG_CONFIG_HOME=$tmp/config-alone /usr/bin/quenvol-cli \
    --drive "$tmp/alone.img" --create --yes ../project) >"$tmp/alone.log" 2>&1; then
    cat "$tmp/alone.log" >&2
    fail "/usr/bin/quenvol-cli did not build the sample diskette without the dialog's package"
fi
run_dpkg -i "$deb" || { echo "FAIL: dpkg -i $deb failed" >&2; exit 1; }
dpkg-query -L quenvol quenvol-cli >"$tmp/files"
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

# A new user's first diskette: the desktop entry started from a fresh home folder, driven to a
# built diskette through the dialog by input events alone (screenshots of each step kept). It
# runs as an ordinary user, who passes through this check's folder to a home in it.
chmod 711 "$tmp"
python3 "$(dirname "$0")/first_run.py" linux --shots "$build/first-run/linux" \
    --work "$tmp/first-run" 9>&-
case $? in
0) ;;
"$skip") fail "the first run through the dialog could not be tried (see above)" ;;
*) fail "the first run through the dialog did not reach a built diskette" ;;
esac

run_dpkg -r quenvol quenvol-cli || fail "dpkg -r quenvol quenvol-cli failed"
# Every file the packages brought is gone, and so is every folder that was their own.
while IFS= read -r path; do
    if [ -d "$path" ]; then
        case $path in
        */quenvol | */quenvol/* | */quenvol-cli | */quenvol-cli/*) fail "the folder $path is left after dpkg -r" ;;
        esac
    elif [ -e "$path" ] || [ -L "$path" ]; then
        fail "$path is left after dpkg -r"
    fi
done <"$tmp/files"
run_dpkg --purge quenvol quenvol-cli || fail "dpkg --purge failed"
left=
for package in quenvol quenvol-cli; do
    case $(status $package) in
    "" | un*) ;;
    *) left="$left $package ($(status $package))" ;;
    esac
done
[ -z "$left" ] || fail "after dpkg --purge these are still known:$left"
[ -n "$left" ] || { installed_here=0 && rm -f "$marker"; }
finish "package dpkg"
