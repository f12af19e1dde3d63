#!/usr/bin/env bash
# A longer fuzzing campaign: every libFuzzer target of the build for SECONDS each. New inputs
# that add coverage are merged into the kept corpus (tests/fuzz/corpus/<target>); a crash leaves its
# input under tests/fuzz/crashes/<target>/ and makes the campaign fail.
# Usage: fuzz-campaign.sh BUILD_FUZZ_DIR SECONDS
set -uo pipefail
build=${1:?build directory}
seconds=${2:-600}
top=$(cd "$(dirname "$0")/.." && pwd)
status=0
mapfile -t targets < <(find "$build" -type f -perm -u+x -name '*_fuzz' | sort)
[ ${#targets[@]} -gt 0 ] || { echo "no fuzz targets in $build"; exit 1; }
for target in "${targets[@]}"; do
  name=$(basename "$target")
  corpus=$top/tests/fuzz/corpus/$name
  crashes=$top/tests/fuzz/crashes/$name
  work=$(mktemp -d)
  mkdir -p "$corpus" "$crashes"
  echo "== $name: $seconds s"
  if ! "$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="$crashes/" "$work" "$corpus"; then
    echo "== $name: FAILED, input kept in $crashes"
    status=1
  fi
  # Only inputs that add coverage join the corpus; the named seeds and regressions stay.
  "$target" -merge=1 "$corpus" "$work" >/dev/null 2>&1
  echo "== $name: corpus now $(ls "$corpus" | wc -l) inputs"
  rm -rf "$work"
done
exit $status
