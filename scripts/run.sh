#!/bin/bash
# The agent's main job under Wine: builds the agent and starts it in a Wine
# prefix of its own, beside the bundled live-host peer and, where no real
# console exists, the simulated console. Sets up what it needs on a fresh
# Debian 12 machine (run as root). Stop it with Ctrl+C.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)

scripts/setup.sh
source scripts/wine-env.sh

# The release target is 32-bit; where this machine cannot run 32-bit
# programs the 64-bit build (same code) runs instead.
if qex_can_run_win32; then ARCH=win32; WINE=$WINE32; else ARCH=win64; WINE=$WINE64; fi
cmake --preset "$ARCH" >/dev/null
cmake --build --preset "$ARCH" -j"$(nproc)" >/dev/null
BUILD="$ROOT/build/$ARCH"
export WINEPREFIX="$BUILD/run-prefix"
qex_make_prefix "$WINEPREFIX" "$ARCH"
qex_start_display
echo "display: $DISPLAY (a screenshot: xwd -root -display $DISPLAY | convert xwd:- shot.png)"

pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  "$WINESERVER" -k 2>/dev/null || true
  if [[ -n "${QEX_XVFB_PID:-}" ]]; then kill "$QEX_XVFB_PID" 2>/dev/null || true; fi
}
trap cleanup EXIT INT TERM
# The prefix's services (device installation, the driver host) are up before
# the simulated console is plugged in.
"$WINESERVER" -p
"$WINE" wineboot </dev/null >/dev/null 2>&1

# The live host: prints what the agent sends (recv messages, status
# requests, keep-alives) and sends it a send message every 5 seconds.
(
  while sleep 5; do echo "0400050000000110000000000000000000000000000000000000000000000000"; done
) | "$WINE" "$BUILD/tools/livehost/livehost.exe" 2>&1 | sed -u 's/^/[live host] /' &
pids+=($!)

# Without a real console: the simulated one (our HID minidriver under the
# platform's own HID stack), plugged in, sending an input report every 2
# seconds and listing the reports the agent wrote to it.
"$WINE" "$BUILD/tools/simhid/simhid.exe" install "Z:$BUILD/tools/simhid/qexsimhid.sys"
(
  n=0
  while sleep 2; do
    printf 'send 00 %02X' $((n % 256)); for _ in $(seq 31); do printf ' 00'; done; echo
    n=$((n + 1))
    if ((n % 5 == 0)); then echo outputs; fi
  done
) | "$WINE" "$BUILD/tools/simhid/simhid.exe" run --product "QEX PROPRE CONTROLLER" 2>&1 |
  sed -u 's/^/[console] /' &
pids+=($!)

# Inside a Wine desktop, which draws title bars and a notification area.
"$WINE" explorer /desktop=QEX,1000x600 "$BUILD/app/QEXJoystick.exe" "$@"
