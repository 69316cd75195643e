// The floppy drives of this machine (as sysfs shows them on Linux, from the drive letters on
// Windows), and the rule that makes one of them (or a path the user named) drive A:.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace platform {

struct FloppyDrive {
    std::string name;  // the kernel's name: "fd0", "sdb"; on Windows the letter: "A:"
    std::string path;  // the device node: "/dev/" + name; on Windows the volume: "\\.\A:"
    std::string vendor;
    std::string model;
    // A USB drive's port path as the kernel names it ("2-1.3": bus 2, hub port 1, its port 3),
    // which stays with the socket a drive is plugged into; empty for other drives.
    std::string usbPort;
    // 0: no diskette in the drive; none: the drive cannot tell (the floppy controller's
    // drives report the size of their default format whether a diskette is in or not).
    std::optional<std::uint64_t> mediumBytes;
    bool readOnly = false;  // the medium is write-protected
    bool mayWrite = false;  // this user may open the device node for writing

    bool holdsDiskette() const { return mediumBytes && *mediumBytes > 0; }
    // "TEAC FD-05PUB"; "floppy controller drive" for fd* drives, which name no maker; a USB
    // drive's port follows: "TEAC FD-05PUB, USB port 2-1.3".
    std::string description() const;
};

#ifndef _WIN32
// The sysfs root: $QUENVOL_SYSFS when set, else /sys.
std::string sysfsRoot();

// The floppy controller's drives and the removable block devices that are USB floppy drives
// (interface class 08, subclass 04) or hold a medium of a diskette's size, ordered by kernel
// name. Device nodes are looked for under `devRoot`. A missing or unreadable sysfs gives none.
std::vector<FloppyDrive> findFloppyDrives(const std::string& sysfs, const std::string& devRoot);
#endif
// Linux: the same under sysfsRoot() and /dev. Windows: the removable drive letters whose drive
// offers a diskette's media types (USB floppy drives among them), in letter order.
std::vector<FloppyDrive> findFloppyDrives();

// The drive letter that a name for drive A: gives on Windows ("B:", "B:\\" or "\\.\B:", either
// case; 'B'), whose raw volume is then drive A:; none for an image file's path, and always none on
// Linux, where "B:" is a file's name. A caller that makes names absolute leaves these alone.
std::optional<char> driveLetterOf(const std::string& path);
// How a drive is named to people: a drive letter's volume as its letter and colon ("A:"),
// anything else by its path.
std::string driveName(const std::string& path);

// What drive A: is when nothing names it and no floppy drive is found: /dev/fd0 on Linux,
// the volume \\.\A: on Windows.
std::string defaultDriveAPath();

// The found drive whose device node is `path` (the same node, or a link to it), if any.
std::optional<FloppyDrive> floppyDriveAt(const std::vector<FloppyDrive>& drives,
                                         const std::string& path);

// What the programs say about drive A: for this run, passed down as data. An empty text says
// nothing. The named drive (quenvol-cli's --drive) outranks the one chosen in the dialog's
// window menu, and both outrank QUENVOL_DRIVE_A.
struct DriveASelection {
    std::string named;
    std::string chosenThisRun;
};
void setDriveASelection(DriveASelection selection);
const DriveASelection& driveASelection();
// The user's own setting for drive A:, QUENVOL_DRIVE_A; empty when unset.
std::string driveASetting();

enum class DriveASource {
    Named,               // the command line
    ChosenThisRun,       // the window menu
    Environment,         // QUENVOL_DRIVE_A
    OnlyDrive,           // the one floppy drive found
    StillHoldsDiskette,  // several found: the drive that was A: still holds its diskette
    FirstWithDiskette,   // several found: the first with a diskette in
    FirstDrive,          // several found, none known to hold a diskette
    Default,             // none found: defaultDriveAPath()
};

struct DriveAChoice {
    std::string path;
    DriveASource source = DriveASource::Default;
};

// The rule on its inputs. `previous` is the found drive that was last drive A: while holding
// a diskette: with several drives it stays drive A: as long as it holds one, so that the next
// diskette goes where the last one went. Within a build drive A: does not move at all: the
// build's hold resolves it once (exclusive_hold.h).
DriveAChoice chooseDriveA(const DriveASelection& selection, const std::string& environment,
                          const std::vector<FloppyDrive>& found, const std::string& previous);

// The rule on this run's selection, QUENVOL_DRIVE_A and the drives found now. The floppy
// drives are looked for only when nothing names drive A:.
DriveAChoice currentDriveA();

}  // namespace platform
