#!/usr/bin/env python3
"""onefi pack/info/verify and norvane_pc --check-config, end to end on real files."""
import argparse
import configparser
import hashlib
import json
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

ARGS = None


def run(cmd, cwd=None):
    return subprocess.run(cmd, cwd=cwd, capture_output=True, text=True, timeout=120)


class Tools(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="norvane-e2e-")
        self.addCleanup(shutil.rmtree, self.dir)

    def path(self, *names):
        return os.path.join(self.dir, *names)

    def write(self, name, text):
        with open(self.path(name), "w") as f:
            f.write(text)
        return self.path(name)

    def pack(self, manifest, out, cwd=None):
        return run([ARGS.onefi, "pack", manifest, "-o", out], cwd=cwd)

    def check_config(self, *args, cwd=None):
        return run([ARGS.norvane_pc, "--check-config", *args], cwd=cwd or self.dir)

    def example_package(self):
        out = self.path("package.1fi")
        # From an unrelated directory: image paths are relative to the manifest.
        r = self.pack(os.path.join(ARGS.examples, "package.ini"), out, cwd="/")
        self.assertEqual(r.returncode, 0, r.stderr)
        return out

    def test_package_reads_back_as_its_manifest(self):
        self.example_package()
        shutil.copy(os.path.join(ARGS.examples, "flasher.ini"), self.path("flasher.ini"))
        r = self.check_config()  # default FILE: flasher.ini in the working directory
        self.assertEqual(r.returncode, 0, r.stderr)
        record = json.loads(r.stdout)

        m = configparser.ConfigParser(inline_comment_prefixes=(";",))
        m.read(os.path.join(ARGS.examples, "package.ini"))
        self.assertEqual(record["one_file_image"], "package.1fi")
        self.assertEqual(record["one_file_image_description"], m["package"]["description"])
        self.assertRegex(record["creationtime"], r"^\d{12}$")
        self.assertEqual(record["init_bbm_method"], int(m["misc"]["init_nand_flash_bbm"]))
        self.assertEqual(record["bbm_reloc_addr"], int(m["misc"]["bbm_reloc"], 0))
        self.assertEqual(record["num_of_chip_select"], -1)
        parts = record["partition_info_list"]
        self.assertEqual(len(parts), int(m["map"]["total"]))
        for n, part in enumerate(parts, 1):
            sec = m[f"map{n}"]
            image = os.path.join(ARGS.examples, sec["filename"])
            self.assertEqual(part["original_filename"], sec["filename"])
            self.assertEqual(part["filename"], "package.1fi")
            self.assertEqual(part["desc"], sec["desc"])
            self.assertEqual(part["nand_loc_start"], int(sec["nand_loc"], 0))
            self.assertEqual(part["nand_loc_end"], int(sec["nand_loc_end"], 0))
            self.assertEqual(part["file_size"], os.path.getsize(image))
            with open(self.path("package.1fi"), "rb") as f, open(image, "rb") as g:
                f.seek(part["offset_in_file"])
                self.assertEqual(f.read(part["file_size"]), g.read())
        self.assertEqual(record["erase_info_list"],
                         [{"nand_loc_start": 0x280000, "nand_loc_end": 0x300000}])
        self.assertEqual(record["gpio_bd_info_list"], [{"gpio": 16, "value": 1}])
        self.assertEqual(record["gpio_ad_info_list"], [{"gpio": 16, "value": 0}])

    def test_info_and_verify(self):
        pkg = self.example_package()
        r = run([ARGS.onefi, "info", pkg])
        self.assertEqual(r.returncode, 0, r.stderr)
        for text in ["1FI FORMAT", "Sections:          6", 'image "images/kernel.img"',
                     "erase 0x00280000 - 0x00300000", "gpio before: gpio 16 value 1"]:
            self.assertIn(text, r.stdout)
        self.assertEqual(run([ARGS.onefi, "verify", pkg]).returncode, 0)

        with open(pkg, "r+b") as f:  # one flipped data byte
            f.seek(-1, os.SEEK_END)
            b = f.read(1)
            f.seek(-1, os.SEEK_END)
            f.write(bytes([b[0] ^ 1]))
        r = run([ARGS.onefi, "verify", pkg])
        self.assertEqual(r.returncode, 1)
        self.assertIn("One file image checksum error: ", r.stderr)

    def test_pack_refusals_leave_nothing(self):
        os.mkdir(self.path("img"))
        with open(self.path("img", "a.bin"), "wb") as f:
            f.write(b"A" * 100)
        body = "[map]\ntotal=1\n[map1]\nfilename=img/a.bin\ndesc=A\nnand_loc=0\nnand_loc_end=0x20000\n"
        cases = {
            "long description": ("[package]\ndescription=" + "d" * 61 + "\n" + body, "at most 60"),
            "missing image": ("[package]\ndescription=x\n" + body.replace("a.bin", "b.bin"),
                              "cannot read image file"),
            "bad number": ("[package]\ndescription=x\n" + body.replace("0x20000", "0x2g000"),
                           "is not a number"),
            "bad creation time": ("[package]\ndescription=x\ncreationtime=2026\n" + body,
                                  "12 digits"),
            "no description": (body, "description is missing"),
        }
        with open(self.path("out.1fi"), "wb") as f:
            f.write(b"previous package")
        for name, (text, message) in cases.items():
            with self.subTest(name):
                r = self.pack(self.write("m.ini", text), self.path("out.1fi"))
                self.assertNotEqual(r.returncode, 0)
                self.assertIn(message, r.stderr)
                with open(self.path("out.1fi"), "rb") as f:
                    self.assertEqual(f.read(), b"previous package")
                self.assertEqual(sorted(os.listdir(self.dir)), ["img", "m.ini", "out.1fi"])

    def test_packages_the_station_cannot_flash_are_refused(self):
        # Sparse images: refused before any data is streamed.
        def sparse(name, size):
            with open(self.path(name), "wb") as f:
                f.truncate(size)

        def image(n, name):
            return f"[map{n}]\nfilename={name}\ndesc=I{n}\nnand_loc=0\nnand_loc_end=1\n"

        sparse("huge.bin", 4 * 1024 ** 3)
        sparse("two.bin", 2 * 1024 ** 3)
        sparse("almost.bin", 2 * 1024 ** 3 - 1)
        sparse("small.bin", 16)
        cases = {
            "past 4 GiB": (["huge.bin"], "4 GiB"),
            "image of 2 GiB": (["two.bin"], "take 2147483648 bytes"),
            "image starting past 2 GiB": (["almost.bin", "small.bin"], "would start at byte"),
        }
        for name, (images, message) in cases.items():
            with self.subTest(name):
                m = self.write("m.ini", f"[package]\ndescription=x\n[map]\ntotal={len(images)}\n" +
                               "".join(image(n, f) for n, f in enumerate(images, 1)))
                r = self.pack(m, self.path("out.1fi"))
                self.assertNotEqual(r.returncode, 0)
                self.assertIn(message, r.stderr)
                self.assertFalse(os.path.exists(self.path("out.1fi")))
                self.assertEqual([f for f in os.listdir(self.dir) if f.startswith(".")], [])

    def test_check_config_failure(self):
        ini = self.write("bad.ini", "[map]\n1fi_file=" + self.path("none.1fi") + "\n")
        r = self.check_config(ini)
        self.assertEqual(r.returncode, 1)
        self.assertEqual(r.stdout, "")
        self.assertEqual(r.stderr, "Open one file image error\nParse ini file error\n")

    def test_check_config_without_package(self):
        ini = self.write("plain.ini", "[map]\ntotal=1\n[map1]\nfilename=a \"q\"\\b\ndesc=D\n"
                                      "skip_flash_if_file_not_exist=1\nnand_loc=0\nnand_loc_end=1\n")
        r = self.check_config(ini)
        self.assertEqual(r.returncode, 0, r.stderr)
        record = json.loads(r.stdout)
        self.assertEqual(record["creationtime"], "")
        self.assertEqual(record["one_file_image"], "")
        self.assertEqual(record["enable_crc"], 1)
        part = record["partition_info_list"][0]
        self.assertEqual(part["filename"], 'a "q"\\b')
        self.assertEqual(part["skip_flash"], 1)

    def test_usage(self):
        r = run([ARGS.norvane_pc, "--help"])
        self.assertEqual(r.returncode, 0)
        self.assertIn("--check-config", r.stdout)
        for args in (["--bogus"], ["--check-config", "a", "b"]):
            r = run([ARGS.norvane_pc, *args])
            self.assertEqual(r.returncode, 2)
            self.assertIn("Usage", r.stderr)
        self.assertEqual(run([ARGS.onefi, "frobnicate"]).returncode, 2)


if __name__ == "__main__":
    p = argparse.ArgumentParser()
    p.add_argument("--onefi", required=True)
    p.add_argument("--norvane-pc", required=True)
    p.add_argument("--examples", required=True)
    ARGS, rest = p.parse_known_args()
    for key in ("onefi", "norvane_pc", "examples"):
        setattr(ARGS, key, os.path.abspath(getattr(ARGS, key)))
    unittest.main(argv=[sys.argv[0]] + rest)
