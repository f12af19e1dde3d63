#!/usr/bin/env python3
"""The unchanged host build of poweroff_charger on Debian's real Linux kernel under QEMU
(software emulation): a DRM framebuffer (cirrus, RGB 565; bochs, 32-bit XRGB), the kernel's
virtual consoles, the PS/2 keyboard and a virtio tablet as evdev devices, and the kernel's
test_power battery. The test drives the guest over QMP and its serial ports.

    charger_kernel_test.py --charger BINARY --work DIR --artefacts DIR

Exit 0 when every check passes, 1 when one fails, 77 when the guest's packages are missing.
"""

import argparse
import functools
import os
import re
import shutil
import subprocess
import sys
import time
import traceback

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import guest  # noqa: E402
import machine  # noqa: E402

FRAME_SIZE = (161, 97)   # odd width: 24-bit rows carry padding
LEVEL_SIZE = (75, 41)
LEVELS = ["0", "5", "10", "20", "40", "60", "80", "90", "100"]
FRAME_DY, LEVEL_DY = -88, 108
BATTERY = "/sys/module/test_power/parameters"
BRIGHTNESS = "/sys/class/backlight/micco-bl/brightness"
BLANK = "/ksys/class/graphics/fb0/blank"


# ---------------------------------------------------------------- pictures

def frame_colour(k, x, y):
    return ((x * 7 + k * 40) & 255, (y * 5 + x * 3 + k) & 255, (k * 50 + y * 9) & 255)


def level_colour(level, x, y):
    n = int(level)
    return ((n * 2 + x * 3) & 255, (255 - y * 6) & 255, (x * y + n) & 255)


def picture(size, colour):
    """Rows of (r, g, b), top row first."""
    w, h = size
    return [[colour(x, y) for x in range(w)] for y in range(h)]


def bmp_24(rows):
    """An uncompressed 24-bit BMP, rows bottom-up, each padded to 4 bytes."""
    h, w = len(rows), len(rows[0])
    stride = (3 * w + 3) & ~3
    pixels = bytearray()
    for row in reversed(rows):
        line = bytearray()
        for r, g, b in row:
            line += bytes((b, g, r))
        pixels += line + b"\0" * (stride - len(line))
    header = (b"BM" + (54 + len(pixels)).to_bytes(4, "little") + b"\0\0\0\0" +
              (54).to_bytes(4, "little") + (40).to_bytes(4, "little") +
              w.to_bytes(4, "little") + h.to_bytes(4, "little") + (1).to_bytes(2, "little") +
              (24).to_bytes(2, "little") + b"\0" * 4 + len(pixels).to_bytes(4, "little") +
              b"\0" * 16)
    return header + bytes(pixels)


def rows_of_bmp(data):
    """The rows (top first) of an uncompressed bottom-up 24-bit BMP, read back from its bytes:
    the expected screen is computed from the very files the guest's charger reads."""
    offset = int.from_bytes(data[10:14], "little")
    w, h = int.from_bytes(data[18:22], "little"), int.from_bytes(data[22:26], "little")
    if data[:2] != b"BM" or int.from_bytes(data[28:30], "little") != 24:
        raise ValueError("not a 24-bit BMP")
    stride = (3 * w + 3) & ~3
    rows = []
    for r in range(h):
        line = data[offset + r * stride:offset + r * stride + 3 * w]
        rows.append([(line[i + 2], line[i + 1], line[i]) for i in range(0, 3 * w, 3)])
    return rows[::-1]


PICTURE_FILES = {f"power_off_charging_{k}":
                 bmp_24(picture(FRAME_SIZE, lambda x, y, k=k: frame_colour(k, x, y)))
                 for k in range(1, 7)}
PICTURE_FILES.update({n: bmp_24(picture(LEVEL_SIZE, lambda x, y, n=n: level_colour(n, x, y)))
                      for n in LEVELS})
FRAMES = {k: rows_of_bmp(PICTURE_FILES[f"power_off_charging_{k}"]) for k in range(1, 7)}
LEVEL_PICTURES = {n: rows_of_bmp(PICTURE_FILES[n]) for n in LEVELS}


# ---------------------------------------------------------------- expected screens

def quantiser(bits):
    """Reduces 8-bit RGB bytes to what a screen of `bits` per channel (r, g, b) keeps."""
    tables = [bytes(v & (0xFF << (8 - n)) & 0xFF for v in range(256)) for n in bits]

    def reduce(rgb):
        out = bytearray(rgb)
        for c in range(3):
            out[c::3] = out[c::3].translate(tables[c])
        return out
    return reduce


RGB565 = quantiser((5, 6, 5))
XRGB8888 = quantiser((8, 8, 8))


@functools.lru_cache(maxsize=32)
def expected_screen(width, height, frame, level, reduce):
    """Black, with the frame and the level picture where the charger places them: centred,
    row offsets -88 and +108 from the middle."""
    screen = bytearray(width * height * 3)
    for rows, dy in ((FRAMES[frame], FRAME_DY), (LEVEL_PICTURES[level], LEVEL_DY)):
        h, w = len(rows), len(rows[0])
        x0 = (width - w) >> 1
        top = ((height - h) >> 1) + dy
        for y, row in enumerate(rows):
            at = ((top + y) * width + x0) * 3
            screen[at:at + 3 * w] = bytes(c for px in row for c in px)
    return reduce(screen)


def screen_writes(text):
    """The watcher's lines: (file, value) of each write to the screen's power files, in the
    kernel's order (other programs' lines may fall between them)."""
    return re.findall(r"^WRITE (\S+) ?(.*)\n", text, re.M)


def await_writes(m, start, count):
    """The first `count` screen power writes after `start`, and where the last one ends."""
    def found(text):
        lines = list(re.finditer(r"^WRITE (\S+) ?(.*)\n", text, re.M))
        return lines[count - 1] if len(lines) >= count else None
    last = m.console.wait_until(found, f"{count} screen power writes", start)
    return screen_writes(m.console.text[start:start + last.end()]), start + last.end()


def differences(actual, expected, width):
    diff = [i // 3 for i in range(0, len(actual), 3) if actual[i:i + 3] != expected[i:i + 3]]
    where = [(i % width, i // width) for i in diff[:3]]
    return len(diff), where


# ---------------------------------------------------------------- the checks

class Run:
    def __init__(self, args, kernel, initrd):
        self.args = args
        self.kernel = kernel
        self.initrd = initrd
        self.passed = []
        self.failed = []
        self.shots = 0
        self.boot_times = []

    def check(self, name, fn, *a):
        started = time.monotonic()
        try:
            fn(*a)
            self.passed.append(name)
            print(f"PASS {name} ({time.monotonic() - started:.1f} s)", flush=True)
        except Exception:
            self.failed.append(name)
            print(f"FAIL {name}", flush=True)
            traceback.print_exc()
            sys.stdout.flush()

    def artefact(self, name):
        os.makedirs(self.args.artefacts, exist_ok=True)
        return os.path.join(self.args.artefacts, name)

    def screen(self, m, tag):
        self.shots += 1
        path = os.path.join(m.dir, f"screen-{self.shots:02d}-{tag}.ppm")
        return path, m.screendump(path)

    def await_screen(self, m, tag, candidates, reduce, keep=None):
        """Screendumps until one equals one of the candidate (frame, level) screens pixel for
        pixel (a dump can catch a frame half drawn); the candidate seen."""
        deadline = time.monotonic() + machine.WAIT
        last = None
        while time.monotonic() < deadline:
            path, (w, h, rgb) = self.screen(m, tag)
            actual = reduce(rgb)
            for frame, level in candidates:
                if actual == expected_screen(w, h, frame, level, reduce):
                    if keep:
                        shutil.copy(path, self.artefact(keep))
                    return frame, level
            last = (path, w, h, actual)
        path, w, h, actual = last
        report = []
        for frame, level in candidates:
            n, where = differences(actual, expected_screen(w, h, frame, level, reduce), w)
            report.append(f"frame {frame}+{level}: {n} pixels differ, first at {where}")
        raise AssertionError(f"no screendump matched ({path}):\n  " + "\n  ".join(report))

    def start_charger(self, m, status, capacity):
        """A fresh start as at the handset's boot: screen lit, the battery as given."""
        m.shell(f"echo {capacity} > {BATTERY}/battery_capacity; "
                f"echo {status} > {BATTERY}/battery_status; "
                f"echo 0 > {BLANK}; echo 100 > {BRIGHTNESS}")
        mark = m.console.mark()
        m.shell(f"/watch_writes {BRIGHTNESS} {BLANK} > /kdev/ttyS0 2>&1 &")
        m.console.wait_for(r"WATCHING", mark)
        mark = m.console.mark()
        m.shell("/run-charger > /kdev/ttyS0 2>&1 &")
        m.console.wait_for(r"vi.bits_per_pixel = \d+\r?\n", mark)
        return mark

    def stop_watcher(self, m):
        m.shell("kill $(pidof watch_writes) 2>/dev/null; true")

    def expect_exit(self, m, mark, pattern):
        """The charger's exit: darkened first, then exactly the given commands, then main
        returning 0."""
        end = m.console.wait_for(r"CHARGER-EXIT (\d+)\r?\n", mark)
        if end.group(1) != "0":
            raise AssertionError(f"charger exited with {end.group(1)}")
        seen = m.console.text[mark:end.start()]
        commands = re.findall(r"EXIT-CMD .*", seen)
        if commands != pattern:
            raise AssertionError(f"exit commands {commands}, expected {pattern}")
        writes = screen_writes(seen[:seen.find("EXIT-CMD")])
        if writes[-2:] != [(BRIGHTNESS, "10"), (BLANK, "")]:
            raise AssertionError(f"before the exit the screen power writes were {writes}, "
                                 "expected brightness 10 then blank last")
        self.stop_watcher(m)

    # -- the checks, on one booted guest

    def charging_display(self, m, mark, bits, reduce):
        bpp = int(m.console.wait_for(r"vi.bits_per_pixel = (\d+)\r?\n", mark).group(1))
        if bpp != bits:
            raise AssertionError(f"framebuffer of {bpp} bits per pixel, expected {bits}")
        frame, _ = self.await_screen(m, "charging", [(k, "40") for k in range(1, 7)], reduce,
                                     keep=f"charger-kernel-{bits}bpp-charging-57.ppm")
        print(f"  frame {frame} with level 40 matched", flush=True)

    def screen_timeout(self, m, mark, bits, visible):
        writes, end = await_writes(m, mark, 2)
        if writes != [(BRIGHTNESS, "10"), (BLANK, "")]:
            raise AssertionError(f"darkening wrote {writes}, expected brightness 10 then blank")
        checks = re.findall(r"t2= (\d+)  t1= (\d+)", m.console.text[mark:end])
        idle = [int(t2) - int(t1) for t2, t1 in checks]
        if not idle or idle[-1] < 14 or any(i >= 14 for i in idle[:-1]):
            raise AssertionError(f"darkened after time-out checks {idle}, expected at 14 s")
        if m.shell(f"cat {BRIGHTNESS}").strip() != "10":
            raise AssertionError("brightness file is not 10")
        # The kernel's DRM connector follows the framebuffer's blanking.
        dpms = m.shell("cat /ksys/class/drm/card0-*/dpms").split()
        if "On" in dpms or not dpms:
            raise AssertionError(f"DRM connector power after blanking: {dpms}")
        print(f"  darkened after {idle[-1]} s idle, DRM connector {dpms}", flush=True)
        if visible:
            path, (w, h, rgb) = self.screen(m, "dark")
            shutil.copy(path, self.artefact(f"charger-kernel-{bits}bpp-dark.ppm"))
            if any(rgb):
                raise AssertionError(f"the blanked screen is not black ({path})")

    def key_lights(self, m, reduce):
        start = m.console.mark()
        m.key("a")
        writes, _ = await_writes(m, start, 2)
        if writes != [(BLANK, ""), (BRIGHTNESS, "100")]:
            raise AssertionError(f"lighting wrote {writes}, expected blank then brightness 100")
        dpms = m.shell("cat /ksys/class/drm/card0-*/dpms").split()
        if dpms != ["On"]:
            raise AssertionError(f"DRM connector power after lighting: {dpms}")
        self.await_screen(m, "relit", [(k, "40") for k in range(1, 7)], reduce)

    def touch_lights(self, m, reduce):
        """The next time-out darkens again; a touch (the tablet's ABS_Y) lights the screen."""
        start = m.console.mark()
        writes, _ = await_writes(m, start, 2)
        if writes != [(BRIGHTNESS, "10"), (BLANK, "")]:
            raise AssertionError(f"darkening wrote {writes}, expected brightness 10 then blank")
        start = m.console.mark()
        m.qmp.execute("input-send-event",
                      events=[{"type": "abs", "data": {"axis": "y", "value": 12000}}])
        writes, _ = await_writes(m, start, 2)
        if writes != [(BLANK, ""), (BRIGHTNESS, "100")]:
            raise AssertionError(f"lighting wrote {writes}, expected blank then brightness 100")
        self.await_screen(m, "touched", [(k, "40") for k in range(1, 7)], reduce)

    def power_key(self, m, mark):
        m.key("power", 2500)
        self.expect_exit(m, mark, ["EXIT-CMD /system/bin/reboot"])

    def full_power_key(self, m, reduce):
        mark = self.start_charger(m, "full", 57)
        self.await_screen(m, "full", [(6, "100")], reduce)
        m.key("power", 2500)
        self.expect_exit(m, mark, ["EXIT-CMD /system/bin/reboot"])

    def discharging(self, m, reduce):
        mark = self.start_charger(m, "charging", 57)
        self.await_screen(m, "before-discharge", [(k, "40") for k in range(1, 7)], reduce)
        start = m.console.mark()
        m.shell(f"echo discharging > {BATTERY}/battery_status")
        m.console.wait_for(r"poweroff \n", start)
        self.expect_exit(m, mark, ["EXIT-CMD /system/bin/reboot [-p]"])

    def session(self, vga, bits, reduce, visible_blank, touch):
        """One guest: the charging display, the time-out, a key lighting the screen, the
        power key while charging and while full, and the battery ceasing to charge."""
        with machine.Machine(self.args.work, vga, self.kernel, self.initrd, vga) as m:
            boot = m.boot()
            self.boot_times.append(boot)
            what = f"{vga}, {bits}-bit"
            print(f"booted ({what}) in {boot:.1f} s", flush=True)
            mark = self.start_charger(m, "charging", 57)
            self.check(f"[{what}] charging at 57 %: screendump equals frame and level 40",
                       self.charging_display, m, mark, bits, reduce)
            self.check(f"[{what}] no key for 14 s: brightness 10, then blank 1",
                       self.screen_timeout, m, mark, bits, visible_blank)
            self.check(f"[{what}] a key press lights the screen: blank 0, then brightness 100",
                       self.key_lights, m, reduce)
            if touch:
                self.check(f"[{what}] dark again after 14 s; a touch lights the screen",
                           self.touch_lights, m, reduce)
            self.check(f"[{what}] power key held 2.5 s while charging: /system/bin/reboot",
                       self.power_key, m, mark)
            self.check(f"[{what}] power key held 2.5 s while full: /system/bin/reboot",
                       self.full_power_key, m, reduce)
            self.check(f"[{what}] status discharging: poweroff, /system/bin/reboot -p",
                       self.discharging, m, reduce)


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--charger", required=True)
    p.add_argument("--work", required=True)
    p.add_argument("--artefacts", required=True)
    args = p.parse_args()
    started = time.monotonic()
    try:
        kernel, initrd, version = guest.build(args.work, args.charger, PICTURE_FILES)
    except guest.Missing as e:
        print(f"SKIP: {e}")
        return 77
    print(f"guest: Debian kernel {version}, built in {time.monotonic() - started:.1f} s",
          flush=True)
    if os.path.isdir(args.artefacts):
        for old in os.listdir(args.artefacts):
            if old.startswith("charger-kernel-"):
                os.unlink(os.path.join(args.artefacts, old))
    run = Run(args, kernel, initrd)
    # The cirrus DRM driver keeps its display running when blanked (it has no disable
    # hook), so only bochs shows blanking in QEMU's picture; both report it in DRM.
    run.session("cirrus", 16, RGB565, visible_blank=False, touch=False)
    run.session("std", 32, XRGB8888, visible_blank=True, touch=True)
    for ppm in os.listdir(args.artefacts) if os.path.isdir(args.artefacts) else []:
        if ppm.startswith("charger-kernel-") and ppm.endswith(".ppm") and shutil.which("convert"):
            subprocess.run(["convert", os.path.join(args.artefacts, ppm),
                            os.path.join(args.artefacts, ppm[:-4] + ".png")], check=False)
    print("boot times " + ", ".join(f"{t:.1f} s" for t in run.boot_times))
    print(f"total {time.monotonic() - started:.1f} s")
    print(f"{len(run.passed)} passed, {len(run.failed)} failed")
    return 1 if run.failed else 0


if __name__ == "__main__":
    sys.exit(main())
