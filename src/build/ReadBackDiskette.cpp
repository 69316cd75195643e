// The diskette read back, past every cache, and compared with the files the build copied and
// the sector it meant to write, before the build may call it a success.
#include "app/CrisisDlg.h"
#include "app/messages.h"
#include "build/readback.h"

BOOL CCrisisDlg::ReadBackDiskette() {
    BeginWaitCursor();
    // The read-back takes as long as the copies on a real drive: the status line says so, and
    // the bar stays as the copies left it.
    SetStatusText(texts::kReadingBack);
    auto progress = [](const std::string& file, std::uint64_t done, std::uint64_t total) {
        AfxBackend().workProgress({"reading-back", file, done, total, "bytes"});
    };
    const std::vector<build::Difference> differences =
        build::compareDriveA(build::expectationOf(m_written), &m_readBack, progress);
    EndWaitCursor();
    ResetStatus();
    m_readBackPassed = differences.empty();
    if (differences.empty()) return TRUE;

    const build::Difference& first = differences.front();
    std::string detail;
    for (const build::Difference& d : differences) {
        if (!detail.empty()) detail += "; ";
        detail += d.text;
    }
    SetOutcome(build::Outcome::Kind::Differs, first.file, detail);
    ShowOutcome(texts::differs(first.file).c_str(), MB_OK | MB_ICONHAND);
    return FALSE;
}
