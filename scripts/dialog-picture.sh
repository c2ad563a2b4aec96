#!/usr/bin/env bash
# Draws the choice dialog as Wine shows it, under Xvfb, into docs/dialog.png.
# Run it again whenever the dialog template changes.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh picture
. scripts/need.sh
need wine wine
need wineboot wine
need wineserver wine
need Xvfb xvfb
[ -f /usr/share/wine/fonts/marlett.ttf ] || { echo "${0##*/}: Wine's Marlett font is missing: install Debian's package fonts-wine" >&2; exit 69; }
need import-im6.q16 imagemagick-6.q16
need convert-im6.q16 imagemagick-6.q16
need identify-im6.q16 imagemagick-6.q16
# ImageMagick by its own names: a bare `convert` may be something else on the PATH.
import=import-im6.q16 convert=convert-im6.q16 identify=identify-im6.q16
cmake --preset win32 >/dev/null
cmake --build --preset win32 --target sambrel >/dev/null

work=$(mktemp -d)
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
for n in $(seq 90 140); do
    [ ! -e /tmp/.X11-unix/X$n ] && [ ! -e /tmp/.X$n-lock ] && { display=:$n; break; }
done
Xvfb "$display" -screen 0 640x480x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
trap 'wineserver -k 2>/dev/null; kill $xvfb_pid 2>/dev/null; rm -rf "$work"' EXIT
export DISPLAY=$display
sleep 1
wineboot -i >/dev/null 2>&1
# The caption's close button is a glyph of Wine's Marlett font (fonts-wine).
# Wine as Debian builds it does not look in /usr/share/wine/fonts, so the
# fonts go where every Windows program's fonts are.
cp /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/"

# Wine's own desktop window draws the caption and frame.
wine explorer /desktop=sambrel,360x200 "Z:$(pwd | tr / '\\')\\build\\win32\\sambrel.exe" >/dev/null 2>&1 &
sleep 8
$import -window root "$work/screen.png"
$convert "$work/screen.png" -crop 360x200+0+0 +repage "$work/desktop.png"
background=$($convert "$work/desktop.png" -format '%[pixel:p{359,199}]' info:)
$convert "$work/desktop.png" -bordercolor "$background" -border 1 -trim +repage docs/dialog.png
echo "docs/dialog.png: $($identify -format '%wx%h' docs/dialog.png)"
