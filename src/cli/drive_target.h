// The diskette drive named on the command line, looked at (and, with --create, made) before
// the dialog runs, so that a path that can never be a diskette is refused with its reason.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "cli/system.h"
#include "platform/diskette_image.h"

namespace cli {

inline constexpr unsigned long kBlankImageBytes = platform::kBlankDisketteBytes;

struct DriveTarget {
    enum class State {
        Ready,     // a diskette-sized image or device
        Empty,     // nothing there, a drive without a medium, or one this user may not
                   // open: the dialog says so itself
        Unusable,  // can never be a diskette (wrong size or kind, cannot be created)
    };
    State state = State::Unusable;
    std::string path;     // absolute
    std::string message;  // for Empty and Unusable: what is wrong; for Ready: what was done
    // Ready only: the medium's size, and for a block device its vendor and model.
    std::uint64_t bytes = 0;
    std::string description;
    // What was refused, for the record: whether it is a block device and its size, where it
    // could be measured (Ready and Unusable).
    bool device = false;
    std::optional<std::uint64_t> measuredBytes;
};

// "Drive A: is /dev/sdb, TEAC FD-05PUB, 1,474,560 bytes": said before anything is erased.
std::string announceDrive(const DriveTarget& target);

// Resolves the drive (`drive`, else drive A: as the platform finds it), creates a blank image
// there when `create` is set and nothing exists at that path, names it to the platform as
// drive A: for the rest of the run, and looks at it without writing.
DriveTarget prepareDrive(const std::optional<std::string>& drive, bool create);

// Drive A: as it is now, named for the question before it is erased ("/dev/sdb, TEAC
// FD-05PUB, 1,474,560 bytes"); none when it holds no diskette that can be opened.
std::optional<std::string> nameDriveANow(const std::string& path);

// The same file (or device node) as before at a path: the same volume and file number,
// whatever was written to it since; two looks at nothing are the same too.
bool sameFileAt(const std::optional<sys::FileLook>& a, const std::optional<sys::FileLook>& b);

// Waits until drive A: at `path` holds another diskette than now: a block device's medium
// taken out and one put in, or an image file replaced by another file (never a write to the
// same file). Drive A: is held meanwhile, so another build is refused as in use. `announce`
// is called once the diskette in the drive now has been looked at. False when SIGINT, SIGTERM
// or SIGHUP came first (interruptSignal() says which).
bool awaitNewMedium(const std::string& path, const std::function<void()>& announce);

// Creates a zero-filled 1.44 MB image at `path`; fails when anything exists there already.
// Returns an empty string on success, else the reason.
std::string createBlankImage(const std::string& path);

}  // namespace cli
