#!/bin/sh
# Runs the floppy udev rule on fabricated devices with `udevadm test`: the floppy
# controller's drive and a USB floppy drive (mass-storage interface 08/04) get the
# "uaccess" tag; a USB stick (08/06), a partition of a USB floppy and a fixed disk do not.
#
#   udev_rule.sh RULE_FILE SYSFS_SHIM
#
# udevadm reads /sys and its rule folders at fixed places, so the check runs in a mount
# namespace of its own: a tmpfs over /sys holds the fabricated tree (the preloaded shim
# makes it pass for sysfs), and the rule folders, /run and /dev are private, so nothing on
# the machine sees it. It needs root and unshare; without them it is skipped.
set -u

[ $# -eq 2 ] || { echo "usage: $0 RULE_FILE SYSFS_SHIM" >&2; exit 2; }
rule=$(readlink -f "$1")
shim=$(readlink -f "$2")
. "$(dirname "$0")/lib.sh"

name=$(basename "$rule")
# 73-seat-late.rules acts on the tag; a rule read after it would tag too late.
[ "$name" \< "73-seat-late.rules" ] || { echo "FAIL: $name is read after 73-seat-late.rules" >&2; exit 1; }

if [ "${QUENVOL_IN_NAMESPACE:-}" != 1 ]; then
    need udevadm udev
    if [ "$(id -u)" -ne 0 ] || ! unshare -m true 2>/dev/null; then
        echo "SKIP: a private mount namespace needs root and unshare"
        exit $skip
    fi
    exec env QUENVOL_IN_NAMESPACE=1 unshare -m --propagation private sh "$0" "$rule" "$shim"
fi

# --- inside the namespace -----------------------------------------------------------------
# Everything made here lives in the namespace's own tmpfs folders and goes with it.
mount -t tmpfs quenvol-sys /sys && mount -t tmpfs quenvol-run /run && mount -t tmpfs quenvol-dev /dev ||
    { echo "FAIL: could not mount the private folders" >&2; exit 1; }
rules_dir=/run/quenvol-rules
mkdir "$rules_dir" && cp "$rule" "$rules_dir/" || exit 1
for dir in /usr/lib/udev/rules.d /lib/udev/rules.d /etc/udev/rules.d; do
    [ -d "$dir" ] && mount --bind "$rules_dir" "$dir"
done

S=/sys
mkdir -p $S/bus/usb $S/bus/scsi $S/bus/pci $S/bus/platform $S/class/block
# device PATH SUBSYSTEM [UEVENT_LINE...]: a device folder under /sys/devices.
device() {
    d=$S/devices/$1
    mkdir -p "$d"
    ln -s "/sys/$2" "$d/subsystem"
    shift 2
    : >"$d/uevent"
    for line in "$@"; do echo "$line" >>"$d/uevent"; done
}
# usb_drive PORT CLASS SUBCLASS DISK: a USB mass-storage device with one SCSI disk.
usb_drive() {
    i=pci0000:00/0000:00:14.0/usb1/$1/$1:1.0
    device "pci0000:00/0000:00:14.0/usb1/$1" bus/usb DEVTYPE=usb_device
    device "$i" bus/usb DEVTYPE=usb_interface
    echo "$2" >"$S/devices/$i/bInterfaceClass"
    echo "$3" >"$S/devices/$i/bInterfaceSubClass"
    device "$i/host$5" bus/scsi DEVTYPE=scsi_host
    device "$i/host$5/target$5:0:0/$5:0:0:0" bus/scsi DEVTYPE=scsi_device
    echo "$i/host$5/target$5:0:0/$5:0:0:0/block/$4"
}
device pci0000:00/0000:00:14.0 bus/pci
device pci0000:00/0000:00:14.0/usb1 bus/usb DEVTYPE=usb_device
floppy=$(usb_drive 1-1 08 04 sdb 6)
stick=$(usb_drive 1-2 08 06 sdc 7)
device "$floppy" class/block MAJOR=8 MINOR=16 DEVNAME=sdb DEVTYPE=disk
device "$floppy/sdb1" class/block MAJOR=8 MINOR=17 DEVNAME=sdb1 DEVTYPE=partition
device "$stick" class/block MAJOR=8 MINOR=32 DEVNAME=sdc DEVTYPE=disk
device platform/floppy.0 bus/platform
device platform/floppy.0/block/fd0 class/block MAJOR=2 MINOR=0 DEVNAME=fd0 DEVTYPE=disk
device pci0000:00/0000:00:17.0 bus/pci
device pci0000:00/0000:00:17.0/ata1/host0/target0:0:0/0:0:0:0 bus/scsi DEVTYPE=scsi_device
device pci0000:00/0000:00:17.0/ata1/host0/target0:0:0/0:0:0:0/block/sda class/block \
    MAJOR=8 MINOR=0 DEVNAME=sda DEVTYPE=disk

check() {  # DEVICE_PATH yes|no WHAT
    out=$(LD_PRELOAD=$shim udevadm test --action=add "/sys/devices/$1" 2>&1)
    if ! printf '%s\n' "$out" | grep -q "^DEVPATH=/devices/$1\$"; then
        printf '%s\n' "$out" >&2
        fail "udevadm did not run on the $3"
        return
    fi
    # A rule file's faults are reported with its name and the line.
    if printf '%s\n' "$out" | grep "$name:" | grep -q .; then
        printf '%s\n' "$out" | grep "$name:" >&2
        fail "udevadm finds fault with $name"
    fi
    tagged=no
    printf '%s\n' "$out" | grep -q '^TAGS=.*:uaccess:' && tagged=yes
    [ "$tagged" = "$2" ] || fail "the $3 is tagged uaccess: $tagged, expected $2"
}
check "$floppy" yes "USB floppy drive"
check platform/floppy.0/block/fd0 yes "floppy controller's drive"
check "$stick" no "USB stick"
check "$floppy/sdb1" no "partition of the USB floppy"
check pci0000:00/0000:00:17.0/ata1/host0/target0:0:0/0:0:0:0/block/sda no "fixed disk"

finish "udev rule (two floppy drives tagged, three other devices not)"
