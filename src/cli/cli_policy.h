// The console policy of quenvol-cli: what a user at the dialog would do, decided by the
// options. Message boxes go to standard error, the status line and progress bar become a
// progress display, and what the run achieved is kept for the exit status.
#pragma once

#include <chrono>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>

#include "app/CrisisDlg.h"
#include "build/build_record.h"
#include "cli/cli_options.h"
#include "cli/verify.h"
#include "ui/console/console_backend.h"
#include "ui/console/format_policy.h"

namespace cli {

// The steps of a build as one line on standard error: the status line's text (or the step),
// a percentage and the time left, redrawn in place on a terminal; else one plain line per
// status text, so that logs get no progress noise. In JSON mode every report of a step's
// progress is also one object a line on `json`.
class ProgressDisplay {
  public:
    using Clock = std::chrono::steady_clock;
    ProgressDisplay(std::FILE* out, bool terminal, std::FILE* json = nullptr)
        : m_out(out), m_terminal(terminal), m_json(json) {}
    void status(const std::string& text);
    void work(const WorkProgress& work, Clock::time_point now = Clock::now());
    // Takes the progress line away before other output on a terminal.
    void clear();

  private:
    void draw(Clock::time_point now);
    std::FILE* m_out;
    bool m_terminal;
    std::FILE* m_json;
    std::string m_text;
    std::string m_lastPrinted;
    std::string m_lastDrawn;
    std::string m_step;  // the step the percentage belongs to, empty between steps
    Clock::time_point m_stepStarted;
    std::uint64_t m_done = 0;
    std::uint64_t m_total = 0;
    bool m_shown = false;
};

// "42%  about 1:05 left": how far a step has got and, once it has run a second and got
// somewhere, how long the rest will take at the pace so far.
std::string progressText(std::uint64_t done, std::uint64_t total,
                         std::chrono::milliseconds elapsed);

// What the run does around each press of Start, supplied by the program.
struct RunHooks {
    // Before each diskette: whether drive A: may be erased (the question, or --yes).
    std::function<bool()> mayErase;
    // After each Start: the diskette's report; returns its exit status.
    std::function<int(const class CliPolicy&)> afterStart;
    // Between diskettes: waits for the next diskette `number`; false when none will come.
    std::function<bool(unsigned number)> awaitNext;
};

struct Terminal {
    std::FILE* err = stderr;
    std::FILE* in = stdin;
    bool errIsTerminal = false;
    bool inIsTerminal = false;
};

class CliPolicy : public console::Policy {
  public:
    CliPolicy(const Options& options, Terminal terminal, RunHooks hooks = {});

    int answerMessageBox(const std::string& text, const std::string& caption, UINT type) override;
    void formatDrive(HWND owner, UINT drive) override;
    INT_PTR chooseFile(CFileDialog& dialog) override;
    void runDialog(CDialog& dialog) override;
    void stateChanged(HWND hwnd, StateChange what) override;
    void workProgress(const WorkProgress& work) override;

    // Asks on the terminal before drive A: (named as `drive`) is erased; --yes answers Yes,
    // and without a terminal the answer is No.
    bool askToErase(const std::string& drive);
    // The exit status of the last diskette, and how many Start was pressed for.
    int status() const { return m_status; }
    unsigned diskettes() const { return m_diskettes; }
    // The erase question was answered No.
    bool eraseDeclined() const { return m_eraseDeclined; }

    // The build reported success.
    bool succeeded() const { return m_outcome.kind == build::Outcome::Kind::Succeeded; }
    // What the build came to, and its record, once the dialog has run.
    const build::Outcome& outcome() const { return m_outcome; }
    const build::Record& record() const { return m_record; }
    // What the program knows before the build (its name, the backup), for the build's record.
    void setRecordBase(build::Record base) { m_recordBase = std::move(base); }
    // The main dialog was run and Start pressed.
    bool started() const { return m_started; }
    // Start was refused: another build holds drive A: or the start directory.
    bool refusedInUse() const { return m_refusedInUse; }
    const console::FormatOutcome& formatOutcome() const { return m_format; }
    // What the build wrote and the files it took them from, once the dialog has run.
    const std::optional<build::Written>& written() const { return m_written; }
    // The dialog asked whether the diskette is to be taken out, in this run.
    bool removalAsked() const { return m_removalAsked; }

  private:
    int askOnTerminal(const char* question = "Proceed? [y/N] ");
    int answerDriveQuestion(const std::string& text, CCrisisDlg::DriveQuestion question);
    // The payload checks' doubts: --accept-payload-warnings answers, never --yes.
    int answerPayloadQuestion(const std::string& text);
    // One press of Start and what it came to.
    void pressStart(CDialog& dialog);
    // Another diskette is wanted after the one being built.
    bool moreToBuild() const;
    // After a message of the dialog's own words that gives no cause: "cause: ...".
    void tellCause();

    const Options& m_options;
    Terminal m_terminal;
    ProgressDisplay m_display;
    console::FormatOutcome m_format;
    std::optional<build::Written> m_written;
    int m_causeTold = 0;  // the outcome whose cause was printed last
    bool m_started = false;
    build::Outcome m_outcome;
    build::Record m_record;
    build::Record m_recordBase;
    bool m_refusedInUse = false;
    RunHooks m_hooks;
    int m_status = 0;
    unsigned m_diskettes = 0;
    bool m_eraseDeclined = false;
    bool m_removalAsked = false;
};

}  // namespace cli
