#!/usr/bin/env bash
# The working-set benchmark: builds the 64-bit agent, the minimal window
# program and the benchmark in the relay benchmark's build folder and prefix,
# and runs it (README.md, "Working set").
#   bench/workingset.sh [--seconds N] [--rate N] [--module-costs]
# QEX_BENCH_AGENT runs another build of the agent (an earlier one, to compare).
set -euo pipefail
# shellcheck source=bench-env.sh
source "$(dirname "$0")/bench-env.sh"
bench_build workingset_bench

# shellcheck source=bench-prefix.sh
source "$root/bench/bench-prefix.sh"

echo "machine: $(nproc) cores, $("$WINE64" --version); date: $(date -u '+%Y-%m-%d %H:%M UTC'); load: $(cut -d' ' -f1-3 /proc/loadavg)"
WINEPREFIX="$prefix" QEX_SIMHID_SYS="Z:$build/tools/simhid/qexsimhid.sys" "$WINE64" "$build/bench/workingset_bench.exe" \
  "${QEX_BENCH_AGENT:-$build/app/QEXJoystick.exe}" "$build/bench/minimal_window.exe" "$@"
