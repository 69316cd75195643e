// The command line of quenvol-cli: options turned into one Options record, or a sentence
// saying what is wrong with them.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace cli {

// The radio group's order: the value is the dialog's disk kind.
enum class DiskKind { Minidos = 0, Fulldos = 1, FormatOnly = 2 };

// How the steps of a run are shown: a line redrawn on a terminal (plain lines elsewhere),
// always plain lines, or one JSON object a line on standard output for front-ends.
enum class ProgressMode { Auto, Plain, Json };

struct Options {
    DiskKind kind = DiskKind::Minidos;
    std::optional<std::string> drive;  // none: drive A: as the dialog finds it
    // Every --drive in the order given: two or more build the same diskette in each at once.
    std::vector<std::string> drives;
    bool allDrives = false;    // every floppy drive found that holds a diskette
    bool retryFailed = false;  // the drives that failed in the last run on several drives
    // The worker of a run on several drives: writes this finished image to --drive, reads it
    // back and reports each step as a line on standard output (not for people; not in --help).
    std::optional<std::string> copyImage;
    bool create = false;
    bool yes = false;
    // Yes to the question the payload checks' doubts ask, which --yes leaves to the user.
    bool acceptPayloadWarnings = false;
    bool noFormat = false;
    bool full = false;
    std::string label;
    bool verify = false;
    bool unmount = false;  // a mounted diskette in drive A: is unmounted without asking
    bool eject = false;    // after a build the diskette is ejected where the drive can do it
    bool listDrives = false;
    std::optional<std::string> backup;  // the old diskette is read into this file first
    bool backupSkipBad = false;
    std::optional<std::string> saveImage;   // only read drive A: into this file
    std::optional<unsigned> bootCheck;      // seconds in the emulator after the build (or alone)
    std::optional<std::string> bootScreen;  // a PNG of the emulated screen at the end
    bool json = false;
    ProgressMode progress = ProgressMode::Auto;
    bool plan = false;   // only say what a build would do; drive A: is not touched
    unsigned count = 1;  // diskettes to build in a row; 0: until interrupted
    bool quiet = false;
    bool help = false;
    bool version = false;
    // Joined by single blanks they are the dialog's command-line text.
    std::vector<std::string> projectWords;

    bool operator==(const Options&) const = default;
};

struct ParsedArguments {
    Options options;
    std::string error;  // empty when the arguments are usable
    bool ok() const { return error.empty(); }
};

// `args` are the arguments after the program's name, read in the GNU manner: options may come
// anywhere; "--" ends them, so that a project path may begin with a dash; a long option may be
// shortened to any unambiguous beginning; a value is given as the next word or after "=" (and
// right after a short option's letter). The last of a repeated option counts.
// --drive given more than once names several drives (Options::drives).
ParsedArguments parseArguments(const std::vector<std::string>& args);

inline constexpr char kVersion[] = "1.0";

// The texts of --help and --version.
std::string usageText();
std::string versionText();

const char* kindName(DiskKind kind);

// A run that builds the same diskette in several drives at once.
inline bool onSeveralDrives(const Options& o) {
    return o.drives.size() > 1 || o.allDrives || o.retryFailed;
}

}  // namespace cli
