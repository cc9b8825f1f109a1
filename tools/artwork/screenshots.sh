#!/bin/bash
# Screenshots of the agent's window at 100 % and 200 % display scale, for
# the README: docs/main-window-100.png and docs/main-window-200.png. The
# 64-bit build is made if needed; the agent runs in a Wine prefix of its own
# (build/screenshots) inside a Wine desktop, which draws the title bar, with
# the prefix's dots per inch set through its registry ("LogPixels").
# Nobody listens for it: the window shows the link down.
set -euo pipefail
cd "$(dirname "$0")/../.."
ROOT=$(pwd)
source scripts/wine-env.sh

cmake --preset win64 >/dev/null
cmake --build --preset win64 --target QEXJoystick >/dev/null
EXE="$ROOT/build/win64/app/QEXJoystick.exe"
export WINEPREFIX="$ROOT/build/screenshots/wineprefix"
qex_make_prefix "$WINEPREFIX" win64
unset DISPLAY
qex_start_display

cleanup() {
  "$WINESERVER" -k 2>/dev/null || true
  if [[ -n "${QEX_XVFB_PID:-}" ]]; then kill "$QEX_XVFB_PID" 2>/dev/null || true; fi
}
trap cleanup EXIT INT TERM

# The window alone: the part of the desktop above its taskbar, trimmed to
# what is not the desktop's colour.
crop() {
  /usr/bin/python3 - "$1" <<'PY'
import sys
from PIL import Image, ImageChops
path = sys.argv[1]
im = Image.open(path).convert("RGB")
background = im.getpixel((0, 0))
w, h = im.size
top_of_taskbar = h
while top_of_taskbar > 0 and im.getpixel((0, top_of_taskbar - 1)) != background:
    top_of_taskbar -= 1
desktop = im.crop((0, 0, w, top_of_taskbar))
box = ImageChops.difference(desktop, Image.new("RGB", desktop.size, background)).getbbox()
if box:
    desktop.crop(box).save(path)
PY
}

for scale in 100 200; do
  dpi=$((96 * scale / 100))
  "$WINE64" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1
  "$WINESERVER" -w
  "$WINE64" explorer /desktop=shot,1280x800 "$EXE" </dev/null >/dev/null 2>&1 &
  shot=docs/main-window-$scale.png
  # The window is drawn within seconds; a slow machine gets half a minute.
  for _ in $(seq 30); do
    sleep 1
    xwd -root -display "$DISPLAY" -silent | convert xwd:- "$shot"
    crop "$shot"
    if [[ $(identify -format %w "$shot") -gt 300 ]]; then break; fi
  done
  sleep 2  # the last controls painted
  xwd -root -display "$DISPLAY" -silent | convert xwd:- "$shot"
  crop "$shot"
  echo "$shot: $(identify -format '%wx%h' "$shot")"
  "$WINESERVER" -k 2>/dev/null || true
  "$WINESERVER" -w
done
"$WINE64" reg delete 'HKCU\Control Panel\Desktop' /v LogPixels /f >/dev/null 2>&1 || true
