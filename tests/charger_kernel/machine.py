"""One QEMU guest under software emulation: its two serial ports (the kernel console with
the charger's log, and a control shell) and its QMP monitor, all over Unix sockets. Every
wait is on a condition with a bound; the guest is killed however the test ends, even when
the test process itself dies (parent-death signal)."""

import ctypes
import json
import os
import re
import signal
import socket
import subprocess
import threading
import time

WAIT = 90.0  # generous bound for any one condition on a loaded two-core machine


def _die_with_parent():
    PR_SET_PDEATHSIG = 1
    ctypes.CDLL("libc.so.6", use_errno=True).prctl(PR_SET_PDEATHSIG, signal.SIGKILL)


def _connect(path, deadline):
    while True:
        s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        try:
            s.connect(path)
            return s
        except OSError:
            s.close()
            if time.monotonic() > deadline:
                raise
            time.sleep(0.05)


class Channel:
    """A serial port's text, collected by a reader thread; waits search it."""

    def __init__(self, sock, log_path):
        self.sock = sock
        self.text = ""
        self.cond = threading.Condition()
        self.log = open(log_path, "w")
        self.closed = False
        threading.Thread(target=self._reader, daemon=True).start()

    def _reader(self):
        while True:
            try:
                data = self.sock.recv(65536)
            except OSError:
                data = b""
            with self.cond:
                if not data:
                    self.closed = True
                    self.cond.notify_all()
                    return
                chunk = data.decode("utf-8", "replace").replace("\r", "")
                self.text += chunk
                self.log.write(chunk)
                self.log.flush()
                self.cond.notify_all()

    def mark(self):
        with self.cond:
            return len(self.text)

    def wait_until(self, found, what, start=0, timeout=WAIT):
        """Waits until found(text after `start`) gives something other than None; that."""
        deadline = time.monotonic() + timeout
        with self.cond:
            while True:
                result = found(self.text[start:])
                if result is not None:
                    return result
                left = deadline - time.monotonic()
                if left <= 0 or self.closed:
                    tail = self.text[-1500:]
                    raise AssertionError(f"timed out waiting for {what}; last output:\n{tail}")
                self.cond.wait(left)

    def wait_for(self, pattern, start=0, timeout=WAIT):
        """The first match of the regular expression after offset `start`."""
        rx = re.compile(pattern)
        return self.wait_until(lambda text: rx.search(self.text, start), f"/{pattern}/",
                               start, timeout)

    def send(self, text):
        self.sock.sendall(text.encode())


class Qmp:
    def __init__(self, sock):
        self.sock = sock
        self.file = sock.makefile("r")
        self.lock = threading.Lock()
        self._read_reply()  # greeting
        self.execute("qmp_capabilities")

    def _read_reply(self):
        while True:
            line = self.file.readline()
            if not line:
                raise AssertionError("QMP connection closed")
            msg = json.loads(line)
            if "event" not in msg:
                return msg

    def execute(self, command, **arguments):
        with self.lock:
            req = {"execute": command}
            if arguments:
                req["arguments"] = arguments
            self.sock.sendall((json.dumps(req) + "\n").encode())
            reply = self._read_reply()
        if "error" in reply:
            raise AssertionError(f"QMP {command}: {reply['error']}")
        return reply.get("return")


class Machine:
    def __init__(self, work, name, kernel, initrd, vga):
        self.work = work
        self.name = name
        self.proc = None
        self.dir = os.path.join(work, name)
        os.makedirs(self.dir, exist_ok=True)
        sock = {k: os.path.join(self.dir, k + ".sock") for k in ["console", "control", "qmp"]}
        for p in sock.values():
            if os.path.exists(p):
                os.unlink(p)
        cmd = ["qemu-system-x86_64", "-accel", "tcg", "-machine", "pc", "-m", "256M",
               "-nodefaults", "-no-reboot", "-display", "none", "-vga", vga,
               "-device", "virtio-tablet-pci",
               "-kernel", kernel, "-initrd", initrd,
               "-append", "console=ttyS0 loglevel=4 rdinit=/init video=640x480 panic=-1",
               "-chardev", f"socket,id=console,path={sock['console']},server=on,wait=off",
               "-serial", "chardev:console",
               "-chardev", f"socket,id=control,path={sock['control']},server=on,wait=off",
               "-serial", "chardev:control",
               "-qmp", f"unix:{sock['qmp']},server=on,wait=off"]
        self.started = time.monotonic()
        self.stderr = open(os.path.join(self.dir, "qemu.stderr"), "w")
        self.proc = subprocess.Popen(cmd, stdin=subprocess.DEVNULL, stdout=self.stderr,
                                     stderr=subprocess.STDOUT, preexec_fn=_die_with_parent)
        try:
            deadline = time.monotonic() + WAIT
            self.qmp = Qmp(_connect(sock["qmp"], deadline))
            self.console = Channel(_connect(sock["console"], deadline),
                                   os.path.join(self.dir, "console.log"))
            self.control = Channel(_connect(sock["control"], deadline),
                                   os.path.join(self.dir, "control.log"))
        except BaseException:
            self.kill()
            raise
        self.commands = 0

    def kill(self):
        if self.proc and self.proc.poll() is None:
            self.proc.kill()
        if self.proc:
            self.proc.wait()
        self.proc = None

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.kill()

    def boot(self):
        """Waits for the guest's init to be ready; the boot time in seconds."""
        self.console.wait_for(r"GUEST-READY", timeout=240)
        return time.monotonic() - self.started

    def shell(self, command, timeout=WAIT):
        """Runs a command in the guest's control shell; its output."""
        self.commands += 1
        n = self.commands
        start = self.control.mark()
        # The marker is computed by the shell, so an echoed command line never matches it.
        self.control.send(f"{command}\necho CMD-DONE-$(({n} + 0))\n")
        m = self.control.wait_for(rf"CMD-DONE-{n}\n", start, timeout)
        return self.control.text[start:m.start()]

    def screendump(self, path):
        self.qmp.execute("screendump", filename=path)
        return read_ppm(path)

    def key(self, qcode, hold_ms=None):
        args = {"keys": [{"type": "qcode", "data": qcode}]}
        if hold_ms is not None:
            args["hold-time"] = hold_ms
        self.qmp.execute("send-key", **args)


def read_ppm(path):
    """(width, height, bytes of RGB rows) of a binary PPM as QEMU writes it."""
    with open(path, "rb") as f:
        data = f.read()
    m = re.match(rb"P6\s+(\d+)\s+(\d+)\s+(\d+)\s", data)
    if not m:
        raise AssertionError(f"{path} is not a binary PPM")
    w, h = int(m.group(1)), int(m.group(2))
    return w, h, data[m.end():m.end() + w * h * 3]
