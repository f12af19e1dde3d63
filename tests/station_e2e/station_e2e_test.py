#!/usr/bin/env python3
"""norvane_pc --headless against handset_bench: handsets flashed from a one-file image and from a
plain recipe, read back through the bench and compared; CSV lines; failures at every stage of the
job (boot ROM, agent wait, BBM, write, unplug, plug-in); repeated flashing; single instance."""
import argparse
import configparser
import glob
import hashlib
import json
import os
import shlex
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import re
import unittest

ARGS = None
RESULT = re.compile(r"(?:PASSED|FAILED) fixture .*")
DEADLINE = 120  # generous: the machine may be loaded


def wait_until(pred, what, timeout=None):
    end = time.monotonic() + (timeout or DEADLINE)
    while time.monotonic() < end:
        if pred():
            return
        time.sleep(0.1)
    raise AssertionError("timed out waiting for " + what)


class Station(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="norvane-station-")
        if not os.environ.get("KEEP_STATION_E2E"):
            self.addCleanup(shutil.rmtree, self.dir, True)
        self.procs = []
        self.addCleanup(self.stop_all)

    def stop_all(self):
        for p in reversed(self.procs):
            if p.poll() is None:
                p.send_signal(signal.SIGTERM)
                try:
                    p.wait(30)
                except subprocess.TimeoutExpired:
                    p.kill()

    def path(self, *n):
        return os.path.join(self.dir, *n)

    def write(self, name, text):
        with open(self.path(name), "w") as f:
            f.write(text)
        return self.path(name)

    def start_bench(self, handsets):
        """handsets: (port, identity) or (port, identity, {extra key: value})."""
        text = "[bench]\ntiming = none\n"
        for n, (port, identity, *extra) in enumerate(handsets, 1):
            text += f"[handset{n}]\nport = {port}\nidentity = {identity}\nreenumerate_delay_ms = 100\n"
            for k, v in (extra[0] if extra else {}).items():
                text += f"{k} = {v}\n"
        self.write("bench.ini", text)
        os.makedirs(self.path("bench"), exist_ok=True)
        self.sock = self.path("bench.sock")
        with open(self.path("bench.err"), "w") as err:
            p = subprocess.Popen([ARGS.bench, "--socket", self.sock, "--dir", self.path("bench"),
                                  self.path("bench.ini")], stdout=subprocess.DEVNULL, stderr=err)
        self.procs.append(p)
        wait_until(lambda: os.path.exists(self.sock), "the bench's socket")

    def env(self):
        e = dict(os.environ)
        e.update(NORVANE_USB="sim:" + self.sock, XDG_RUNTIME_DIR=self.dir,
                 NORVANE_REGISTRY=self.path("registry.ini"))
        e.pop("DISPLAY", None)
        e.pop("WAYLAND_DISPLAY", None)
        return e

    def start_station(self):
        with open(self.path("station.out"), "w") as out:
            p = subprocess.Popen(shlex.split(ARGS.wrapper) + [ARGS.norvane_pc, "--headless"],
                                 cwd=self.dir, env=self.env(),
                                 stdout=out, stderr=subprocess.STDOUT)
        self.procs.append(p)
        return p

    def wait_for(self, pred, what):
        # A time-out alone tells nothing: say what the station printed.
        try:
            wait_until(pred, what)
        except AssertionError as e:
            text = self.output() if os.path.exists(self.path("station.out")) else ""
            if len(text) > 12000:
                text = text[:6000] + "\n[...]\n" + text[-6000:]
            raise AssertionError(f"{e}\n--- station output ---\n{text}---") from None

    def output(self):
        with open(self.path("station.out"), errors="replace") as f:
            return f.read()

    def results(self):
        # Another handset's progress dots may come first on the same line.
        return [m.group(0) for m in RESULT.finditer(self.output())]

    def csv_lines(self):
        files = glob.glob(self.path("log", "*.csv"))
        if not files:
            return []
        with open(files[0], newline="") as f:
            return f.read().split("\r\n")[1:-1]

    def ctl(self, *args):
        r = subprocess.run([ARGS.bench, "ctl", self.sock, *args], capture_output=True, text=True, timeout=120)
        if r.returncode != 0:
            with open(self.path("bench.err"), errors="replace") as f:
                bench_err = f.read()[-8000:]
            self.fail(f"ctl {' '.join(args)}: {r.returncode} {r.stderr}\n--- bench stderr ---\n{bench_err}---")

    def status(self, port):
        r = subprocess.run([ARGS.bench, "ctl", self.sock, "status", port], check=True, capture_output=True,
                           text=True, timeout=120)
        return json.loads(r.stdout)

    def map_fixtures(self, ports):
        """Registry rows: ports[i] is fixture i + 1."""
        text = f"[SOFTWARE\\ostrel\\Marvell]\nNoOfPorts = {len(ports)}\n"
        for n, port in enumerate(ports, 1):
            text += f"[SOFTWARE\\ostrel\\Marvell\\Port{n}]\nInterfaceName = {port}\nPortNo = {n}\n"
        self.write("registry.ini", text)

    def csv_rows(self, fixture):
        """(Section, status code) of each CSV line of `fixture`, in order."""
        rows = []
        for line in self.csv_lines():
            f = line.split(",")
            if f[0] == fixture:
                rows.append((",".join(f[4:-1]), int(f[-1])))
        return rows

    def summaries(self, fixture):
        return [r for r in self.results() if f" fixture {fixture} " in r]

    def expect_result(self, fixture, section, status, code):
        """The fixture's latest CSV line and headless summary say this."""
        self.wait_for(lambda: self.csv_rows(fixture) and self.summaries(fixture),
                      f"fixture {fixture}'s result")
        self.assertEqual(self.csv_rows(fixture)[-1], (section, code), f"fixture {fixture}")
        word = "PASSED" if code == 0 else "FAILED"
        self.assertRegex(self.summaries(fixture)[-1],
                         f"^{word} fixture {fixture} interface [^:]*: status code {code}, "
                         f"section {re.escape(chr(34) + section + chr(34))}, "
                         f"status {re.escape(chr(34) + status + chr(34))},")

    def write_image(self, name, size, first=None):
        data = bytearray(os.urandom(size))
        if first is not None:
            data[0] = first
        with open(self.path(name), "wb") as f:
            f.write(data)
        return bytes(data)

    def assert_flashed(self, port, image, start, end):
        data = self.flash(port, start, end)
        self.assertEqual(data[:len(image)], image, port)
        self.assertEqual(set(data[len(image):]), {0xFF}, f"{port}: rest of the range")

    def flash(self, port, start, end):
        out = self.path(f"read-{port}-{start:x}.bin")
        subprocess.run([ARGS.bench, "ctl", self.sock, "read", port, str(start), str(end), out],
                       check=True, capture_output=True, timeout=120)
        with open(out, "rb") as f:
            return f.read()

    def use_example_package(self):
        shutil.copy(os.path.join(ARGS.examples, "flasher.ini"), self.path("flasher.ini"))
        subprocess.run([ARGS.onefi, "pack", os.path.join(ARGS.examples, "package.ini"), "-o",
                        self.path("package.1fi")], check=True, capture_output=True)

    def use_one_image_package(self, description):
        """A recipe naming only a package of a.bin at 0x100000-0x140000, packed by onefi."""
        self.write("package.ini", f"[package]\ndescription = {description}\n"
                                  "[map]\ntotal = 1\n[map1]\nfilename = a.bin\ndesc = Write A\n"
                                  "nand_loc = 0x100000\nnand_loc_end = 0x140000\n")
        subprocess.run([ARGS.onefi, "pack", self.path("package.ini"), "-o", self.path("package.1fi")],
                       check=True, capture_output=True)
        self.write("flasher.ini", "[misc]\nlogging = 1\n[map]\n1fi_file = package.1fi\n")

    def assert_flash_holds_example_package(self, ports):
        m = configparser.ConfigParser(inline_comment_prefixes=(";",))
        m.read(os.path.join(ARGS.examples, "package.ini"))
        for port in ports:
            for n in range(1, int(m["map"]["total"]) + 1):
                sec = m[f"map{n}"]
                with open(os.path.join(ARGS.examples, sec["filename"]), "rb") as f:
                    image = f.read()
                start, end = int(sec["nand_loc"], 0), int(sec["nand_loc_end"], 0)
                data = self.flash(port, start, end)
                self.assertEqual(data[:len(image)], image, f"{port} {sec['filename']}")
                self.assertEqual(set(data[len(image):]), {0xFF}, f"{port} rest of {sec['filename']}")

    def test_two_handsets_then_quit(self):
        # Also the run the memory checker watches (--wrapper): a whole job on two threads and a clean quit.
        self.use_example_package()
        self.start_bench([("5-1", "8086:d001"), ("5-2", "1286:8104")])
        station = self.start_station()
        self.wait_for(lambda: len(self.results()) >= 2, "two results")
        self.assertTrue(all(r.startswith("PASSED") for r in self.results()), self.results())
        self.assert_flash_holds_example_package(("5-1", "5-2"))
        station.send_signal(signal.SIGTERM)
        self.assertEqual(station.wait(300), 0, self.output()[-4000:])

    def test_one_file_image_on_mapped_and_unmapped_handsets(self):
        self.use_example_package()
        self.write("registry.ini", "[SOFTWARE\\ostrel\\Marvell]\nNoOfPorts = 1\n"
                                   "[SOFTWARE\\ostrel\\Marvell\\Port1]\nInterfaceName = 3-1\nPortNo = 5\n")
        self.start_bench([("3-1", "8086:d001"), ("3-2", "1286:8104"), ("3-3", "8086:d001")])
        station = self.start_station()
        self.wait_for(lambda: len(self.results()) >= 3, "three results")
        self.assertTrue(all(r.startswith("PASSED") for r in self.results()), self.results())
        self.wait_for(lambda: len(self.csv_lines()) >= 3, "three CSV lines")
        fixtures = sorted(l.split(",")[0] for l in self.csv_lines())
        self.assertEqual(fixtures, ["5", "NA", "NA"])
        for line in self.csv_lines():
            fields = line.split(",")
            self.assertEqual(fields[1], "")  # no die ID
            self.assertEqual(fields[4:], ["Finished", "0"])

        self.assert_flash_holds_example_package(("3-1", "3-2", "3-3"))

        # A second station is refused while the first keeps running.
        r = subprocess.run([ARGS.norvane_pc, "--headless"], cwd=self.dir, env=self.env(),
                           capture_output=True, text=True, timeout=60)
        self.assertEqual(r.returncode, 1)
        self.assertIn("Another instance of same application is running\nPlease close it first.", r.stderr)
        self.assertIsNone(station.poll())
        station.send_signal(signal.SIGTERM)
        self.assertEqual(station.wait(60), 0)

    def test_plain_recipe_and_failures(self):
        with open(self.path("a.bin"), "wb") as f:
            f.write(os.urandom(200000))
        self.write("flasher.ini", "[misc]\nlogging = 1\ninit_nand_flash_bbm = 0\n"
                                  "[map]\ntotal = 1\n[map1]\nfilename = a.bin\ndesc = Write A\n"
                                  "nand_loc = 0x100000\nnand_loc_end = 0x200000\n")
        self.start_bench([("4-1", "8086:d001")])
        self.start_station()
        # A blank flash has no BBM: method 0 refuses it.
        self.wait_for(lambda: len(self.csv_lines()) >= 1, "a CSV line")
        fields = self.csv_lines()[0].split(",")
        self.assertEqual(fields[0], "NA")
        self.assertEqual(fields[4:], ["Get NAND flash info", "-1"])
        self.wait_for(lambda: any("Cannot find BBM" in r for r in self.results()), "the failure's text")

    # One image of 200000 bytes into [0x100000, 0x200000): blocks 8 and 9 of a 128 KiB-block NAND.
    PLAIN = ("[misc]\nlogging = 1\n{misc}"
             "[map]\ntotal = 1\n[map1]\nfilename = a.bin\ndesc = Write A\n"
             "nand_loc = 0x100000\nnand_loc_end = 0x200000\n")

    def test_failures_at_every_stage_of_the_job(self):
        image = self.write_image("a.bin", 200000)
        self.write("flasher.ini", self.PLAIN.format(misc=""))
        # port, bench keys, CSV Section, status text, status code
        cases = [
            ("6-1", {"faults": "no-agent"}, "Wait for DKB", "Wait for DKB failed", 1),
            ("6-2", {"faults": "status=version:0x6D"}, "Download DKB", "Download DKB failed", -1),
            ("6-3", {"faults": "status=data:0x91"}, "Download DKB", "Download DKB failed", -7),
            ("6-4", {"faults": "unplug-after-bytes=3000"}, "Download DKB", "Download DKB failed", -4),
            ("6-5", {"nand_faults": "program:blocks=8"}, "Write A", "Write Failed", -14),
            ("6-6", {"faults": "agent-unplug-after-bytes=100000"}, "Write A", "Write Failed", -13),
        ]
        ports = [c[0] for c in cases]
        self.map_fixtures(ports)
        self.start_bench([(port, "8086:d001", keys) for port, keys, *_ in cases])
        station = self.start_station()
        for n, (port, _, section, status, code) in enumerate(cases, 1):
            with self.subTest(port=port, section=section):
                self.expect_result(str(n), section, status, code)
        self.assertEqual(len(self.csv_rows("6")), 1)
        # Without a relocation area the agent has no block to replace the failing one with.
        self.assertIn("Too many bad blocks, writefailed\nFlash Fireware error occurred, error code: 4\n",
                      self.output())

        # The station keeps going: the handset pulled out while writing comes back sound; and
        # the one whose agent never starts fails again, rather than taking the agent that the
        # failed write left running on 6-5 (its row knows only one interface name).
        self.assertEqual(self.status("6-5")["role"], "agent")
        self.ctl("fault", "6-6", "none")
        self.ctl("plug", "6-6")
        self.ctl("plug", "6-1")
        self.wait_for(lambda: len(self.csv_rows("6")) == 2, "the replugged handset's result")
        self.expect_result("6", "Finished", "Completed", 0)
        self.assert_flashed("6-6", image, 0x100000, 0x200000)
        self.wait_for(lambda: len(self.csv_rows("1")) == 2, "the second wait for an agent")
        self.expect_result("1", "Wait for DKB", "Wait for DKB failed", 1)
        self.assertEqual(self.status("6-5")["role"], "agent")
        self.assertIsNone(station.poll())

    def test_bbm_method_outside_the_known_ones(self):
        self.write_image("a.bin", 1000)
        self.write("flasher.ini", self.PLAIN.format(misc="init_nand_flash_bbm = 4\n"))
        self.map_fixtures(["7-1"])
        self.start_bench([("7-1", "8086:d001")])
        self.start_station()
        self.expect_result("1", "Get NAND flash info", "config error in bbm", -1)

    def test_plugin_result_fails_the_handset(self):
        # The test plug-in answers the first byte read back: 7.
        self.write_image("a.bin", 5000, first=7)
        self.use_one_image_package("plug-in case 1.0")
        self.write("post_plugin.ini", f"[Plugin]\ndll_name = {ARGS.test_plugin}\n"
                                      "extra_read_addr = 0x100000\nextra_read_size = 16\n")
        self.map_fixtures(["8-1"])
        self.start_bench([("8-1", "8086:d001")])
        self.start_station()
        self.expect_result("1", "Write back BBM", "Error execcute post plugin", 7)
        self.wait_for(lambda: "Using external plugin: test plug-in" in self.output(), "the plug-in's name")

    def test_plugin_with_nothing_to_read_back_is_never_called(self):
        # The test plug-in would fail the handset with 7, the first byte; extra_read_size is 0.
        image = self.write_image("a.bin", 5000, first=7)
        self.use_one_image_package("no read-back 1.0")
        self.write("post_plugin.ini", f"[Plugin]\ndll_name = {ARGS.test_plugin}\nextra_read_addr = 0x100000\n")
        self.map_fixtures(["8-5"])
        self.start_bench([("8-5", "8086:d001")])
        self.start_station()
        self.expect_result("1", "Finished", "Completed", 0)
        self.assertIn("Using external plugin: test plug-in", self.output())
        self.assert_flashed("8-5", image, 0x100000, 0x140000)

    def test_plugin_speaks_to_the_agent_through_the_handle(self):
        # The plug-in reads the area again through the handset's handle with the agent operations
        # the station exports, and compares; the station then goes on with the same agent.
        image = self.write_image("a.bin", 5000)
        self.use_one_image_package("agent case 1.0")
        self.write("post_plugin.ini", f"[Plugin]\ndll_name = {ARGS.agent_plugin}\n"
                                      "extra_read_addr = 0x100000\nextra_read_size = 3000\n")
        self.map_fixtures(["8-2"])
        self.start_bench([("8-2", "8086:d001")])
        self.start_station()
        self.expect_result("1", "Finished", "Completed", 0)
        self.assert_flashed("8-2", image, 0x100000, 0x140000)

    def test_example_plugin_logs_every_handset(self):
        self.use_example_package()
        obm = os.path.join(ARGS.examples, "images", "obm.bin")
        with open(obm, "rb") as f:
            head = f.read(4096)
        self.write("post_plugin.ini", f"[Plugin]\ndll_name = {ARGS.example_plugin}\n"
                                      "extra_read_addr = 0x00020000\nextra_read_size = 4096\n")
        self.start_bench([("8-3", "8086:d001"), ("8-4", "1286:8104")])
        self.start_station()
        self.wait_for(lambda: len(self.results()) >= 2, "two results")
        self.assertTrue(all(r.startswith("PASSED") for r in self.results()), self.results())
        self.assertIn("Using external plugin: Example read-back log", self.output())
        with open(self.path("post_plugin_example.log")) as f:
            lines = f.read().splitlines()
        self.assertEqual(len(lines), 2, lines)
        for line in lines:
            self.assertRegex(line, r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ "
                                   r'version="Norvane example handset 1\.0" program_okay=1 bytes=4096 '
                                   f"md5={hashlib.md5(head).hexdigest()} blank=no$")

    def test_loop_test_flashes_the_same_handset_again_and_again(self):
        image = self.write_image("a.bin", 200000)
        self.write("flasher.ini", self.PLAIN.format(misc="loop_test = 1\n"))
        self.map_fixtures(["9-1"])
        self.start_bench([("9-1", "8086:d001")])
        self.start_station()
        self.wait_for(lambda: len(self.csv_rows("1")) >= 3, "three turns of the loop")
        # Stop the loop at its next boot ROM handshake; no write happens after the last success.
        self.ctl("fault", "9-1", "unplug-at=preamble")
        self.wait_for(lambda: any(r[1] != 0 for r in self.csv_rows("1")), "the loop's end")
        rows = self.csv_rows("1")
        self.assertGreaterEqual(len(rows), 4)
        self.assertEqual(rows[:-1], [("Finished", 0)] * (len(rows) - 1))
        self.assertEqual(rows[-1], ("Download DKB", -1))
        self.assert_flashed("9-1", image, 0x100000, 0x200000)

    def test_bad_recipe_refuses_to_start(self):
        self.write("flasher.ini", "[map]\n1fi_file = missing.1fi\n")
        self.sock = self.path("no-bench.sock")  # refused before any USB traffic
        r = subprocess.run([ARGS.norvane_pc, "--headless"], cwd=self.dir, env=self.env(),
                           capture_output=True, text=True, timeout=60)
        self.assertEqual(r.returncode, 1)
        self.assertIn("Open one file image error\n", r.stderr)
        self.assertIn("Parse ini file error", r.stderr)


if __name__ == "__main__":
    p = argparse.ArgumentParser()
    for a in ("--norvane-pc", "--bench", "--onefi", "--examples", "--test-plugin", "--agent-plugin",
              "--example-plugin"):
        p.add_argument(a, required=True)
    p.add_argument("--wrapper", default="", help="command line the station runs under, e.g. valgrind")
    ARGS, rest = p.parse_known_args()
    if ARGS.wrapper:
        DEADLINE = 600  # a memory checker runs the station tens of times slower
    for k in ("norvane_pc", "bench", "onefi", "examples", "test_plugin", "agent_plugin", "example_plugin"):
        setattr(ARGS, k, os.path.abspath(getattr(ARGS, k)))
    unittest.main(argv=[sys.argv[0]] + rest)
