// The build sequence: presence check, project check, format, copy, boot sector, and the
// question whether to build another diskette.
#include "app/CrisisDlg.h"
#include "app/messages.h"
#include "platform/floppy_drives.h"
#include "platform/host_system.h"
#include "platform/interrupts.h"

namespace {

// True when SIGINT, SIGTERM or SIGHUP asked the build to end: it ends before its next step.
bool Interrupted(CCrisisDlg& dialog) {
    if (!platform::interrupted()) return false;
    dialog.SetOutcome(build::Outcome::Kind::Interrupted);
    return true;
}

// The success box's own text asks for the diskette to be taken out; when drive A: is an image
// file its details say where the diskette went instead.
std::string SuccessDetails() {
    const std::string driveA = platform::currentDriveA().path;
    return platform::isRegularFile(driveA) ? texts::imageWritten(driveA) : std::string();
}

}  // namespace

int CCrisisDlg::Build(BOOL withBootSector) {
    // SIGINT and SIGTERM end the build at its next step; once drive A: and the start directory
    // are released and the staged copies gone, the signal is raised again.
    platform::InterruptCatch interrupts;
    const int result = BuildHeld(withBootSector);
    interrupts.raiseCaught();
    return result;
}

int CCrisisDlg::BuildHeld(BOOL withBootSector) {
    int result = IDYES;
    m_outcome.kind = build::Outcome::Kind::None;
    m_outcome.failure.reset();
    m_written = {};
    m_stagingLeft.clear();
    m_readBackPassed.reset();
    m_payload.clear();
    m_nPayloadAnswer = 0;
    StartRecord(withBootSector ? "minidos" : "fulldos");
    {
        const auto hold = HoldForBuild(TRUE);
        if (hold) result = BuildSteps(withBootSector);
        FinishRecord();
    }
    // The diskette comes out once the record has read it and the build has let go of the
    // drive, which the desktop's disk service would otherwise find in use; then the question
    // about another diskette.
    if (m_bRemoveDiskette) {
        m_bRemoveDiskette = FALSE;
        RemoveDiskette();
        result = AfxMessageBox(texts::kAnotherDiskette, MB_YESNO | MB_ICONQUESTION);
    }
    // After the build's own messages; a log that cannot be written changes nothing built.
    LogBuild();
    return result;
}

int CCrisisDlg::BuildSteps(BOOL withBootSector) {
    int result = IDYES;
    if (!PrepareStartDir() || Interrupted(*this)) return result;
    if (!CheckFloppy() || Interrupted(*this)) return result;
    // A boot sector made for another medium would make the volume unreadable once written:
    // that is found out before anything is erased.
    if (withBootSector && !CheckBootImage()) return result;
    if (!CheckProject() || Interrupted(*this)) return result;
    if (!CheckStartDir() || Interrupted(*this)) return result;
    if (!CheckPayload() || Interrupted(*this)) return result;

    EnableControls(FALSE);
    FormatFloppy();

    if (!Interrupted(*this) && CheckDisketteRoom() && !Interrupted(*this) && CopyFilesToDisk() &&
        !Interrupted(*this)) {
        // A MINIDOS diskette without its boot sector looks complete but cannot start the
        // machine it was made to rescue, so that is never reported as a success.
        if (withBootSector && !UpdateBootSector()) {
            ShowOutcome(texts::kBootSectorFailed, MB_OK | MB_ICONHAND);
            EnableControls(TRUE);
            return result;
        }
        // Only a diskette read back and found equal to its sources is called a success.
        if (!ReadBackDiskette() || Interrupted(*this)) {
            // Reported already, or the build is ending.
        } else if (!m_stagingLeft.empty()) {
            SetOutcome(build::Outcome::Kind::StartDirRefused, m_stagingLeft.front().name,
                       texts::leftoverLines(m_stagingLeft));
            AfxMessageBox(texts::notPutBack(m_stagingLeft).c_str(), MB_OK | MB_ICONHAND);
        } else {
            SetOutcome(build::Outcome::Kind::Succeeded);
            AfxMessageBoxDetails(texts::kSucceeded, MB_OK | MB_ICONEXCLAMATION, SuccessDetails());
            if (WantsDisketteOut())
                m_bRemoveDiskette = TRUE;
            else
                result = AfxMessageBox(texts::kAnotherDiskette, MB_YESNO | MB_ICONQUESTION);
        }
    }

    EnableControls(TRUE);
    return result;
}
