// The build's failure messages that more than one operation shows.
#pragma once

#include <cctype>
#include <string>
#include <vector>

namespace build {

inline std::string CopyFailedMessage(const std::string& name) {
    return " Failed to copy " + name +
           " file.\n\n  - Make sure Diskette format completed. \n  - Check if file exists. \n\n "
           "When ready, try again.\n";
}

inline constexpr char kBootSectorFailedMessage[] =
    " The boot sector could not be written to the diskette.\n\n The diskette will not start the "
    "machine: create it again.\n";

// The diskette read back after the copy does not hold what the build meant to write.
inline std::string DiffersMessage(const std::string& file) {
    if (file == "crisboot.bin") {
        return " The boot sector on the diskette differs from crisboot.bin.\n\n Do not use this "
               "diskette: create it again.\n";
    }
    if (file.empty()) {
        return " The diskette in drive A: could not be read back.\n\n Do not use this diskette: "
               "create it again.\n";
    }
    return " The file " + file +
           " on the diskette does not match its source.\n\n Do not use this diskette: create it "
           "again.\n";
}

// Drive A: exists but this user may not open it.
inline std::string NoAccessMessage(const std::string& device, std::string wayOut) {
    if (!wayOut.empty()) wayOut[0] = static_cast<char>(std::toupper(wayOut[0]));
    return " You have no permission to use drive A: (" + device + ").\n\n " + wayOut +
           ". Then press Start Button again.\t";
}

// Names listed as one per line, each indented by one space.
inline std::string NameLines(const std::vector<std::string>& names) {
    std::string lines;
    for (const std::string& name : names) lines += " " + name + "\n";
    return lines;
}

// A symbolic link where the build would stage or remove a file: written through, it would
// change a file elsewhere; removed, the user's link would be gone.
inline std::string LinkRefusedMessage(const std::vector<std::string>& links) {
    return " The start directory holds a symbolic link where the build puts its files:\n" +
           NameLines(links) +
           "\n Nothing was written. Replace the link by the file itself, or remove it, then "
           "press Start again.\t";
}

// A staging journal left by a build that ended early listed files that are no longer as it
// left them: they may be the user's, so they stay, and this build stops to say so.
inline std::string LeftBehindMessage(const std::vector<std::string>& names) {
    return " A build that was interrupted left files in the start directory that have changed "
           "since:\n" +
           NameLines(names) +
           "\n They were left as they are. Check them, then press Start again.\t";
}

// Staging or its clean-up in the start directory failed.
inline std::string StartDirFailedMessage(const std::string& detail) {
    return " The start directory could not be used for this build:\n " + detail +
           "\n\n Nothing of yours there was changed. Press Start again when it is fixed.\t";
}

}  // namespace build
