#!/bin/sh
# Runs a Windows program under wine with a display of its own: an Xvfb on a free display
# number, stopped when the program ends, whatever it gave.
#   with-display.sh <Xvfb> <wine64> <program> [arguments...]
set -eu
xvfb=$1
shift
fifo=$(mktemp -u)
mkfifo "$fifo"
"$xvfb" -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
server=$!
display=$(head -n 1 "$fifo")
rm -f "$fifo"
trap 'kill "$server" 2>/dev/null || true' EXIT
if [ -z "$display" ]; then
    echo "with-display.sh: Xvfb gave no display" >&2
    exit 1
fi
status=0
DISPLAY=":$display" "$@" || status=$?
exit "$status"
