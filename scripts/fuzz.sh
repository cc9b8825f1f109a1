#!/bin/bash
# Runs every fuzz target for a while, grows its corpus and minimises it back
# into tests/fuzz/corpus/<target>, and prints each target's executions and
# coverage. Not part of the test command (which runs each target for
# QEX_FUZZ_SECONDS from the committed corpora).
#
#   scripts/fuzz.sh [SECONDS] [TARGET ...]   default 600 s each, every target
#
# A finding stops that target: its reproducer is left in build/fuzz/<target>
# (crash-*, leak-*, timeout-*) and the script exits non-zero.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
seconds=${1:-600}
shift || true

scripts/setup.sh
cmake --preset native >/dev/null
cmake --build --preset native -j"$(nproc)" >"$ROOT/build/native-fuzz-build.log" 2>&1 ||
  { tail -n 40 "$ROOT/build/native-fuzz-build.log"; exit 1; }

mapfile -t all < <(ctest --test-dir build/native -L fuzz -N | sed -n 's/^ *Test *#[0-9]*: *//p')
targets=("$@")
if ((${#targets[@]} == 0)); then targets=("${all[@]}"); fi

# Keeps a committed corpus small enough to live in the repository.
MAX_FILES=400
MAX_KIB=512

status=0
printf '%-36s %12s %8s %8s %7s\n' target executions cov ft corpus
for t in "${targets[@]}"; do
  bin=$(find build/native -type f -name "$t" -perm -u+x | head -n 1)
  if [[ -z $bin ]]; then echo "fuzz: no binary for $t" >&2; status=1; continue; fi
  work=$ROOT/build/fuzz/$t
  seeds=$ROOT/tests/fuzz/corpus/$t
  mkdir -p "$work/corpus" "$work/merged" "$seeds"
  log=$work/run.log
  if ! (cd "$work" && "$ROOT/$bin" -max_total_time="$seconds" -rss_limit_mb=2048 -print_final_stats=1 \
        corpus "$seeds" >"$log" 2>&1); then
    echo "fuzz: $t found a fault; see $log and $work" >&2
    tail -n 30 "$log" >&2
    status=1
    continue
  fi
  rm -rf "$work/merged" && mkdir -p "$work/merged"
  (cd "$work" && "$ROOT/$bin" -merge=1 merged corpus "$seeds" >"$work/merge.log" 2>&1)
  files=$(find "$work/merged" -type f | wc -l)
  kib=$(du -sk --apparent-size "$work/merged" | cut -f1)
  if ((files <= MAX_FILES && kib <= MAX_KIB)); then
    rm -rf "$seeds" && mkdir -p "$seeds" && cp "$work/merged"/* "$seeds"/ 2>/dev/null || true
    kept="$files"
  else
    kept="$files (not kept: over $MAX_FILES files or $MAX_KIB KiB)"
  fi
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -n 1 | cut -d' ' -f2)
  ft=$(grep -o 'ft: [0-9]*' "$log" | tail -n 1 | cut -d' ' -f2)
  printf '%-36s %12s %8s %8s %7s\n' "$t" "${execs:-?}" "${cov:-?}" "${ft:-?}" "$kept"
done
exit $status
