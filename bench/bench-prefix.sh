# Sourced by the working-set and soak scripts with $root and $prefix set: the
# benchmark's 64-bit prefix with its services up (before a program plugs a
# console or is measured) on a display of its own; both end with the script.
# shellcheck source=../scripts/wine-env.sh
source "$root/scripts/wine-env.sh"
qex_make_prefix "$prefix" win64
qex_start_display
trap '[[ -n "${QEX_XVFB_PID:-}" ]] && kill "$QEX_XVFB_PID" 2>/dev/null; WINEPREFIX="$prefix" "$WINESERVER" -k 2>/dev/null || true' EXIT
WINEPREFIX="$prefix" "$WINESERVER" -p
WINEPREFIX="$prefix" "$WINE64" wineboot </dev/null >/dev/null 2>&1
