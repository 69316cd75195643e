// One build at a time: a build holds drive A: and the start directory from its presence check
// to its end, a format-only run holds drive A:, and a run that finds either held elsewhere is
// refused before it reads or writes anything.
#include <string>

#include "app/CrisisDlg.h"

namespace {

void refuse(const std::string& text) {
    AfxMessageBox(text.c_str(), MB_OK | MB_ICONHAND);
}

}  // namespace

std::optional<platform::BuildHold> CCrisisDlg::HoldForBuild(BOOL bStartDir) {
    using platform::HoldState;
    m_bRefusedInUse = FALSE;
    platform::BuildHold hold;

    hold.drive = platform::ExclusiveHold::driveA();
    switch (hold.drive.state()) {
        case HoldState::HeldByAnotherBuild:
            m_bRefusedInUse = TRUE;
            refuse(" Drive A: is in use by another build:\n " + hold.drive.path() +
                   "\n\n Wait until that build has ended, then press Start again.\t");
            return std::nullopt;
        case HoldState::InUse:
            m_bRefusedInUse = TRUE;
            refuse(" Drive A: is mounted or in use by another program:\n " + hold.drive.path() +
                   "\n\n Unmount it or end that program, then press Start again.\t");
            return std::nullopt;
        case HoldState::Failed:
            refuse(" Drive A: cannot be held for this build:\n " + hold.drive.path() + "\n " +
                   hold.drive.detail() + "\t");
            return std::nullopt;
        default:
            // Held, or nothing there to hold: the presence check (or the format dialog) says
            // what is wrong with an empty or unusable drive.
            break;
    }
    if (!bStartDir) return hold;

    hold.startDir = platform::ExclusiveHold::folder(m_szStartDir);
    switch (hold.startDir.state()) {
        case HoldState::Held:
            return hold;
        case HoldState::HeldByAnotherBuild:
            m_bRefusedInUse = TRUE;
            refuse(" The start directory is in use by another build:\n " + hold.startDir.path() +
                   "\n\n Wait until that build has ended, then press Start again.\t");
            return std::nullopt;
        default:
            // Staging there could not be kept apart from another build's.
            refuse(" The start directory cannot be held for this build:\n " + hold.startDir.path() +
                   "\n " + hold.startDir.detail() + "\t");
            return std::nullopt;
    }
}
