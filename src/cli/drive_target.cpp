#include "cli/drive_target.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "cli/system.h"
#include "platform/drive_a.h"
#include "platform/drive_format.h"
#include "platform/exclusive_hold.h"
#include "platform/floppy_drives.h"
#include "platform/host_system.h"
#include "platform/interrupts.h"
#include "platform/win_path.h"

namespace cli {

bool sameFileAt(const std::optional<sys::FileLook>& a, const std::optional<sys::FileLook>& b) {
    if (!a || !b) return !a && !b;
    return a->volume == b->volume && a->file == b->file;
}

namespace {

// What a drive (a block device, a drive letter) holds now: none when no diskette is in, else
// its first sector where that can be read (empty where not). Looked at through a descriptor
// of its own where it can be: opening the device makes the system look at the medium again,
// which the hold's descriptor, open since before the change, would not.
std::optional<std::string> mediumInDrive(const std::string& path) {
    if (const auto medium = platform::measureMediumAt(path); medium && medium->blockDevice) {
        if (!platform::isDisketteSize(medium->bytes)) return std::nullopt;
        return medium->firstSector;
    }
    if (platform::DriveA::open().ok()) return std::string();
    return std::nullopt;
}

// How often a drive is looked at while a new diskette is awaited: an image file's name is
// cheap to look at; a drive's open makes the driver check for a diskette, which on a real
// floppy drive turns the motor.
constexpr auto kImagePoll = std::chrono::milliseconds(250);
constexpr auto kDrivePoll = std::chrono::milliseconds(750);

}  // namespace

std::optional<std::string> nameDriveANow(const std::string& path) {
    auto opened = platform::DriveA::open();
    if (!opened) return std::nullopt;
    const std::string description =
        (*opened)->isBlockDevice() ? platform::describeBlockDevice(path) : std::string();
    return platform::nameDrive(path, description, (*opened)->sizeBytes());
}

bool awaitNewMedium(const std::string& path, const std::function<void()>& announce) {
    // Caught for the wait only: an interrupt ends the row of diskettes, and the program ends
    // by it once its report is out.
    platform::InterruptCatch interrupts;
    std::uint64_t ignored = 0;
    const bool imageFile = sys::kindAt(path, ignored) == sys::PathKind::RegularFile;
    // Drive A: stays held while the next diskette is awaited, so that another build cannot
    // write to it meanwhile. Let go before this run's next build holds it again. An image that
    // could not be replaced while held (on Windows) is not held: its replacement is the very
    // next diskette awaited.
    platform::ExclusiveHold hold;
    if (!imageFile || sys::openFileCanBeReplaced()) hold = platform::ExclusiveHold::driveA();
    const auto before = sys::lookAtFile(path);
    const auto mediumBefore = imageFile ? std::nullopt : mediumInDrive(path);
    bool emptied = imageFile ? !before : !mediumBefore;
    if (announce) announce();
    platform::pausePoint("awaiting the next diskette");
    for (;;) {
        std::this_thread::sleep_for(imageFile ? kImagePoll : kDrivePoll);
        if (platform::interrupted()) {
            // The program ends by the signal once its report is out.
            interrupts.raiseCaught();
            return false;
        }
        const auto now = sys::lookAtFile(path);
        if (imageFile) {
            // An image is another diskette only as another file at its path: a write to the
            // one there, by another program or a touch, changes nothing of which it is.
            if (!now) {
                emptied = true;
                continue;
            }
            if (!emptied && sameFileAt(now, before)) continue;
            hold = {};  // what was held is the file that went
            if (platform::DriveA::open().ok()) return true;
            continue;
        }
        // A block device's node stays as it is: a medium taken out shows the change, and a
        // diskette swapped for another in one move (a drive that tells no one, or a driver
        // that notices only at the next open) shows another first sector.
        const auto medium = now ? mediumInDrive(path) : std::nullopt;
        if (!medium) {
            emptied = true;
            continue;
        }
        if (emptied || !sameFileAt(now, before) || *medium != *mediumBefore) return true;
    }
}

std::string announceDrive(const DriveTarget& target) {
    return "Drive A: is " + platform::nameDrive(target.path, target.description, target.bytes);
}

std::string createBlankImage(const std::string& path) {
    const auto made = platform::createBlankDiskette(path);
    return made ? std::string() : made.message();
}

DriveTarget prepareDrive(const std::optional<std::string>& drive, bool create) {
    DriveTarget target;
    const bool named = drive || !platform::driveASetting().empty();
    // A drive named by an earlier run in this process counts no more.
    platform::setDriveASelection({});
    std::string path = drive ? *drive : platform::driveAPath();
    // A drive letter ("A:", "a:\", "\\.\A:") names the drive itself, spelt as the user
    // knows it; made absolute it would become that drive's current folder.
    const auto letter = platform::driveLetterOf(path);
    if (letter) {
        target.path = std::string(1, *letter) + ":";
    } else {
        // The dialog changes the current directory; the drive must stay the one named here.
        target.path = platform::absoluteHostPath(path);
    }

    if (create) {
        if (!named) {
            target.message = "--create needs the image's path: give --drive PATH";
            return target;
        }
        if (letter) {
            target.message = "--create makes a diskette image file, and " + target.path +
                             " is a drive: put a diskette in it, or name an image file";
            return target;
        }
        if (platform::isDeviceNamespace(target.path)) {
            target.message = "--create makes a diskette image file, and " + target.path +
                             " is a device's name: name an image file";
            return target;
        }
        std::string why;
        if (sys::nothingAt(target.path, why)) {
            if (auto error = createBlankImage(target.path); !error.empty()) {
                target.message =
                    "cannot create a blank diskette image at " + target.path + ": " + error;
                return target;
            }
            target.message = "created a blank 1.44 MB diskette image at " + target.path;
        } else if (!why.empty()) {
            target.message = "cannot look at " + target.path + ": " + why;
            return target;
        }
    }

    // The drive stays this one for the whole run, whatever is plugged in or set meanwhile.
    platform::setDriveASelection({.named = target.path, .chosenThisRun = {}});
    if (const auto medium = platform::measureMediumAt(target.path)) {
        target.device = medium->blockDevice;
        target.measuredBytes = medium->bytes;
    }
    const auto look = sys::lookAtFile(target.path);
    if (look && platform::isRegularFile(target.path) && !platform::isDisketteSize(look->size)) {
        target.message =
            "not a diskette: " + target.path + " " + platform::disketteSizeRefusal(look->size);
        return target;
    }
    auto opened = platform::DriveA::open();
    if (opened) {
        target.state = DriveTarget::State::Ready;
        target.bytes = (*opened)->sizeBytes();
        if ((*opened)->isBlockDevice()) {
            target.description = platform::describeBlockDevice(target.path);
        }
        return target;
    }
    const std::string& why = opened.message();
    // A drive closed to this user is no usage error: the dialog says so, naming the way out.
    if (opened.kind() == base::Failure::PermissionDenied) {
        target.state = DriveTarget::State::Empty;
        return target;
    }
    if (opened.kind() == base::Failure::NoMedium) {
        target.state = DriveTarget::State::Empty;
        target.message = why;
        // --create makes image files only, never a drive named by its letter.
        if (!letter && !sys::lookAtFile(target.path)) {
            target.message += "; --create makes a blank 1.44 MB image there";
        }
        return target;
    }
    target.message = why;
    if (opened.kind() == base::Failure::NotDiskette) {
        target.message += "; drive A: must be a diskette image or a floppy block device";
        // A refusal of the size names the sizes already.
        if (why.find(platform::disketteSizes()) == std::string::npos) {
            target.message += " (" + platform::disketteSizes() + ")";
        }
    }
    return target;
}

}  // namespace cli
