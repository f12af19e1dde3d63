#!/usr/bin/env bash
# The station's CPU use with no handsets attached: norvane_pc --headless on an empty bus for
# SECONDS (default 60), CPU time from /proc over wall time. Goal: under 1% of one core.
# Usage: idle_cpu.sh BUILD_DIR [SECONDS]
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
seconds=${2:-60}
work=$(mktemp -d)
trap 'kill $station 2>/dev/null || true; rm -rf "$work"' EXIT
cd "$work"
printf '[misc]\nlogging = 0\n' > flasher.ini
export NORVANE_USB=inproc XDG_RUNTIME_DIR=$work NORVANE_REGISTRY=$work/none.ini
"$build/src/station/norvane_pc" --headless >station.out 2>&1 &
station=$!
sleep 2  # start-up done
ticks() { awk '{print $14 + $15}' "/proc/$station/stat"; }
hz=$(getconf CLK_TCK)
t0=$(ticks)
sleep "$seconds"
t1=$(ticks)
kill -TERM $station
wait $station || true
percent=$(echo "($t1 - $t0) * 100 / $hz / $seconds" | bc -l)
printf 'station idle for %d s: %.3f %% of one core\n' "$seconds" "$percent"
printf 'BENCH\tstation idle CPU, no handsets (%% of a core)\t< 1.0\t%.3f\n' "$percent"
