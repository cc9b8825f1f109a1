#!/bin/sh
# Runs a Windows program under Wine in the build tree's own prefix.
# QEX_WINEPREFIX is set by scripts/test.sh; the fallback keeps ctest usable by hand.
: "${QEX_WINEPREFIX:=$(pwd)/wineprefix}"
export WINEPREFIX="$QEX_WINEPREFIX"
export WINEDEBUG="${WINEDEBUG:--all}"
exec "${QEX_WINE:-/usr/lib/wine/wine64}" "$@"
