// The program's own texts: every message box the dialog shows and every status-line text, in
// one place. The dialog's operations and the tests take them from here; a text is changed here
// and nowhere else (tests/app/messages_test.cpp holds each one against its letters, spaces,
// tabs and line breaks, so that a change is always a deliberate one).
//
// These are sentences for people. No code decides anything by reading them: what a build came
// to is in the dialog's outcome record (build/build_outcome.h).
#pragma once

#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "platform/staging_area.h"

namespace texts {

// ---- The status line ----

// While a file of the list is copied onto the diskette.
inline std::string copying(const std::string& name) {
    return "Copying " + name + "...";
}

inline constexpr char kUpdatingBootSector[] = "Updating Boot Sector...";
// The status line while the built diskette is read back and compared with its sources.
inline constexpr char kReadingBack[] = "Reading the diskette back...";

// ---- The build's questions and its end ----

// Before anything is written: is this the project folder meant?
inline std::string confirmProject(const std::string& projectPath) {
    return "The current selected folder for the project tip is:\t\n" + projectPath +
           "\n\nDo you want to proceed ?";
}

inline constexpr char kSucceeded[] =
    "Crisis Recovery Diskette was Successfully Created. \n\n            PLEASE REMOVE "
    "DISKETTE ! \n";

// The success box's details when drive A: is an image file: there is no diskette to take out.
inline std::string imageWritten(const std::string& image) {
    return "Drive A: is the image file " + image +
           ": the diskette was written into it, and there is no diskette to remove.";
}

inline constexpr char kAnotherDiskette[] =
    " Do you wish to create another Crisis Diskette ? \n\n If Yes, Please insert a new diskette "
    "now.  \n\n";

// ---- The diskette ----

inline constexpr char kNoFloppy[] =
    " There is no floppy in drive A:, insert a floppy and press Start Button again.\t";

// Drive A: exists but this user may not open it; `wayOut` says what would let them.
inline std::string noAccess(const std::string& device, std::string wayOut) {
    if (!wayOut.empty()) wayOut[0] = static_cast<char>(std::toupper(wayOut[0]));
    return " You have no permission to use drive A: (" + device + ").\n\n " + wayOut +
           ". Then press Start Button again.\t";
}

inline constexpr char kBootSectorFailed[] =
    " The boot sector could not be written to the diskette.\n\n The diskette will not start the "
    "machine: create it again.\n";

// crisboot.bin in the start directory is missing, short or made for another medium: found
// before anything was written, so the diskette is as it was.
inline std::string bootImageUnusable(const std::string& startDir, const std::string& detail) {
    return " The boot sector image crisboot.bin in the start directory cannot be used:\n " +
           startDir + "\n " + detail +
           "\n\n Nothing was written. Put the kit's crisboot.bin there, then press Start "
           "again.\t";
}

// The diskette read back after the copy does not hold what the build meant to write: `file` is
// the first file that differs, crisboot.bin for sector 0, empty when nothing could be read.
inline std::string differs(const std::string& file) {
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

// ---- The project folder and the copies ----

inline constexpr char kProjectRefused[] =
    "Project Path Must be Specified!\nThe folder must contain both BIOS.ROM and PLATFORM.BIN "
    "files,\nor a BIOS.QVX file\n\nEnter Project Path or Select Browser.\t";

inline std::string copyFailed(const std::string& name) {
    return " Failed to copy " + name +
           " file.\n\n  - Make sure Diskette format completed. \n  - Check if file exists. \n\n "
           "When ready, try again.\n";
}

// ---- What the files hold ----

// The payload checks doubt a file of the diskette; asked before anything is erased. `doubts`
// names each file and what was found, one line each, indented by one space.
inline std::string payloadQuestion(const std::string& doubts) {
    return " The BIOS files for this diskette may not be right for the board:\n" + doubts +
           "\n Nothing has been erased yet. Put them on the diskette all the same?\t";
}

// ---- The start directory ----

// The start directory does not fit its 128-character field; `where` is empty when not even
// its name could be found out.
inline std::string startDirTooLong(const std::string& where) {
    return " The start directory cannot be used:\n" + (where.empty() ? "(unknown)" : where) +
           "\n\n It must be at most 127 characters long. Start the program from a shorter "
           "folder.\t";
}

// Names listed as one per line, each indented by one space.
inline std::string nameLines(const std::vector<std::string>& names) {
    std::string lines;
    for (const std::string& name : names) lines += " " + name + "\n";
    return lines;
}

// A symbolic link where the build would stage or remove a file: written through, it would
// change a file elsewhere; removed, the user's link would be gone.
inline std::string linkRefused(const std::vector<std::string>& links) {
    return " The start directory holds a symbolic link where the build puts its files:\n" +
           nameLines(links) +
           "\n Nothing was written. Replace the link by the file itself, or remove it, then "
           "press Start again.\t";
}

// What the build found in the start directory that is not as its journal recorded, one line
// each: what the file is and what to do with it.
inline std::string leftoverLines(const std::vector<platform::StagingLeftover>& left) {
    using What = platform::StagingLeftover::What;
    std::string lines;
    for (const platform::StagingLeftover& l : left) {
        const std::string why = !l.reason.empty() ? " (" + l.reason + ")" : std::string();
        lines += "  " + l.name + ": ";
        switch (l.what) {
            case What::Copy:
                lines += !l.reason.empty() ? "the build's copy, which could not be removed" + why
                                           : std::string(
                                                 "the build's copy, changed since, or a file "
                                                 "put there since");
                lines += "; delete it unless it is yours";
                if (!l.other.empty()) lines += " (your own is " + l.other + ")";
                break;
            case What::Partial:
                lines += "a temporary name of the build's" +
                         (!l.reason.empty() ? ", which could not be removed" + why : "") +
                         "; delete it";
                break;
            case What::UsersFile:
                lines += "your own " + l.other + ", moved aside by the build" +
                         (!l.reason.empty() ? ", which could not be put back" + why : "") +
                         "; rename it back to " + l.other + " once that name is free";
                break;
            case What::Journal:
                lines += "the build's record of what it staged, which cannot be used: " +
                         (l.other.empty() ? l.reason : l.other);
                break;
        }
        lines += "\n";
    }
    return lines;
}

inline constexpr char kLeftoverWayOut[] =
    "\n No build uses the start directory until you have decided. When each file is as you "
    "want it, delete .quenvol-staging there, then press Start again.\t";

// A staging journal left by a build that ended early names files that are no longer as it
// left them (or it cannot be read): they may be the user's, so they stay, and so does the
// journal, until the user has decided.
inline std::string leftBehind(const std::vector<platform::StagingLeftover>& left) {
    return " A build that was interrupted left files in the start directory that it cannot "
           "tell from yours:\n" +
           leftoverLines(left) + kLeftoverWayOut;
}

// This build's clean-up could not put the start directory back as it was.
inline std::string notPutBack(const std::vector<platform::StagingLeftover>& left) {
    return " The start directory could not be put back as it was after this build:\n" +
           leftoverLines(left) + kLeftoverWayOut;
}

// What the build would stage, or a file of the list, cannot go onto any diskette of the
// medium in drive A:, or the start directory cannot take the staged copies; found before the
// diskette is erased.
inline std::string startDirUnfit(const std::string& startDir, const std::string& detail) {
    return " The files for this diskette cannot be prepared in the start directory:\n " + startDir +
           "\n " + detail +
           "\n\n Nothing was erased. Press Start again when it is "
           "fixed.\t";
}

// The diskette in drive A:, left as it was, cannot take the files beside what it keeps: found
// before anything was written to it.
inline std::string disketteFull(const std::string& detail) {
    return " The diskette in drive A: has not the room for this diskette's files:\n " + detail +
           "\n\n Nothing was written to it. Format it, or insert another diskette, then press "
           "Start again.\t";
}

// Staging or its clean-up in the start directory failed.
inline std::string startDirFailed(const std::string& detail) {
    return " The start directory could not be used for this build:\n " + detail +
           "\n\n Nothing of yours there was changed. Press Start again when it is fixed.\t";
}

// ---- One build at a time ----

inline std::string driveHeldByBuild(const std::string& drive) {
    return " Drive A: is in use by another build:\n " + drive +
           "\n\n Wait until that build has ended, then press Start again.\t";
}

// `how`, when known, says how it is in use: under another name, or locked by a program.
inline std::string driveInUse(const std::string& drive, const std::string& how = {}) {
    return " Drive A: is mounted or in use by another program:\n " + drive +
           (how.empty() ? "" : "\n " + how) +
           "\n\n Unmount it or end that program, then press Start again.\t";
}

inline std::string driveNotHeld(const std::string& drive, const std::string& detail) {
    return " Drive A: cannot be held for this build:\n " + drive + "\n " + detail + "\t";
}

inline std::string startDirHeldByBuild(const std::string& folder) {
    return " The start directory is in use by another build:\n " + folder +
           "\n\n Wait until that build has ended, then press Start again.\t";
}

inline std::string startDirNotHeld(const std::string& folder, const std::string& detail) {
    return " The start directory cannot be held for this build:\n " + folder + "\n " + detail +
           "\t";
}

// ---- The desktop's drives ----

// Drive A: is a diskette the desktop mounted; `mounts` says which file system where.
inline std::string unmountQuestion(const std::string& drive, const std::string& mounts) {
    return " The diskette in drive A: is mounted:\n " + drive + ": " + mounts +
           "\n\n It must be unmounted before it can be built. Unmount it now?\t";
}

inline std::string unmountFailed(const std::string& drive, const std::string& detail) {
    return " The diskette in drive A: could not be unmounted:\n " + drive + "\n " + detail +
           "\n\n Nothing was written. Press Start again when it is fixed.\t";
}

// After the success message, where the drive can eject its diskette, or else be powered off.
inline constexpr char kEjectQuestion[] = " Eject the diskette from drive A: now?\t";
inline constexpr char kPowerOffQuestion[] =
    " Drive A: cannot eject the diskette, but it can be powered off so that it may be "
    "unplugged.\n\n Power it off now?\t";

inline std::string removalFailed(const std::string& detail) {
    return " The diskette could not be ejected:\n " + detail +
           "\n\n Take it out of the drive by hand.\t";
}

// ---- What the program keeps ----

inline std::string buildLogFailed(const std::string& detail) {
    return " The build log could not be written:\n " + detail +
           "\n\n The diskette is not affected.\t";
}

inline std::string historyNotSaved(const std::string& detail) {
    return " The recent project folders could not be saved:\n " + detail + "\t";
}

}  // namespace texts
