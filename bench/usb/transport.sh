#!/usr/bin/env bash
# Throughput (bulk OUT in 64 KiB requests) and cost of one 8-byte command with its 6-byte answer
# on the inproc and sim backends: the bench must not be what limits the other benchmarks.
# Usage: transport.sh BUILD_DIR
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
json=$(mktemp)
trap 'rm -f "$json"' EXIT
"$build/bench/usb/usb_bench" --benchmark_format=json --benchmark_min_time=1 >"$json"
python3 - "$json" <<'PY'
import json, sys
for b in json.load(open(sys.argv[1]))["benchmarks"]:
    backend = "sim" if b["name"].split("/")[1] == "sim:1" else "inproc"
    if b["name"].startswith("BM_BulkWrite64k"):
        print(f"BENCH\t{backend} backend, bulk OUT in 64 KiB requests (MB/s)\t-\t{b['bytes_per_second'] / 1e6:.0f}")
    else:
        print(f"BENCH\t{backend} backend, 8-byte command + 6-byte answer (us)\t-\t{b['real_time'] / 1e3:.2f}")
PY
