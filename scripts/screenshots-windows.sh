#!/bin/sh
# Pictures of the dialogs as the Win32 backend shows them under wine, each cropped to its
# window: <build>/screenshots/{main,about,menu,drives,format,folder}.png.
#   screenshots-windows.sh <64-bit build folder>
# The program runs in wine's own desktop window (which draws the captions) on an Xvfb of its
# own, in a wine prefix of its own that is stopped afterwards.
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
if [ "${1:-}" = --capture ]; then
    # Inside the display: runs the program and takes each picture it asks for.
    out=$2 program=$3
    convert=/usr/bin/convert  # ImageMagick's, not a stand-in earlier on PATH
    wine64=$(command -v wine64 || echo /usr/lib/wine/wine64)
    sh "$here/cmake/windows/wine-prefix.sh" "$WINEPREFIX"
    "$wine64" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Shots /f >/dev/null 2>&1
    "$wine64" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Shots /d 1024x768 /f \
        >/dev/null 2>&1
    status=0
    { "$wine64" "$program" "$out" || echo "failed $?"; } | while read -r name left top right bottom; do
        if [ "$name" = failed ]; then
            exit 1
        fi
        # The window's own X window, found by its place: wine draws some windows (those
        # opened from another dialog's handler) where the root's picture does not see them.
        geometry="$((right - left))x$((bottom - top))+$left+$top"
        window=""
        for id in $(xwininfo -root -tree | grep -F " $geometry " | awk '{print $1}'); do
            if xwininfo -id "$id" | grep -q IsViewable; then
                window=$id
                break
            fi
        done
        if [ -n "$window" ]; then
            xwd -id "$window" -silent
        else
            echo "screenshots-windows.sh: no X window for $name; cropping the screen" >&2
            xwd -root -silent | "$convert" xwd:- -crop "$geometry" +repage xwd:-
        fi | "$convert" xwd:- "png:$out/$name.png.tmp"
        mv "$out/$name.png.tmp" "$out/$name.png"
        echo "$out/$name.png"
    done || status=$?
    wineserver -k 2>/dev/null || true
    exit "$status"
fi
build=$(cd "$1" && pwd)
out=$build/screenshots
mkdir -p "$out"
rm -f "$out"/*.png
export WINEPREFIX="$build/wine-screenshots" WINEDEBUG=-all WINEDLLOVERRIDES=winemenubuilder.exe=d
exec sh "$here/tests/gui_win32/with-display.sh" "$(command -v Xvfb)" \
    sh "$0" --capture "$out" "$build/quenvol_win32_screenshots.exe"
