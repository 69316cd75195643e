#!/bin/sh
# Checks what `cmake --install` puts under a prefix, installing into a fresh temporary one:
#
#   installed_tree.sh BUILD_DIR APP_ID files    every file in its place; the installed
#                                               quenvol-cli builds the sample diskette
#                                               from a copy of the installed examples
#   installed_tree.sh BUILD_DIR APP_ID desktop  desktop-file-validate, appstreamcli
#   installed_tree.sh BUILD_DIR APP_ID man      both pages render without a warning, and
#                                               quenvol-cli(1) names every option --help shows
#   installed_tree.sh BUILD_DIR APP_ID completion  the bash completion offers what --help
#                                               lists, the disk kinds, files and folders
set -u

[ $# -eq 3 ] || { echo "usage: $0 BUILD_DIR APP_ID files|desktop|man|completion" >&2; exit 2; }
build=$1
app_id=$2
mode=$3

. "$(dirname "$0")/lib.sh"

tmp=$(mktemp -d "${TMPDIR:-/tmp}/quenvol-install-XXXXXX") || exit 1
trap 'rm -rf "$tmp"' EXIT
prefix=$tmp/prefix
if ! cmake --install "$build" --prefix "$prefix" >"$tmp/install.log" 2>&1; then
    cat "$tmp/install.log" >&2
    echo "FAIL: cmake --install into $prefix failed" >&2
    exit 1
fi
share=$prefix/share

case $mode in
files)
    need mtype mtools
    for f in bin/quenvol bin/quenvol-cli; do
        [ -x "$prefix/$f" ] || fail "$f is not an installed program"
    done
    for f in share/quenvol/quenvol.HLP \
        share/quenvol/examples/README.md \
        share/quenvol/examples/kit/minidos.sys share/quenvol/examples/kit/zyplet.exe \
        share/quenvol/examples/kit/crisboot.bin share/quenvol/examples/project/partnum.mak \
        share/applications/$app_id.desktop share/metainfo/$app_id.metainfo.xml \
        share/icons/hicolor/scalable/apps/$app_id.svg \
        share/man/man1/quenvol.1.gz share/man/man1/quenvol-cli.1.gz \
        share/doc/quenvol/copyright share/doc/quenvol/changelog.gz \
        share/doc/quenvol-cli/copyright share/doc/quenvol-cli/changelog.gz \
        share/doc/quenvol-cli/README.md share/bash-completion/completions/quenvol-cli \
        lib/udev/rules.d/60-quenvol-floppy.rules share/polkit-1/rules.d/60-quenvol.rules; do
        [ -f "$prefix/$f" ] || fail "$f is not installed"
    done
    for size in 16 22 24 32 48 64 128 256; do
        png=$share/icons/hicolor/${size}x$size/apps/$app_id.png
        # The PNG header's width and height, big-endian at offsets 16 and 20.
        dims=$(od -An -tu1 -j 16 -N 8 "$png" 2>/dev/null | awk '{ print $3 * 256 + $4 "x" $7 * 256 + $8 }')
        [ "$dims" = "${size}x$size" ] || fail "the ${size}x$size icon is '$dims'"
    done
    # The programs look for the help file and the examples in the data folder relative to
    # their own, and --help names that folder and the documentation's, as the program finds
    # them: each must be where it says.
    help=$("$prefix/bin/quenvol-cli" --help)
    data=$(printf '%s\n' "$help" | sed -n 's|^\(/.*\)/examples\.$|\1|p')
    [ "$data" = "$share/quenvol" ] || fail "--help names the data folder '$data', not $share/quenvol"
    [ -f "$data/quenvol.HLP" ] || fail "the help file is not at $data/quenvol.HLP, where the program looks"
    readme=$(printf '%s\n' "$help" | grep -o '/[^ ]*/README\.md' | head -n 1)
    [ -n "$readme" ] && [ -f "$readme" ] || fail "--help points to the README '$readme', which is not installed"

    # A user copies the examples and builds in the copy; the installed ones stay as they are.
    cp -R "$share/quenvol/examples" "$tmp/examples"
    mkdir "$tmp/config"
    if ! (cd "$tmp/examples/kit" && XDG_CONFIG_HOME=$tmp/config "$prefix/bin/quenvol-cli" \
        --drive "$tmp/a.img" --create --yes --verify ../project) >"$tmp/cli.log" 2>&1; then
        cat "$tmp/cli.log" >&2
        fail "the installed quenvol-cli did not build the sample diskette"
    fi
    mtype -i "$tmp/a.img" ::bios.rom 2>/dev/null | cmp -s - "$share/quenvol/examples/project/testQ7A.rom" ||
        fail "bios.rom on the diskette is not the sample project's testQ7A.rom"
    mtype -i "$tmp/a.img" ::minidos.sys 2>/dev/null | cmp -s - "$share/quenvol/examples/kit/minidos.sys" ||
        fail "minidos.sys on the diskette is not the kit's"
    # Sector 0 is the kit's crisboot.bin but for the serial number and label (bytes 39 to 53),
    # which the build keeps from the formatted volume.
    for part in "-N 39" "-j 54 -N 458"; do
        # shellcheck disable=SC2086 # the offsets are two words each
        [ "$(od -An -tx1 $part "$tmp/a.img")" = \
          "$(od -An -tx1 $part "$share/quenvol/examples/kit/crisboot.bin")" ] ||
            fail "sector 0 is not the kit's crisboot.bin"
    done
    ;;
desktop)
    need desktop-file-validate desktop-file-utils
    need appstreamcli appstream
    desktop-file-validate "$share/applications/$app_id.desktop" >"$tmp/desktop.log" 2>&1
    if [ $? -ne 0 ] || grep -v ': hint: ' "$tmp/desktop.log" | grep -q .; then
        cat "$tmp/desktop.log" >&2
        fail "desktop-file-validate finds fault with $app_id.desktop"
    fi
    grep -q "^Icon=$app_id\$" "$share/applications/$app_id.desktop" ||
        fail "the desktop entry does not name the icon $app_id"
    appstreamcli validate --no-net "$share/metainfo/$app_id.metainfo.xml" >"$tmp/appstream.log" 2>&1 || {
        cat "$tmp/appstream.log" >&2
        fail "appstreamcli validate finds fault with $app_id.metainfo.xml"
    }
    ;;
man)
    need man man-db
    for page in quenvol quenvol-cli; do
        out=$(MANWIDTH=80 man --warnings -l "$share/man/man1/$page.1.gz" 2>&1 >"$tmp/$page.txt")
        [ -z "$out" ] || fail "$page(1) renders with warnings: $out"
        grep -q "^NAME" "$tmp/$page.txt" || fail "$page(1) rendered no NAME section"
    done
    # Every option the program lists, long or short, is described in its manual page.
    source=$(gzip -dc "$share/man/man1/quenvol-cli.1.gz")
    options=$("$prefix/bin/quenvol-cli" --help |
        grep -oE '(^|[ ,[])-(-[a-z][a-z0-9-]*|[A-Za-z])\b' | sed 's/^[ ,[]//' | sort -u)
    [ -n "$options" ] || fail "quenvol-cli --help lists no options"
    for option in $options; do
        escaped=$(printf '%s' "$option" | sed 's/-/\\\\-/g')
        printf '%s\n' "$source" | grep -q -- "^\.[A-Z]*.*$escaped\b" ||
            fail "quenvol-cli(1) does not describe $option, which --help lists"
    done
    ;;
completion)
    need bash bash
    script=$share/bash-completion/completions/quenvol-cli
    # complete WORD...: what the completion offers for the last word, sorted, one a line.
    complete() {
        bash -c '. "$1" || exit 1; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1))
                 _quenvol_cli; [ ${#COMPREPLY[@]} -eq 0 ] || printf "%s\n" "${COMPREPLY[@]}" | sort' \
            _ "$script" "$prefix/bin/quenvol-cli" "$@"
    }
    expect() {  # WHAT EXPECTED WORD...
        what=$1 expected=$2
        shift 2
        got=$(complete "$@" | tr '\n' ' ')
        [ "$got" = "$expected" ] || fail "$what: the completion offers '$got', expected '$expected'"
    }
    longs=$("$prefix/bin/quenvol-cli" --help | grep -oE '(^|[ ,])--[a-z][a-z0-9-]*' |
        sed 's/^[ ,]//' | sort -u | tr '\n' ' ')
    [ -n "$longs" ] || fail "quenvol-cli --help lists no options"
    expect "every long option" "$(printf '%s\n' -- $longs | sort | tr '\n' ' ')" --
    "$prefix/bin/quenvol-cli" --help | grep -q -- '--kind KIND *minidos.*fulldos.*format' ||
        fail "--help no longer names the disk kinds the completion offers"
    expect "--kind" "format fulldos minidos " --kind ''
    expect "-k f" "format fulldos " -k f
    expect "--dri" "--drive " --dri
    c=$tmp/c
    mkdir -p "$c/project" "$c/pfolder" && : >"$c/pfile" && : >"$c/image.img"
    expect "--drive FILE" "$c/image.img " --drive "$c/ima"
    expect "--save-image=FILE" "$c/image.img " --save-image = "$c/ima"
    expect "--label" "" --label ''
    expect "the project path" "$c/pfolder $c/project " --yes "$c/p"
    expect "after --" "$c/pfolder $c/project " -- "$c/p"
    ;;
*)
    echo "unknown check '$mode'" >&2
    exit 2
    ;;
esac

finish "installed tree $mode"
