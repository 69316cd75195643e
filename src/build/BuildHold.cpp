// One build at a time: a build holds drive A: and the start directory from its presence check
// to its end, a format-only run holds drive A:, and a run that finds either held elsewhere is
// refused before it reads or writes anything.
#include <string>

#include "app/CrisisDlg.h"
#include "app/messages.h"

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
    // A diskette the desktop mounted is unmounted with the user's consent, then held; asked
    // once, so that a desktop that mounts it again cannot keep the question coming.
    if (hold.drive.state() == HoldState::InUse) {
        switch (OfferUnmount()) {
            case UnmountOffer::Unmounted:
                hold.drive = platform::ExclusiveHold::driveA();
                break;
            case UnmountOffer::Failed:
                return std::nullopt;
            case UnmountOffer::NotMounted:
            case UnmountOffer::Declined:
                break;
        }
    }
    switch (hold.drive.state()) {
        case HoldState::HeldByAnotherBuild:
            m_bRefusedInUse = TRUE;
            refuse(texts::driveHeldByBuild(hold.drive.path()));
            return std::nullopt;
        case HoldState::InUse:
            m_bRefusedInUse = TRUE;
            refuse(texts::driveInUse(hold.drive.path(), hold.drive.detail()));
            return std::nullopt;
        case HoldState::Failed:
            refuse(texts::driveNotHeld(hold.drive.path(), hold.drive.detail()));
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
            refuse(texts::startDirHeldByBuild(hold.startDir.path()));
            return std::nullopt;
        default:
            // Staging there could not be kept apart from another build's.
            refuse(texts::startDirNotHeld(hold.startDir.path(), hold.startDir.detail()));
            return std::nullopt;
    }
}
