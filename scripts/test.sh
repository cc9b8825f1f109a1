#!/bin/bash
# Builds everything and runs every test: the portable units natively (with
# AddressSanitizer and UBSan, plus the fuzz targets for a bounded time), then
# the Windows builds under Wine. Sets up what it needs on a fresh Debian 12
# machine (run as root).
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)

scripts/setup.sh
source scripts/wine-env.sh

jobs=$(nproc)
status=0

echo "== native: portable units with sanitizers"
cmake --preset native >/dev/null
cmake --build --preset native -j"$jobs" >/dev/null
ctest --preset native --output-on-failure || status=1

echo "== win32: release build (i686-w64-mingw32, static runtime)"
cmake --preset win32 >/dev/null
cmake --build --preset win32 -j"$jobs" >/dev/null
if qex_can_run_win32; then
  qex_make_prefix "$ROOT/build/win32/wineprefix" win32
  qex_start_display
  QEX_WINE="$WINE32" QEX_WINEPREFIX="$ROOT/build/win32/wineprefix" \
    ctest --test-dir build/win32 --output-on-failure || status=1
  WINEPREFIX="$ROOT/build/win32/wineprefix" "$WINESERVER" -k 2>/dev/null || true
else
  echo "note: this machine cannot run 32-bit programs; the 32-bit build is compiled, its tests run on the 64-bit build"
fi

echo "== win64: build and every test under Wine"
cmake --preset win64 >/dev/null
cmake --build --preset win64 -j"$jobs" >/dev/null
rm -rf "$ROOT/build/win64/wineprefix"
qex_make_prefix "$ROOT/build/win64/wineprefix" win64
qex_start_display
QEX_WINE="$WINE64" QEX_WINEPREFIX="$ROOT/build/win64/wineprefix" \
  ctest --test-dir build/win64 --output-on-failure || status=1
WINEPREFIX="$ROOT/build/win64/wineprefix" "$WINESERVER" -k 2>/dev/null || true
if [[ -n "${QEX_XVFB_PID:-}" ]]; then kill "$QEX_XVFB_PID" 2>/dev/null || true; fi

exit $status
