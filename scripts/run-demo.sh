#!/usr/bin/env bash
# The main job on the bench: four simulated handsets, the example one-file image, and the
# station flashing them (the Qt window when a display is available, else headless until all
# four have finished), each handset handed to the example plug-in afterwards.
set -euo pipefail
build=${1:-build}
top=$(cd "$(dirname "$0")/.." && pwd)
bin=$(cd "$build" && pwd)
run=$bin/run
rm -rf "$run" && mkdir -p "$run/bench"
cp "$top/examples/flasher.ini" "$top/examples/registry.ini" "$top/examples/demo-bench.ini" "$run/"
"$bin/tools/onefi/onefi" pack "$top/examples/package.ini" -o "$run/package.1fi"
cp "$top/examples/post_plugin.ini" "$bin/plugins/post_plugin_example/libpost_plugin_example.so" "$run/"
cd "$run"
echo "== the recipe (norvane_pc --check-config)"
"$bin/src/station/norvane_pc" --check-config flasher.ini

"$bin/sim/handset_bench" --socket "$run/bench.sock" --dir "$run/bench" demo-bench.ini >bench.log 2>&1 &
bench=$!
station=""
trap 'kill $station $bench 2>/dev/null || true' EXIT
for _ in $(seq 100); do [ -S "$run/bench.sock" ] && break; sleep 0.1; done
export NORVANE_USB=sim:$run/bench.sock NORVANE_REGISTRY=$run/registry.ini XDG_RUNTIME_DIR=$run

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  echo "== the station's window: close it when the four rows are green"
  "$bin/src/station/norvane_pc"
else
  echo "== no display: the station runs headless until the four handsets are flashed"
  "$bin/src/station/norvane_pc" --headless >station.out 2>station.err &
  station=$!
  # A result line may follow another handset's progress dots on the same line.
  tail -f station.out --pid=$station | grep --line-buffered -oE '(PASSED|FAILED) fixture .*' &
  for _ in $(seq 600); do
    [ "$(grep -cE '(PASSED|FAILED) fixture ' station.out 2>/dev/null)" -ge 4 ] && break
    sleep 0.5
  done
  kill -TERM $station; wait $station || true
fi
echo "== CSV log: $(ls "$run"/log/*.csv 2>/dev/null | head -1)"
cat "$run"/log/*.csv 2>/dev/null || true
echo "== the example plug-in's log: $run/post_plugin_example.log"
cat "$run/post_plugin_example.log" 2>/dev/null || true
