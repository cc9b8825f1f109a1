#!/bin/sh
# Runs a Windows program under Wine in the build tree's own prefix.
# QEX_WINEPREFIX is set by scripts/test.sh; the fallback keeps ctest usable by hand.
: "${QEX_WINEPREFIX:=$(pwd)/wineprefix}"
export WINEPREFIX="$QEX_WINEPREFIX"
export WINEDEBUG="${WINEDEBUG:--all}"
# The output goes through a file: a process the program leaves behind (or a
# service of the prefix it started) may keep its output open for as long as
# the prefix's server lives, and ctest would wait for it.
out=$(mktemp)
"${QEX_WINE:-/usr/lib/wine/wine64}" "$@" </dev/null >"$out" 2>&1
rc=$?
cat "$out"
rm -f "$out"
exit $rc
