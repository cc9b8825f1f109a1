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

# shellcheck source=bench-prefix.sh
source "$root/bench/bench-prefix.sh"

echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ //'), $("$WINE64" --version)"
echo "date: $(date -u '+%Y-%m-%d %H:%M UTC'); load before: $(cut -d' ' -f1-3 /proc/loadavg)"
status=0
WINEPREFIX="$prefix" QEX_SIMHID_SYS="Z:$build/tools/simhid/qexsimhid.sys" \
  "$WINE64" "$build/bench/soak.exe" "${QEX_BENCH_AGENT:-$build/app/QEXJoystick.exe}" "$@" || status=$?
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
exit $status
