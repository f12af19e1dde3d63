#!/usr/bin/env python3
"""make soak: the station with loop_test on eight bench handsets for a given time. Every handset's
NAND has random factory bad blocks, and before some flashes one of its programs is made to fail
(so the agent relocates a block, for good, as a real chip would have it); after each flash the station resets the handset, which the bench then keeps powered off
until its flash has been read back and compared, and plugs it again.

    soak.py --norvane-pc P --bench P [--minutes M] [--seed S] [--workdir D]

Prints the handsets flashed, the mismatches (goal 0), the failed results, and the station's
memory, threads and descriptors at the start and at the end, with BENCH lines for the report."""
import argparse
import os
import random
import re
import shutil
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests", "chaos"))
import chaos  # noqa: E402

# Each failed program wears its block out and takes a spare block for good, so a fixed failure
# rate would use up the relocation area (128 blocks) in a long enough run. Instead one flash in
# FAIL_ONE_IN gets one failing program, until a handset has had RELOCATIONS_PER_HANDSET of them.
FAIL_ONE_IN = 25
RELOCATIONS_PER_HANDSET = 80
PROGRAMS_PER_FLASH = 100  # of the recipe's ~110 page programs: the failure lands within the flash
FACTORY_BAD = {}  # handset number -> its factory bad blocks


def bench_extra(seed):
    def extra(n):
        rng = random.Random(f"{seed}-nand-{n}")
        data_blocks = [b for _, start, end, _ in chaos.PARTITIONS for b in range(start // chaos.BLOCK, end // chaos.BLOCK)]
        bad = set(rng.sample(data_blocks, rng.randrange(1, 3)))
        bad |= set(rng.sample(range(1, chaos.RELOC[0] // chaos.BLOCK), rng.randrange(2, 6)))
        FACTORY_BAD[n] = bad
        return f"bad_blocks = {','.join(str(b) for b in sorted(bad))}\nfaults = off-after-reset\n"
    return extra


class Soak:
    def __init__(self, rig, minutes, seed):
        self.rig, self.minutes, self.seed = rig, minutes, seed
        self.lock = threading.Lock()
        self.flashed = self.mismatches = self.failed = self.injected = 0
        self.errors = []

    def log(self, text):
        with self.lock:
            print(text, flush=True)

    def fixture_loop(self, fixture, deadline, first_done):
        rig, port, key = self.rig, self.rig.ports[fixture - 1], str(fixture)
        first = True
        rng = random.Random(f"{self.seed}-program-{fixture}")
        injected = 0
        try:
            while time.monotonic() < deadline or first:
                with rig.cond:
                    seen = len(rig.summaries[key])
                if not first and injected < RELOCATIONS_PER_HANDSET and rng.randrange(FAIL_ONE_IN) == 0:
                    rig.ctl("nand-fault", port, f"program:after={rng.randrange(1, PROGRAMS_PER_FLASH)}")
                    injected += 1
                    with self.lock:
                        self.injected += 1
                rig.ctl("plug", port)
                rig.wait(lambda: len(rig.summaries[key]) > seen, f"fixture {fixture}'s result")
                with rig.cond:
                    result = rig.summaries[key][seen]
                if result[0] == "PASSED":
                    # loop_test: the station resets the handset, which the bench keeps off until plugged.
                    rig.poll(lambda: rig.role(port) == "unplugged", f"fixture {fixture}'s reset")
                    rig.wait(lambda: rig.open_handles[port] <= 0, f"fixture {fixture}'s job to let go")
                    problems = rig.flash_matches(port) + rig.flash_matches(port, "read-stored")
                    if rig.bbm(port) != rig.bbm(port, "status-stored"):
                        problems.append("the BBM on the flash differs from the agent's")
                    with self.lock:
                        self.flashed += 1
                        self.mismatches += bool(problems)
                    if problems:
                        self.log(f"MISMATCH fixture {fixture}: {problems}")
                else:
                    with self.lock:
                        self.failed += 1
                    self.log(f"FAILED fixture {fixture}: {result}")
                    rig.ctl("unplug", port)
                    rig.wait(lambda: rig.open_handles[port] <= 0, f"fixture {fixture}'s job to let go")
                if first:
                    first = False
                    first_done.release()
        except AssertionError as e:
            with self.lock:
                self.errors.append(f"fixture {fixture}: {e}")
            self.log(f"ERROR fixture {fixture}: {e}")
            if first:
                first_done.release()

    def run(self):
        rig = self.rig
        start = rig.resources()
        deadline = time.monotonic() + self.minutes * 60
        first_done = threading.Semaphore(0)
        threads = [threading.Thread(target=self.fixture_loop, args=(f, deadline, first_done))
                   for f in range(1, chaos.FIXTURES + 1)]
        for t in threads:
            t.start()
        for _ in threads:
            first_done.acquire()
        after_first = rig.resources()
        for t in threads:
            t.join()
        end = rig.resources()
        limit = time.monotonic() + 60  # the monitor reaps ended jobs on its next pass
        while end["threads"] > after_first["threads"] and time.monotonic() < limit:
            time.sleep(0.2)
            end = rig.resources()
        return start, after_first, end


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--norvane-pc", required=True)
    p.add_argument("--bench", required=True)
    p.add_argument("--minutes", type=float, default=10)
    p.add_argument("--seed", type=int, default=None)
    p.add_argument("--workdir", default=None)
    a = p.parse_args()
    a.norvane_pc, a.bench = os.path.abspath(a.norvane_pc), os.path.abspath(a.bench)
    if a.seed is None:
        a.seed = random.SystemRandom().randrange(1, 1 << 31)
    work = a.workdir or tempfile.mkdtemp(prefix="norvane-soak-")
    os.makedirs(work, exist_ok=True)
    print(f"soak: {a.minutes} minutes, seed {a.seed}, work directory {work}", flush=True)
    rig = chaos.Rig(a, work, loop_test=1, bench_extra=bench_extra(a.seed))
    ok = False
    try:
        s = Soak(rig, a.minutes, a.seed)
        start, after_first, end = s.run()
        died = rig.station_died()
        entries = 0
        for port in rig.ports:  # each entry is a factory bad block or a relocation
            m = re.search(r'"entries":\[(.*?)\]\}', rig.ctl("status", port))
            entries += m.group(1).count("[") if m else 0
        print(f"BBM entries at the end, all handsets: {entries} "
              f"(factory bad blocks: {sum(len(b) for b in FACTORY_BAD.values())})")
        print(f"handsets flashed: {s.flashed}")
        print(f"mismatches: {s.mismatches} (goal 0)")
        print(f"failed results: {s.failed}")
        print(f"program failures injected: {s.injected}")
        for name, r in (("at start", start), ("after the first flashes", after_first), ("at end", end)):
            print(f"station {name}: VmRSS {r['rss_kib']} KiB, threads {r['threads']}, fds {r['fds']}")
        print(f"BENCH\tsoak handsets flashed in {a.minutes} min\t-\t{s.flashed}")
        print(f"BENCH\tsoak read-back mismatches\t0\t{s.mismatches}")
        print(f"BENCH\tsoak station VmRSS KiB first flashes/end\t-\t{after_first['rss_kib']}/{end['rss_kib']}")
        print(f"BENCH\tsoak station fds first flashes/end\t-\t{after_first['fds']}/{end['fds']}")
        ok = not s.errors and s.mismatches == 0 and not died and s.flashed > 0
        if died:
            print("FAIL the station ended")
    finally:
        status = rig.close()
        if status != 0:
            print(f"FAIL the station's exit status on quitting: {status}")
            ok = False
        if ok and not a.workdir:
            shutil.rmtree(work, True)
    print("soak: " + ("passed" if ok else f"FAILED (seed {a.seed}, work directory {work})"))
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
