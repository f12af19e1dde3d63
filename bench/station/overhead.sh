#!/usr/bin/env bash
# The station's own share of a flashing job: the real norvane_pc --headless with one
# handset_bench handset, realistic timing, a 64 MiB image from a flasher.ini recipe. The
# station's flashing time (from the row it makes when the handset connects to its PASSED
# line) over the bench's modelled lower bound for that handset (bus and NAND, modelled_us).
# Usage: overhead.sh BUILD_DIR [MIB]
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
mib=${2:-64}
here=$(cd "$(dirname "$0")" && pwd)
work=$build/bench-work/station-overhead
python3 "$here/station_run.py" "$build" "$work" 1 "$mib" > "$work.json"
python3 - "$work.json" "$mib" <<'PY'
import json, sys
rows = [json.loads(l) for l in open(sys.argv[1])]
h, mib = rows[0], int(sys.argv[2])
if not h["passed"]:
    sys.exit("overhead.sh: the handset failed: " + h["line"])
ratio = h["seconds"] / h["modelled_seconds"]
print(f"one handset, {mib} MiB: station {h['seconds']:.2f} s, modelled lower bound {h['modelled_seconds']:.2f} s, "
      f"station CPU {rows[1]['station_cpu_seconds']:.2f} s")
print(f"BENCH\tstation flashing time / modelled lower bound (1 handset, {mib} MiB)\t<= 1.02\t{ratio:.3f}")
PY
