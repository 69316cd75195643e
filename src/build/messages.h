// The build's failure messages that more than one operation shows.
#pragma once

#include <cctype>
#include <string>

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

}  // namespace build
