#!/usr/bin/env python3
"""Runs the real station (norvane_pc --headless) against handset_bench with realistic timing:
N handsets flashed at once with one image from a flasher.ini recipe. For each handset it prints
one JSON line: the station's flashing time (from the row the station made for the handset when
it connected, to its PASSED line, both stamped as the station printed them), the bench's
modelled lower bound (modelled_us of `handset_bench ctl SOCK status PORT`), and the result.
Then a last line with the station's CPU time (utime + stime of the process, in seconds).
    station_run.py BUILD_DIR WORK_DIR HANDSETS MIB"""
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import threading
import time

build, work, count, mib = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
norvane_pc = os.path.join(build, "src", "station", "norvane_pc")
bench = os.path.join(build, "sim", "handset_bench")
DEADLINE = 900  # seconds; generous for a loaded machine

shutil.rmtree(work, ignore_errors=True)
os.makedirs(os.path.join(work, "bench"))
image = os.path.join(work, "image.bin")
with open(image, "wb") as f:  # incompressible, made fast: a random MiB with a counter mixed in
    block = bytearray(os.urandom(1 << 20))
    for i in range(mib):
        block[0:8] = i.to_bytes(8, "little")
        f.write(block)
start = 0x00100000
with open(os.path.join(work, "flasher.ini"), "w") as f:
    f.write("[misc]\nlogging = 0\n[map]\ntotal = 1\n[map1]\nfilename = image.bin\ndesc = Write image\n"
            f"nand_loc = {start:#x}\nnand_loc_end = {start + (mib << 20):#x}\n")
ports = [f"9-{n}" for n in range(1, count + 1)]
with open(os.path.join(work, "bench.ini"), "w") as f:
    f.write("[bench]\ntiming = realistic\n")
    for n, port in enumerate(ports, 1):
        f.write(f"[handset{n}]\nport = {port}\nplugged = false\n")
sock = os.path.join(work, "bench.sock")
bench_p = subprocess.Popen([bench, "--socket", sock, "--dir", os.path.join(work, "bench"),
                            os.path.join(work, "bench.ini")], stdout=subprocess.DEVNULL, stderr=open(os.path.join(work, "bench.err"), "w"))
station_p = None


def ctl(*args):
    return subprocess.run([bench, "ctl", sock, *args], capture_output=True, text=True, timeout=120).stdout


try:
    end = time.monotonic() + 60
    while not os.path.exists(sock) and time.monotonic() < end:
        time.sleep(0.05)
    env = dict(os.environ, NORVANE_USB="sim:" + sock, XDG_RUNTIME_DIR=work,
               NORVANE_REGISTRY=os.path.join(work, "registry.ini"))
    env.pop("DISPLAY", None)
    env.pop("WAYLAND_DISPLAY", None)
    station_p = subprocess.Popen([norvane_pc, "--headless"], cwd=work, env=env, stdout=subprocess.PIPE,
                                 stderr=subprocess.STDOUT, text=True, bufsize=1)
    connected, passed, failed, lines = {}, {}, {}, []
    done = threading.Event()

    def reader():
        for line in station_p.stdout:
            now = time.monotonic()
            lines.append(f"{now:.4f} {line}")
            for port in ports:
                if port not in connected and re.search(r"^row \S+ " + re.escape(port) + ":", line):
                    connected[port] = now
                m = re.search(r"(PASSED|FAILED) fixture \S+ interface " + re.escape(port) + ":", line)
                if m and port not in passed and port not in failed:
                    (passed if m.group(1) == "PASSED" else failed)[port] = (now, line.strip())
            if len(passed) + len(failed) == count:
                done.set()
        done.set()

    threading.Thread(target=reader, daemon=True).start()
    time.sleep(1.0)  # the station's start-up, so that every handset appears to a running monitor
    for port in ports:
        ctl("plug", port)
    if not done.wait(DEADLINE):
        sys.exit("station_run: timed out; station printed:\n" + "".join(lines[-40:]))
    with open(f"/proc/{station_p.pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    cpu = (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")
    for port in ports:
        status = json.loads(ctl("status", port).splitlines()[0])
        ok = port in passed
        t_end, text = passed.get(port) or failed.get(port)
        print(json.dumps({"port": port, "passed": ok, "seconds": t_end - connected[port],
                          "modelled_seconds": status["modelled_us"] / 1e6, "line": text}))
    print(json.dumps({"station_cpu_seconds": cpu, "handsets": count}))
    with open(os.path.join(work, "station.log"), "w") as f:  # stamped, for a look afterwards
        f.writelines(lines)
finally:
    for p in (station_p, bench_p):
        if p and p.poll() is None:
            p.send_signal(signal.SIGTERM)
            try:
                p.wait(30)
            except subprocess.TimeoutExpired:
                p.kill()
    shutil.rmtree(os.path.join(work, "bench"), ignore_errors=True)
