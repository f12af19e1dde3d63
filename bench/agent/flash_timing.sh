#!/usr/bin/env bash
# 64 MiB written and read back through libdkb and the agent on the in-process bus: speed with
# timing off, and with the realistic timing model the actual time over the modelled lower
# bound (bus requests and bytes, NAND page program/read and block erase).
# Usage: flash_timing.sh BUILD_DIR [MIB]
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
"$build/bench/agent/agent_flash_bench" "${2:-64}"
