#!/usr/bin/env bash
# A handset on the bench, end to end with the real binaries: download the carried agent,
# initialise the NAND, build a BBM, write a 3 MiB image from a file and read it back identical,
# on a NAND with factory bad blocks and an injected program failure; then restart the bench and
# find the same flash with its BBM.
#   bench_flash_e2e.sh HANDSET_BENCH NORVANE_CLI
set -euo pipefail
bench=$1 cli=$2
work=$(mktemp -d)
pid=
cleanup() { [ -n "$pid" ] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT
export NORVANE_USB=sim:$work/socket

cat > "$work/bench.ini" <<INI
[bench]
timing = none
[handset1]
port = 7-3
reenumerate_delay_ms = 20
bad_blocks = 5, 9, 700
nand_faults = program:blocks=14
INI

wait_for() {  # wait_for DESCRIPTION COMMAND...: until the command succeeds, at most 30 s
  local what=$1; shift
  for _ in $(seq 300); do "$@" >/dev/null 2>&1 && return 0; sleep 0.1; done
  echo "timed out waiting for $what" >&2; return 1
}
start_bench() {
  "$bench" --socket "$work/socket" --dir "$work/dir" "$work/bench.ini" > "$work/bench.log" 2>&1 &
  pid=$!
  wait_for "the bench" test -S "$work/socket"
}
agent_up() { "$cli" list | grep -q "^agent .* 7-3 "; }
fail() { echo "FAIL: $*" >&2; cat "$work/bench.log" >&2; exit 1; }

start_bench
"$cli" download 7-3 > "$work/out" || fail download
wait_for "the agent" agent_up
"$cli" init-nand 7-3 > "$work/out" || fail init-nand
grep -q "BBM not found" "$work/out" || fail "a new NAND has no BBM"
"$cli" bbm-reloc 7-3 0x7D00000 0x8000000 || fail bbm-reloc
"$cli" bbm-init 7-3 used > "$work/out" 2>&1 || fail bbm-init
"$cli" bbm-validate 7-3 > /dev/null || fail bbm-validate
head -c 3145728 /dev/urandom > "$work/image"
"$cli" write 7-3 "$work/image" 0x100000 0x500000 > "$work/out" 2>&1 || fail write
"$cli" bbm-writeback 7-3 > /dev/null || fail bbm-writeback
"$cli" read 7-3 0x100000 0x400000 "$work/back" > /dev/null 2>&1 || fail read
cmp "$work/image" "$work/back" || fail "read back differs"
"$bench" ctl "$work/socket" read 7-3 0x100000 0x400000 "$work/bench_back" > /dev/null || fail "bench read"
cmp "$work/image" "$work/bench_back" || fail "the bench's read differs"
"$bench" ctl "$work/socket" status 7-3 > "$work/status"
grep -q '\[14,1020\]' "$work/status" || fail "block 14 relocated: $(cat "$work/status")"
"$cli" reset 7-3 soft > /dev/null || fail reset
wait_for "the boot ROM" sh -c "\"$cli\" list | grep -q '^boot-rom .* 7-3 '"

# The NAND lives in the bench's directory: a restarted bench finds the flash as it was left.
kill "$pid"; wait "$pid" 2>/dev/null || true; pid=
start_bench
"$bench" ctl "$work/socket" read 7-3 0x100000 0x400000 "$work/bench_back2" > /dev/null || fail "bench read after restart"
cmp "$work/image" "$work/bench_back2" || fail "the flash changed over a restart"
"$cli" download 7-3 > /dev/null || fail "second download"
wait_for "the agent" agent_up
"$cli" init-nand 7-3 > "$work/out" || fail "second init-nand"
grep -q "BBM found" "$work/out" || fail "the BBM was not found again"
grep -q "Number of bad blocks in BBM: 0x00000004" "$work/out" || fail "the BBM lost entries: $(cat "$work/out")"
echo "bench_flash_e2e: ok"
