// The one place where the program's texts are written out letter for letter: every other test
// takes them from app/messages.h, so this table is what keeps a change to one of them from
// passing unnoticed. Spaces, tabs and line breaks count.
#include "app/messages.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

namespace {

TEST(Messages, EachTextIsExactlyAsWritten) {
    using Left = platform::StagingLeftover;
    struct Row {
        const char* name;
        std::string home;
        std::string literal;
    };
    const std::vector<Row> rows = {
        {"copying", texts::copying("bios.rom"), "Copying bios.rom..."},
        {"updating boot sector", texts::kUpdatingBootSector, "Updating Boot Sector..."},
        {"confirm project", texts::confirmProject("C:\\P"),
         "The current selected folder for the project tip is:\t\nC:\\P\n\nDo you want to "
         "proceed ?"},
        {"succeeded", texts::kSucceeded,
         "Crisis Recovery Diskette was Successfully Created. \n\n            PLEASE REMOVE "
         "DISKETTE ! \n"},
        {"another diskette", texts::kAnotherDiskette,
         " Do you wish to create another Crisis Diskette ? \n\n If Yes, Please insert a new "
         "diskette now.  \n\n"},
        {"no floppy", texts::kNoFloppy,
         " There is no floppy in drive A:, insert a floppy and press Start Button again.\t"},
        {"no access", texts::noAccess("/dev/fd0", "join the group \"floppy\""),
         " You have no permission to use drive A: (/dev/fd0).\n\n Join the group \"floppy\". "
         "Then press Start Button again.\t"},
        {"boot sector failed", texts::kBootSectorFailed,
         " The boot sector could not be written to the diskette.\n\n The diskette will not start "
         "the machine: create it again.\n"},
        {"boot image unusable", texts::bootImageUnusable("/k", "crisboot.bin holds 3 bytes"),
         " The boot sector image crisboot.bin in the start directory cannot be used:\n /k\n "
         "crisboot.bin holds 3 bytes\n\n Nothing was written. Put the kit's crisboot.bin there, "
         "then press Start again.\t"},
        {"start directory unfit", texts::startDirUnfit("/k", "bios.rom is too large"),
         " The files for this diskette cannot be prepared in the start directory:\n /k\n "
         "bios.rom is too large\n\n Nothing was erased. Press Start again when it is "
         "fixed.\t"},
        {"differs: boot sector", texts::differs("crisboot.bin"),
         " The boot sector on the diskette differs from crisboot.bin.\n\n Do not use this "
         "diskette: create it again.\n"},
        {"differs: unreadable", texts::differs(""),
         " The diskette in drive A: could not be read back.\n\n Do not use this diskette: create "
         "it again.\n"},
        {"differs: a file", texts::differs("bios.rom"),
         " The file bios.rom on the diskette does not match its source.\n\n Do not use this "
         "diskette: create it again.\n"},
        {"payload question", texts::payloadQuestion(" bios.rom: 1 warning\n"),
         " The BIOS files for this diskette may not be right for the board:\n bios.rom: 1 "
         "warning\n\n Nothing has been erased yet. Put them on the diskette all the same?\t"},
        {"project refused", texts::kProjectRefused,
         "Project Path Must be Specified!\nThe folder must contain both BIOS.ROM and PLATFORM.BIN "
         "files,\nor a BIOS.QVX file\n\nEnter Project Path or Select Browser.\t"},
        {"copy failed", texts::copyFailed("vgabios.exe"),
         " Failed to copy vgabios.exe file.\n\n  - Make sure Diskette format completed. \n  - "
         "Check if file exists. \n\n When ready, try again.\n"},
        {"start directory too long", texts::startDirTooLong("/s"),
         " The start directory cannot be used:\n/s\n\n It must be at most 127 characters long. "
         "Start the program from a shorter folder.\t"},
        {"start directory unknown", texts::startDirTooLong(""),
         " The start directory cannot be used:\n(unknown)\n\n It must be at most 127 characters "
         "long. Start the program from a shorter folder.\t"},
        {"link refused", texts::linkRefused({"bios.rom", "vgabios.exe"}),
         " The start directory holds a symbolic link where the build puts its files:\n bios.rom\n"
         " vgabios.exe\n\n Nothing was written. Replace the link by the file itself, or remove "
         "it, then press Start again.\t"},
        {"left behind",
         texts::leftBehind({{Left::What::Copy, "vgabios.exe", "vgabios.exe.yours", {}},
                            {Left::What::UsersFile, "vgabios.exe.yours", "vgabios.exe", {}},
                            {Left::What::Partial, ".quenvol-staging.bios.rom.part", "", {}},
                            {Left::What::Journal, ".quenvol-staging", "it is empty", {}}}),
         " A build that was interrupted left files in the start directory that it cannot tell "
         "from yours:\n  vgabios.exe: the build's copy, changed since, or a file put there "
         "since; delete it unless it is yours (your own is vgabios.exe.yours)\n  "
         "vgabios.exe.yours: your own vgabios.exe, moved aside by the build; rename it back to "
         "vgabios.exe once that name is free\n  .quenvol-staging.bios.rom.part: a temporary "
         "name of the build's; delete it\n  .quenvol-staging: the build's record of what it "
         "staged, which cannot be used: it is empty\n\n No build uses the start directory "
         "until you have decided. When each file is as you want it, delete .quenvol-staging "
         "there, then press Start again.\t"},
        {"not put back",
         texts::notPutBack({{Left::What::Copy, "bios.rom", "", std::strerror(EROFS)}}),
         " The start directory could not be put back as it was after this build:\n  bios.rom: "
         "the build's copy, which could not be removed (Read-only file system); delete it "
         "unless it is yours\n\n No build uses the start directory until you have "
         "decided. When each file is as you want it, delete .quenvol-staging there, then press "
         "Start again.\t"},
        {"start directory failed", texts::startDirFailed("why"),
         " The start directory could not be used for this build:\n why\n\n Nothing of yours "
         "there was changed. Press Start again when it is fixed.\t"},
        {"drive held by a build", texts::driveHeldByBuild("/i"),
         " Drive A: is in use by another build:\n /i\n\n Wait until that build has ended, then "
         "press Start again.\t"},
        {"drive in use", texts::driveInUse("/i"),
         " Drive A: is mounted or in use by another program:\n /i\n\n Unmount it or end that "
         "program, then press Start again.\t"},
        {"drive in use, and how", texts::driveInUse("/i", "how"),
         " Drive A: is mounted or in use by another program:\n /i\n how\n\n Unmount it or end "
         "that program, then press Start again.\t"},
        {"drive not held", texts::driveNotHeld("/i", "why"),
         " Drive A: cannot be held for this build:\n /i\n why\t"},
        {"unmount question", texts::unmountQuestion("/dev/sdb", "vfat at /media/a"),
         " The diskette in drive A: is mounted:\n /dev/sdb: vfat at /media/a\n\n It must be "
         "unmounted before it can be built. Unmount it now?\t"},
        {"unmount failed", texts::unmountFailed("/dev/sdb", "why"),
         " The diskette in drive A: could not be unmounted:\n /dev/sdb\n why\n\n Nothing was "
         "written. Press Start again when it is fixed.\t"},
        {"eject question", texts::kEjectQuestion, " Eject the diskette from drive A: now?\t"},
        {"power-off question", texts::kPowerOffQuestion,
         " Drive A: cannot eject the diskette, but it can be powered off so that it may be "
         "unplugged.\n\n Power it off now?\t"},
        {"removal failed", texts::removalFailed("why"),
         " The diskette could not be ejected:\n why\n\n Take it out of the drive by hand.\t"},
        {"start directory held by a build", texts::startDirHeldByBuild("/s"),
         " The start directory is in use by another build:\n /s\n\n Wait until that build has "
         "ended, then press Start again.\t"},
        {"start directory not held", texts::startDirNotHeld("/s", "why"),
         " The start directory cannot be held for this build:\n /s\n why\t"},
        {"build log failed", texts::buildLogFailed("why"),
         " The build log could not be written:\n why\n\n The diskette is not affected.\t"},
        {"history not saved", texts::historyNotSaved("why"),
         " The recent project folders could not be saved:\n why\t"},
    };
    for (const Row& row : rows) EXPECT_EQ(row.home, row.literal) << row.name;
}

}  // namespace
