// The dialog's steps of a build's record: started with the build, finished from the dialog's
// state while the build still holds drive A:, and appended to the build log once the build's
// own messages have been shown. What a record holds, its JSON and the log file are
// build_record.cpp's.
#include "app/CrisisDlg.h"
#include "app/messages.h"
#include "build/image_candidates.h"
#include "platform/host_system.h"
#include "platform/interrupts.h"
#include "platform/win_path.h"

namespace {

std::optional<std::string> hostPath(const std::string& windowsName) {
    auto mapped = platform::mapWindowsName(windowsName);
    if (!mapped || mapped->where != platform::WindowsName::Where::Host) return std::nullopt;
    return mapped->hostPath;
}

}  // namespace

void CCrisisDlg::StartRecord(const char* kind) {
    m_record = m_recordBase;
    m_record.kind = kind;
    m_record.started = build::utcNow();
    m_readBack.clear();
}

void CCrisisDlg::FinishRecord() {
    build::Record& r = m_record;
    r.ended = build::utcNow();

    build::describeDriveA(r);

    if (!m_strProjectPath.IsEmpty()) {
        r.projectPath = m_strProjectPath.str();
        if (auto host = hostPath(m_strProjectPath.str()))
            r.projectResolved = platform::resolvedPath(*host);
    }
    if (!m_strPartNum.IsEmpty()) r.partNumber = m_strPartNum.str();

    for (const build::WrittenFile& file : m_written.files) {
        build::RecordFile entry{file.name, file.source, std::nullopt, std::nullopt};
        for (const build::ReadBackFile& read : m_readBack) {
            if (read.name == file.name) {
                entry.bytes = read.bytes;
                entry.sha256 = read.sha256;
            }
        }
        r.files.push_back(entry);
    }
    // The image and the rule of the choice staging took, never worked out again from paths:
    // the image is the file copied under the name that choice gave it.
    if (const build::ChosenFile* image = m_biosChoice.image()) {
        for (const build::WrittenFile& file : m_written.files) {
            if (file.name != image->destination) continue;
            r.imageSource = file.source;
            r.imageRule = m_biosChoice.rule;
            r.imagePassedOver = m_biosChoice.passedOver;
        }
    }

    r.payloadChecks = m_payload;
    if (m_nPayloadAnswer == IDNO)
        r.payloadQuestion = "answered-no";
    else if (m_nPayloadAnswer == IDYES)
        r.payloadQuestion = r.acceptPayloadWarnings ? "accepted-by-option" : "answered-yes";

    using Kind = build::Outcome::Kind;
    const build::Outcome& o = m_outcome;
    // What the read-back found, whatever the build came to after it.
    r.readBackPassed = m_readBackPassed;
    auto fail = [&](const char* outcome, const char* kind, std::string message) {
        r.outcome = outcome;
        r.failureKind = kind;
        r.message = o.detail.empty() ? std::move(message) : o.detail;
    };
    switch (o.kind) {
        case Kind::Succeeded:
            r.outcome = "built";
            break;
        case Kind::Declined:
            r.outcome = "declined";
            break;
        case Kind::PayloadDeclined:
            fail("refused", "payload-check", "the payload checks doubted the files");
            break;
        case Kind::ProjectRefused:
            fail("refused", "project-refused", "the project folder holds no usable BIOS image");
            break;
        case Kind::NoDiskette:
            fail("failed", "no-diskette", "no diskette in drive A:");
            break;
        case Kind::NoAccess:
            fail("failed", "no-permission", "this user may not open drive A:");
            break;
        case Kind::CopyFailed:
            fail("failed", o.failure == base::Failure::NoRoom ? "no-room" : "copy-failed",
                 o.file + " could not be copied");
            break;
        case Kind::BootSectorFailed:
            fail("failed", "boot-sector-failed", "sector 0 was not written");
            break;
        case Kind::Differs:
            fail("failed", "read-back-differs", "the diskette differs from its sources");
            break;
        case Kind::StartDirRefused:
            fail("refused", o.failure == base::Failure::NoRoom ? "no-room" : "start-directory",
                 "the start directory cannot be used for staging");
            break;
        case Kind::Interrupted:
            fail("failed", "interrupted",
                 std::string(platform::interruptSignalName()) + " ended the build");
            break;
        case Kind::None:
            if (m_bRefusedInUse) {
                r.outcome = "refused";
                r.failureKind = "in-use";
                r.message = "drive A: or the start directory is in use by another build or program";
            } else {
                fail("failed", "other", "the build could not start");
            }
            break;
    }
    // The kind underneath names what the user has to change, whatever step it stopped.
    if (o.kind != Kind::Succeeded && (o.failure == base::Failure::WriteProtected ||
                                      o.failure == base::Failure::PermissionDenied)) {
        r.failureKind = build::failureKindName(*o.failure);
    }
}

void CCrisisDlg::LogBuild() {
    const base::Status logged = build::appendBuildLog(build::recordJson(m_record));
    if (logged) return;
    // The diskette is what it is; only the record of it is missing, which is an error all the
    // same (shown even where only errors are).
    AfxMessageBox(texts::buildLogFailed(logged.message()).c_str(), MB_OK | MB_ICONHAND);
}
