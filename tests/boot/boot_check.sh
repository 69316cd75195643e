#!/bin/sh
# quenvol-cli --boot-check, case by case: each case makes a diskette image, runs the check and
# expects an exit status and texts in its JSON report.
#
#   sample      a MINIDOS build from the samples boots; the CRC-32 the booted machine printed
#               is the host's, and a PNG of the screen is written
#   fragmented  a FULLDOS replacement on a nearly full MINIDOS diskette leaves BIOS.ROM in
#               pieces; the booted machine still reads it whole
#   720k        a 720 KB diskette with the sample boot sector made for it boots
#   screen      --boot-screen never replaces a file: refused before anything runs
#   unchecked   a build whose check cannot run keeps its outcome and names the check's failure
#   and a table (below) of diskettes whose system does not start (status 7) and of emulators
#   that cannot run (status 8)
#
#   boot_check.sh CLI KIT_DIR PROJECT_DIR CRISBOOT_720K FIXTURES_DIR
set -u

[ $# -eq 5 ] || { echo "usage: $0 CLI KIT_DIR PROJECT_DIR CRISBOOT_720K FIXTURES_DIR" >&2; exit 2; }
cli=$1
kit=$2
project=$3
crisboot720=$4
fixtures=$5

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
    expect 0 '"started":true' '"intact":true' "\"printed\":{\"name\":\"BIOS.ROM\",\"bytes\":65536,\"crc32\":\"$(crc_of "$bios")\"}" \
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

case_720k() {
    setup 720k
    cp "$crisboot720" "$dir/kit/crisboot.bin"
    head -c 737280 /dev/zero >"$image"
    build minidos || return
    check --drive "$image" --boot-check=60
    expect 0 '"started":true' '"bytes":737280' "\"crc32\":\"$(crc_of "$bios")\""
}

case_screen() {
    setup screen
    build minidos --create || return
    echo "the user's own file" >"$dir/screen.png"
    check --drive "$image" --boot-check=5 --boot-screen "$dir/screen.png"
    expect 2
    grep -qF "never replaces it" "$dir/check.txt" || fail "$case: no message: $(cat "$dir/check.txt")"
    grep -qF "the user's own file" "$dir/screen.png" || fail "$case: the file was replaced"
    ! grep -q "starting drive A:" "$dir/check.txt" || fail "$case: the check ran"
}

case_unchecked() {
    setup unchecked
    (cd "$dir/kit" && PATH=$work/emulators/none "$cli" --kind minidos --yes --quiet --create \
        --drive "$image" --boot-check --json "$dir/project" </dev/null >"$dir/report.json" \
        2>"$dir/check.txt")
    status=$?
    expect 8 '"outcome":"built"' '"kind":"boot-check-failed"' 'qemu-system-x86'
}

# Diskettes whose system does not start, and emulators that cannot run:
#   diskette  minidos; fulldos (the formatter's boot sector); zeroed (sector 0); empty
#             (MINIDOS.SYS empty); a fixture's name (sector 0 replaced by it); sys-FIXTURE
#             (MINIDOS.SYS replaced by the fixture's code, after the sample boot sector)
#   emulator  qemu; none (not on PATH); failing (ends at once with an error); mute (reads its
#             monitor and never answers)
#   texts     in the report, separated by '|'
cat >"$work/table" <<'EOF'
zeroed      zeroed      qemu    7 "bootable":false|not a bootable disk|"outcome":"not-bootable"|"kind":"not-booted"
nonsystem   fulldos     qemu    7 "started":false|the screen says \"Non-system disk. Replace the disk
emptysys    empty       qemu    7 "started":false|the screen says \"MINIDOS.SYS unreadable
hang        HANG        qemu    7 "bootable":true|"started":false|nothing of the diskette's system shows
hangsys     sys-HANG    qemu    7 "started":false|nothing of the diskette's system shows|printed no size and CRC-32
reset       RESET       qemu    7 "started":false|the machine reset itself
reboot      REBOOT      qemu    7 "started":false|again and again
noemulator  minidos     none    8 "ran":false|install the Debian package qemu-system-x86|"kind":"boot-check-failed"
failing     minidos     failing 8 "ran":false|(status 3): qemu-system-i386: could not open the drive|"kind":"boot-check-failed"
mute        minidos     mute    8 "ran":false|did not answer with the screen|"kind":"boot-check-failed"
EOF

# The table's emulators, each alone in a folder for PATH.
mkdir -p "$work/emulators/none" "$work/emulators/failing" "$work/emulators/mute"
printf '#!/bin/sh\necho "qemu-system-i386: could not open the drive" >&2\nexit 3\n' \
    >"$work/emulators/failing/qemu-system-i386"
printf '#!/bin/sh\nwhile read -r line; do [ "$line" = quit ] && exit 0; done\n' \
    >"$work/emulators/mute/qemu-system-i386"
chmod +x "$work/emulators/failing/qemu-system-i386" "$work/emulators/mute/qemu-system-i386"

row() {  # CASE DISKETTE EMULATOR STATUS TEXTS
    case=$1
    setup "$1"
    if [ "$2" = fulldos ]; then build fulldos --create || return; else build minidos --create || return; fi
    case $2 in
    zeroed) dd if=/dev/zero of="$image" bs=512 count=1 conv=notrunc status=none ;;
    empty) : >"$dir/empty" && mcopy -o -i "$image" "$dir/empty" ::MINIDOS.SYS ;;
    sys-*) mcopy -o -i "$image" "$fixtures/misbehave_${2#sys-}.bin" ::MINIDOS.SYS ;;
    minidos | fulldos) ;;
    *) dd if="$fixtures/misbehave_$2.bin" of="$image" bs=512 count=1 conv=notrunc status=none ;;
    esac
    before=$(cksum <"$image")
    if [ "$3" = qemu ]; then
        check --quiet --drive "$image" --boot-check=5
    else
        PATH=$work/emulators/$3 check --quiet --drive "$image" --boot-check=5
    fi
    wanted=$4
    old_ifs=$IFS
    IFS='|'
    # shellcheck disable=SC2086
    set -- $5
    IFS=$old_ifs
    expect "$wanted" "$@"
    [ "$(cksum <"$image")" = "$before" ] || fail "$case: the diskette changed"
    # What went wrong is told even with --quiet, with the screen when there was one.
    if [ "$wanted" -eq 7 ]; then told="did not start"; else told="could not run"; fi
    grep -q "^quenvol-cli: boot check: .*$told" "$dir/check.txt" ||
        fail "$case: standard error does not say it $told"
    [ "$wanted" -ne 7 ] || grep -q '^  | ' "$dir/check.txt" ||
        fail "$case: standard error does not show the screen"
    tail -n 1 "$XDG_STATE_HOME/quenvol/builds.jsonl" | grep -q '"kind":"boot-check"' ||
        fail "$case: the build log has no line for the boot check"
}

for case in sample fragmented 720k screen unchecked; do
    "case_$case"
done
while read -r name diskette emulator wanted texts; do
    row "$name" "$diskette" "$emulator" "$wanted" "$texts"
done <"$work/table"

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed" >&2
    exit 1
fi
echo "boot check: every case behaves"
