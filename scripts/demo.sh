#!/bin/sh
# Builds a sample MINIDOS crisis diskette image with quenvol-cli from the sample kit and
# project folder of a build tree, verifies it against its sources, lists it with mtools, has
# fsck.fat check it, and boots it in an emulated PC, where the sample MINIDOS.SYS reads
# BIOS.ROM through the BIOS and quenvol-cli compares what it read with the chosen image.
#
#   scripts/demo.sh BUILD_DIR
#
# Everything it writes is under BUILD_DIR/demo/, which it makes afresh: the start
# directory (kit/), the settings folder (config/), the image minidos.img and the picture of
# the booted screen (screen.png).
set -eu

[ $# -eq 1 ] || { echo "usage: $0 BUILD_DIR" >&2; exit 2; }
build=$(cd "$1" && pwd) || { echo "$0: no build folder $1" >&2; exit 2; }

cli=$build/src/quenvol-cli
kit=$build/examples/kit
project=$build/examples/project
demo=$build/demo
image=$demo/minidos.img

[ -x "$cli" ] || { echo "$0: $cli is not built" >&2; exit 2; }
[ -f "$kit/crisboot.bin" ] || { echo "$0: the sample kit in $kit is not built" >&2; exit 2; }
[ -f "$project/partnum.mak" ] || { echo "$0: the sample project in $project is not built" >&2; exit 2; }
command -v mdir >/dev/null 2>&1 || { echo "$0: mdir (mtools) is not installed" >&2; exit 2; }
fsck=$(PATH=$PATH:/usr/sbin:/sbin command -v fsck.fat || true)
[ -n "$fsck" ] || { echo "$0: fsck.fat (dosfstools) is not installed" >&2; exit 2; }

rm -rf "$demo"
mkdir -p "$demo/config"
cp -R "$kit" "$demo/kit"

# With an emulator the build ends by booting the diskette: the sample MINIDOS.SYS prints the
# size and CRC-32 of BIOS.ROM as it read it, and quenvol-cli compares them with the image.
boot=
set --
if command -v qemu-system-i386 >/dev/null 2>&1; then
    boot=yes
    set -- --boot-check=30 --boot-screen "$demo/screen.png"
else
    echo "qemu-system-i386 is not installed (Debian package qemu-system-x86): no boot check."
fi

echo "== Building $image"
echo "   start directory $demo/kit, project folder $project"
# The start directory is the current one; the settings file goes to the demo's own folder.
# The program's messages and progress (standard error) are shown in line with the rest.
(cd "$demo/kit" && XDG_CONFIG_HOME=$demo/config \
    "$cli" --create --yes --verify "$@" --drive "$image" "$project" </dev/null 2>&1)

echo
echo "== mdir -i $image ::"
MTOOLS_SKIP_CHECK=1 MTOOLS_NO_VFAT=1 mdir -i "$image" ::

echo
echo "== $fsck -n $image"
if "$fsck" -n "$image"; then
    echo "fsck.fat: no errors; the file system is clean."
else
    status=$?
    echo "fsck.fat: found errors (exit status $status)." >&2
    exit 1
fi

echo
echo "The sample diskette is $image."
[ -n "$boot" ] && echo "The emulated screen at the end of its boot: $demo/screen.png"
exit 0
