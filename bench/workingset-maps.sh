#!/usr/bin/env bash
# Where a Windows program's working set lies under Wine: starts each program
# in the working-set benchmark's prefix, waits, and prints its resident
# memory by mapping (the Linux view of the same working set: DLL images,
# fonts, anonymous memory), then ends it. Run on its own display and prefix;
# the agent needs no console or live host for this.
#   bench/workingset-maps.sh PROGRAM.exe [PROGRAM.exe ...]
set -euo pipefail
# shellcheck source=bench-env.sh
source "$(dirname "$0")/bench-env.sh"
settle=${QEX_BENCH_SETTLE:-10}

# shellcheck source=bench-prefix.sh
source "$root/bench/bench-prefix.sh"

for program in "$@"; do
  # wine64 becomes the Windows process itself: $! is the program.
  WINEPREFIX="$prefix" "$WINE64" "$program" </dev/null >/dev/null 2>&1 &
  pid=$!
  sleep "$settle"
  echo "== $program: $(grep VmRSS "/proc/$pid/status" | tr -s ' \t' ' '), $(ls "/proc/$pid/task" | wc -l) threads"
  echo "| resident KiB | mapping |"
  echo "|---|---|"
  awk '/^[0-9a-f]+-[0-9a-f]+ /{name=$6; if (name == "") name="(anonymous)"} /^Rss:/{rss[name]+=$2}
       END{for (n in rss) if (rss[n] >= 64) printf "| %d | %s |\n", rss[n], n}' "/proc/$pid/smaps" | sort -t'|' -k2 -rn
  echo "Anonymous regions of 128 KiB or more resident:"
  awk '/^[0-9a-f]+-[0-9a-f]+ /{range=$1; name=$6} /^Rss:/{if (name == "" && $2 >= 128) printf "  %s %d KiB\n", range, $2}' \
    "/proc/$pid/smaps"
  kill "$pid"
  wait "$pid" 2>/dev/null || true
done
