// The console policy of quenvol-cli: what a user at the dialog would do, decided by the
// options. Message boxes go to standard error, the status line and progress bar become a
// progress display, and what the run achieved is kept for the exit status.
#pragma once

#include <cstdio>
#include <optional>
#include <string>

#include "build/build_record.h"
#include "cli/cli_options.h"
#include "cli/verify.h"
#include "ui/console/console_backend.h"
#include "ui/console/format_policy.h"

namespace cli {

// The status line and the progress bar as one line on standard error: redrawn in place on a
// terminal, else one plain line per status text, so that logs get no progress noise.
class ProgressDisplay {
  public:
    ProgressDisplay(std::FILE* out, bool terminal) : m_out(out), m_terminal(terminal) {}
    void status(const std::string& text);
    void progress(int pos, int max);
    // Takes the progress line away before other output on a terminal.
    void clear();

  private:
    void draw();
    std::FILE* m_out;
    bool m_terminal;
    std::string m_text;
    std::string m_lastPrinted;
    int m_pos = 0;
    int m_max = 50;
    bool m_shown = false;
};

struct Terminal {
    std::FILE* err = stderr;
    std::FILE* in = stdin;
    bool errIsTerminal = false;
    bool inIsTerminal = false;
};

class CliPolicy : public console::Policy {
  public:
    CliPolicy(const Options& options, Terminal terminal);

    int answerMessageBox(const std::string& text, const std::string& caption, UINT type) override;
    void formatDrive(HWND owner, UINT drive) override;
    INT_PTR chooseFile(CFileDialog& dialog) override;
    void runDialog(CDialog& dialog) override;
    void stateChanged(HWND hwnd, StateChange what) override;

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

  private:
    int askOnTerminal();
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
};

}  // namespace cli
