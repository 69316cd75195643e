// What --help and the messages name where the two systems differ: the drive's default, the
// variables, where the log and the documents are, and where the emulator comes from. A
// Windows technician reads drive letters and %LOCALAPPDATA%, never a Linux path or package.
#pragma once

namespace cli::words {

#ifdef _WIN32
inline constexpr char kDriveHelp[] =
    "drive A:: a 1.44 MB image file or a drive letter (A:)\n"
    "(default: %QUENVOL_DRIVE_A%, else the floppy drive found, the\n"
    "first with a diskette in when there are several, else A:);\n"
    "given more than once, the same diskette is built in each at once";
inline constexpr char kBuildLog[] =
    "recorded as one JSON line in %LOCALAPPDATA%\\quenvol\\builds.jsonl.\n";
inline constexpr char kNoEmulator[] =
    "no emulator (qemu-system-i386.exe from QEMU for\n"
    "    Windows, on PATH or in its own folder under Program Files)";
// The guide, the samples: beside the programs, in the installed or unpacked folder.
inline constexpr char kGuideName[] = "README.txt";
inline constexpr char kSampleFolder[] = "examples";
// What to install when the emulator is missing.
inline constexpr char kEmulatorAdvice[] =
    "on PATH or in \"Program Files\\qemu\"; install QEMU for Windows (qemu-system-i386.exe)";
inline constexpr char kEjectHelp[] =
    "after a successful build, eject the diskette (a floppy drive on\n"
    "Windows has no eject of its own: it is taken out by hand)";
inline constexpr char kNoEjector[] =
    "a floppy drive on Windows has no eject; take the diskette out by hand";
#else
inline constexpr char kDriveHelp[] =
    "drive A:: a 1.44 MB image file or a floppy block device\n"
    "(default: $QUENVOL_DRIVE_A, else the floppy drive found, the\n"
    "first with a diskette in when there are several, else /dev/fd0);\n"
    "given more than once, the same diskette is built in each at once";
inline constexpr char kBuildLog[] =
    "recorded as one JSON line in $XDG_STATE_HOME/quenvol/builds.jsonl\n"
    "(default ~/.local/state/quenvol/builds.jsonl).\n";
inline constexpr char kNoEmulator[] = "no emulator (Debian package qemu-system-x86)";
inline constexpr char kEmulatorAdvice[] = "on PATH; install the Debian package qemu-system-x86";
inline constexpr char kEjectHelp[] =
    "after a successful build, eject the diskette through the desktop's\n"
    "disk service (udisks2), or power the drive off where it cannot eject";
inline constexpr char kNoEjector[] =
    "the desktop's disk service (udisks2), which ejects it, does not answer; take the diskette "
    "out by hand";
#endif

}  // namespace cli::words
