#!/usr/bin/env bash
# Builds the 64-bit agent, the simulated console's driver and the soak
# benchmark in the benchmarks' build folder, makes a Wine prefix and runs the
# soak there (default 30 minutes; not part of the test command).
#   bench/soak.sh [soak options]   e.g. --minutes 30, or a short schedule:
#   bench/soak.sh --minutes 4 --replug-s 20 --stall-every-s 60 --confirm-every-s 90 --viewer-every-s 100 --viewer-s 20 --settle-min 1
# QEX_BENCH_AGENT runs another build of the agent.
set -euo pipefail
# shellcheck source=bench-env.sh
source "$(dirname "$0")/bench-env.sh"
bench_build soak

# shellcheck source=../scripts/wine-env.sh
source "$root/scripts/wine-env.sh"
qex_make_prefix "$prefix" win64
qex_start_display
WINEPREFIX="$prefix" "$WINESERVER" -k 2>/dev/null || true
WINEPREFIX="$prefix" "$WINESERVER" -w
WINEPREFIX="$prefix" "$WINESERVER" -p </dev/null >/dev/null 2>&1
# The prefix's services (device installation, the driver host) must be up
# before the soak plugs its console.
WINEPREFIX="$prefix" "$WINE64" wineboot </dev/null >/dev/null 2>&1
trap '[[ -n "${QEX_XVFB_PID:-}" ]] && kill "$QEX_XVFB_PID" 2>/dev/null; WINEPREFIX="$prefix" "$WINESERVER" -k 2>/dev/null || true' EXIT

echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ //'), $("$WINE64" --version)"
echo "date: $(date -u '+%Y-%m-%d %H:%M UTC'); load before: $(cut -d' ' -f1-3 /proc/loadavg)"
status=0
WINEPREFIX="$prefix" QEX_SIMHID_SYS="Z:$build/tools/simhid/qexsimhid.sys" \
  "$WINE64" "$build/bench/soak.exe" "${QEX_BENCH_AGENT:-$build/app/QEXJoystick.exe}" "$@" || status=$?
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
exit $status
