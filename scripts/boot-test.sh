#!/bin/sh
# Boots a 1.44 MB diskette image in an emulated PC without a display and waits until the
# guest has written EXPECTED_TEXT on its first serial port.
#
#   scripts/boot-test.sh IMAGE EXPECTED_TEXT [TIMEOUT_SECONDS]
#
# Exit status: 0 when the text appeared, 1 when it did not (the run ended or the time ran
# out; the serial output and the emulator's messages are shown), 2 on a usage error or a
# missing emulator.
#
# The guest may end the run itself through the exit device on port 0xF4 (the emulator
# then exits with (value << 1) | 1, which is not an error here), or keep running, as a
# boot sector that waits for a key does: the run is stopped as soon as the text is there.
# The image is attached read-only, so a test never changes it.
#
# Environment: QEMU names the emulator (default qemu-system-i386); BOOT_TEST_LOG, when
# set, receives a copy of the serial output.
#
# Hardware acceleration is never used: the emulation must behave the same on every
# build machine, and KVM hangs on some of them.

set -u

usage() {
    echo "usage: $0 IMAGE EXPECTED_TEXT [TIMEOUT_SECONDS]" >&2
    exit 2
}

if [ $# -lt 2 ] || [ $# -gt 3 ]; then
    usage
fi
image=$1
expected=$2
limit=${3:-60}
qemu=${QEMU:-qemu-system-i386}

case $limit in
'' | *[!0-9]* | 0) echo "$0: the timeout must be a positive number of seconds" >&2; exit 2 ;;
esac
[ -n "$expected" ] || { echo "$0: the expected text must not be empty" >&2; exit 2; }
[ -f "$image" ] || { echo "$0: no such image: $image" >&2; exit 2; }
command -v "$qemu" >/dev/null 2>&1 || { echo "$0: emulator not found: $qemu" >&2; exit 2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/boot-test.XXXXXX") || exit 2
qemu_pid=
# shellcheck disable=SC2317  # run by the trap
cleanup() {
    if [ -n "$qemu_pid" ]; then
        kill "$qemu_pid" 2>/dev/null
        wait "$qemu_pid" 2>/dev/null
    fi
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

serial=$work/serial.txt
messages=$work/qemu.txt
: >"$serial"

# A comma in a -drive option value is written twice.
drive_file=$(printf '%s' "$image" | sed 's/,/,,/g')

# timeout(1) is a second guard: it stops the emulator even if this shell is killed.
timeout --kill-after=5 "$((limit + 5))" "$qemu" \
    -accel tcg -M pc -m 16 \
    -drive "file=$drive_file,if=floppy,format=raw,readonly=on" -boot a \
    -display none -monitor none -nic none -no-reboot \
    -serial "file:$serial" \
    -device isa-debug-exit,iobase=0xf4,iosize=0x04 \
    </dev/null >"$messages" 2>&1 &
qemu_pid=$!

# Line ends are CR LF on the serial port; the text is matched without the CRs.
text_seen() {
    tr -d '\r' <"$serial" | grep -aqF -e "$expected"
}

found=no
ended=no
deadline=$(($(date +%s) + limit + 1))  # whole seconds: never stop early
while :; do
    if text_seen; then
        found=yes
        break
    fi
    if ! kill -0 "$qemu_pid" 2>/dev/null; then
        ended=yes
        break
    fi
    [ "$(date +%s)" -ge "$deadline" ] && break
    sleep 0.1
done

# The guest may have written its last bytes and ended in the same tick.
if [ "$found" = no ] && [ "$ended" = yes ] && text_seen; then
    found=yes
fi

if [ "$ended" = yes ]; then
    wait "$qemu_pid"
    status=$?
    qemu_pid=
else
    status=
fi

[ -n "${BOOT_TEST_LOG:-}" ] && cp "$serial" "$BOOT_TEST_LOG"

if [ "$found" = yes ]; then
    echo "boot-test: found \"$expected\" on the serial port of $image"
    exit 0
fi

if [ "$ended" = yes ]; then
    echo "boot-test: the emulator ended (status $status) before \"$expected\" appeared" >&2
else
    echo "boot-test: \"$expected\" did not appear within $limit s; emulator stopped" >&2
fi
echo "---- serial output ----" >&2
tr -d '\r' <"$serial" | cat -v >&2
echo "---- emulator messages ----" >&2
cat "$messages" >&2
echo "-----------------------" >&2
exit 1
