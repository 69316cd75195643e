#!/bin/sh
# Ctrl+C on Windows, shown the one way wine delivers it: SIGINT to the program's wine process
# reaches the console's control handlers as Ctrl+C. The program must end with status 130
# (128 + SIGINT), as on Linux: during a build once it has ended the build (it records the
# signal it saw first), and outside a build at once.
#   interrupt-check.sh <wine64> <quenvol_platform_tests.exe>
set -u
wine=$1
program=$2
report=$(mktemp)
trap 'rm -f "$report"' EXIT
failed=0
# check <where> <what the program records after the wait>
check() {
    : >"$report"
    if [ "$1" = outside ]; then export QUENVOL_INTERRUPT_OUTSIDE=1; else unset QUENVOL_INTERRUPT_OUTSIDE; fi
    QUENVOL_INTERRUPT_REPORT="Z:$report" "$wine" "$program" --gtest_also_run_disabled_tests \
        --gtest_filter=Win32HostChild.DISABLED_WaitsForAnInterrupt >/dev/null 2>&1 &
    child=$!
    tries=0
    until grep -q waiting "$report"; do
        tries=$((tries + 1))
        if [ $tries -gt 600 ]; then
            echo "$1 a build: the program never got to wait for the interrupt"
            kill -KILL $child 2>/dev/null
            failed=1
            return
        fi
        sleep 0.1
    done
    kill -INT $child
    wait $child
    status=$?
    seen=$(sed -n 2p "$report")
    echo "$1 a build: status $status, the program saw \"$seen\""
    # A process killed by SIGINT itself would show 130 as well: what it recorded tells.
    [ "$status" -eq 130 ] && [ "$seen" = "$2" ] || failed=1
}
check within SIGINT
check outside ""
exit $failed
