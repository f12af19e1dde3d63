#!/usr/bin/env bash
# The main job on the bench: packs the example one-file image and runs the station on the
# example recipe in a run directory of the build.
set -euo pipefail
build=${1:-build}
top=$(cd "$(dirname "$0")/.." && pwd)
bin=$(cd "$build" && pwd)
run=$bin/run
mkdir -p "$run"
cp "$top/examples/flasher.ini" "$run/flasher.ini"
"$bin/tools/onefi/onefi" pack "$top/examples/package.ini" -o "$run/package.1fi"
cd "$run"
echo "== norvane_pc --check-config (in $run)"
"$bin/src/station/norvane_pc" --check-config flasher.ini
