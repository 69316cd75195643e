#include "framework/shell.h"

#include <cctype>
#include <string>

#include "platform/text_case.h"

struct ModuleObject {
    int loads = 0;
};

namespace {

ModuleObject g_shell;

}  // namespace

HMODULE LoadLibraryA(const char* name) {
    if (!name || !platform::sameIgnoringCase(name, "shell32.dll")) return nullptr;
    ++g_shell.loads;
    return &g_shell;
}

FARPROC GetProcAddress(HMODULE module, const char* name) {
    if (module != &g_shell || g_shell.loads == 0 || !name || std::string(name) != "SHFormatDrive")
        return nullptr;
    return reinterpret_cast<FARPROC>(&SHFormatDrive);
}

BOOL FreeLibrary(HMODULE module) {
    if (module != &g_shell || g_shell.loads == 0) return FALSE;
    --g_shell.loads;
    return TRUE;
}

DWORD SHFormatDrive(HWND owner, UINT drive, UINT, UINT) {
    AfxBackend().formatDrive(owner, drive);
    return 0;
}

namespace shell {
namespace {

using platform::FailedTransfer;
using platform::FormatStage;

// Drive A: refused to be opened: what the user should do about it.
const char* openingSentence(base::Failure kind) {
    switch (kind) {
        case base::Failure::NoMedium:
            return "There is no diskette in drive A:. Insert a diskette and try again.";
        case base::Failure::NotDiskette:
            return "Drive A: does not hold a diskette, so nothing was formatted.";
        case base::Failure::WriteProtected:
            return "The diskette in drive A: is write-protected. Remove the write protection and "
                   "try again.";
        case base::Failure::PermissionDenied:
            return "You have no permission to use drive A:. Join the group that owns the drive, "
                   "or run the program with access to it, then try again.";
        case base::Failure::Busy:
            return "Drive A: is in use by another program or is mounted. Close that program or "
                   "unmount the drive, then try again.";
        case base::Failure::NoRoom:
        case base::Failure::IoError:
        case base::Failure::BadData:
        case base::Failure::Other:
            break;
    }
    return "Drive A: could not be opened for formatting.";
}

// "a write error at sector 7", "a read error at sectors 19 to 32".
std::string whereItFailed(const FailedTransfer& t) {
    if (t.op == FailedTransfer::Op::Flush) return "the last writes could not be completed";
    const std::string where = t.count == 1
                                  ? "at sector " + std::to_string(t.first)
                                  : "at sectors " + std::to_string(t.first) + " to " +
                                        std::to_string(std::uint64_t{t.first} + t.count - 1);
    return std::string("a ") + (t.op == FailedTransfer::Op::Read ? "read" : "write") + " error " +
           where;
}

}  // namespace

std::string formatFailureSentence(const platform::FormatFailure& failure) {
    switch (failure.stage) {
        case FormatStage::Opening:
            return openingSentence(failure.error.kind());
        case FormatStage::Preparing:
            return "Drive A: was not formatted: " + failure.error.detail() + ".";
        case FormatStage::Writing:
            break;
    }
    std::string sentence = "The format of drive A: failed";
    if (failure.transfer) sentence += ": " + whereItFailed(*failure.transfer);
    return sentence + ". The diskette is not usable until it has been formatted again.";
}

std::string formatFailureDetail(const platform::FormatFailure& failure) {
    return failure.stage == FormatStage::Preparing ? std::string() : failure.error.detail();
}

std::string formatFailureLine(const platform::FormatFailure& failure) {
    const std::string sentence = formatFailureSentence(failure);
    if (failure.stage == FormatStage::Preparing) return sentence;
    return sentence + " [" + failure.error.detail() + "]";
}

std::string driveRefusalSentence(base::Failure kind) {
    return openingSentence(kind);
}

std::string driveRefusalLine(const base::Error& refusal) {
    return formatFailureLine({FormatStage::Opening, refusal, std::nullopt});
}

std::string shortRefusal(base::Failure kind) {
    switch (kind) {
        case base::Failure::NoMedium:
            return "No diskette";
        case base::Failure::NotDiskette:
            return "Not a diskette";
        case base::Failure::Busy:
            return "Drive in use";
        case base::Failure::WriteProtected:
        case base::Failure::PermissionDenied:
        case base::Failure::NoRoom:
        case base::Failure::IoError:
        case base::Failure::BadData:
        case base::Failure::Other:
            break;
    }
    return "Unknown capacity";
}

std::string formatWarning(const std::string& driveA) {
    return "Formatting erases everything on the diskette in drive A:.\nDrive A: is " + driveA + ".";
}

std::string formatReport(const fat::FormatReport& report) {
    const std::uint64_t total = std::uint64_t{report.geometry.totalSectors} * fat::kSectorSize;
    std::string text = platform::groupThousands(total) + " bytes total disk space.\n" +
                       platform::groupThousands(report.capacityBytes) + " bytes available on disk.";
    if (!report.badSectors.empty()) {
        text += "\n" + platform::groupThousands(report.badSectors.size() * fat::kSectorSize) +
                " bytes in bad sectors.";
    }
    return text;
}

}  // namespace shell
