#!/bin/sh
# quenvol-cli --boot-check, case by case: each case makes a diskette image, runs the check and
# expects an exit status and texts in its JSON report.
#
#   sample      a MINIDOS build from the samples boots; the CRC-32 the booted machine printed
#               is the host's, and a PNG of the screen is written
#   fragmented  a FULLDOS replacement on a nearly full MINIDOS diskette leaves BIOS.ROM in
#               pieces; the booted machine still reads it whole
#   zeroed      sector 0 all zeros: the firmware finds the diskette not bootable
#   720k        a 720 KB diskette with the sample boot sector made for it boots
#   noemulator  no emulator on PATH: the message names the package, the diskette is unchanged
#
#   boot_check.sh CLI KIT_DIR PROJECT_DIR CRISBOOT_720K
set -u

[ $# -eq 4 ] || { echo "usage: $0 CLI KIT_DIR PROJECT_DIR CRISBOOT_720K" >&2; exit 2; }
cli=$1
kit=$2
project=$3
crisboot720=$4

work=$(mktemp -d "${TMPDIR:-/tmp}/boot-check.XXXXXX") || exit 1
trap 'rm -rf "$work"' EXIT
export XDG_CONFIG_HOME="$work/config" XDG_STATE_HOME="$work/state"
export MTOOLS_SKIP_CHECK=1 MTOOLS_NO_VFAT=1

failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

# CRC-32 of a file, in capitals, from the trailer gzip writes.
crc_of() {
    gzip -c <"$1" | tail -c 8 | head -c 4 | od -An -tx1 |
        awk '{ printf "%s%s%s%s\n", toupper($4), toupper($3), toupper($2), toupper($1) }'
}

# A start directory and a project folder of the case's own; `bios` is the image the build
# chooses (the test image).
setup() {  # CASE
    dir=$work/$1
    mkdir -p "$dir"
    cp -R "$kit" "$dir/kit"
    cp -R "$project" "$dir/project"
    bios=$dir/project/testQ7A.rom
    image=$dir/a.img
}

build() {  # KIND [OPTIONS...]
    kind=$1
    shift
    (cd "$dir/kit" && "$cli" --kind "$kind" --yes --quiet --drive "$image" "$@" "$dir/project" \
        </dev/null >"$dir/build.json" 2>"$dir/build.txt") ||
        { fail "$case: the $kind build failed"; cat "$dir/build.txt" >&2; return 1; }
}

check() {  # [OPTIONS...]  leaves the status in $status, the report in $dir/report.json
    (cd "$dir/kit" && "$cli" --json "$@" </dev/null >"$dir/report.json" 2>"$dir/check.txt")
    status=$?
}

expect() {  # STATUS TEXT...
    wanted=$1
    shift
    if [ "$status" -ne "$wanted" ]; then
        fail "$case: exit status $status, expected $wanted"
        sed 's/^/  | /' "$dir/check.txt" >&2
    fi
    for text in "$@"; do
        grep -qF -e "$text" "$dir/report.json" ||
            { fail "$case: the report lacks $text"; sed 's/^/  | /' "$dir/report.json" >&2; }
    done
}

case_sample() {
    setup sample
    build minidos --create --boot-check=60 --boot-screen "$dir/screen.png" --json || return
    mv "$dir/build.json" "$dir/report.json"
    status=0
    expect 0 '"bootable":true' '"intact":true' "\"printed\":{\"name\":\"BIOS.ROM\",\"bytes\":65536,\"crc32\":\"$(crc_of "$bios")\"}" \
        'Quenvol sample crisis diskette' 'the booted diskette reads BIOS.ROM intact'
    [ "$(head -c 8 "$dir/screen.png" | od -An -c | tr -d ' ')" = '211PNG\r\n032\n' ] ||
        fail "$case: the screen picture is no PNG"
    grep -q '"kind":"boot-check".*"outcome":"booted"' "$XDG_STATE_HOME/quenvol/builds.jsonl" ||
        fail "$case: the build log has no line for the boot check"
}

case_fragmented() {
    setup fragmented
    build minidos --create || return
    # Nearly full: 28 KB files up to the end, every other one removed again.
    head -c 28672 "$project/develQ7A.rom" >"$dir/fill"
    i=10
    while [ $i -lt 70 ] && mcopy -i "$image" "$dir/fill" "::F$i.DAT" 2>/dev/null; do i=$((i + 1)); done
    while [ $i -ge 10 ]; do mdel -i "$image" "::F$i.DAT" 2>/dev/null; i=$((i - 2)); done
    # A larger BIOS image cannot take the old one's place alone.
    cat "$project/develQ7A.rom" "$project/flashabl.rom" >"$bios"
    build fulldos --no-format --boot-check=60 --json || return
    mv "$dir/build.json" "$dir/report.json"
    status=0
    expect 0 '"bootable":true' '"intact":true' "\"crc32\":\"$(crc_of "$bios")\"" '"bytes":131072'
    [ "$(mshowfat -i "$image" ::BIOS.ROM | grep -o '<' | wc -l)" -gt 1 ] ||
        fail "$case: BIOS.ROM is not fragmented: $(mshowfat -i "$image" ::BIOS.ROM)"
}

case_zeroed() {
    setup zeroed
    build minidos --create || return
    dd if=/dev/zero of="$image" bs=512 count=1 conv=notrunc status=none
    check --drive "$image" --boot-check=30
    expect 7 '"bootable":false' 'not a bootable disk' '"outcome":"not-bootable"'
}

case_720k() {
    setup 720k
    cp "$crisboot720" "$dir/kit/crisboot.bin"
    head -c 737280 /dev/zero >"$image"
    build minidos || return
    check --drive "$image" --boot-check=60
    expect 0 '"bootable":true' '"bytes":737280' "\"crc32\":\"$(crc_of "$bios")\""
}

case_noemulator() {
    setup noemulator
    build minidos --create || return
    before=$(cksum <"$image")
    chmod a-w "$image"
    PATH=$work/nowhere check --drive "$image" --boot-check
    expect 8 '"ran":false' 'qemu-system-x86' '"kind":"boot-check-failed"'
    grep -qF "install the Debian package qemu-system-x86" "$dir/check.txt" ||
        fail "$case: the message does not name the package"
    [ "$(cksum <"$image")" = "$before" ] || fail "$case: the diskette changed"
}

for case in sample fragmented zeroed 720k noemulator; do
    "case_$case"
done

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed" >&2
    exit 1
fi
echo "boot check: every case behaves"
