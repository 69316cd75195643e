#!/bin/sh
# Checks the boot harness scripts/boot-test.sh itself: it finds text from a guest that
# keeps running and stops that guest; it fails, showing the serial output, when the text
# never comes, whether the guest ends the run or the time runs out; it leaves no emulator
# behind; it accepts an image path with a comma; it refuses bad arguments.
#
#   check_harness.sh HARNESS KEEP_RUNNING_SECTOR KIT_DIR PROJECT_DIR
set -u

[ $# -eq 4 ] || { echo "usage: $0 HARNESS KEEP_RUNNING_SECTOR KIT_DIR PROJECT_DIR" >&2; exit 2; }
harness=$1
fixture=$2
kit=$3
project=$4

work=$(mktemp -d "${TMPDIR:-/tmp}/check-harness.XXXXXX") || exit 1
trap 'rm -rf "$work"' EXIT

failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

# Runs the harness; leaves its exit status in $status and its output in out.txt / err.txt.
run() {
    sh "$harness" "$@" >"$work/out.txt" 2>"$work/err.txt"
    status=$?
}

expect_status() {  # WANTED CASE
    if [ "$status" -ne "$1" ]; then
        fail "$2: exit status $status, expected $1"
        sed 's/^/  | /' "$work/out.txt" "$work/err.txt" >&2
    fi
}

expect_in_errors() {  # TEXT CASE
    grep -qF -e "$1" "$work/err.txt" || fail "$2: the report does not show \"$1\""
}

# The emulator's command line names the image, whose path is unique to this run.
expect_no_emulator_left() {  # IMAGE CASE
    if pgrep -f -- "file=$1" >/dev/null 2>&1; then
        fail "$2: an emulator is still running on $1"
    fi
}

keep=$work/keep_running.img
dd if=/dev/zero of="$keep" bs=512 count=2880 status=none
dd if="$fixture" of="$keep" bs=512 count=1 conv=notrunc status=none
waiting_line="boot fixture: waiting for a key"

run "$keep" "$waiting_line" 60
expect_status 0 "guest that keeps running"
expect_no_emulator_left "$keep" "guest that keeps running"

run "$keep" "text the guest never writes" 2
expect_status 1 "time running out"
expect_in_errors "did not appear within 2 s" "time running out"
expect_in_errors "$waiting_line" "time running out"
expect_no_emulator_left "$keep" "time running out"

minidos=$work/minidos.img
if sh "$(dirname "$0")/make_sample_minidos.sh" "$minidos" "$kit" "$project"; then
    run "$minidos" "text the guest never writes" 60
    expect_status 1 "guest that ends the run"
    # The sample boot sector writes 0x10 to the exit device: (0x10 << 1) | 1.
    expect_in_errors "ended (status 33)" "guest that ends the run"
    expect_in_errors "Quenvol sample crisis diskette" "guest that ends the run"

    comma=$work/with,comma.img
    cp "$minidos" "$comma"
    run "$comma" "Quenvol sample crisis diskette" 60
    expect_status 0 "image path with a comma"
else
    fail "could not build the sample MINIDOS image"
fi

run
expect_status 2 "no arguments"
run "$work/missing.img" "text" 10
expect_status 2 "missing image"
run "$keep" "text" soon
expect_status 2 "timeout that is no number"
run "$keep" "" 10
expect_status 2 "empty expected text"
QEMU=$work/no-such-emulator sh "$harness" "$keep" "text" 10 >"$work/out.txt" 2>"$work/err.txt"
status=$?
expect_status 2 "missing emulator"

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed" >&2
    exit 1
fi
echo "boot harness: all cases behave"
