#include "cli/cli_policy.h"

#include <algorithm>
#include <cctype>

#include "app/CrisisDlg.h"
#include "build/json_writer.h"
#include "cli/cli_app.h"
#include "framework/input.h"
#include "platform/text_case.h"
#include "res/resources.h"

namespace cli {
namespace {

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

std::string progressText(std::uint64_t done, std::uint64_t total,
                         std::chrono::milliseconds elapsed) {
    const std::uint64_t shown = std::min(done, total);
    const auto percent = total == 0 ? 100 : static_cast<unsigned>(shown * 100 / total);
    std::string text = std::to_string(percent) + "%";
    if (shown == 0 || shown >= total || elapsed < std::chrono::seconds(1)) return text;
    const double ms = static_cast<double>(elapsed.count()) * static_cast<double>(total - shown) /
                      static_cast<double>(shown);
    const auto seconds = static_cast<unsigned long>(ms / 1000.0 + 0.5);
    if (seconds == 0) return text;
    char left[48];
    std::snprintf(left, sizeof left, "  about %lu:%02lu left", seconds / 60, seconds % 60);
    return text + left;
}

void ProgressDisplay::status(const std::string& text) {
    m_text = text;
    if (m_text.empty()) m_step.clear();
    if (m_terminal) {
        if (m_text.empty())
            clear();
        else
            draw(Clock::now());
        return;
    }
    // An emptied status line ends a step; the next text is news even if it repeats.
    if (m_text.empty()) {
        m_lastPrinted.clear();
    } else if (m_text != m_lastPrinted) {
        std::fprintf(m_out, "%s\n", m_text.c_str());
        std::fflush(m_out);
        m_lastPrinted = m_text;
    }
}

void ProgressDisplay::work(const WorkProgress& work, Clock::time_point now) {
    if (m_step != work.step) {
        m_step = work.step;
        m_stepStarted = now;
    }
    m_done = work.done;
    m_total = work.total;
    if (m_json) {
        build::JsonWriter json;
        json.beginObject().key("step").value(work.step).key("item").value(work.item);
        json.key("done").value(work.done).key("total").value(work.total);
        json.key("unit").value(work.unit).endObject();
        std::fprintf(m_json, "%s\n", json.text().c_str());
        std::fflush(m_json);
    }
    if (m_terminal) draw(now);
}

void ProgressDisplay::clear() {
    if (m_terminal && m_shown) {
        std::fputs("\r\033[K", m_out);
        std::fflush(m_out);
    }
    m_shown = false;
}

void ProgressDisplay::draw(Clock::time_point now) {
    // The format has no status text of its own: its dialog stands in for the status line.
    std::string line = !m_text.empty()          ? m_text
                       : m_step == "formatting" ? std::string("Formatting drive A:")
                                                : m_step;
    if (line.empty()) return;
    if (!m_step.empty()) {
        const auto elapsed =
            std::chrono::duration_cast<std::chrono::milliseconds>(now - m_stepStarted);
        line += "  " + progressText(m_done, m_total, elapsed);
    }
    // A line that reads as before is not drawn again: a full format reports every track.
    if (m_shown && line == m_lastDrawn) return;
    std::fprintf(m_out, "\r\033[K%s", line.c_str());
    std::fflush(m_out);
    m_lastDrawn = line;
    m_shown = true;
}

CliPolicy::CliPolicy(const Options& options, Terminal terminal, RunHooks hooks)
    : m_options(options),
      m_terminal(terminal),
      m_display(terminal.err,
                terminal.errIsTerminal && options.progress == ProgressMode::Auto && !options.quiet,
                options.progress == ProgressMode::Json ? stdout : nullptr),
      m_hooks(std::move(hooks)) {}

bool CliPolicy::moreToBuild() const {
    // Asked outside a press of Start, the question is about the first diskette.
    return m_options.count == 0 || std::max(m_diskettes, 1u) < m_options.count;
}

bool CliPolicy::askToErase(const std::string& drive) {
    m_display.clear();
    const bool asking = !m_options.yes && m_terminal.inIsTerminal;
    if (!m_options.quiet || asking) {
        if (m_options.noFormat) {
            std::fprintf(m_terminal.err,
                         "Drive A: (%s) will be written to: files of the same names on it will "
                         "be replaced.\n",
                         drive.c_str());
        } else {
            std::fprintf(m_terminal.err, "Everything on drive A: (%s) will be erased.\n",
                         drive.c_str());
        }
        std::fflush(m_terminal.err);
    }
    if (m_options.yes) return true;
    if (asking)
        return askOnTerminal(m_options.noFormat ? "Write to it? [y/N] " : "Erase it? [y/N] ") ==
               IDYES;
    if (!m_options.quiet) {
        std::fputs(
            "quenvol-cli: answered No, as standard input is not a terminal (--yes answers Yes)\n",
            m_terminal.err);
    }
    return false;
}

int CliPolicy::answerMessageBox(const std::string& text, const std::string&, UINT type) {
    m_display.clear();
    auto* main = dynamic_cast<CCrisisDlg*>(AfxGetMainWnd());
    const build::Outcome::Kind outcome = main ? main->m_outcome.kind : build::Outcome::Kind::None;
    using Kind = build::Outcome::Kind;
    const bool yesNo = (type & MB_TYPEMASK) == MB_YESNO;
    using Question = CCrisisDlg::DriveQuestion;
    const Question drive = main ? main->m_driveQuestion : Question::None;
    if (yesNo && drive != Question::None) return answerDriveQuestion(text, drive);
    if (yesNo && main && main->m_bPayloadQuestion) return answerPayloadQuestion(text);
    // The build's questions told apart by where the build stands, never by their words: after
    // a success it asks for another diskette, before that only about the project folder.
    const bool anotherDiskette = yesNo && outcome == Kind::Succeeded;
    const bool asking = yesNo && !anotherDiskette && !m_options.yes && m_terminal.inIsTerminal;
    const bool failure =
        outcome != Kind::None && outcome != Kind::Succeeded && outcome != Kind::Declined;
    // A refusal before Start is ever pressed (the start directory at start-up) is what the
    // run came to: kept, as the dialog is gone by the time the run reports.
    if (main && !m_started && failure) m_outcome = main->m_outcome;
    if (!m_options.quiet || asking || failure || (type & MB_ICONMASK) == MB_ICONHAND) {
        std::fprintf(m_terminal.err, "%s\n", text.c_str());
        tellCause();
        // The project question's details: the files the choice of the BIOS image passed over.
        if (yesNo && !anotherDiskette && outcome == Kind::None && main)
            for (const std::string& passed : main->m_biosChoice.passedOver)
                std::fprintf(m_terminal.err, "passed over: %s\n", passed.c_str());
        std::fflush(m_terminal.err);
    }
    if (!yesNo) return IDOK;
    // Another diskette: yes until the count is reached, then no, and save.
    if (anotherDiskette) return moreToBuild() ? IDYES : IDNO;
    if (m_options.yes) return IDYES;
    if (m_terminal.inIsTerminal) return askOnTerminal();
    if (!m_options.quiet) {
        std::fputs(
            "quenvol-cli: answered No, as standard input is not a terminal (--yes answers Yes)\n",
            m_terminal.err);
    }
    return IDNO;
}

// The questions about the desktop's drives have options of their own: --yes, which answers the
// build's questions, unmounts nothing and ejects nothing.
int CliPolicy::answerDriveQuestion(const std::string& text, CCrisisDlg::DriveQuestion question) {
    // Without --eject the diskette stays in, and nothing is said about it.
    if (question == CCrisisDlg::DriveQuestion::RemoveDiskette) {
        m_removalAsked = true;
        if (m_options.eject && !m_options.quiet) {
            std::fprintf(m_terminal.err, "%s\nquenvol-cli: answered Yes (--eject)\n", text.c_str());
            std::fflush(m_terminal.err);
        }
        return m_options.eject ? IDYES : IDNO;
    }
    const bool asking = !m_options.unmount && m_terminal.inIsTerminal;
    if (!m_options.quiet || asking) {
        std::fprintf(m_terminal.err, "%s\n", text.c_str());
        std::fflush(m_terminal.err);
    }
    if (m_options.unmount) return IDYES;
    if (asking) return askOnTerminal("Unmount it? [y/N] ");
    if (!m_options.quiet) {
        std::fputs(
            "quenvol-cli: answered No, as standard input is not a terminal (--unmount "
            "answers Yes)\n",
            m_terminal.err);
    }
    return IDNO;
}

int CliPolicy::answerPayloadQuestion(const std::string& text) {
    const bool accept = m_options.acceptPayloadWarnings;
    if (!m_options.quiet || !accept) {
        std::fprintf(m_terminal.err, "%s\n", text.c_str());
        std::fflush(m_terminal.err);
    }
    if (accept) {
        if (!m_options.quiet)
            std::fputs("quenvol-cli: answered Yes (--accept-payload-warnings)\n", m_terminal.err);
        return IDYES;
    }
    if (m_terminal.inIsTerminal) return askOnTerminal("Put them on the diskette? [y/N] ");
    std::fputs(
        "quenvol-cli: answered No, as standard input is not a terminal "
        "(--accept-payload-warnings answers Yes; --yes does not): nothing was erased, and the "
        "build is refused\n",
        m_terminal.err);
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

int CliPolicy::askOnTerminal(const char* question) {
    std::fputs(question, m_terminal.err);
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
    answer = platform::lowerAscii(answer);
    return answer == "y" || answer == "yes" ? IDYES : IDNO;
}

void CliPolicy::formatDrive(HWND owner, UINT drive) {
    console::FormatChoice choice;
    choice.label = m_options.label;
    auto progress = [this](std::uint32_t done, std::uint32_t total) {
        m_display.work({"formatting", "", done, total, "sectors"});
    };
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
    console::makeFormatAction(choice, &m_format, progress)(owner, drive);
    m_display.status({});
    m_display.clear();
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
    for (;;) {
        if (m_hooks.mayErase && !m_hooks.mayErase()) {
            m_eraseDeclined = true;
            m_status = kExitDeclined;
            break;
        }
        pressStart(dialog);
        // A diskette that did not come out right ends the row: the next would meet the same.
        if (m_status != 0 || dialog.HasEnded() || !moreToBuild()) break;
        if (!m_hooks.awaitNext || !m_hooks.awaitNext(m_diskettes + 1)) break;
    }
    // After a failure the dialog stays open; Close (not Escape) is what the user presses
    // then, and it saves the project path that the check put into the history.
    if (!dialog.HasEnded()) afx::userClick(afx::findControl(window, IDC_BUTTON_CLOSE));
}

void CliPolicy::pressStart(CDialog& dialog) {
    auto* main = dynamic_cast<CCrisisDlg*>(&dialog);
    const HWND window = dialog.GetSafeHwnd();
    main->m_recordBase = m_recordBase;
    m_format = {};
    ++m_diskettes;
    afx::userClick(afx::findControl(window, IDC_START));
    m_display.clear();
    m_refusedInUse = main->m_bRefusedInUse != FALSE;

    m_written = main->m_written;
    m_outcome = main->m_outcome;
    m_record = main->m_record;
    m_status = m_hooks.afterStart ? m_hooks.afterStart(*this) : 0;
}

void CliPolicy::stateChanged(HWND hwnd, StateChange what) {
    if (m_options.quiet) return;
    if (what == StateChange::Text && isMainDialogControl(hwnd, IDC_EDIT_STATUS)) {
        m_display.status(hwnd->text);
    }
}

void CliPolicy::workProgress(const WorkProgress& work) {
    m_display.work(work);
}

}  // namespace cli
