// Drive A: on a desktop: a diskette mounted as soon as it was pushed in is unmounted with the
// user's consent before the build holds the drive, and at the end the diskette is ejected (or
// its drive powered off) where the drive can do it and the user wants it.
#include "app/CrisisDlg.h"
#include "app/messages.h"
#include "platform/desktop_drives.h"

namespace {

// A question about the desktop's drives, marked for the policy that answers it.
int AskAbout(CCrisisDlg& dialog, CCrisisDlg::DriveQuestion question, const std::string& text) {
    dialog.m_driveQuestion = question;
    const int answer = AfxMessageBox(text.c_str(), MB_YESNO | MB_ICONQUESTION);
    dialog.m_driveQuestion = CCrisisDlg::DriveQuestion::None;
    return answer;
}

}  // namespace

CCrisisDlg::UnmountOffer CCrisisDlg::OfferUnmount() {
    const auto mounted = platform::mountedDriveA();
    if (!mounted) return UnmountOffer::NotMounted;
    const std::string question =
        texts::unmountQuestion(mounted->device, platform::describeMounts(mounted->mounts));
    if (AskAbout(*this, DriveQuestion::Unmount, question) != IDYES) return UnmountOffer::Declined;
    const base::Status unmounted = platform::unmountDriveA(*mounted);
    if (unmounted) return UnmountOffer::Unmounted;
    if (unmounted.kind() == base::Failure::Busy) {
        m_bRefusedInUse = TRUE;
    } else if (unmounted.kind() == base::Failure::PermissionDenied) {
        SetOutcome(build::Outcome::Kind::NoAccess, mounted->device, unmounted.message(),
                   base::Failure::PermissionDenied);
    }
    AfxMessageBox(texts::unmountFailed(mounted->device, unmounted.message()).c_str(),
                  MB_OK | MB_ICONHAND);
    return UnmountOffer::Failed;
}

BOOL CCrisisDlg::WantsDisketteOut() {
    const platform::Removal how = platform::driveARemoval();
    if (how == platform::Removal::None) return FALSE;
    if (m_nRemoveChoice == 0) {
        m_nRemoveChoice = AskAbout(
            *this, DriveQuestion::RemoveDiskette,
            how == platform::Removal::Eject ? texts::kEjectQuestion : texts::kPowerOffQuestion);
    }
    return m_nRemoveChoice == IDYES;
}

void CCrisisDlg::RemoveDiskette() {
    // Asked again: the drive may have gone since the question.
    const base::Status removed = platform::removeDriveA(platform::driveARemoval());
    if (!removed)
        AfxMessageBox(texts::removalFailed(removed.message()).c_str(), MB_OK | MB_ICONHAND);
}
