#!/usr/bin/env bash
# Runs every benchmark of the project and prints one table of figure, goal and measured value.
# Each benchmark prints its figures as lines "BENCH<TAB>figure<TAB>goal<TAB>value".
set -euo pipefail
build=${1:-build}
top=$(cd "$(dirname "$0")/.." && pwd)
results=$(mktemp)
trap 'rm -f "$results"' EXIT
for bench in "$top"/bench/*/*.sh; do
  echo "== $(basename "$(dirname "$bench")")/$(basename "$bench")"
  "$bench" "$build" | tee -a "$results" | grep -v '^BENCH' || true
done
echo
echo "Benchmark report, $(date -u +%Y-%m-%d), $(uname -m), $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"
printf '%-60s %-10s %s\n' "Figure" "Goal" "Measured"
grep '^BENCH' "$results" | while IFS=$'\t' read -r _ figure goal value; do
  printf '%-60s %-10s %s\n' "$figure" "$goal" "$value"
done
