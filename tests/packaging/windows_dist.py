#!/usr/bin/env python3
"""The Windows release: the zip holds exactly the programs (PE files for the build's machine),
their help files, README and licence with CRLF line ends, and the sample kit and project as
the build made them; each program has its version resource, and as its first icon group the
images of the .ico the build wrote (--icon). With --installer, which has that icon too, in a
wine prefix of this test's own (made afresh), for each of the per-machine and per-user modes:
a silent install into a folder of its own puts the zip's files there (and its uninstaller,
with the same icon), quenvol-cli.exe runs from it, the dialog program
(when built; its GUI subsystem is checked in the zip) is there, the
Start-menu shortcut and the uninstall entry are in that mode's places, installing again with
neither mode nor folder keeps both, and a silent uninstall
(by the entry's own command, or by the uninstaller with no mode) leaves none of them.
Before the uninstall, the shortcut is started as the Start menu starts it and the dialog driven
to a built diskette by input events alone (first_run.py; screenshots in --shots/<mode>).

  windows_dist.py --version V --machine 0x8664|0x14c --zip ZIP --source-dir ROOT
                  --samples BUILD/examples --icon BUILD/quenvol.ico [--dialog]
                  [--installer SETUP --wine WINE64 --prefix FOLDER --shots FOLDER]"""

import argparse
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import zipfile

import first_run

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL: " + what, file=sys.stderr)
    return condition


def pe_info(data):
    """(machine, subsystem, resources) of a PE file; resources: {type: {name: bytes}}, each
    name's first language, or None when the file is not a PE file."""
    def u16(at):
        return struct.unpack_from("<H", data, at)[0]

    def u32(at):
        return struct.unpack_from("<I", data, at)[0]

    if data[:2] != b"MZ" or data[u32(0x3C):u32(0x3C) + 4] != b"PE\0\0":
        return None, None, None
    header = u32(0x3C) + 4
    machine, sections, optional_size = u16(header), u16(header + 2), u16(header + 16)
    optional = header + 20
    subsystem = u16(optional + 68)
    directories = optional + (112 if u16(optional) == 0x20B else 96)
    resource_rva = u32(directories + 2 * 8)
    table = [struct.unpack_from("<IIII", data, optional + optional_size + 40 * i + 8)
             for i in range(sections)]

    def offset(rva):
        for size, address, raw_size, raw in table:
            if address <= rva < address + max(size, raw_size):
                return raw + rva - address
        raise ValueError("RVA outside every section")

    resources = {}
    if not resource_rva:
        return machine, subsystem, resources
    base = offset(resource_rva)

    def entries(directory):
        count = u16(directory + 12) + u16(directory + 14)
        return [(u32(directory + 16 + 8 * i), u32(directory + 20 + 8 * i)) for i in range(count)]

    # Three levels of directories, type, name and language, above each data entry.
    for kind, names in entries(base):
        for name, languages in entries(base + (names & 0x7FFFFFFF)) if names >> 31 else []:
            found = entries(base + (languages & 0x7FFFFFFF)) if languages >> 31 else []
            if found and not found[0][1] >> 31:
                data_rva, data_size = u32(base + found[0][1]), u32(base + found[0][1] + 4)
                resources.setdefault(kind, {})[name] = \
                    data[offset(data_rva):offset(data_rva) + data_size]
    return machine, subsystem, resources


def file_version(resources):
    """The four numbers of the version resource's fixed part, or None."""
    block = next(iter(resources.get(16, {}).values()), b"")
    fixed = block.find(struct.pack("<I", 0xFEEF04BD))
    if fixed < 0:
        return None
    high, low = struct.unpack_from("<II", block, fixed + 8)
    return high >> 16, high & 0xFFFF, low >> 16, low & 0xFFFF


def ico_images(data):
    """[(width, height, colours, planes, bits a pixel, image bytes)] of an .ico file."""
    count = struct.unpack_from("<H", data, 4)[0]
    images = []
    for i in range(count):
        fields = struct.unpack_from("<BBBBHHII", data, 6 + 16 * i)
        images.append(fields[:3] + fields[4:6] + (data[fields[7]:fields[7] + fields[6]],))
    return images


def icon_group(resources):
    """The first icon group of a PE file's resources (the one Explorer shows), its images as
    ico_images gives them, or None."""
    groups = resources.get(14, {})
    if not groups:
        return None
    group = groups[min(groups)]
    count = struct.unpack_from("<H", group, 4)[0]
    images = []
    for i in range(count):
        fields = struct.unpack_from("<BBBBHHIH", group, 6 + 14 * i)
        images.append(fields[:3] + fields[4:6] + (resources.get(3, {}).get(fields[7]),))
    return images


def check_icon(data, icon, what):
    """The PE file's first icon group holds the .ico's images."""
    images = icon_group(pe_info(data)[2] or {})
    got = images and [image[:5] for image in images]
    wanted = [image[:5] for image in icon]
    check(images == icon, "%s: its icon is %s, not the build's %s%s" % (
        what, got, wanted, " (the images' bytes differ)" if got == wanted else ""))


def expected_files(args):
    """Name in the release -> its bytes."""
    programs = ["quenvol-cli"] + (["quenvol"] if args.dialog else [])
    with open(os.path.join(args.source_dir, "src", "res", "quenvol.HLP"), "rb") as f:
        help_text = f.read()
    files = {p + ".HLP": help_text for p in programs}
    for name, source in [("README.txt", "packaging/windows/README.txt"), ("LICENSE.txt", "LICENSE"),
                         ("examples/README.md", "examples/README.md")]:
        with open(os.path.join(args.source_dir, source), "rb") as f:
            files[name] = f.read().replace(b"\r\n", b"\n").replace(b"\n", b"\r\n")
    for folder in ("kit", "project"):
        for name in os.listdir(os.path.join(args.samples, folder)):
            with open(os.path.join(args.samples, folder, name), "rb") as f:
                files["examples/%s/%s" % (folder, name)] = f.read()
    return programs, files


def check_release(found, programs, files, machine, version, icon, where):
    """found: name -> bytes, of the zip or of an installed folder."""
    check(set(found) == set(files) | {p + ".exe" for p in programs},
          "%s holds %s" % (where, sorted(found)))
    for name, content in files.items():
        check(found.get(name) == content, "%s: %s differs from the build's" % (where, name))
    for program in programs:
        data = found.get(program + ".exe", b"")
        got_machine, subsystem, resources = pe_info(data)
        check(got_machine == machine, "%s: %s.exe is for machine %s, not %#x" %
              (where, program, got_machine and hex(got_machine), machine))
        # Console (3) for quenvol-cli.exe, GUI (2) for the dialog.
        check(subsystem == (3 if program == "quenvol-cli" else 2),
              "%s: %s.exe has subsystem %s" % (where, program, subsystem))
        numbers = tuple(int(n) for n in version.split("."))
        got_version = file_version(resources or {})
        check(got_version is not None and got_version[:len(numbers)] == numbers,
              "%s: %s.exe's version resource says %s" % (where, program, got_version))
        check_icon(data, icon, "%s: %s.exe" % (where, program))


def read_zip(path, top):
    found = {}
    with zipfile.ZipFile(path) as archive:
        for entry in archive.infolist():
            check(entry.filename.startswith(top + "/"), "zip entry %s outside %s/" %
                  (entry.filename, top))
            if not entry.is_dir():
                found[entry.filename[len(top) + 1:]] = archive.read(entry)
    return found


def read_folder(root):
    found = {}
    for folder, _, names in os.walk(root):
        for name in names:
            path = os.path.join(folder, name)
            with open(path, "rb") as f:
                found[os.path.relpath(path, root).replace(os.sep, "/")] = f.read()
    return found


class Prefix:
    """A wine prefix of this test's own; each wine run's output goes to a file, never to the
    test's own output, which the prefix's services would otherwise hold open."""

    def __init__(self, wine, folder):
        self.wine = wine
        self.server = shutil.which("wineserver") or os.path.join(os.path.dirname(wine),
                                                                   "wineserver")
        self.folder = folder
        # A home of its own: the prefix links the user's documents into the home folder, and
        # the installer copies the samples there.
        self.home = folder + "-home"
        self.env = dict(os.environ, WINEPREFIX=folder, WINEDEBUG="-all", HOME=self.home,
                        WINEDLLOVERRIDES="winemenubuilder.exe=d")
        self.drive_c = os.path.join(folder, "drive_c")

    def run(self, *command, cwd=None):
        with tempfile.TemporaryFile() as out:
            status = subprocess.run([self.wine, *command], env=self.env, stdin=subprocess.DEVNULL,
                                    stdout=out, stderr=subprocess.STDOUT, timeout=120,
                                    cwd=cwd).returncode
            out.seek(0)
            return status, out.read().decode("utf-8", "replace")

    def settle(self):
        """Waits until every process of the prefix has ended and the server has written the
        registry to user.reg and system.reg."""
        subprocess.run([self.server, "-w"], env=self.env, timeout=120, check=False)

    def linux_path(self, windows_path):
        assert windows_path[:3].upper() == "C:\\"
        return os.path.join(self.drive_c, *windows_path[3:].split("\\"))

    def uninstall_entry(self):
        """{hive file: the uninstall key's values} for each hive file that has the key."""
        entries = {}
        for hive in ("system.reg", "user.reg"):
            with open(os.path.join(self.folder, hive), encoding="utf-8",
                      errors="replace") as f:
                lines = f.read().splitlines()
            header = "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\Quenvol]"
            for i, line in enumerate(lines):
                if line.startswith(header):
                    values = {}
                    for value in lines[i + 1:]:
                        if not value:
                            break
                        if value.startswith('"') and '"="' in value:
                            key, text = value[1:-1].split('"="', 1)
                            values[key] = text.replace('\\"', '"').replace("\\\\", "\\")
                        elif value.startswith('"') and '"=dword:' in value:
                            key, number = value[1:].split('"=dword:', 1)
                            values[key] = int(number, 16)
                    entries[hive] = values
        return entries

    def shortcuts(self):
        return [os.path.join(folder, name) for folder, _, names in os.walk(self.drive_c)
                for name in names if name.lower() == "quenvol.lnk"]


def check_first_build(prefix, mode, cli, kit):
    """Started in the kit copy the shortcut starts in, the installed console program builds a
    diskette image from the sample project beside it; tools we did not write read it back."""
    image = os.path.join(prefix.folder, "first-%s.img" % mode)
    if os.path.exists(image):
        os.remove(image)
    status, output = prefix.run(cli, "--yes", "--create", "--drive", "Z:" + image.replace("/", "\\"),
                                "..\\project", cwd=kit)
    if not check(status == 0, "%s: the first build in the kit copy gave %d: %s" %
                 (mode, status, output[-600:])):
        return
    fsck = subprocess.run(["fsck.fat", "-n", image], capture_output=True, text=True)
    check(fsck.returncode == 0, "%s: fsck.fat finds the first diskette bad: %s" %
          (mode, fsck.stdout + fsck.stderr))
    listed = subprocess.run(["mdir", "-b", "-i", image, "::"], capture_output=True, text=True,
                            env=dict(os.environ, MTOOLS_SKIP_CHECK="1"))
    names = {line.rsplit("/", 1)[-1].upper() for line in listed.stdout.split()}
    check({"MINIDOS.SYS", "ZYPLET.EXE", "BIOS.ROM"} <= names,
          "%s: the first diskette holds %s" % (mode, sorted(names)))
    os.remove(image)


def check_installer(args, programs, released, icon):
    with open(args.installer, "rb") as f:
        check_icon(f.read(), icon, "the installer")
    prefix = Prefix(args.wine, args.prefix)
    shutil.rmtree(args.prefix, ignore_errors=True)
    shutil.rmtree(prefix.home, ignore_errors=True)
    os.makedirs(prefix.home)
    try:
        prefix.run("wineboot", "-i")
        prefix.settle()
        if not check(os.path.isfile(os.path.join(args.prefix, "system.reg")),
                     "no wine prefix could be made in " + args.prefix):
            return
        # mode switch, hive file of its uninstall entry, where its Start-menu entry goes, and
        # the uninstall: the entry's silent command, or the uninstaller started in its folder
        # with no mode, as a user would
        for mode, hive, menu, by_entry, documents in [
                ("AllUsers", "system.reg", "ProgramData", True, r"C:\\users\\Public\\Documents"),
                ("CurrentUser", "user.reg", "users", False, r"C:\\users\\[^\\]+\\Documents")]:
            target = "C:\\quenvol-test-%s\\Quenvol" % mode
            folder = prefix.linux_path(target)
            status, output = prefix.run(args.installer, "/S", "/" + mode, "/D=" + target)
            prefix.settle()
            check(status == 0, "%s: the installer gave %d: %s" % (mode, status, output))
            installed = read_folder(folder)
            uninstaller = installed.pop("uninstall.exe", None)
            if check(uninstaller is not None, mode + ": no uninstall.exe"):
                check_icon(uninstaller, icon, mode + ": uninstall.exe")
            check(installed == released, "%s: the installed files %s differ from the zip's" %
                  (mode, sorted(name for name in set(installed) | set(released)
                                if installed.get(name) != released.get(name))))
            cli = target + "\\quenvol-cli.exe"
            for option, answer in [("--version", "quenvol-cli (Quenvol) " + args.version),
                                   ("--help", "Usage: quenvol-cli")]:
                status, output = prefix.run(cli, option)
                check(status == 0 and output.startswith(answer),
                      "%s: installed quenvol-cli.exe %s gave %d: %s" % (mode, option, status,
                                                                        output[:200]))
            links = prefix.shortcuts()
            program = programs[-1] + ".exe"
            check(len(links) == 1 and
                  os.path.relpath(links[0], prefix.drive_c).startswith(menu + os.sep),
                  "%s: Start-menu shortcuts %s" % (mode, links))
            for link in links:
                with open(link, "rb") as f:
                    data = f.read()
                path = (target + "\\" + program).lower()
                check(path.encode("utf-16-le") in data.lower() or path.encode() in data.lower(),
                      "%s: the shortcut does not open %s" % (mode, path))
                # It starts in the copy of the sample kit in the mode's documents, which a
                # build may write into.
                text = "\n".join([data.decode("utf-16-le", "replace"),
                                  data[1:].decode("utf-16-le", "replace"), data.decode("latin-1")])
                found = re.search(documents + r"\\quenvol\\kit", text, re.IGNORECASE)
                if check(found is not None, "%s: the shortcut starts in no kit copy in %s" %
                         (mode, documents)):
                    for sample in ("kit", "project"):
                        copy = read_folder(prefix.linux_path(found.group(0)[:-3] + sample))
                        check(copy == {name[len("examples/%s/" % sample):]: data
                                       for name, data in released.items()
                                       if name.startswith("examples/%s/" % sample)},
                              "%s: the copy of the sample %s is %s" % (mode, sample,
                                                                      sorted(copy)))
                    check_first_build(prefix, mode, cli, prefix.linux_path(found.group(0)))
                    # The same as a new user makes it: the shortcut started as the Start menu
                    # starts it, the dialog driven by input events alone. The image is kept
                    # with the screenshots, outside the prefix (which wine keeps from its
                    # programs).
                    shots = os.path.join(args.shots or args.prefix + "-shots", mode)
                    for failure in [] if not args.dialog else first_run.windows(
                            args.wine, prefix.env,
                            "C:\\" + os.path.relpath(link, prefix.drive_c).replace("/", "\\"),
                            os.path.join(shots, "diskette.img"), shots):
                        check(False, "%s: the first run from the shortcut: %s" % (mode, failure))
                    prefix.settle()
            # Installed again with neither mode nor folder: the same mode and folder.
            status, output = prefix.run(args.installer, "/S")
            prefix.settle()
            again = set(read_folder(folder))
            check(status == 0 and again == set(installed) | {"uninstall.exe"},
                  "%s: installing again gave %d, %s: %s" % (mode, status, sorted(again), output))
            entries = prefix.uninstall_entry()
            entry = entries.get(hive, {})
            check(list(entries) == [hive], "%s: uninstall entries in %s" % (mode, list(entries)))
            check(entry.get("DisplayName") == "Quenvol " + args.version and
                  entry.get("DisplayVersion") == args.version and
                  entry.get("InstallLocation") == target and
                  entry.get("EstimatedSize") == sum(map(len, read_folder(folder).values())) // 1024,
                  "%s: the uninstall entry says %s" % (mode, entry))
            quiet = entry.get("QuietUninstallString", "")
            check(quiet.startswith('"%s\\uninstall.exe" ' % target) and
                  entry.get("UninstallString", "").startswith('"%s\\uninstall.exe"' % target),
                  "%s: the uninstall commands are %s" % (mode, entry))
            command = [target + "\\uninstall.exe", "/S"]
            if by_entry and quiet.startswith('"'):
                program_path, arguments = quiet[1:].split('"', 1)
                command = [program_path, *arguments.split()]
            # The uninstaller runs from a copy of itself: settle() waits for that too.
            status, output = prefix.run(*command)
            prefix.settle()
            check(status == 0, "%s: the uninstaller gave %d: %s" % (mode, status, output))
            check(not os.path.exists(folder), mode + ": the folder is left: " +
                  str(sorted(read_folder(folder))))
            check(prefix.shortcuts() == [], mode + ": the shortcut is left")
            check(prefix.uninstall_entry() == {}, mode + ": the uninstall entry is left")
    finally:
        subprocess.run([prefix.server, "-k"], env=prefix.env, check=False,
                       stderr=subprocess.DEVNULL)
        shutil.rmtree(args.prefix, ignore_errors=True)
        shutil.rmtree(prefix.home, ignore_errors=True)


def main():
    parser = argparse.ArgumentParser()
    for option in ("--version", "--zip", "--source-dir", "--samples", "--icon"):
        parser.add_argument(option, required=True)
    parser.add_argument("--machine", required=True, type=lambda text: int(text, 16))
    parser.add_argument("--dialog", action="store_true")
    for option in ("--installer", "--wine", "--prefix", "--shots"):
        parser.add_argument(option)
    args = parser.parse_args()

    programs, files = expected_files(args)
    with open(args.icon, "rb") as f:
        icon = ico_images(f.read())
    top = os.path.basename(args.zip)[:-len(".zip")]
    released = read_zip(args.zip, top)
    check_release(released, programs, files, args.machine, args.version, icon,
                  os.path.basename(args.zip))
    if args.installer:
        check_installer(args, programs, released, icon)
    if failures:
        print("%d failure(s)" % len(failures), file=sys.stderr)
        return 1
    print("windows_dist: checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
