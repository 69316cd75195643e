"""A small Linux guest in an emulated PC, for running quenvol-cli against the kernel's own drive
drivers: the floppy controller's (/dev/fd0) and USB mass storage's (/dev/sda).

The kernel and its modules come from Debian's kernel package, busybox from busybox-static,
both fetched with `apt-get download` into a cache folder and unpacked there, never installed.
The initramfs is written here (cpio "newc"), holding busybox, the modules, the program with the
libraries it loads at the same paths, the sample kit and project, and the guest's first process
(init.sh). The host talks to the guest over a second serial line and changes media through
QEMU's monitor; the diskettes are image files on the host, read back here with its own tools.
"""

import glob
import json
import os
import re
import select
import shutil
import socket
import subprocess
import tempfile
import time

DISKETTE_BYTES = 1474560

# The drivers' modules, each loaded after what it depends on (read from the module itself).
MODULES = {
    "floppy": "",
    "usb-storage": "delay_use=0",
    "xhci-pci": "",
    "sd_mod": "",
    "vfat": "",
    "nls_cp437": "",
    "nls_iso8859-1": "",
    "nls_utf8": "",
    "nls_ascii": "",
}


class Unavailable(Exception):
    """What the guest needs is not on this machine; the reason says what."""


def run(args, **kwargs):
    return subprocess.run(args, check=True, capture_output=True, **kwargs)


def fetch(cache, package):
    """The package's files, unpacked in `cache`; fetched once."""
    root = os.path.join(cache, package)
    if os.path.isdir(root):
        return root
    if shutil.which("apt-get") is None or shutil.which("dpkg-deb") is None:
        raise Unavailable("apt-get and dpkg-deb are needed to fetch " + package)
    download = tempfile.mkdtemp(dir=cache)
    try:
        # The download runs as the current user: apt's own user may not write the folder.
        subprocess.run(["apt-get", "download", "-q", "-o", "APT::Sandbox::User=root", package],
                       cwd=download, check=True, capture_output=True, timeout=600)
        debs = glob.glob(os.path.join(download, "*.deb"))
        if len(debs) != 1:
            raise Unavailable("apt-get download %s gave %d packages" % (package, len(debs)))
        run(["dpkg-deb", "-x", debs[0], root + ".part"])
        os.rename(root + ".part", root)
    except (subprocess.CalledProcessError, subprocess.TimeoutExpired) as e:
        err = getattr(e, "stderr", b"") or b""
        raise Unavailable("apt-get download %s failed: %s" %
                          (package, err.decode(errors="replace").strip()[-300:]))
    finally:
        shutil.rmtree(download, ignore_errors=True)
    return root


def kernel_package():
    """The versioned package Debian's linux-image-amd64 stands for."""
    try:
        out = run(["apt-cache", "depends", "linux-image-amd64"]).stdout.decode()
    except (OSError, subprocess.CalledProcessError) as e:
        raise Unavailable("apt-cache cannot name the kernel package: %s" % e)
    for line in out.splitlines():
        m = re.match(r"\s*Depends:\s*(linux-image-\S+)", line)
        if m:
            return m.group(1)
    raise Unavailable("apt-cache names no kernel for linux-image-amd64")


def module_depends(path):
    with open(path, "rb") as f:
        data = f.read()
    m = re.search(rb"\0depends=([^\0]*)\0", data)
    return [d.decode() for d in m.group(1).split(b",") if d] if m else []


def module_order(modules_root):
    """Every module MODULES needs, in an order that loads dependencies first."""
    files = {}
    for path in glob.glob(os.path.join(modules_root, "kernel", "**", "*.ko"), recursive=True):
        files[os.path.basename(path)[:-3].replace("-", "_")] = path
    order, seen = [], set()

    def visit(name):
        key = name.replace("-", "_")
        if key in seen:
            return
        if key not in files:
            raise Unavailable("the kernel package has no module " + name)
        seen.add(key)
        for dep in module_depends(files[key]):
            visit(dep)
        order.append((key, files[key]))

    for name in MODULES:
        visit(name)
    return order


class Cpio:
    """An initramfs archive in the kernel's "newc" format."""

    def __init__(self):
        self.data = bytearray()
        self.ino = 1
        self.dirs = set()

    def _entry(self, name, mode, body=b"", size=None):
        name_bytes = name.encode() + b"\0"
        header = "070701" + "".join("%08X" % v for v in (
            self.ino, mode, 0, 0, 1, 0, len(body) if size is None else size, 0, 0, 0, 0,
            len(name_bytes), 0))
        self.ino += 1
        self.data += header.encode() + name_bytes
        self.data += b"\0" * (-len(self.data) % 4)
        self.data += body
        self.data += b"\0" * (-len(self.data) % 4)

    def directory(self, name):
        parts = name.strip("/").split("/")
        for i in range(1, len(parts) + 1):
            d = "/".join(parts[:i])
            if d and d not in self.dirs:
                self.dirs.add(d)
                self._entry(d, 0o040755)

    def file(self, name, source=None, body=None, mode=0o100644):
        name = name.strip("/")
        self.directory(os.path.dirname(name))
        if body is None:
            with open(source, "rb") as f:
                body = f.read()
        self._entry(name, mode, body)

    def bytes(self):
        self._entry("TRAILER!!!", 0)
        return bytes(self.data)


def libraries_of(program):
    """The shared libraries the dynamic loader gives `program`, with the loader itself."""
    # A static program has none: ldd then says so and fails.
    out = subprocess.run(["ldd", program], capture_output=True).stdout.decode()
    found = []
    for line in out.splitlines():
        m = re.search(r"(/\S+) \(0x", line)
        if m and os.path.exists(m.group(1)):
            found.append(m.group(1))
    return found


def make_initramfs(path, cache, programs, trees, init_script):
    """Writes the guest's initramfs to `path`; returns the kernel image to boot it with."""
    kernel_root = fetch(cache, kernel_package())
    busybox_root = fetch(cache, "busybox-static")
    kernels = glob.glob(os.path.join(kernel_root, "boot", "vmlinuz-*"))
    if not kernels:
        raise Unavailable("the kernel package holds no vmlinuz")
    version = os.path.basename(kernels[0])[len("vmlinuz-"):]
    modules_root = os.path.join(kernel_root, "lib", "modules", version)

    archive = Cpio()
    for d in ("bin", "dev", "proc", "sys", "tmp", "mnt", "usr/bin"):
        archive.directory(d)
    archive.file("bin/busybox", os.path.join(busybox_root, "bin", "busybox"), mode=0o100755)
    archive.file("init", init_script, mode=0o100755)
    load = []
    for key, file in module_order(modules_root):
        rel = os.path.relpath(file, modules_root)
        archive.file("lib/modules/" + rel, file)
        params = next((p for n, p in MODULES.items() if n.replace("-", "_") == key), "")
        load.append((rel + " " + params).strip())
    archive.file("modules.load", body=("\n".join(load) + "\n").encode())
    libraries = set()
    for guest_path, host_path in programs.items():
        # Without its debugging sections: the guest only runs it.
        stripped = path + ".program"
        if shutil.which("objcopy") is None or subprocess.run(
                ["objcopy", "--strip-debug", host_path, stripped]).returncode != 0:
            stripped = host_path
        archive.file(guest_path, stripped, mode=0o100755)
        libraries.update(libraries_of(host_path))
    for lib in sorted(libraries):
        archive.file(lib, os.path.realpath(lib), mode=0o100755)
    for guest_dir, host_dir in trees.items():
        for name in sorted(os.listdir(host_dir)):
            archive.file(guest_dir + "/" + name, os.path.join(host_dir, name))
    with open(path, "wb") as f:
        f.write(archive.bytes())
    return kernels[0]


class Guest:
    """The running emulated PC: a floppy controller drive and a USB stick on xHCI."""

    def __init__(self, work, kernel, initramfs, floppy, usb, log):
        self.work = work
        self.log = log
        self.monitor_path = os.path.join(work, "monitor.sock")
        self.command_path = os.path.join(work, "command.sock")
        self.console = os.path.join(work, "console.log")
        qemu = shutil.which("qemu-system-x86_64")
        if qemu is None:
            raise Unavailable("qemu-system-x86_64 is not installed (package qemu-system-x86)")
        args = [
            qemu, "-machine", "pc,accel=tcg", "-m", "384", "-smp", "1", "-display", "none",
            "-no-reboot", "-kernel", kernel, "-initrd", initramfs,
            "-append", "console=ttyS0 panic=-1 loglevel=4 floppy=nodma",
            "-drive", "if=floppy,index=0,format=raw,cache=writethrough,file=" + floppy,
            "-drive", "if=none,id=stick,format=raw,cache=writethrough,file=" + usb,
            "-device", "qemu-xhci,id=xhci",
            "-device", "usb-storage,bus=xhci.0,drive=stick,removable=on,id=usbstick",
            "-serial", "file:" + self.console,
            "-serial", "unix:%s,server=on,wait=off" % self.command_path,
            "-qmp", "unix:%s,server=on,wait=off" % self.monitor_path,
        ]
        self.process = subprocess.Popen(args, stdin=subprocess.DEVNULL,
                                        stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        self.command = self._connect(self.command_path)
        self.monitor_socket = self._connect(self.monitor_path)
        self.monitor_file = self.monitor_socket.makefile("rwb")
        self._qmp({"execute": "qmp_capabilities"})
        self.buffer = b""
        ready = self._read_until(rb"@@READY ([^\r\n]*)\r?\n", 120)
        if ready is None:
            self.stop()
            raise Unavailable("the guest did not start within 120 s; its console said:\n" +
                              self.console_text()[-2000:])
        self.kernel_version = ready.group(1).decode()

    def console_text(self):
        try:
            with open(self.console, "rb") as f:
                return f.read().decode(errors="replace")
        except OSError:
            return ""

    def _connect(self, path):
        deadline = time.monotonic() + 30
        while True:
            s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
            try:
                s.connect(path)
                return s
            except OSError:
                s.close()
                if self.process.poll() is not None or time.monotonic() > deadline:
                    out = self.process.stdout.read().decode(errors="replace") \
                        if self.process.poll() is not None else ""
                    raise Unavailable("QEMU did not start: " + out.strip()[-500:])
                time.sleep(0.05)

    def _read_until(self, pattern, timeout):
        deadline = time.monotonic() + timeout
        regex = re.compile(pattern)
        while True:
            m = regex.search(self.buffer)
            if m:
                self.buffer = self.buffer[m.end():]
                self.last_output = m.string[:m.start()]
                return m
            left = deadline - time.monotonic()
            if left <= 0 or self.process.poll() is not None:
                return None
            ready, _, _ = select.select([self.command], [], [], min(left, 1.0))
            if ready:
                chunk = self.command.recv(65536)
                if not chunk:
                    return None
                self.buffer += chunk

    def _qmp(self, request):
        """One request to QEMU's machine protocol; its answer (events are logged, skipped)."""
        self.monitor_file.write(json.dumps(request).encode() + b"\n")
        self.monitor_file.flush()
        while True:
            line = self.monitor_file.readline()
            if not line:
                raise RuntimeError("QEMU closed its monitor")
            answer = json.loads(line)
            if "event" in answer:
                self.log("event: %s %s" % (answer["event"], answer.get("data", "")))
            elif "return" in answer or "error" in answer:
                return answer

    def monitor(self, command):
        """One command of QEMU's human monitor; what it printed."""
        answer = self._qmp({"execute": "human-monitor-command",
                            "arguments": {"command-line": command}})
        text = answer.get("return", "") if "return" in answer else answer["error"]["desc"]
        self.log("monitor: %s -> %s" % (command, text.strip()))
        return text

    def sh(self, command, timeout=120):
        """Runs a shell command in the guest; its status and output (standard error too)."""
        self.log("guest$ " + command)
        self.command.sendall(command.encode() + b"\n")
        m = self._read_until(rb"@@END (\d+)\r?\n", timeout)
        if m is None:
            raise RuntimeError("the guest gave no answer within %d s to: %s\n%s" %
                               (timeout, command, self.console_text()[-1500:]))
        out = self.last_output.decode(errors="replace").replace("\r\n", "\n")
        self.log(out.rstrip())
        return int(m.group(1)), out

    def stop(self):
        try:
            self._qmp({"execute": "quit"})
        except (OSError, RuntimeError, ValueError):
            pass
        try:
            self.process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
