#!/bin/sh
# Ctrl+C ending a build on Windows, shown the one way wine delivers it: SIGINT to the program's
# wine process reaches the console's control handlers as Ctrl+C. The program records the
# signal it saw and must end with status 130 (128 + SIGINT), as the Linux build does.
#   interrupt-check.sh <wine64> <quenvol_platform_tests.exe>
set -u
wine=$1
program=$2
report=$(mktemp)
trap 'rm -f "$report"' EXIT
: >"$report"
QUENVOL_INTERRUPT_REPORT="Z:$report" "$wine" "$program" --gtest_also_run_disabled_tests \
    --gtest_filter=Win32HostChild.DISABLED_WaitsForAnInterrupt >/dev/null 2>&1 &
child=$!
tries=0
until grep -q waiting "$report"; do
    tries=$((tries + 1))
    if [ $tries -gt 600 ]; then
        echo "the program never got to wait for the interrupt"
        kill -KILL $child 2>/dev/null
        exit 1
    fi
    sleep 0.1
done
kill -INT $child
wait $child
status=$?
seen=$(sed -n 2p "$report")
echo "status $status, the program saw \"$seen\""
# A process killed by SIGINT itself would show 130 as well: the name it recorded tells.
[ "$status" -eq 130 ] && [ "$seen" = SIGINT ]
