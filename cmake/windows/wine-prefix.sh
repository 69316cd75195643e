#!/bin/sh
# Makes the wine prefix the Windows tests run in, when missing, and starts its server and
# services so that they outlive every test: wine-prefix.sh <prefix folder>. The caller exports the same
# WINEPREFIX for the tests.
set -eu
export WINEPREFIX="$1" WINEDEBUG=-all WINEDLLOVERRIDES=winemenubuilder.exe=d
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    # wineboot's own status says little (it can fail on a first run that made the prefix).
    wineboot -i >/dev/null 2>&1 || true
    wineserver -w
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        echo "wine-prefix.sh: no wine prefix could be made in $WINEPREFIX" >&2
        exit 1
    fi
fi
wineserver -p </dev/null >/dev/null 2>&1 || true  # fails when one already runs for the prefix
# The prefix's services start now, outside CTest: started by the first test, they would hold
# its output pipe open and CTest would wait for them.
wine64=$(command -v wine64 || echo /usr/lib/wine/wine64)
"$wine64" wineboot </dev/null >/dev/null 2>&1 || true
