#!/usr/bin/env bash
# The station with 16 handsets at once against one alone: the same 16 MiB image from a
# flasher.ini recipe, realistic timing. The slowest of the 16 handsets' flashing times over the
# single handset's, and the station's CPU time per handset (utime + stime from /proc).
# Usage: scale.sh BUILD_DIR [HANDSETS] [MIB]
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
count=${2:-16}
mib=${3:-16}
here=$(cd "$(dirname "$0")" && pwd)
work=$build/bench-work/station-scale
python3 "$here/station_run.py" "$build" "$work-1" 1 "$mib" > "$work-1.json"
python3 "$here/station_run.py" "$build" "$work-n" "$count" "$mib" > "$work-n.json"
python3 - "$work-1.json" "$work-n.json" "$count" "$mib" <<'PY'
import json, sys
one = [json.loads(l) for l in open(sys.argv[1])]
many = [json.loads(l) for l in open(sys.argv[2])]
count, mib = int(sys.argv[3]), int(sys.argv[4])
handsets = [r for r in one + many if "port" in r]
failed = [r["line"] for r in handsets if not r["passed"]]
if failed:
    sys.exit("scale.sh: handsets failed: " + "; ".join(failed))
single = one[0]["seconds"]
slowest = max(r["seconds"] for r in many if "port" in r)
modelled = max(r["modelled_seconds"] for r in many if "port" in r)
cpu = many[-1]["station_cpu_seconds"] / count
print(f"{mib} MiB: one handset {single:.2f} s (modelled {one[0]['modelled_seconds']:.2f} s), slowest of {count} "
      f"{slowest:.2f} s (modelled {modelled:.2f} s); station CPU {many[-1]['station_cpu_seconds']:.2f} s for {count}, "
      f"{one[-1]['station_cpu_seconds']:.2f} s for one")
print(f"BENCH\tslowest of {count} handsets / one handset alone ({mib} MiB)\t<= 1.05\t{slowest / single:.3f}")
print(f"BENCH\tstation CPU time per handset, {count} at once ({mib} MiB, s)\t-\t{cpu:.3f}")
PY
