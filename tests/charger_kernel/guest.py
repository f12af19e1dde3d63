"""Builds the guest the charger runs in: Debian's kernel image unpacked into the work
directory, its test_power module built out of tree from Debian's headers and source, and an
initramfs of busybox, the host build of the charger with its libraries, the pictures and the
recording tools. Everything comes from Debian packages; results are kept between runs."""

import glob
import os
import re
import shutil
import subprocess

HERE = os.path.dirname(os.path.abspath(__file__))

# The drivers the charger needs, loaded in this order (with their dependencies first).
GUEST_MODULES = ["cirrus", "bochs", "virtio_pci", "virtio_input", "evdev"]


class Missing(Exception):
    """Something the guest needs is not installed: the test is skipped."""


def run(cmd, **kw):
    done = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, **kw)
    if done.returncode != 0:
        raise RuntimeError(f"{' '.join(cmd)} failed ({done.returncode}):\n{done.stdout[-3000:]}")
    return done.stdout


def kernel_version():
    """The newest kernel whose headers are installed (linux-headers-amd64 pulls it in)."""
    found = sorted(glob.glob("/usr/src/linux-headers-6.1.*-amd64"),
                   key=lambda p: [int(x) for x in re.findall(r"\d+", os.path.basename(p))])
    if not found:
        raise Missing("no linux-headers-6.1.*-amd64 in /usr/src (package linux-headers-amd64)")
    return os.path.basename(found[-1])[len("linux-headers-"):]


def check_tools():
    for tool in ["qemu-system-x86_64", "busybox", "dpkg-deb", "depmod", "modprobe", "make",
                 "gcc", "apt-get", "tar"]:
        if shutil.which(tool) is None:
            raise Missing(f"{tool} is not installed (scripts/packages/kernel.list)")
    if not glob.glob("/usr/src/linux-source-6.1.tar.*"):
        raise Missing("no /usr/src/linux-source-6.1.tar.* (package linux-source-6.1)")
    if subprocess.run(["busybox", "--list"], stdout=subprocess.PIPE, text=True).stdout.find(
            "insmod") < 0:
        raise Missing("busybox lacks insmod (package busybox-static)")


def unpack_kernel(work, version):
    """Debian's kernel image package, fetched with apt and unpacked with dpkg-deb -x."""
    root = os.path.join(work, "kernel-image")
    vmlinuz = os.path.join(root, "boot", f"vmlinuz-{version}")
    if os.path.exists(vmlinuz):
        return root
    debs = glob.glob(os.path.join(work, f"linux-image-{version}_*.deb"))
    if not debs:
        try:
            run(["apt-get", "download", f"linux-image-{version}"], cwd=work)
        except RuntimeError as e:
            raise Missing(f"cannot fetch linux-image-{version}: {e}")
        debs = glob.glob(os.path.join(work, f"linux-image-{version}_*.deb"))
    shutil.rmtree(root, ignore_errors=True)
    run(["dpkg-deb", "-x", debs[0], root])
    run(["depmod", "-b", root, version])
    return root


def build_test_power(work, version):
    """The kernel's test_power battery, built out of tree against the image's headers."""
    out = os.path.join(work, f"test_power-{version}")
    ko = os.path.join(out, "test_power.ko")
    if os.path.exists(ko):
        return ko
    os.makedirs(out, exist_ok=True)
    source = glob.glob("/usr/src/linux-source-6.1.tar.*")[0]
    member = "linux-source-6.1/drivers/power/supply/test_power.c"
    run(["tar", "-xf", source, "-C", out, "--strip-components=4", member])
    with open(os.path.join(out, "Kbuild"), "w") as f:
        f.write("obj-m := test_power.o\n")
    run(["make", "-s", "-C", f"/usr/src/linux-headers-{version}", f"M={out}", "modules"])
    return ko


def module_files(root, version):
    """The .ko files of GUEST_MODULES with their dependencies, in load order."""
    order = []
    for name in GUEST_MODULES:
        text = run(["modprobe", "-d", root, "-S", version, "--show-depends", name])
        for line in text.splitlines():
            parts = line.split()
            if parts and parts[0] == "insmod" and parts[1] not in order:
                order.append(parts[1])
    return order


def build_watcher(work):
    exe = os.path.join(work, "watch_writes")
    src = os.path.join(HERE, "watch_writes.c")
    if not os.path.exists(exe) or os.path.getmtime(exe) < os.path.getmtime(src):
        run(["gcc", "-static", "-O2", "-Wall", "-o", exe, src])
    return exe


def shared_libraries(binary):
    """The host libraries the binary loads, as (path the loader asks for, real file)."""
    libs = []
    for line in run(["ldd", binary]).splitlines():
        m = re.search(r"(\S*/\S+) \(0x", line)
        if not m:
            continue
        path = m.group(1)
        libs.append((path, os.path.realpath(path)))
    return libs


class Cpio:
    """An initramfs in the kernel's "newc" cpio format, written without root: device nodes
    are not needed (init mounts devtmpfs), directories, files and links are."""

    def __init__(self):
        self.entries = []
        self.dirs = set()

    def _dir(self, path):
        parts = path.strip("/").split("/")
        for i in range(1, len(parts)):
            d = "/".join(parts[:i])
            if d not in self.dirs:
                self.dirs.add(d)
                self.entries.append((d, 0o040755, b""))

    def dir(self, path):
        self._dir(path + "/x")

    def file(self, path, data, mode=0o644):
        self._dir(path)
        self.entries.append((path.strip("/"), 0o100000 | mode, data))

    def copy(self, path, source, mode=None):
        with open(source, "rb") as f:
            data = f.read()
        self.file(path, data, mode if mode is not None else os.stat(source).st_mode & 0o777)

    def link(self, path, target):
        self._dir(path)
        self.entries.append((path.strip("/"), 0o120777, target.encode()))

    def write(self, out):
        def pad(n):
            return b"\0" * ((4 - n % 4) % 4)
        blob = bytearray()
        for ino, (name, mode, data) in enumerate(self.entries + [("TRAILER!!!", 0, b"")], 1):
            nm = name.encode() + b"\0"
            header = b"070701" + b"".join(b"%08X" % v for v in [
                ino, mode, 0, 0, 1, 0, len(data), 0, 0, 0, 0, len(nm), 0])
            blob += header + nm
            blob += pad(len(header) + len(nm))
            blob += data + pad(len(data))
        with open(out, "wb") as f:
            f.write(bytes(blob))


# Each argument in brackets, so the console shows exactly what the shell handed over.
RECORDING_TOOL = """#!/bin/sh
{{ printf "EXIT-CMD %s" "$0"; for a in "$@"; do printf " [%s]" "$a"; done; echo; }} > /kdev/ttyS0
{body}
"""


def build_initramfs(work, charger, pictures, modules, test_power, watcher):
    cpio = Cpio()
    cpio.copy("init", os.path.join(HERE, "init.sh"), 0o755)
    cpio.copy("bin/busybox", shutil.which("busybox"), 0o755)
    cpio.link("bin/sh", "busybox")
    cpio.copy("poweroff_charger", charger, 0o755)
    for wanted, real in shared_libraries(charger):
        cpio.copy(wanted, real, 0o755)
    names = []
    for path in modules + [test_power]:
        names.append(os.path.basename(path))
        cpio.copy("modules/" + names[-1], path)
    cpio.file("modules/order", ("\n".join(names) + "\n").encode())
    cpio.copy("watch_writes", watcher, 0o755)
    for name, data in pictures.items():
        cpio.file(f"chargeimage/{name}.bmp", data)
    cpio.link("system/bin/sh", "/bin/busybox")
    tools = {"reboot": "", "sync": "/bin/sync", "echo": 'printf "%s\\n" "$*"',
             "chmod": '/bin/chmod "$@"'}
    for name, body in tools.items():
        cpio.file(f"system/bin/{name}", RECORDING_TOOL.format(body=body).encode(), 0o755)
    cpio.file("run-charger", b"#!/bin/sh\ncd /\n/poweroff_charger\necho \"CHARGER-EXIT $?\"\n",
              0o755)
    for d in ["dev", "sys", "proc", "data", "tmp"]:
        cpio.dir(d)
    out = os.path.join(work, "initramfs.cpio")
    cpio.write(out)
    return out


def build(work, charger, pictures):
    """Everything QEMU needs: (kernel image path, initramfs path, kernel version)."""
    check_tools()
    work = os.path.abspath(work)  # kbuild wants an absolute M=
    os.makedirs(work, exist_ok=True)
    version = kernel_version()
    root = unpack_kernel(work, version)
    ko = build_test_power(work, version)
    modules = module_files(root, version)
    watcher = build_watcher(work)
    initrd = build_initramfs(work, charger, pictures, modules, ko, watcher)
    return os.path.join(root, "boot", f"vmlinuz-{version}"), initrd, version
