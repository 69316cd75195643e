#include "cli/drive_target.h"

#include <cstdio>
#include <cstdlib>
#include <thread>

#include "cli/system.h"
#include "platform/drive_a.h"
#include "platform/drive_format.h"
#include "platform/floppy_drives.h"
#include "platform/host_system.h"
#include "platform/interrupts.h"
#include "platform/win_path.h"

namespace cli {
namespace {

// What tells one diskette in drive A: from the next.
struct MediumLook {
    bool present = false;
    std::optional<sys::FileLook> file;
};

MediumLook lookAt(const std::string& path) {
    return {platform::DriveA::open().ok(), sys::lookAtFile(path)};
}

}  // namespace

std::optional<std::string> nameDriveANow(const std::string& path) {
    auto opened = platform::DriveA::open();
    if (!opened) return std::nullopt;
    const std::string description =
        (*opened)->isBlockDevice() ? platform::describeBlockDevice(path) : std::string();
    return platform::nameDrive(path, description, (*opened)->sizeBytes());
}

bool awaitNewMedium(const std::string& path, const std::function<void()>& announce) {
    // Caught for the wait only: an interrupt ends the row of diskettes, not the program, so
    // that the list of recent project folders is still saved.
    platform::InterruptCatch interrupts;
    const MediumLook before = lookAt(path);
    bool emptied = !before.present;
    if (announce) announce();
    for (;;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
        if (platform::interrupted()) return false;
        const MediumLook now = lookAt(path);
        if (!now.present) {
            emptied = true;
            continue;
        }
        // A block device's node stays as it is; only a medium taken out shows the change.
        if (emptied || now.file != before.file) return true;
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
        if (!sys::lookAtFile(target.path)) {
            target.message += "; --create makes a blank 1.44 MB image there";
        }
        return target;
    }
    target.message = why;
    if (opened.kind() == base::Failure::NotDiskette) {
        target.message += "; drive A: must be a diskette image or a floppy block device (" +
                          platform::disketteSizes() + ")";
    }
    return target;
}

}  // namespace cli
