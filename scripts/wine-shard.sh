#!/bin/bash
# One shard of the 64-bit Wine tests, for `scripts/test.sh --quick`: in a
# network namespace (the agent's port), Wine prefix (the debug-output
# objects, the system folder's mail client, the simulated console's driver),
# X display and wineserver of its own, so that shards run side by side.
# Needs root (for the namespace).
#
#   scripts/wine-shard.sh PREFIX LOG [ctest arguments...]
set -uo pipefail
cd "$(dirname "$0")/.."
if [[ -z ${QEX_SHARD_INSIDE:-} ]]; then
  exec env QEX_SHARD_INSIDE=1 unshare -n "$0" "$@"
fi
prefix=$1 log=$2
shift 2
exec >"$log" 2>&1
ip link set lo up
source scripts/wine-env.sh
unset DISPLAY
rm -rf "$prefix"
qex_make_prefix "$prefix" win64
qex_start_display
WINEPREFIX="$prefix" "$WINESERVER" -p </dev/null >/dev/null 2>&1
WINEPREFIX="$prefix" "$WINE64" wineboot </dev/null >/dev/null 2>&1
QEX_WINE="$WINE64" QEX_WINEPREFIX="$prefix" ctest --test-dir build/win64 --output-on-failure "$@"
status=$?
WINEPREFIX="$prefix" "$WINESERVER" -k 2>/dev/null
kill "$QEX_XVFB_PID" 2>/dev/null
exit $status
