#!/usr/bin/env bash
# Makes docs/screenshot.png, the README's picture of the viewer: the win64 build's Korvale2.exe
# in a Wine virtual desktop (which draws the window's frame) on a virtual display, showing a
# photo-like PNG through ifwic.spi.  usage: docs/screenshot.sh [BUILD_DIR [LANG]]
# (default build/win64, ja_JP.UTF-8; the build must hold Korvale2.exe, its plug-in helpers and ifwic).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
. scripts/wine-env
build=$(readlink -f "${1:-build/win64}")
lang=${2:-ja_JP.UTF-8}
wine=/usr/lib/wine/wine64
export WINEARCH=win64 WINEPREFIX=$build/screenshot-prefix WINEDEBUG=-all
scripts/wine-prefix "$WINEPREFIX"

pictures=$WINEPREFIX/drive_c/users/Public/Pictures
mkdir -p "$pictures"
/usr/bin/python3 - "$pictures/evening.png" <<'PY'
# An evening sky over three ridges of hills: gradients and soft edges, as in a photograph.
import math, random, sys
from PIL import Image, ImageDraw, ImageFilter
W, H = 560, 360
img = Image.new("RGB", (W, H))
px = img.load()
for y in range(H):
    t = y / H
    for x in range(W):
        px[x, y] = (min(int(40 + 200 * t ** 1.5), 255), int(70 + 110 * t), max(int(150 - 60 * t), 0))
draw = ImageDraw.Draw(img)
draw.ellipse((380, 150, 450, 220), fill=(255, 220, 150))
for seed, (base, amp, colour) in enumerate([(230, 30, (90, 80, 110)), (265, 25, (55, 60, 80)), (300, 20, (30, 40, 45))], 1):
    random.seed(seed)
    phase = [random.random() * 6 for _ in range(3)]
    ridge = [(0, H)] + [(x, base + amp * (0.5 * math.sin(x / 70 + phase[0]) + 0.3 * math.sin(x / 31 + phase[1]) +
                                         0.2 * math.sin(x / 13 + phase[2]))) for x in range(0, W + 8, 8)] + [(W, H)]
    draw.polygon(ridge, fill=colour)
img.filter(ImageFilter.GaussianBlur(1.0)).save(sys.argv[1])
PY

display=""
for n in $(seq 200 240); do
  if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then display=":$n"; break; fi
done
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp </dev/null >/dev/null 2>&1 &
xvfb=$!
trap 'wineserver -k 2>/dev/null || true; kill $xvfb 2>/dev/null || true' EXIT
export DISPLAY=$display
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
exe=$("$wine" winepath.exe -w "$build/bin/Korvale2.exe" | tr -d '\r')
LANG=$lang LC_ALL=$lang "$wine" explorer.exe /desktop=Korvale2,1024x768 "$exe" 'C:\users\Public\Pictures\evening.png' \
  </dev/null >/dev/null 2>&1 &
sleep "${SHOT_SECONDS:-12}"
# The window (560 x 360 picture under the menu bar, with its frame) and a little of the desktop.
shot=$build/screenshot-full.png
import -window root "$shot"
convert "$shot" -crop 586x434+188+94 +repage -strip -define png:compression-level=9 "$root/docs/screenshot.png"
echo "screenshot: $root/docs/screenshot.png"
