#!/bin/sh
# Makes the wine prefix the Windows tests run in, when missing, maps drive A: to an image file
# in it, and starts its server and services so that they outlive every test:
#   wine-prefix.sh <prefix folder>
# The caller exports the same WINEPREFIX for the tests, and QUENVOL_WINE_DRIVE_A=<prefix
# folder>/drive-a.img: the image behind drive A: (its Linux path; wine reaches it as Z:<path>),
# a blank 1.44 MB diskette when made, which a suite formats or fills as it needs.
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
# "a::" is the device behind drive A: (what \\.\A: opens); the server reads the mapping when it
# starts, so a server of this prefix that runs without it is stopped first.
image="$WINEPREFIX/drive-a.img"
[ -f "$image" ] || truncate -s 1474560 "$image"
if [ "$(readlink "$WINEPREFIX/dosdevices/a::" 2>/dev/null || true)" != "$image" ]; then
    ln -sfn "$image" "$WINEPREFIX/dosdevices/a::"
    wineserver -k 2>/dev/null || true
    wineserver -w 2>/dev/null || true
fi
wineserver -p </dev/null >/dev/null 2>&1 || true  # fails when one already runs for the prefix
# The prefix's services start now, outside CTest: started by the first test, they would hold
# its output pipe open and CTest would wait for them.
wine64=$(command -v wine64 || echo /usr/lib/wine/wine64)
"$wine64" wineboot </dev/null >/dev/null 2>&1 || true
# The dialog tests run in wine's own desktop window, which draws the windows' captions (without
# a window manager nothing else would): a click there reaches the system menu and the caption's
# help button as on Windows.
"$wine64" reg add 'HKCU\Software\Wine\AppDefaults\quenvol_win32_ui_tests.exe\Explorer' \
    /v Desktop /d Tests /f </dev/null >/dev/null 2>&1 || true
"$wine64" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Tests /d 1024x768 /f \
    </dev/null >/dev/null 2>&1 || true
