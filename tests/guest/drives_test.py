#!/usr/bin/env python3
"""quenvol-cli against the kernel's own drive drivers, in an emulated PC (see guest.py): the
floppy controller's drive /dev/fd0 and a removable USB mass-storage drive /dev/sda, each
holding a 1.44 MB diskette image of the host's. Media are changed, taken out and
write-protected from outside through QEMU's monitor; every diskette built is read back on the
host with fsck.fat and mtools and compared with its sources, and the MINIDOS ones are booted.

    drives_test.py --cli PROGRAM --hold HOLD_PROGRAM --kit DIR --project DIR --cache DIR
                   [--work DIR] [--only CASE...]

Exits 0 when every case passed, 1 when one failed, 77 (a skip) when the guest cannot run
here, saying why.
"""

import argparse
import hashlib
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import traceback

import guest

SKIP = 77
NO_DISKETTE = "There is no floppy in drive A:, insert a floppy and press Start Button again."


class Drive:
    def __init__(self, name, device, backend):
        self.name = name        # for the case names: "floppy", "usb"
        self.device = device    # in the guest
        self.backend = backend  # QEMU's block backend
        self.image = None       # the host file in the drive, None when empty


class Run:
    def __init__(self, args, work, g, log):
        self.args = args
        self.work = work
        self.g = g
        self.log = log
        self.count = 0
        self.floppy = Drive("floppy", "/dev/fd0", "floppy0")
        self.usb = Drive("usb", "/dev/sda", "stick")
        self.built = {}  # drive name: the image of its MINIDOS build
        self.usb_read_only = False
        self.usb_plugged = True

    # --- media, from outside -------------------------------------------------------------
    def blank(self, name):
        path = os.path.join(self.work, name + ".img")
        with open(path, "wb") as f:
            f.truncate(guest.DISKETTE_BYTES)
        return path

    def hmp(self, command):
        return self.g.monitor(command)

    def insert(self, drive, image, read_only=False):
        if drive is self.usb and (read_only or self.usb_read_only):
            # A USB drive's write protection is the device's own: another one is plugged in.
            self.replug(image, read_only)
            return
        if drive is self.usb:
            # Its kernel locks the door while the device is open (a waiting --count run holds
            # it): the medium is pulled as a hand would pull it.
            self.hmp("eject -f " + drive.backend)
        answer = self.hmp("change %s %s raw %s" % (drive.backend, image,
                                                   "read-only" if read_only else "read-write"))
        if answer.strip():
            raise AssertionError("QEMU refused the medium: " + answer)
        drive.image = image
        # The USB drive's kernel learns of a new medium when it next asks the drive.
        self.g.sh("sleep 1")

    def unplug(self):
        """Pulls the USB drive out; returns once the guest has let go of it."""
        self.hmp("device_del usbstick")
        self.g.sh("i=0; while [ -e /sys/block/sda ] && [ $i -lt 100 ]; do sleep 0.1; "
                  "i=$((i+1)); done")
        # QEMU drops the drive with the device, a moment after the guest let go.
        deadline = time.monotonic() + 20
        while "stick" in self.hmp("info block") and time.monotonic() < deadline:
            time.sleep(0.2)
        self.usb.image = None
        self.usb_plugged = False

    def replug(self, image, read_only=False):
        """Plugs a USB drive holding `image` in, where none is."""
        if self.usb_plugged:
            self.unplug()
        self.hmp("drive_add 0 if=none,id=stick,format=raw,cache=writethrough,file=%s%s" %
                 (image, ",readonly=on" if read_only else ""))
        answer = self.hmp("device_add usb-storage,bus=xhci.0,drive=stick,removable=on,"
                          "id=usbstick")
        if answer.strip():
            raise AssertionError("QEMU could not plug the USB drive in: " + answer)
        self.g.sh("i=0; while [ ! -e /dev/sda ] && [ $i -lt 100 ]; do sleep 0.1; "
                  "i=$((i+1)); done; sleep 0.5")
        self.usb.image = image
        self.usb_read_only = read_only
        self.usb_plugged = True

    def eject(self, drive):
        self.hmp("eject -f " + drive.backend)
        drive.image = None

    # --- the program, inside -------------------------------------------------------------
    def cli(self, drive, options, project="/project", timeout=180):
        rc, out = self.g.sh("cd /kit && quenvol-cli %s --drive %s %s" %
                            (options, drive.device, project), timeout)
        return rc, out

    def build(self, drive, options="", expect=0):
        rc, out = self.cli(drive, "--yes --json " + options)
        report = None
        start = out.find('{"schema"')
        if start >= 0:
            report = json.loads(out[start:out.index("\n", start)])
        if rc != expect:
            raise AssertionError("status %d, wanted %d:\n%s" % (rc, expect, out))
        return report, out

    # --- checks, on the host --------------------------------------------------------------
    def host_path(self, guest_path):
        for guest_dir, host_dir in (("/kit/", self.args.kit), ("/project/", self.args.project)):
            if guest_path.startswith(guest_dir):
                return os.path.join(host_dir, guest_path[len(guest_dir):])
        raise AssertionError("a source outside the kit and project: " + guest_path)

    def verify(self, image, report, boot):
        """The diskette in `image` is what `report` says was built, by the host's tools."""
        fsck = shutil.which("fsck.fat") or "/usr/sbin/fsck.fat"
        r = subprocess.run([fsck, "-n", image], capture_output=True, text=True)
        if r.returncode != 0:
            raise AssertionError("fsck.fat -n %s: %s%s" % (image, r.stdout, r.stderr))
        if report is None or report.get("outcome") != "built":
            raise AssertionError("no report of a built diskette: %r" % report)
        with open(image, "rb") as f:
            disk = f.read()
        if hashlib.sha256(disk[:512]).hexdigest() != report["sector0_sha256"]:
            raise AssertionError("the diskette on the host is not the one the report names")
        env = dict(os.environ, MTOOLS_SKIP_CHECK="1")
        listing = subprocess.run(["mdir", "-b", "-i", image, "::"], capture_output=True,
                                 text=True, env=env).stdout.split()
        if len(listing) != len(report["files"]):
            raise AssertionError("mdir lists %s, the report %d files" %
                                 (listing, len(report["files"])))
        for entry in report["files"]:
            held = subprocess.run(["mtype", "-i", image, "::" + entry["name"]],
                                  capture_output=True, env=env)
            with open(self.host_path(entry["source"]), "rb") as f:
                source = f.read()
            if held.returncode != 0 or held.stdout != source:
                raise AssertionError("%s on the diskette differs from %s" %
                                     (entry["name"], entry["source"]))
        if boot:
            # The diskette's own boot check, on a copy: the image stays the drive's medium.
            copy = os.path.join(self.work, "boot-%d.img" % self.count)
            shutil.copyfile(image, copy)
            r = subprocess.run([self.args.cli, "--boot-check=60", "--drive", copy],
                               capture_output=True, text=True, timeout=180,
                               env=dict(os.environ, XDG_STATE_HOME=self.work,
                                        XDG_CONFIG_HOME=self.work))
            self.log("boot check: %d %s%s" % (r.returncode, r.stdout, r.stderr))
            if r.returncode != 0:
                raise AssertionError("the diskette did not boot: " + r.stdout + r.stderr)

    def unchanged(self, image, before):
        with open(image, "rb") as f:
            if hashlib.sha256(f.read()).hexdigest() != before:
                raise AssertionError(os.path.basename(image) + " was written")

    def fingerprint(self, image):
        with open(image, "rb") as f:
            return hashlib.sha256(f.read()).hexdigest()

    def fresh(self, drive, name):
        self.count += 1
        image = self.blank("%s-%d-%s" % (drive.name, self.count, name))
        self.insert(drive, image)
        return image

    def background(self, command):
        """Starts a guest command that runs on while the host acts; wait() collects it."""
        self.g.sh("rm -f /tmp/bg.out /tmp/bg.rc; (%s >/tmp/bg.out 2>&1; echo $? >/tmp/bg.rc) &"
                  % command)

    def wait_output(self, text, timeout=120):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            _, out = self.g.sh("cat /tmp/bg.out 2>/dev/null; echo; cat /tmp/bg.rc 2>/dev/null")
            if text in out:
                return out
            time.sleep(0.5)
        raise AssertionError("the program never said %r; it said:\n%s" % (text, out))

    def wait(self, timeout=180):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            rc, out = self.g.sh("cat /tmp/bg.rc")
            if rc == 0 and out.strip():
                _, said = self.g.sh("cat /tmp/bg.out")
                return int(out.strip()), said
            time.sleep(0.5)
        raise AssertionError("the program did not end within %d s" % timeout)


def report_of(text):
    start = text.find('{"schema"')
    return json.loads(text[start:text.index("\n", start)]) if start >= 0 else None


# --- the cases ------------------------------------------------------------------------------

def case_list_drives(r):
    r.fresh(r.floppy, "list")
    r.fresh(r.usb, "list")
    rc, out = r.g.sh("quenvol-cli --list-drives --json")
    listing = json.loads(out[out.index("{"):])
    found = {d["path"]: d for d in listing["drives"]}
    for drive in (r.floppy, r.usb):
        d = found.get(drive.device)
        if d is None:
            raise AssertionError("%s is not listed: %s" % (drive.device, out))
        if d["bytes"] != guest.DISKETTE_BYTES or d["access"] != "writable":
            raise AssertionError("%s listed as %r" % (drive.device, d))
    if sum(1 for d in listing["drives"] if d["driveA"]) != 1:
        raise AssertionError("not one drive A:: " + out)
    # The USB drive is named by the port it is plugged into, as the kernel numbers it.
    usb = found[r.usb.device]
    if not re.fullmatch(r"\d+-\d+(\.\d+)*", usb["usbPort"] or "") or \
            not usb["description"].endswith(", USB port " + usb["usbPort"]) or \
            found[r.floppy.device]["usbPort"] is not None:
        raise AssertionError("the drives' ports: %r" % listing["drives"])
    rc, out = r.g.sh("quenvol-cli --list-drives")
    lines = [l.split("\t") for l in out.splitlines() if l.startswith("/dev/")]
    if rc != 0 or sorted(l[0] for l in lines) != ["/dev/fd0", "/dev/sda"] or \
            [l[-1] for l in lines].count("A:") != 1:
        raise AssertionError("--list-drives said: " + out)


def case_minidos(r, drive):
    image = r.fresh(drive, "minidos")
    report, _ = r.build(drive)
    if report["drive"]["device"] is not True or report["drive"]["path"] != drive.device:
        raise AssertionError("the report's drive: %r" % report["drive"])
    r.verify(image, report, boot=True)
    r.built[drive.name] = image


def case_fulldos(r, drive):
    image = r.fresh(drive, "fulldos")
    report, _ = r.build(drive, "--kind fulldos")
    r.verify(image, report, boot=False)


def case_no_diskette(r, drive):
    image = r.fresh(drive, "ejected")
    before = r.fingerprint(image)
    r.eject(drive)
    _, out = r.build(drive, expect=3)
    if NO_DISKETTE not in out:
        raise AssertionError("the empty drive's message is missing:\n" + out)
    r.unchanged(image, before)


def case_write_protected(r, drive):
    r.count += 1
    image = os.path.join(r.work, "%s-%d-protected.img" % (drive.name, r.count))
    shutil.copyfile(r.built[drive.name], image)
    before = r.fingerprint(image)
    r.insert(drive, image, read_only=True)
    _, out = r.build(drive, expect=4)
    if "write-protected" not in out or "permission" in out.lower():
        raise AssertionError("write protection not named as such:\n" + out)
    if "Formatting" in out or "Copying" in out:
        raise AssertionError("a format or a copy was tried on a protected diskette:\n" + out)
    r.unchanged(image, before)
    # Read-only access still works: the diskette can be saved.
    rc, out = r.g.sh("rm -f /tmp/saved.img; quenvol-cli --save-image /tmp/saved.img --drive %s"
                     " && sha256sum /tmp/saved.img" % drive.device)
    if rc != 0 or before not in out:
        raise AssertionError("--save-image of the protected diskette: " + out)


def case_held_elsewhere(r, drive):
    image = r.fresh(drive, "held")
    before = r.fingerprint(image)
    rc, out = r.g.sh("hold_drive %s >/tmp/hold.out 2>&1 & sleep 0.5; cat /tmp/hold.out"
                     % drive.device)
    if "held" not in out:
        raise AssertionError("the other program could not hold the drive: " + out)
    try:
        _, out = r.build(drive, expect=5)
    finally:
        r.g.sh("killall hold_drive; sleep 0.2")
    r.unchanged(image, before)


def case_mounted(r, drive):
    r.count += 1
    image = os.path.join(r.work, "%s-%d-mounted.img" % (drive.name, r.count))
    shutil.copyfile(r.built[drive.name], image)
    r.insert(drive, image)
    # The floppy driver may refuse the first open after the swap, as it may any program's.
    rc, out = r.g.sh("mount -t vfat {0} /mnt || {{ sleep 0.5; mount -t vfat {0} /mnt; }}"
                     .format(drive.device))
    if rc != 0:
        raise AssertionError("the guest could not mount the diskette: " + out)
    try:
        # Without --unmount, on no terminal, the question is answered No: nothing is touched.
        rc, out = r.cli(drive, "--yes")
        if rc == 0 or "Successfully" in out:
            raise AssertionError("a build on a mounted diskette: " + out)
        _, mounts = r.g.sh("cat /proc/mounts")
        if drive.device not in mounts:
            raise AssertionError("the diskette was unmounted without --unmount")
        report, out = r.build(drive, "--unmount")
    finally:
        r.g.sh("umount /mnt 2>/dev/null; true")
    r.verify(image, report, boot=False)


def case_count(r, drive, how):
    first = r.fresh(drive, "count-a")
    r.count += 1
    second = r.blank("%s-%d-count-b" % (drive.name, r.count))
    r.background("cd /kit && quenvol-cli --yes --json --count 2 --progress plain --drive %s "
                 "/project" % drive.device)
    r.wait_output("Successfully Created")
    time.sleep(1)
    if how == "swap":
        r.insert(drive, second)
    else:
        r.eject(drive)
        time.sleep(3)
        r.insert(drive, second)
    rc, out = r.wait()
    reports = [json.loads(l) for l in out.splitlines() if l.startswith('{"schema"')]
    if rc != 0 or out.count("Successfully Created") != 2:
        raise AssertionError("--count 2 (%s) gave %d:\n%s" % (how, rc, out))
    # One report for the run, of its last diskette.
    r.verify(second, reports[-1], boot=False)
    if r.fingerprint(first) == r.fingerprint(r.blank("zero")):
        raise AssertionError("the first diskette of the row was not written")


def case_count_interrupted(r, drive):
    r.fresh(drive, "count-term")
    r.background("cd /kit && quenvol-cli --yes --count 2 --progress plain --drive %s /project"
                 % drive.device)
    r.wait_output("Successfully Created")
    time.sleep(1)
    r.g.sh("killall -TERM quenvol-cli")
    rc, out = r.wait()
    if rc != 143:
        raise AssertionError("SIGTERM while waiting ended with %d:\n%s" % (rc, out))


def case_removed_mid_build(r, drive):
    image = r.fresh(drive, "pulled")
    # The program stops itself before it copies the BIOS image; the diskette goes meanwhile.
    r.background("cd /kit && QUENVOL_PAUSE_AT='copying bios.rom' quenvol-cli --yes --json "
                 "--progress plain --drive %s /project" % drive.device)
    r.wait_output("Copying vgabios.exe")
    r.g.sh("i=0; until grep -q '^State:.*T' /proc/$(pidof quenvol-cli)/status || "
           "[ $i -gt 100 ]; do sleep 0.1; i=$((i+1)); done")
    if drive is r.usb:
        r.unplug()
    else:
        r.eject(drive)
    r.g.sh("killall -CONT quenvol-cli")
    rc, out = r.wait()
    report = report_of(out)
    if rc == 0 or "Successfully" in out or report is None or report["outcome"] == "built":
        raise AssertionError("a diskette taken out mid-build gave %d:\n%s" % (rc, out))
    if report["drive"]["device"] is not True or report["drive"]["bytes"] != guest.DISKETTE_BYTES:
        raise AssertionError("the report's drive: %r" % report["drive"])
    if "taken out" not in out and "is gone" not in out:
        raise AssertionError("the failure does not say the diskette went:\n" + out)
    if drive is r.usb:
        r.replug(image)  # plugged in again for whatever follows


def case_backup_and_save(r, drive):
    r.count += 1
    image = os.path.join(r.work, "%s-%d-backup.img" % (drive.name, r.count))
    shutil.copyfile(r.built[drive.name], image)
    before = r.fingerprint(image)
    r.insert(drive, image)
    rc, out = r.g.sh("rm -f /tmp/saved.img; quenvol-cli --save-image /tmp/saved.img --drive %s"
                     " && sha256sum /tmp/saved.img" % drive.device)
    if rc != 0 or before not in out:
        raise AssertionError("--save-image: " + out)
    r.g.sh("rm -f /tmp/backup.img")
    report, _ = r.build(drive, "--kind fulldos --backup /tmp/backup.img")
    _, out = r.g.sh("sha256sum /tmp/backup.img")
    if before not in out:
        raise AssertionError("the backup is not the diskette as it was: " + out)
    r.verify(image, report, boot=False)


def case_eject(r, drive):
    image = r.fresh(drive, "eject")
    report, out = r.build(drive, "--eject")
    r.verify(image, report, boot=False)
    info = r.hmp("info block " + drive.backend)
    r.log("after --eject: " + info)
    if "not inserted" not in info and "could not be ejected" not in out:
        raise AssertionError("--eject neither ejected nor said why not:\n%s\n%s" % (out, info))


def case_both_drives_at_once(r):
    """One command builds the same diskette in the floppy controller's drive and the USB drive
    at once. With the USB diskette write-protected it fails alone while the other is built;
    the retry, once it may be written, goes to it and leaves the other as it was."""
    both = "cd /kit && quenvol-cli --yes --json %s /project"
    drives = "--drive %s --drive %s" % (r.floppy.device, r.usb.device)
    images = {r.floppy.device: r.fresh(r.floppy, "both"), r.usb.device: r.fresh(r.usb, "both")}
    rc, out = r.g.sh(both % drives)
    report = report_of(out)
    if rc != 0 or report is None or report.get("outcome") != "built":
        raise AssertionError("both drives gave %d:\n%s" % (rc, out))
    for entry in report["drives"]:
        r.verify(images[entry["path"]], entry["diskettes"][0], boot=False)
        if (entry["path"] == r.usb.device) != (", USB port " in entry["name"]):
            raise AssertionError("the drives are not named by their ports: %r" % entry["name"])

    floppy = r.fresh(r.floppy, "both-again")
    r.count += 1
    protected = r.blank("usb-%d-both-protected" % r.count)
    r.insert(r.usb, protected, read_only=True)
    rc, out = r.g.sh(both % drives)
    report = report_of(out)
    if rc != 9 or "write-protected" not in out or report is None:
        raise AssertionError("a protected USB diskette beside a good one gave %d:\n%s" % (rc, out))
    built = [d for d in report["drives"] if d["built"] == 1]
    if [d["path"] for d in built] != [r.floppy.device]:
        raise AssertionError("not the floppy drive alone was built: %r" % report["drives"])
    r.verify(floppy, built[0]["diskettes"][0], boot=False)
    before = r.fingerprint(floppy)
    r.insert(r.usb, protected)
    rc, out = r.g.sh(both % "--retry-failed")
    report = report_of(out)
    if rc != 0 or report is None or [d["path"] for d in report["drives"]] != [r.usb.device]:
        raise AssertionError("the retry gave %d:\n%s" % (rc, out))
    r.verify(protected, report["drives"][0]["diskettes"][0], boot=False)
    r.unchanged(floppy, before)


CASES = [("list-drives", case_list_drives, None),
         ("both-drives-at-once", case_both_drives_at_once, None)]
for _d in ("floppy", "usb"):
    CASES += [
        ("%s-minidos" % _d, case_minidos, _d),
        ("%s-fulldos" % _d, case_fulldos, _d),
        ("%s-no-diskette" % _d, case_no_diskette, _d),
        ("%s-write-protected" % _d, case_write_protected, _d),
        ("%s-held-elsewhere" % _d, case_held_elsewhere, _d),
        ("%s-mounted" % _d, case_mounted, _d),
        ("%s-count-swapped" % _d, lambda r, d: case_count(r, d, "swap"), _d),
        ("%s-count-ejected" % _d, lambda r, d: case_count(r, d, "eject"), _d),
        ("%s-count-interrupted" % _d, case_count_interrupted, _d),
        ("%s-backup-and-save" % _d, case_backup_and_save, _d),
        ("%s-eject" % _d, case_eject, _d),
        ("%s-removed-mid-build" % _d, case_removed_mid_build, _d),
    ]


def main():
    p = argparse.ArgumentParser()
    for name in ("cli", "hold", "kit", "project", "cache"):
        p.add_argument("--" + name, required=True)
    p.add_argument("--work")
    p.add_argument("--only", nargs="*")
    args = p.parse_args()
    os.makedirs(args.cache, exist_ok=True)
    work = args.work or tempfile.mkdtemp(prefix="guest-drives.")
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    transcript = open(os.path.join(work, "transcript.log"), "w")

    def log(text):
        transcript.write(text + "\n")
        transcript.flush()

    started = time.monotonic()
    try:
        initramfs = os.path.join(work, "initramfs.cpio")
        kernel = guest.make_initramfs(
            initramfs, args.cache,
            {"/usr/bin/quenvol-cli": args.cli, "/usr/bin/hold_drive": args.hold},
            {"/kit": args.kit, "/project": args.project},
            os.path.join(os.path.dirname(os.path.abspath(__file__)), "init.sh"))
        media = []
        for name in ("floppy-0-start.img", "usb-0-start.img"):
            media.append(os.path.join(work, name))
            with open(media[-1], "wb") as f:
                f.truncate(guest.DISKETTE_BYTES)
        g = guest.Guest(work, kernel, initramfs, media[0], media[1], log)
    except guest.Unavailable as e:
        print("SKIP: the guest cannot run here: %s" % e)
        return SKIP
    print("guest: Linux %s started in %.0f s" % (g.kernel_version, time.monotonic() - started))
    run = Run(args, work, g, log)
    failed = []
    try:
        for name, case, drive_name in CASES:
            if args.only and name not in args.only:
                continue
            t = time.monotonic()
            log("== " + name)
            try:
                # Nothing a case before left running or mounted stands in this one's way.
                g.sh("killall -q -KILL quenvol-cli hold_drive; umount /mnt 2>/dev/null; true")
                if drive_name is None:
                    case(run)
                else:
                    case(run, getattr(run, drive_name))
                print("ok    %-28s %5.1f s" % (name, time.monotonic() - t))
            except Exception as e:  # every case runs, whatever one before it did
                failed.append(name)
                print("FAIL  %-28s %s" % (name, e if isinstance(e, AssertionError)
                                          else traceback.format_exc()))
            sys.stdout.flush()
    finally:
        g.stop()
    print("%d cases, %d failed, %.0f s in all; transcript: %s" %
          (sum(1 for n, _, _ in CASES if not args.only or n in args.only), len(failed),
           time.monotonic() - started, transcript.name))
    if failed:
        print("the guest's console ends:\n" + g.console_text()[-3000:])
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
