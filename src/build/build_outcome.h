// What a build came to and what it wrote, kept as data on the main dialog: quenvol-cli takes
// its result and the cause of a failure from here (never from a message's words), and the
// read-back check takes the files to compare and their sources.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/result.h"

namespace build {

struct Outcome {
    enum class Kind {
        None,              // no build has ended
        NoDiskette,        // the presence check read nothing
        NoAccess,          // this user may not open drive A:
        ProjectRefused,    // the project folder holds no usable BIOS image
        Declined,          // No to the project folder
        PayloadDeclined,   // No to the files whose contents the payload checks doubted
        CopyFailed,        // a file could not be staged or copied onto the diskette
        BootSectorFailed,  // crisboot.bin does not fit the diskette, or sector 0 was not written
        Differs,           // the diskette read back does not match the build's sources
        StartDirRefused,   // a link where files are staged, or files an earlier build left
        Interrupted,       // SIGINT, SIGTERM or SIGHUP ended the build
        Succeeded,
    };
    Kind kind = Kind::None;
    std::string file;    // the file concerned, as the message names it
    std::string detail;  // what failed underneath: the file, the operation, the system's words
    // The kind of that failure underneath (write protection, permission...), for exit statuses;
    // none for a success, and for an outcome that no failure underneath caused.
    std::optional<base::Failure> failure;
    int serial = 0;  // grows with every outcome, so that a reader can tell a new one
};

// A file the build put on the diskette, and the file it was first copied from: the kit's
// file, the project's file it was staged from, or the user's own file in the start directory.
struct WrittenFile {
    std::string name;    // on the diskette, as the file list spells it
    std::string source;  // host path
};

struct Written {
    std::vector<WrittenFile> files;
    std::optional<std::vector<std::uint8_t>> bootSector;  // the 512 bytes meant for sector 0
};

}  // namespace build
