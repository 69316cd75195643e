#!/usr/bin/env python3
"""Whole builds of the sample by quenvol-cli.exe under wine64, each beside the same run of the
Linux quenvol-cli: the exit status, the JSON report (without its paths and times), what is said
on standard error and the build log's line must be the same; every diskette the Windows
program built is checked here on the Linux side by fsck.fat, and by mtools read back byte for
byte against the sample's files.

  windows_whole_build.py WIN_CLI LINUX_CLI KIT_DIR PROJECT_DIR

WINEPREFIX names a prefix whose server already runs (wine-prefix.sh)."""

import json
import os
import pwd
import shutil
import subprocess
import sys
import tempfile
import time

WINE = shutil.which("wine64") or "/usr/lib/wine/wine64"
# The prefix user's local application data, where the Windows program keeps its build log.
WINE_LOCAL = os.path.join(os.environ.get("WINEPREFIX", ""), "drive_c", "users",
                          pwd.getpwuid(os.getuid()).pw_name, "AppData", "Local")
FSCK = shutil.which("fsck.fat") or "/sbin/fsck.fat"
MKFS = shutil.which("mkfs.fat") or "/sbin/mkfs.fat"
TOOLS_ENV = dict(os.environ, MTOOLS_SKIP_CHECK="1", MTOOLS_NO_VFAT="1", LC_ALL="C")
DISKETTE = 1474560

# name, arguments (IMG: drive A:'s image, PROJECT: the project folder), the image before the
# run (none, or a size in bytes of zeros), the exit status both programs must give.
CASES = [
    ("minidos", ["--create", "--yes", "--json", "--drive", "IMG", "PROJECT"], None, 0),
    ("fulldos", ["--create", "--yes", "--json", "--kind", "fulldos", "--drive", "IMG",
                 "PROJECT"], None, 0),
    ("format", ["--create", "--yes", "--json", "--kind", "format", "--label", "SAMPLE",
                "--drive", "IMG"], None, 0),
    ("verify-full", ["--yes", "--json", "--full", "--verify", "--drive", "IMG", "PROJECT"],
     DISKETTE, 0),
    ("no-diskette", ["--yes", "--json", "--drive", "IMG", "PROJECT"], None, 3),
    ("declined", ["--create", "--json", "--drive", "IMG", "PROJECT"], None, 6),
    ("not-a-diskette", ["--yes", "--json", "--drive", "IMG", "PROJECT"], 1000, 2),
    ("bad-usage", ["--kind", "bogus", "--drive", "IMG", "PROJECT"], None, 2),
]

# Names that only Windows gives a meaning, run by the Windows program alone: name, the
# project's and the kit's folder names, the arguments (DEVICE: a device's name), the exit
# status, what standard error must say.
WINDOWS_CASES = [
    # The folder the files come from keeps the blank at its end: the report names it.
    ("project-blank", "project ", "kit", ["--create", "--yes", "--json", "--drive", "IMG",
                                          "PROJECT"], 0, "Successfully"),
    ("project-con", "CON", "kit", ["--create", "--yes", "--json", "--drive", "IMG", "PROJECT"],
     1, '"CON" is a name Windows keeps for a device (CON)'),
    ("project-nul-txt", "nul.txt", "kit", ["--create", "--yes", "--drive", "IMG", "PROJECT"],
     1, '"nul.txt" is a name Windows keeps for a device (NUL)'),
    ("kit-com1", "project", "com1", ["--create", "--yes", "--json", "--drive", "IMG",
                                     "PROJECT"], 1, '"com1" is a name Windows keeps for a '
                                                    'device (COM1)'),
    # A device's name is kept as written (never "Z:\\?\...") and is no diskette.
    ("drive-physical", "project", "kit", ["--yes", "--drive", "\\\\.\\PhysicalDrive0",
                                          "PROJECT"], 2,
     "\\\\.\\PhysicalDrive0 is a device"),
    ("drive-verbatim", "project", "kit", ["--yes", "--drive", "\\\\?\\PhysicalDrive0",
                                          "PROJECT"], 2,
     "\\\\?\\PhysicalDrive0 is a device"),
    ("create-physical", "project", "kit", ["--create", "--yes", "--drive",
                                           "\\\\.\\PhysicalDrive0", "PROJECT"], 2,
     "\\\\.\\PhysicalDrive0 is a device's name"),
    ("plan-physical", "project", "kit", ["--plan", "--drive", "\\\\.\\PhysicalDrive0",
                                         "PROJECT"], None, "\\\\.\\PhysicalDrive0"),
]

# Fields that differ by where and when a run happened, not by what it did; the volume's
# serial number (in the boot sector, so in the image's digests) is drawn from the clock.
VOLATILE = {"path", "resolved", "source", "started", "ended", "sector0_sha256", "disk_sha256"}

failures = []


def fail(case, what):
    failures.append(f"{case}: {what}")


def windows_path(path):
    return "Z:" + path.replace("/", "\\")


def said(text, root, windows):
    """A text with the scratch folder's path, in the system's spelling, as <root>."""
    if windows:
        text = text.replace(windows_path(root), "<root>").replace("\\", "/")
    return text.replace(root, "<root>").replace("\r\n", "\n")


def stable(value, run):
    if isinstance(value, dict):
        return {k: stable(v, run) for k, v in value.items() if k not in VOLATILE}
    if isinstance(value, list):
        return [stable(v, run) for v in value]
    if isinstance(value, str):
        return said(value, run["root"], run["windows"])
    return value


def tool(*argv):
    return subprocess.run(argv, capture_output=True, env=TOOLS_ENV, timeout=60)


def names_on(image):
    run = tool("mdir", "-b", "-i", image, "::")
    return sorted(line.decode().rsplit("/", 1)[-1] for line in run.stdout.splitlines()
                  if line.strip()) if run.returncode == 0 else None


def last_log_line(path):
    if not os.path.isfile(path):
        return None
    with open(path, encoding="utf-8") as log:
        lines = [line for line in log.read().splitlines() if line]
    return json.loads(lines[-1]) if lines else None


def run_case(program, windows, case, args, before, scratch, project="project", kit="kit"):
    root = os.path.join(scratch, ("windows-" if windows else "linux-") + case)
    kit = os.path.join(root, kit)
    project = os.path.join(root, project)
    shutil.copytree(KIT, kit)
    shutil.copytree(PROJECT, project)
    for folder in ("config", "state"):
        os.makedirs(os.path.join(root, folder))
    image = os.path.join(root, "a.img")
    if before is not None:
        with open(image, "wb") as out:
            out.truncate(before)
    spell = windows_path if windows else (lambda p: p)
    words = [spell(image) if a == "IMG" else spell(project) if a == "PROJECT" else a
             for a in args]
    env = dict(os.environ, XDG_CONFIG_HOME=os.path.join(root, "config"),
               XDG_STATE_HOME=os.path.join(root, "state"))
    env.pop("QUENVOL_DRIVE_A", None)
    # wine sets the Windows directory and the user's folders from its prefix, whatever the
    # environment says: the Windows run's settings file and log are the prefix's, cleared first.
    log = os.path.join(root, "state", "quenvol", "builds.jsonl")
    if windows:
        log = os.path.join(WINE_LOCAL, "quenvol", "builds.jsonl")
        for stale in (log, os.path.join(os.environ["WINEPREFIX"], "drive_c", "windows",
                                        "quenvol.ini")):
            if os.path.exists(stale):
                os.remove(stale)
    argv = ([WINE, program] if windows else [program]) + words
    run = subprocess.run(argv, cwd=kit, env=env, stdin=subprocess.DEVNULL, capture_output=True,
                         timeout=300)
    report = None
    if "--json" in args:
        try:
            report = json.loads(run.stdout.decode())
        except ValueError:
            fail(case, f"{'Windows' if windows else 'Linux'}: no JSON report: {run.stdout!r}")
    log = last_log_line(log)
    return {"root": root, "windows": windows, "image": image, "status": run.returncode, "report": report,
            "said": said(run.stderr.decode(errors="replace"), root, windows), "log": log,
            "shown": run.stderr.decode(errors="replace") + run.stdout.decode(errors="replace"),
            "project": spell(project)}


def check_image(case, win, lin):
    """The Windows program's diskette, read by tools we did not write."""
    image = win["image"]
    fsck = tool(FSCK, "-n", image)
    if fsck.returncode != 0:
        fail(case, f"fsck.fat -n finds errors: {fsck.stdout.decode()}")
    names = names_on(image)
    if names is None or names != names_on(lin["image"]) or (
            names == [] and (lin["report"] or {}).get("files")):
        fail(case, f"the diskette holds {names}, the Linux build's {names_on(lin['image'])}")
    for entry in (lin["report"] or {}).get("files", []):
        copied = tool("mtype", "-i", image, "::" + entry["name"].upper())
        with open(entry["source"], "rb") as source:
            expected = source.read()
        if copied.returncode != 0 or copied.stdout != expected:
            fail(case, f"{entry['name']} on the diskette is not {entry['source']} byte for byte")
    # The boot sector as the Linux build writes it, but for the volume's serial number.
    with open(image, "rb") as w, open(lin["image"], "rb") as li:
        a, b = bytearray(w.read(512)), bytearray(li.read(512))
    a[0x27:0x2B] = b[0x27:0x2B] = b"\0\0\0\0"
    if a != b:
        fail(case, "the boot sector differs from the Linux build's beyond the serial number")
    if os.path.getsize(image) != DISKETTE:
        fail(case, f"the image is {os.path.getsize(image)} bytes")


def windows_names(win_cli, scratch):
    """The Windows program with names Windows alone gives a meaning: the report and the log
    name the folder the files came from, a device's name is refused as one, never read as a
    folder of the current drive."""
    for case, project, kit, args, status, text in WINDOWS_CASES:
        win = run_case(win_cli, True, case, args, None, scratch, project, kit)
        shown = win["shown"]
        if (status is not None and win["status"] != status) or text not in shown:
            fail(case, f"exit status {win['status']}, not {status}, or no {text!r} in: {shown}")
        if "Z:\\?" in shown or "Z:\\PhysicalDrive0" in shown:
            fail(case, f"a device's name was made a folder of drive Z:: {shown}")
        if status == 0:
            for what, record in (("report", win["report"]), ("build log", win["log"])):
                resolved = ((record or {}).get("project") or {}).get("resolved")
                if resolved != win["project"]:
                    fail(case, f"the {what} names the project folder {resolved!r}, not "
                               f"{win['project']!r}")
            source = ((win["report"] or {}).get("image") or {}).get("source") or ""
            if not source.startswith(win["project"] + "\\"):
                fail(case, f"the BIOS image came from {source!r}")
        print(f"{case}: exit status {win['status']}")


def drive_letter_build(win_cli, scratch, lin):
    """A build onto drive A: by its letter: the raw volume \\.\A:, which the prefix maps to
    QUENVOL_WINE_DRIVE_A, holding a diskette formatted elsewhere (wine answers no geometry
    question, so a blank medium there has no size to be told)."""
    image = os.environ.get("QUENVOL_WINE_DRIVE_A")
    if not image:
        fail("drive-letter", "QUENVOL_WINE_DRIVE_A names no image (make test-windows sets it)")
        return
    if os.path.exists(image):
        os.remove(image)
    made = tool(MKFS, "-C", "-F", "12", image, "1440")
    if made.returncode != 0:
        fail("drive-letter", f"mkfs.fat: {made.stderr.decode()}")
        return
    win = run_case(win_cli, True, "drive-letter", ["--yes", "--json", "--drive", "A:",
                                                   "PROJECT"], None, scratch)
    drive = (win["report"] or {}).get("drive", {})
    if win["status"] != 0 or drive.get("path") != "A:" or not drive.get("device"):
        fail("drive-letter", f"exit status {win['status']}, drive {drive}: {win['said']}")
    if "Drive A: is A:, diskette drive, 1,474,560 bytes" not in win["said"]:
        fail("drive-letter", f"drive A: is not announced by its letter: {win['said']}")
    win["image"] = image
    check_image("drive-letter", win, lin)
    print(f"drive-letter: exit status {win['status']}")


def empty_letter(win_cli, scratch):
    """A drive letter without a diskette: --create, which makes image files only, is never
    offered for it."""
    run = run_case(win_cli, True, "empty-letter", ["--yes", "--drive", "B:", "PROJECT"], None,
                   scratch)
    if run["status"] == 0 or "--create" in run["said"]:
        fail("empty-letter", f"exit status {run['status']}: {run['said']}")
    print(f"empty-letter: exit status {run['status']}")


def one_medium_two_names(win_cli, scratch):
    """A build onto drive A:'s image by its file name, stopped while it copies, and a second
    build onto the same medium by the letter A:: the second must be refused as in use."""
    image = os.environ.get("QUENVOL_WINE_DRIVE_A", "")
    if os.path.exists(image):
        os.remove(image)
    if not image or tool(MKFS, "-C", "-F", "12", image, "1440").returncode != 0:
        fail("two-names", f"no diskette could be made at {image!r}")
        return
    starts = []
    for name in ("by-file", "by-letter"):
        starts.append(os.path.join(scratch, "two-names", name))
        shutil.copytree(KIT, starts[-1])
    project = windows_path(PROJECT)
    first = subprocess.Popen([WINE, win_cli, "--yes", "--drive", windows_path(image), project],
                             cwd=starts[0], env=dict(os.environ, QUENVOL_PAUSE_AT="copying bios.rom"),
                             stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                             stderr=subprocess.STDOUT)
    try:
        os.set_blocking(first.stdout.fileno(), False)
        said, deadline = b"", time.monotonic() + 120
        while b"Copying bios.rom" not in said and time.monotonic() < deadline:
            said += first.stdout.read() or b""
            time.sleep(0.1)
        if b"Copying bios.rom" not in said:
            fail("two-names", f"the first build never reached its copies: {said!r}")
            return
        second = subprocess.run([WINE, win_cli, "--yes", "--drive", "A:", project],
                                cwd=starts[1], stdin=subprocess.DEVNULL, capture_output=True,
                                timeout=120)
        if second.returncode != 5 or b"in use by another program" not in second.stderr:
            fail("two-names", f"the second build gave {second.returncode}: {second.stderr!r}")
    finally:
        first.kill()
        first.wait()
    print("two-names: the second build was refused")


def several_drives(win_cli, scratch, lin):
    """The same diskette in several drives at once, named by letter and by file: drive A:
    (the prefix's diskette), two image files and B:, which holds none. B: fails alone, the
    others are built; the retry goes to B: only and leaves the others as they were."""
    image = os.environ.get("QUENVOL_WINE_DRIVE_A", "")
    if os.path.exists(image):
        os.remove(image)
    if not image or tool(MKFS, "-C", "-F", "12", image, "1440").returncode != 0:
        fail("several-drives", f"no diskette could be made at {image!r}")
        return
    root = os.path.join(scratch, "several-drives")
    kit = os.path.join(root, "kit")
    shutil.copytree(KIT, kit)
    files = [os.path.join(root, name) for name in ("one.img", "two.img")]
    failed_list = os.path.join(WINE_LOCAL, "quenvol", "failed-drives")
    if os.path.exists(failed_list):
        os.remove(failed_list)
    words = ["--yes", "--create", "--drive", "A:"]
    for path in files:
        words += ["--drive", windows_path(path)]
    words += ["--drive", "B:", windows_path(PROJECT)]
    run = subprocess.run([WINE, win_cli] + words, cwd=kit, stdin=subprocess.DEVNULL,
                         capture_output=True, timeout=300)
    said = run.stderr.decode(errors="replace")
    if run.returncode != 9 or "3 of 4 drives built their diskettes" not in said:
        fail("several-drives", f"exit status {run.returncode}: {said}")
    for built in [image] + files:
        check_image("several-drives", {"image": built}, lin)
    with open(failed_list, encoding="utf-8") as listed:
        if listed.read().split() != ["B:"]:
            fail("several-drives", "the failed drives' list does not name B: alone")
    before = {path: os.stat(path).st_mtime_ns for path in [image] + files}
    retry = subprocess.run([WINE, win_cli, "--yes", "--retry-failed", windows_path(PROJECT)],
                           cwd=kit, stdin=subprocess.DEVNULL, capture_output=True, timeout=300)
    if retry.returncode != 3 or any(os.stat(p).st_mtime_ns != t for p, t in before.items()):
        fail("several-drives", f"the retry gave {retry.returncode} or touched a built drive: "
                               f"{retry.stderr.decode(errors='replace')}")
    print(f"several-drives: exit status {run.returncode}, then {retry.returncode}")


def main():
    global KIT, PROJECT
    if len(sys.argv) != 5:
        print(__doc__, file=sys.stderr)
        return 2
    win_cli, linux_cli, KIT, PROJECT = sys.argv[1:]
    with tempfile.TemporaryDirectory(prefix="quenvol-win-build.") as scratch:
        for case, args, before, status in CASES:
            lin = run_case(linux_cli, False, case, args, before, scratch)
            win = run_case(win_cli, True, case, args, before, scratch)
            if lin["status"] != status:
                fail(case, f"the Linux program gave {lin['status']}, not {status}: {lin['said']}")
            if win["status"] != lin["status"]:
                fail(case, f"exit status {win['status']} on Windows, {lin['status']} on Linux: "
                           f"{win['said']}")
            if stable(win["report"], win) != stable(lin["report"], lin):
                fail(case, f"the reports differ:\n  Windows {stable(win['report'], win)}\n"
                           f"  Linux   {stable(lin['report'], lin)}")
            if win["said"] != lin["said"]:
                fail(case, f"standard error differs:\n--- Windows\n{win['said']}\n--- Linux\n"
                           f"{lin['said']}")
            # Every run that reaches drive A: is logged, whatever it came to.
            if status == 0 and case != "format" and (lin["log"] is None or win["log"] is None):
                fail(case, f"no build log line: Windows {win['log']}, Linux {lin['log']}")
            if stable(win["log"], win) != stable(lin["log"], lin):
                fail(case, f"the build logs' lines differ:\n  Windows {win['log']}\n"
                           f"  Linux   {lin['log']}")
            if status == 0:
                check_image(case, win, lin)
            print(f"{case}: exit status {win['status']}")
            if case == "minidos":
                minidos = lin
        windows_names(win_cli, scratch)
        drive_letter_build(win_cli, scratch, minidos)
        empty_letter(win_cli, scratch)
        one_medium_two_names(win_cli, scratch)
        several_drives(win_cli, scratch, minidos)
    for line in failures:
        print("FAILED " + line, file=sys.stderr)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
