#!/usr/bin/env bash
# Builds the 64-bit agent, the simulated console's driver and the relay
# benchmark in a build folder of its own, makes a Wine prefix and runs the
# benchmark there; the console is our HID minidriver under the platform's
# own HID stack.
#   bench/run.sh [relay_bench options]   e.g. --seconds 20 --rates 1000 --load 1
# QEX_BENCH_AGENT runs another build of the agent (an earlier one, to compare).
set -euo pipefail
# shellcheck source=bench-env.sh
source "$(dirname "$0")/bench-env.sh"
bench_build relay_bench

# shellcheck source=../scripts/wine-env.sh
source "$root/scripts/wine-env.sh"
qex_make_prefix "$prefix" win64
qex_start_display
# The prefix's server runs in the foreground of this script for the whole
# run, so that its process id is known: the benchmark reads the CPU counters
# of the server and of the X server from /proc.
WINEPREFIX="$prefix" "$WINESERVER" -k 2>/dev/null || true
WINEPREFIX="$prefix" "$WINESERVER" -w
WINEPREFIX="$prefix" "$WINESERVER" -f -p &
server_pid=$!
# The prefix's services (device installation, the driver host) must be up
# before the benchmark plugs its console.
WINEPREFIX="$prefix" "$WINE64" wineboot </dev/null >/dev/null 2>&1
trap '[[ -n "${QEX_XVFB_PID:-}" ]] && kill "$QEX_XVFB_PID" 2>/dev/null; WINEPREFIX="$prefix" "$WINESERVER" -k 2>/dev/null || true' EXIT
cpu_pids="wineserver=$server_pid"
if [[ -n "${QEX_XVFB_PID:-}" ]]; then cpu_pids+=",X server=$QEX_XVFB_PID"; fi

echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ //'), $("$WINE64" --version)"
echo "date: $(date -u '+%Y-%m-%d %H:%M UTC'); load before: $(cut -d' ' -f1-3 /proc/loadavg)"
status=0
WINEPREFIX="$prefix" QEX_SIMHID_SYS="Z:$build/tools/simhid/qexsimhid.sys" QEX_BENCH_CPU_PIDS="$cpu_pids" \
  "$WINE64" "$build/bench/relay_bench.exe" \
  "${QEX_BENCH_AGENT:-$build/app/QEXJoystick.exe}" "$@" || status=$?
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
exit $status
