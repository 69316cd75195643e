#!/usr/bin/env python3
"""A new user's first diskette, made through the dialog by input events alone: the program is
started as the desktop starts it, on a display of its own (Xvfb), and every step is a key press,
typed text or a mouse click sent through the X server's input (xdotool), never a message to a
window. Each step waits for the window it acts on, by its title, and leaves a screenshot of the
screen as it was (for review). The diskette image is then read with fsck.fat and mtools.

  first_run.py linux --shots FOLDER --work FOLDER
      the installed packages: the desktop entry's Exec line started from a fresh home folder,
      as an ordinary user (nobody, when run as root); the kit notice, the chooser at the
      installed sample kit, its copy into the home folder, drive A: set to an image file
      through the window menu, the sample project typed in, the format and the build.

Windows (the Start-menu shortcut after a silent install) is driven by windows_dist.py with the
same steps through this module. Exits 77 when Xvfb or xdotool is missing."""

import argparse
import os
import re
import shutil
import subprocess
import sys
import time

SKIP = 77


class Desk:
    """A display of its own, its windows seen and acted on as a user sees and acts on them."""

    def __init__(self, shots):
        self.shots = shots
        self.count = 0
        self.handled = set()
        read, write = os.pipe()
        self.server = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write), "-screen", "0", "1024x768x24", "-nolisten",
             "tcp"], pass_fds=[write], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write)
        with os.fdopen(read) as f:
            self.display = ":" + f.readline().strip()
        self.env = dict(os.environ, DISPLAY=self.display)
        os.makedirs(shots, exist_ok=True)

    def close(self):
        self.server.terminate()
        self.server.wait()

    def xdotool(self, *arguments):
        return subprocess.run(["xdotool", *arguments], env=self.env, capture_output=True,
                              text=True, timeout=30).stdout

    def windows(self):
        """{window id: title} of the windows shown now."""
        shown = {}
        for line in self.xdotool("search", "--onlyvisible", "--name", "").split():
            title = self.xdotool("getwindowname", line).rstrip("\n")
            shown[line] = title
        return shown

    def await_window(self, title, seconds=60, again=False):
        """The id of a shown window whose whole title matches `title`, not acted on before
        (unless `again`); None after `seconds`."""
        end = time.monotonic() + seconds
        while time.monotonic() < end:
            for window, shown in sorted(self.windows().items(), key=lambda w: -int(w[0])):
                if re.fullmatch(title, shown) and (again or window not in self.handled):
                    self.await_focus(window)
                    return window
            time.sleep(0.25)
        return None

    def await_focus(self, window, seconds=10):
        """Keys typed before a new window has the keyboard would go to the window that had it.
        (Where no window holds the focus, wine's case, keys go to the window under the
        pointer, which a new window is above.)"""
        end = time.monotonic() + seconds
        while time.monotonic() < end:
            focus = self.xdotool("getwindowfocus", "-f").strip()
            if focus == window or focus not in self.windows():
                break
            time.sleep(0.2)
        time.sleep(0.5)  # it may still be drawing

    def shot(self, name):
        self.count += 1
        path = os.path.join(self.shots, "%02d-%s.png" % (self.count, name))
        subprocess.run(["import", "-window", "root", path], env=self.env, timeout=60,
                       check=False, stderr=subprocess.DEVNULL)

    def gone(self, window, seconds=30):
        end = time.monotonic() + seconds
        while window in self.windows() and time.monotonic() < end:
            time.sleep(0.25)

    def none_titled(self, title, seconds=30):
        """True once no window whose whole title matches `title` is shown."""
        end = time.monotonic() + seconds
        while any(re.fullmatch(title, shown) for shown in self.windows().values()):
            if time.monotonic() > end:
                return False
            time.sleep(0.25)
        return True

    def act(self, window, actions):
        for action in actions:
            kind, value = action.split(":", 1)
            if kind == "key":
                self.xdotool("key", "--delay", "120", *value.split())
            elif kind == "type":
                self.xdotool("type", "--delay", "30", value)
                time.sleep(0.3)
                self.shot("typed")
            elif kind == "click":  # x,y from the window's top left corner
                x, y = value.split(",")
                self.xdotool("mousemove", "--window", window, x, y, "click", "1")
            time.sleep(0.4)
        self.handled.add(window)


def drive(desk, program, steps, failures):
    """Acts out `steps`, each (name, title, actions[, how]) while `program` runs (None when
    its process is not ours to watch, as when the shell started it): the window
    is waited for, acted on, and waited for to go, unless `how` is "stays" (the main window,
    which may also have been acted on before); "again" for a window acted on before that
    goes now. A step whose window does not come is a failure, named with the windows shown."""
    for step in steps:
        name, title, actions = step[:3]
        how = step[3] if len(step) > 3 else "goes"
        stays = how == "stays"
        window = desk.await_window(title, again=how != "goes")
        if window is None or (program and program.poll() is not None):
            failures.append("step %s: no window '%s' came (shown: %s; the program %s)" %
                            (name, title, sorted(desk.windows().values()),
                             "runs" if not program or program.poll() is None else
                             "ended with %s" % program.returncode))
            desk.shot(name + "-missing")
            return False
        desk.shot(name)
        desk.act(window, actions)
        if not stays:
            desk.gone(window)
    return True


def check_diskette(image, failures, what):
    """fsck.fat and mtools, which we did not write, read the diskette the dialog built."""
    if not os.path.isfile(image) or os.path.getsize(image) != 1474560:
        failures.append("%s: no 1.44 MB diskette image at %s" % (what, image))
        return
    fsck = subprocess.run(["fsck.fat", "-n", image], capture_output=True, text=True)
    if fsck.returncode != 0:
        failures.append("%s: fsck.fat finds the diskette bad: %s" % (what, fsck.stdout))
    listed = subprocess.run(["mdir", "-b", "-i", image, "::"], capture_output=True, text=True,
                            env=dict(os.environ, MTOOLS_SKIP_CHECK="1"))
    names = {line.rsplit("/", 1)[-1].upper() for line in listed.stdout.split()}
    if not {"MINIDOS.SYS", "ZYPLET.EXE", "BIOS.ROM"} <= names:
        failures.append("%s: the diskette holds %s" % (what, sorted(names)))


# The dialog's way from a start directory with a kit to a built MINIDOS diskette in the image
# file `image`, the project typed as `project`; `window` is the main window's title and
# `box` a message box's. The combo box is clicked at `combo` (the user's mouse).
def build_steps(main, box, chooser, image, project, combo, format_title):
    return [
        ("drive-menu", main, ["key:alt+space", "key:d", "key:i"], "stays"),
        ("image-chooser", chooser, ["type:" + image, "key:Return"]),
        ("start-without-project", main, ["key:alt+s"], "stays"),
        ("project-refused", box, ["key:Return"]),
        ("project-typed", main, ["click:" + combo, "type:" + project, "key:alt+s"], "stays"),
        ("project-confirmed", box, ["key:Return"]),
        ("format-dialog", format_title, ["key:alt+s"], "stays"),
        ("format-warning", format_title, ["key:shift+Tab", "key:space"]),
        ("format-complete", format_title, ["key:Return"]),
        ("format-closed", format_title, ["key:Escape"], "again"),
        ("success", box, ["key:Return"]),
        ("another", box, ["key:alt+n"]),
    ]


def windows(wine, env, link, image, shots):
    """The dialog started by the Start-menu shortcut `link` (a Windows path) of a silent
    install in the wine prefix of `env`, driven to a diskette in the image file `image` (a
    Linux path); the failures, empty when it was built."""
    failures = []
    if not all(shutil.which(tool) for tool in ("Xvfb", "xdotool", "import")):
        return ["the first run needs Xvfb, xdotool and ImageMagick's import"]
    # A new user: no project folders used before (the settings file holds them).
    for old in (image, os.path.join(env["WINEPREFIX"], "drive_c", "windows", "quenvol.ini")):
        if os.path.exists(old):
            os.remove(old)
    main = "Korvane Crisis Disk Build"
    desk = Desk(shots)  # makes the folder of the screenshots (and of the image)
    # The shell opens the shortcut (its target, folder and arguments) and returns: the dialog's
    # windows are all there is to watch.
    shell = subprocess.run([wine, "start", link], env=dict(env, DISPLAY=desk.display),
                           stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=120)
    if shell.returncode != 0:
        failures.append("the shell could not open the shortcut (status %d)" % shell.returncode)
    try:
        # Started in the kit copy, the dialog gives no kit notice: drive A: comes first.
        steps = build_steps(main, "quenvol",
                            re.escape("Diskette image file for drive A:"),
                            "Z:" + image.replace("/", "\\"), "..\\project", "190,63",
                            "Format - A:")
        if drive(desk, None, steps, failures) and not desk.none_titled(main):
            failures.append("the dialog did not end after No to another diskette")
        check_diskette(image, failures, "windows")
    finally:
        desk.close()
    return failures


def linux(args):
    failures = []
    entry = "/usr/share/applications/org.quenvol.Quenvol.desktop"
    with open(entry, encoding="utf-8") as f:
        exec_line = re.search(r"^Exec=(.*)$", f.read(), re.MULTILINE).group(1)
    # The field codes (%f, %U...) stand for files the desktop would pass: none here.
    command = [word for word in exec_line.split() if not word.startswith("%")]
    home = os.path.join(args.work, "home")
    runtime = os.path.join(args.work, "runtime")
    shutil.rmtree(args.work, ignore_errors=True)
    os.makedirs(home)
    os.makedirs(runtime, mode=0o700)
    user = None
    if os.geteuid() == 0:  # a technician is no administrator: the sample cannot be written
        user = 65534
        for folder in (args.work, home, runtime):
            os.chown(folder, user, user)
    env = {"PATH": "/usr/bin:/bin", "HOME": home, "XDG_RUNTIME_DIR": runtime, "LANG": "C.UTF-8",
           "QT_QPA_PLATFORM": "xcb"}
    desk = Desk(args.shots)
    env["DISPLAY"] = desk.display
    image = os.path.join(home, "first.img")
    sample = "/usr/share/quenvol/examples"

    def become_user():
        if user is not None:
            os.setgroups([])
            os.setgid(user)
            os.setuid(user)

    program = subprocess.Popen(command, cwd=home, env=env, preexec_fn=become_user,
                               stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    try:
        main = "Korvane Crisis Disk Build"
        steps = [
            ("kit-notice", "Kit Folder", ["key:Return"]),
            ("kit-chooser", re.escape("Kit folder (start directory) for this run"),
             ["key:Return"]),
            ("sample-read-only", "Kit Folder", ["key:Return"]),
            ("copy-chooser", "Folder of yours to copy the kit into", ["key:Return"]),
        ] + build_steps(main, "quenvol", re.escape("Diskette image file for drive A:"), image,
                        sample + "/project", "190,63", "Format - A:")
        if drive(desk, program, steps, failures):
            try:
                program.wait(timeout=30)
            except subprocess.TimeoutExpired:
                failures.append("the dialog did not end after No to another diskette")
            if program.returncode not in (0, None):
                failures.append("the dialog ended with %s" % program.returncode)
        check_diskette(image, failures, "linux")
        copy = os.path.join(home, "Quenvol kit")
        if not os.path.isfile(os.path.join(copy, "minidos.sys")):
            failures.append("no copy of the sample kit in %s" % copy)
    finally:
        if program.poll() is None:
            program.kill()
        output = program.communicate()[0].decode("utf-8", "replace")
        desk.close()
    if failures:
        print("the dialog's output:\n" + output, file=sys.stderr)
    return failures


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("system", choices=["linux"])
    parser.add_argument("--shots", required=True)
    parser.add_argument("--work", required=True)
    args = parser.parse_args()
    for tool in ("Xvfb", "xdotool", "import", "fsck.fat", "mdir"):
        if not shutil.which(tool):
            print("SKIP: %s is not installed" % tool)
            return SKIP
    failures = linux(args)
    for failure in failures:
        print("FAIL: " + failure, file=sys.stderr)
    if failures:
        return 1
    print("first_run: a diskette built through the dialog by input events; screenshots in " +
          args.shots)
    return 0


if __name__ == "__main__":
    sys.exit(main())
