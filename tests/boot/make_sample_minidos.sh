#!/bin/sh
# Builds a MINIDOS diskette image from the sample kit and project folder with mtools, laid
# out as the program lays it out: a fresh 1.44 MB FAT12 volume, the five files of the
# zyplet list in their order, bios.rom being the BIOS image picked by the part number
# (the test image when there is one, else the development image), and last crisboot.bin
# over sector 0. It stands in for the program where tests need such a diskette
# independently of it.
#
#   make_sample_minidos.sh IMAGE KIT_DIR PROJECT_DIR
set -eu

[ $# -eq 3 ] || { echo "usage: $0 IMAGE KIT_DIR PROJECT_DIR" >&2; exit 2; }
image=$1
kit=$2
project=$3

# The part number is the three characters after the first "PARTNUM = ".
part=$(grep -ao 'PARTNUM = ...' "$project/partnum.mak" | head -n 1 | cut -c 11-13)
[ ${#part} -eq 3 ] || { echo "$0: no part number in $project/partnum.mak" >&2; exit 1; }

bios=
for candidate in "devel$part.rom" "test$part.rom"; do
    [ -s "$project/$candidate" ] && bios=$project/$candidate
done
[ -n "$bios" ] || { echo "$0: no BIOS image for part $part in $project" >&2; exit 1; }

rm -f "$image"
export MTOOLS_SKIP_CHECK=1 MTOOLS_NO_VFAT=1
mformat -f 1440 -C -i "$image" ::
mcopy -i "$image" "$kit/minidos.sys" ::MINIDOS.SYS
mcopy -i "$image" "$kit/zyplet.exe" ::ZYPLET.EXE
mcopy -i "$image" "$project/platform.bin" ::PLATFORM.BIN
mcopy -i "$image" "$project/vgabios.exe" ::VGABIOS.EXE
mcopy -i "$image" "$bios" ::BIOS.ROM
dd if="$kit/crisboot.bin" of="$image" bs=512 count=1 conv=notrunc status=none
