#!/bin/sh
# Checks the sample boot sector crisboot.bin: one sector with the boot signature, a jump
# over the parameters, and the 1.44 MB FAT12 parameters that our formatter writes. Then a
# MINIDOS image built from the samples with it as sector 0 must pass fsck.fat and give
# every file back byte for byte through mtools.
#
#   check_crisboot.sh KIT_DIR PROJECT_DIR
set -u

[ $# -eq 2 ] || { echo "usage: $0 KIT_DIR PROJECT_DIR" >&2; exit 2; }
kit=$1
project=$2
sector=$kit/crisboot.bin
fsck_fat=${FSCK_FAT:-fsck.fat}

failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

# Unsigned little-endian value of WIDTH bytes at OFFSET of FILE.
le() {
    od -An -tu1 -j "$2" -N "$3" "$1" | awk '{ for (i = NF; i >= 1; i--) v = v * 256 + $i } END { print v + 0 }'
}

expect_field() {  # NAME OFFSET WIDTH VALUE
    got=$(le "$sector" "$2" "$3")
    [ "$got" -eq "$4" ] || fail "$1 at offset $2 is $got, expected $4"
}

[ -f "$sector" ] || { echo "FAIL: $sector is missing" >&2; exit 1; }

size=$(wc -c <"$sector")
[ "$size" -eq 512 ] || fail "crisboot.bin is $size bytes, expected 512"

expect_field "jump opcode (jmp short)" 0 1 235
expect_field "nop after the jump" 2 1 144
jump_target=$(($(le "$sector" 1 1) + 2))
if [ "$jump_target" -lt 62 ] || [ "$jump_target" -ge 510 ]; then
    fail "the jump lands at offset $jump_target, inside the parameters or past the code"
fi
expect_field "bytes per sector" 11 2 512
expect_field "sectors per cluster" 13 1 1
expect_field "reserved sectors" 14 2 1
expect_field "FAT count" 16 1 2
expect_field "root entries" 17 2 224
expect_field "total sectors" 19 2 2880
expect_field "media descriptor" 21 1 240
expect_field "sectors per FAT" 22 2 9
expect_field "sectors per track" 24 2 18
expect_field "heads" 26 2 2
expect_field "hidden sectors" 28 4 0
expect_field "32-bit total sectors" 32 4 0
expect_field "drive number" 36 1 0
expect_field "extended signature" 38 1 41
fs_type=$(dd if="$sector" bs=1 skip=54 count=8 status=none)
[ "$fs_type" = "FAT12   " ] || fail "file-system type is '$fs_type', expected 'FAT12   '"
expect_field "boot signature" 510 2 43605

work=$(mktemp -d "${TMPDIR:-/tmp}/check-crisboot.XXXXXX") || exit 1
trap 'rm -rf "$work"' EXIT
image=$work/minidos.img

if ! sh "$(dirname "$0")/make_sample_minidos.sh" "$image" "$kit" "$project"; then
    fail "could not build the sample MINIDOS image"
    exit 1
fi

dd if="$image" of="$work/sector0" bs=512 count=1 status=none
cmp -s "$work/sector0" "$sector" || fail "sector 0 of the image is not crisboot.bin"

if ! "$fsck_fat" -n "$image" >"$work/fsck.txt" 2>&1; then
    fail "fsck.fat -n rejects the volume with crisboot.bin as sector 0:"
    head -n 40 "$work/fsck.txt" >&2
fi

export MTOOLS_SKIP_CHECK=1
part=$(grep -ao 'PARTNUM = ...' "$project/partnum.mak" | head -n 1 | cut -c 11-13)
for pair in "MINIDOS.SYS $kit/minidos.sys" "ZYPLET.EXE $kit/zyplet.exe" \
    "PLATFORM.BIN $project/platform.bin" "VGABIOS.EXE $project/vgabios.exe" \
    "BIOS.ROM $project/test$part.rom"; do
    name=${pair%% *}
    source=${pair#* }
    if ! mcopy -n -i "$image" "::$name" "$work/$name" 2>"$work/mcopy.txt"; then
        fail "mtools cannot read $name back:"
        cat "$work/mcopy.txt" >&2
    elif ! cmp -s "$work/$name" "$source"; then
        fail "$name on the diskette differs from $source"
    fi
done

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed" >&2
    exit 1
fi
echo "crisboot.bin: one sector, 1.44 MB FAT12 parameters; the volume passes fsck.fat and mtools"
