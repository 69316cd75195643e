#include "cli/cli_policy.h"

#include <algorithm>
#include <cctype>

#include "app/CrisisDlg.h"
#include "framework/input.h"
#include "res/resources.h"

namespace cli {
namespace {

constexpr int kBarWidth = 20;

bool isMainDialogControl(HWND hwnd, int id) {
    return hwnd && hwnd->id == id && hwnd->parent && hwnd->parent->dialogTemplate &&
           hwnd->parent->dialogTemplate->id == res::kIddCrisisDialog;
}

int radioFor(DiskKind kind) {
    switch (kind) {
        case DiskKind::Minidos:
            return IDC_RADIO_MINIDOS;
        case DiskKind::Fulldos:
            return IDC_RADIO_FULLDOS;
        case DiskKind::FormatOnly:
            return IDC_RADIO_FORMAT;
    }
    return IDC_RADIO_MINIDOS;
}

}  // namespace

void ProgressDisplay::status(const std::string& text) {
    m_text = text;
    if (m_terminal) {
        if (m_text.empty())
            clear();
        else
            draw();
        return;
    }
    // An emptied status line ends a step; the next text is news even if it repeats.
    if (m_text.empty()) {
        m_lastPrinted.clear();
    } else if (m_text != m_lastPrinted) {
        std::fprintf(m_out, "%s\n", m_text.c_str());
        m_lastPrinted = m_text;
    }
}

void ProgressDisplay::progress(int pos, int max) {
    m_pos = pos;
    m_max = max;
    if (m_terminal && !m_text.empty()) draw();
}

void ProgressDisplay::clear() {
    if (m_terminal && m_shown) {
        std::fputs("\r\033[K", m_out);
        std::fflush(m_out);
    }
    m_shown = false;
}

void ProgressDisplay::draw() {
    const int max = m_max > 0 ? m_max : 1;
    const int filled = std::clamp(m_pos, 0, max) * kBarWidth / max;
    std::string bar(static_cast<std::size_t>(filled), '#');
    bar.resize(kBarWidth, ' ');
    std::fprintf(m_out, "\r\033[K[%s] %s", bar.c_str(), m_text.c_str());
    std::fflush(m_out);
    m_shown = true;
}

CliPolicy::CliPolicy(const Options& options, Terminal terminal)
    : m_options(options), m_terminal(terminal), m_display(terminal.err, terminal.errIsTerminal) {}

int CliPolicy::answerMessageBox(const std::string& text, const std::string&, UINT type) {
    m_display.clear();
    auto* main = dynamic_cast<CCrisisDlg*>(AfxGetMainWnd());
    const build::Outcome::Kind outcome = main ? main->m_outcome.kind : build::Outcome::Kind::None;
    using Kind = build::Outcome::Kind;
    const bool yesNo = (type & MB_TYPEMASK) == MB_YESNO;
    // The build's questions told apart by where the build stands, never by their words: after
    // a success it asks for another diskette, before that only about the project folder.
    const bool anotherDiskette = yesNo && outcome == Kind::Succeeded;
    const bool asking = yesNo && !anotherDiskette && !m_options.yes && m_terminal.inIsTerminal;
    const bool failure =
        outcome != Kind::None && outcome != Kind::Succeeded && outcome != Kind::Declined;
    if (!m_options.quiet || asking || failure || (type & MB_ICONMASK) == MB_ICONHAND) {
        std::fprintf(m_terminal.err, "%s\n", text.c_str());
        tellCause();
        std::fflush(m_terminal.err);
    }
    if (!yesNo) return IDOK;
    if (anotherDiskette) return IDNO;  // another diskette: no, and save
    if (m_options.yes) return IDYES;
    if (m_terminal.inIsTerminal) return askOnTerminal();
    if (!m_options.quiet) {
        std::fputs(
            "quenvol-cli: answered No, as standard input is not a terminal (--yes answers Yes)\n",
            m_terminal.err);
    }
    return IDNO;
}

void CliPolicy::tellCause() {
    auto* main = dynamic_cast<CCrisisDlg*>(AfxGetMainWnd());
    if (main == nullptr || main->m_outcome.serial == m_causeTold) return;
    const build::Outcome& outcome = main->m_outcome;
    using Kind = build::Outcome::Kind;
    const bool causeless = outcome.kind == Kind::CopyFailed ||
                           outcome.kind == Kind::ProjectRefused ||
                           outcome.kind == Kind::BootSectorFailed ||
                           outcome.kind == Kind::Differs || outcome.kind == Kind::StartDirRefused;
    if (!causeless || outcome.detail.empty()) return;
    m_causeTold = outcome.serial;
    std::fprintf(m_terminal.err, "cause: %s\n", outcome.detail.c_str());
}

int CliPolicy::askOnTerminal() {
    std::fputs("Proceed? [y/N] ", m_terminal.err);
    std::fflush(m_terminal.err);
    char line[256];
    if (!std::fgets(line, sizeof line, m_terminal.in)) {
        std::fputs("\n", m_terminal.err);
        return IDNO;
    }
    std::string answer(line);
    while (!answer.empty() && std::isspace(static_cast<unsigned char>(answer.back())))
        answer.pop_back();
    const auto first = answer.find_first_not_of(" \t");
    answer.erase(0, first == std::string::npos ? answer.size() : first);
    for (char& c : answer) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return answer == "y" || answer == "yes" ? IDYES : IDNO;
}

void CliPolicy::formatDrive(HWND owner, UINT drive) {
    console::FormatChoice choice;
    choice.label = m_options.label;
    if (m_options.noFormat)
        choice.action = console::FormatChoice::Action::Skip;
    else if (m_options.full)
        choice.action = console::FormatChoice::Action::Full;
    else
        choice.action = console::FormatChoice::Action::Quick;

    m_display.clear();
    if (!m_options.noFormat && !m_options.quiet) {
        std::fprintf(m_terminal.err, "Formatting drive A: (%s format)...\n",
                     m_options.full ? "full" : "quick");
        std::fflush(m_terminal.err);
    }
    console::makeFormatAction(choice, &m_format)(owner, drive);
    const std::string said = console::describeOutcome(m_format);
    if (m_format.failed) {
        std::fprintf(m_terminal.err, "quenvol-cli: the format failed: %s\n", said.c_str());
    } else if (!m_options.quiet) {
        std::fprintf(m_terminal.err, "%s\n", said.c_str());
    }
    std::fflush(m_terminal.err);
}

INT_PTR CliPolicy::chooseFile(CFileDialog&) {
    return IDCANCEL;
}

void CliPolicy::runDialog(CDialog& dialog) {
    auto* main = dynamic_cast<CCrisisDlg*>(&dialog);
    if (!main || m_started) return;  // any other dialog is cancelled
    const HWND window = dialog.GetSafeHwnd();
    afx::userClick(afx::findControl(window, radioFor(m_options.kind)));
    m_started = true;
    main->m_recordBase = m_recordBase;
    afx::userClick(afx::findControl(window, IDC_START));
    m_display.clear();
    m_refusedInUse = main->m_bRefusedInUse != FALSE;

    m_written = main->m_written;
    m_outcome = main->m_outcome;
    m_record = main->m_record;
    // After a failure the dialog stays open; Close (not Escape) is what the user presses
    // then, and it saves the project path that the check put into the history.
    if (!dialog.HasEnded()) afx::userClick(afx::findControl(window, IDC_BUTTON_CLOSE));
}

void CliPolicy::stateChanged(HWND hwnd, StateChange what) {
    if (m_options.quiet) return;
    if (what == StateChange::Text && isMainDialogControl(hwnd, IDC_EDIT_STATUS)) {
        m_display.status(hwnd->text);
    } else if (what == StateChange::Progress && isMainDialogControl(hwnd, IDC_PROGRESS)) {
        m_display.progress(hwnd->pos, hwnd->rangeMax);
    }
}

}  // namespace cli
