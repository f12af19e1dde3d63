#!/usr/bin/env bash
# Times the station's check of a 1 GiB one-file image (the whole flashini_parse_file path:
# magic, MD5 over the package, section table) against md5sum over the same file, in the same
# run, both from a warm page cache. Best of N runs each, interleaved.
# Usage: check_1fi.sh BUILD_DIR [SIZE_MIB] [RUNS]
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
size_mib=${2:-1024}
runs=${3:-5}
work=$build/bench-work/onefi
mkdir -p "$work"
cd "$work"

if [ ! -f package.1fi ] || [ "$(cat package.size 2>/dev/null)" != "$size_mib" ]; then
  mkdir -p images
  # Incompressible data, made fast: a 1 MiB random block repeated with a counter mixed in.
  python3 - "$size_mib" <<'PY'
import os, sys
n = int(sys.argv[1])
block = bytearray(os.urandom(1 << 20))
with open("images/system.img", "wb") as f:
    for i in range(n):
        block[0:8] = i.to_bytes(8, "little")
        f.write(block)
PY
  cat > package.ini <<INI
[package]
description = benchmark package
[map]
total = 1
[map1]
filename = images/system.img
desc = Write system
nand_loc = 0x00100000
nand_loc_end = 0x7FF00000
INI
  "$build/tools/onefi/onefi" pack package.ini -o package.1fi >/dev/null
  rm -f images/system.img
  echo "$size_mib" > package.size
fi
printf '[map]\n1fi_file = package.1fi\n' > flasher.ini

seconds() {  # wall time of a command, in seconds
  local t0 t1
  t0=$(date +%s.%N)
  "$@" >/dev/null
  t1=$(date +%s.%N)
  echo "$t1 - $t0" | bc -l
}

cat package.1fi >/dev/null  # warm the cache
best_station=999999 best_md5=999999
for _ in $(seq "$runs"); do
  s=$(seconds "$build/src/station/norvane_pc" --check-config flasher.ini)
  m=$(seconds md5sum package.1fi)
  best_station=$(echo "if ($s < $best_station) $s else $best_station" | bc -l)
  best_md5=$(echo "if ($m < $best_md5) $m else $best_md5" | bc -l)
done
ratio=$(echo "$best_station / $best_md5" | bc -l)
mib=$(( $(stat -c %s package.1fi) / 1048576 ))
printf 'check of a %d MiB one-file image: station %.3f s, md5sum %.3f s (best of %d)\n' \
  "$mib" "$best_station" "$best_md5" "$runs"
printf 'BENCH\t1FI check time / md5sum time (%d MiB)\t<= 1.00\t%.3f\n' "$mib" "$ratio"
