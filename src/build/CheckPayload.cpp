// Before the format: the files the build takes are read and checked for what they hold (the
// rules are build/payload_check.cpp). A doubt asks the user, naming each file and finding;
// files that pass every check ask nothing.
#include <cstdint>
#include <string>
#include <vector>

#include "app/CrisisDlg.h"
#include "app/messages.h"
#include "framework/afxfile.h"
#include "platform/win_path.h"

namespace {

// No file larger than a diskette can go onto one, and the room check before this one refuses
// it; a file that grew since is not read past this.
constexpr std::uint64_t kMostBytesChecked = 4 * 1024 * 1024;

bool ReadWhole(const CString& name, std::vector<std::uint8_t>& bytes) {
    CFile file;
    if (!file.Open(name, CFile::modeRead | CFile::typeBinary)) return false;
    const std::uint64_t length = file.GetLength();
    if (length > kMostBytesChecked) return false;
    bytes.resize(static_cast<std::size_t>(length));
    const UINT got = file.Read(bytes.data(), static_cast<UINT>(length));
    bytes.resize(got);
    return got == length;
}

bool Doubted(const build::PayloadFinding& finding) {
    return finding.level != build::PayloadLevel::Pass;
}

}  // namespace

std::vector<build::PayloadReport> CCrisisDlg::PayloadReports() const {
    // The part number is the project's board; the start directory's own files name none.
    const std::string partNumber = m_biosChoice.fromStartDir() ? std::string() : m_strPartNum.str();
    std::vector<build::PayloadReport> reports;
    for (const build::ListedFile& file : ListedFiles()) {
        build::PayloadRole role;
        if (!file.bytes || !build::payloadRoleOf(file.name, role)) continue;
        std::vector<std::uint8_t> bytes;
        if (!ReadWhole(file.source, bytes)) continue;
        // Named as the system names it, as a source is everywhere else in the report.
        const auto mapped = platform::mapWindowsName(file.source.str());
        reports.push_back({file.name, mapped ? mapped->hostPath : file.source.str(),
                           build::checkPayload(bytes, role, partNumber)});
    }
    return reports;
}

BOOL CCrisisDlg::CheckPayload() {
    m_payload = PayloadReports();
    if (build::worstLevel(m_payload) == build::PayloadLevel::Pass) return TRUE;

    std::string doubts, details, cause, file;
    for (const build::PayloadReport& report : m_payload) {
        details += (details.empty() ? "" : "\n") + report.file + " (" + report.source + "):";
        for (const build::PayloadFinding& f : report.findings)
            details += "\n" + build::findingLine(f);
        bool named = false;
        for (const build::PayloadFinding& f : report.findings) {
            if (!Doubted(f)) continue;
            if (!named) doubts += " " + report.file + " (" + report.source + "):\n";
            named = true;
            doubts += "   " + std::string(build::payloadLevelName(f.level)) + ": " + f.text + "\n";
            cause += (cause.empty() ? "" : "; ") + report.file + ": " + f.text;
            if (file.empty()) file = report.file;
        }
    }

    m_bPayloadQuestion = TRUE;
    const int answer = AfxMessageBoxDetails(texts::payloadQuestion(doubts).c_str(),
                                            MB_YESNO | MB_ICONEXCLAMATION, details);
    m_bPayloadQuestion = FALSE;
    m_nPayloadAnswer = answer == IDYES ? IDYES : IDNO;
    if (answer == IDYES) return TRUE;
    SetOutcome(build::Outcome::Kind::PayloadDeclined, file, cause, base::Failure::BadData);
    return FALSE;
}
