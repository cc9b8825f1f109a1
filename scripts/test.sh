#!/bin/bash
# Builds everything and runs every test: the portable units natively (with
# AddressSanitizer and UBSan, plus the fuzz targets for a bounded time), then
# the Windows builds under Wine. Sets up what it needs on a fresh Debian 12
# machine (run as root).
#
#   scripts/test.sh           everything (what CI runs)
#   scripts/test.sh --quick   the inner loop: the native tests without the
#                             fuzz targets and the 64-bit Wine tests without
#                             two of their longest cases; no 32-bit build, no
#                             lane
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)

quick=
case "${1:-}" in
  --quick) quick=1 ;;
  "") ;;
  *) echo "usage: scripts/test.sh [--quick]" >&2; exit 2 ;;
esac

scripts/setup.sh
source scripts/wine-env.sh

jobs=$(nproc)
status=0

# Builds a preset quietly, keeping its output in the build tree, and shows
# the compiler's warnings and errors (a failed build shows its end too).
qex_build() {  # PRESET
  local log="$ROOT/build/$1/build.log"
  if ! cmake --build --preset "$1" -j"$jobs" >"$log" 2>&1; then
    grep -E '(warning|error):' "$log" || tail -n 40 "$log"
    echo "the $1 build failed; its output: $log"
    return 1
  fi
  grep -E 'warning:' "$log" || true
}

# One wineserver per prefix stays up for the whole run: a Wine program then
# starts in a tenth of a second instead of seconds.
qex_servers=()
qex_stop_servers() {
  local prefix
  for prefix in "${qex_servers[@]}"; do WINEPREFIX="$prefix" "$WINESERVER" -k 2>/dev/null || true; done
  if [[ -n "${QEX_XVFB_PID:-}" ]]; then kill "$QEX_XVFB_PID" 2>/dev/null || true; fi
}
trap qex_stop_servers EXIT
qex_keep_server() {  # PREFIX WINE
  WINEPREFIX="$1" "$WINESERVER" -p </dev/null >/dev/null 2>&1
  # The prefix's services start with the first program and stay with the
  # server: start them here, so they hold none of a test's output pipes
  # (ctest would wait for them).
  WINEPREFIX="$1" "$2" wineboot </dev/null >/dev/null 2>&1
  qex_servers+=("$1")
}

echo "== native: portable units with sanitizers"
cmake --preset native >/dev/null
qex_build native
native_only=()
if [[ -n $quick ]]; then
  native_only=(-LE fuzz)
  # Each takes a minute or more and tests one thing the full command checks:
  # retries for 90 s, 100 replugs.
  export GTEST_FILTER="-LinkE2E.AnAddressRefusedAtOnceIsRetriedQuietlyUntilAGoodOneConnects:ConsoleBridgeLinked.ReplugCyclesWithAWriteEachTakeTheConsoleUpWithoutGrowth"
fi
ctest --preset native -j"$jobs" "${native_only[@]}" --output-on-failure || status=1

# The 32-bit release build and its tests: natively where the kernel runs
# 32-bit code, else in the emulated guest.
ran_win32=
run_win32() {
  echo "== win32: release build (i686-w64-mingw32, static runtime)"
  cmake --preset win32 >/dev/null
  qex_build win32
  if qex_can_run_win32; then
    rm -rf "$ROOT/build/win32/wineprefix"
    qex_make_prefix "$ROOT/build/win32/wineprefix" win32
    qex_start_display
    qex_keep_server "$ROOT/build/win32/wineprefix" "$WINE32"
    QEX_WINE="$WINE32" QEX_WINEPREFIX="$ROOT/build/win32/wineprefix" \
      ctest --test-dir build/win32 --output-on-failure || status=1
    WINEPREFIX="$ROOT/build/win32/wineprefix" "$WINESERVER" -k 2>/dev/null || true
    ran_win32=1
  else
    # The kernel runs no 32-bit code: the tests where the 32-bit paths differ
    # most run in an emulated guest (scripts/lane32.sh --full runs more).
    echo "note: this machine cannot run 32-bit programs; the 32-bit lane runs in an emulated guest"
    scripts/lane32.sh || status=1
  fi
}
if [[ -z $quick ]]; then run_win32; fi

echo "== win64: build and the tests under Wine"
cmake --preset win64 >/dev/null
qex_build win64
if [[ -n $quick ]] && unshare -n true 2>/dev/null; then
  # Side by side in three shards, each in a network namespace, prefix and
  # display of its own (scripts/wine-shard.sh). The tests that run the agent
  # from the build tree share the first two shards, so that the one that
  # finds the agent's Linux process by its path sees no other shard's.
  shards=('^(link_e2e_test|single_instance_e2e_test|hid_controller_test|display_scale_e2e_test)$'
          '^(console_e2e_test|link_flow_e2e_test|shell_e2e_test)$')
  rest="${shards[0]%)\$}|${shards[1]#^(}"
  pids=()
  for i in 0 1 2; do
    if ((i < 2)); then args=(-R "${shards[$i]}"); else args=(-E "$rest"); fi
    scripts/wine-shard.sh "$ROOT/build/win64/wineprefix-$i" "$ROOT/build/win64/shard-$i.log" "${args[@]}" &
    pids+=($!)
  done
  for i in 0 1 2; do
    wait "${pids[$i]}" || status=1
    echo "-- shard $((i + 1)) of 3"
    cat "$ROOT/build/win64/shard-$i.log"
  done
else
  rm -rf "$ROOT/build/win64/wineprefix"
  qex_make_prefix "$ROOT/build/win64/wineprefix" win64
  qex_start_display
  qex_keep_server "$ROOT/build/win64/wineprefix" "$WINE64"
  # The end-to-end tests of the program's behaviour ran on the release target
  # already where it can run; the rest covers what differs with the pointer
  # size.
  only=()
  if [[ -n $ran_win32 ]]; then only=(-LE e2e); fi
  QEX_WINE="$WINE64" QEX_WINEPREFIX="$ROOT/build/win64/wineprefix" \
    ctest --test-dir build/win64 "${only[@]}" --output-on-failure || status=1
fi

# The 32-bit build on 64-bit Windows: its tests on the simulated console, in
# the 64-bit prefix with the 64-bit driver (the harness installs the
# system's own).
if [[ -n $ran_win32 ]]; then
  echo "== win32 on 64-bit: the console tests in the 64-bit prefix"
  QEX_WINE="$WINE32" QEX_WINEPREFIX="$ROOT/build/win64/wineprefix" \
    ctest --test-dir build/win32 -L simhid --output-on-failure || status=1
fi

exit $status
