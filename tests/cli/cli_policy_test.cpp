// The console policy's answers and the progress display, on in-memory streams.
#include "cli/cli_policy.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "app/CrisisDlg.h"
#include "app/messages.h"
#include "cli/drive_target.h"
#include "platform/drive_a.h"
#include "platform/floppy_drives.h"
#include "support/dialog_harness.h"
#include "support/fat_tools.h"

namespace {

// A FILE* writing into a scratch file; text() gives what was written so far.
class MemoryOut {
  public:
    MemoryOut() : m_file(std::fopen(m_dir.file("out").c_str(), "wb")) {}
    ~MemoryOut() { std::fclose(m_file); }
    MemoryOut(const MemoryOut&) = delete;
    MemoryOut& operator=(const MemoryOut&) = delete;
    std::FILE* file() { return m_file; }
    std::string text() {
        std::fflush(m_file);
        const auto bytes = fattools::readBytes(m_dir.file("out"));
        return bytes ? std::string(bytes->begin(), bytes->end()) : std::string();
    }

  private:
    fattools::TempDir m_dir;
    std::FILE* m_file;
};

// A FILE* reading the given text.
class MemoryIn {
  public:
    explicit MemoryIn(const std::string& text) {
        fattools::writeBytes(m_dir.file("in"), {text.begin(), text.end()});
        m_file = std::fopen(m_dir.file("in").c_str(), "rb");
    }
    ~MemoryIn() { std::fclose(m_file); }
    MemoryIn(const MemoryIn&) = delete;
    MemoryIn& operator=(const MemoryIn&) = delete;
    std::FILE* file() { return m_file; }

  private:
    fattools::TempDir m_dir;
    std::FILE* m_file = nullptr;
};

const std::string kConfirm =
    "The current selected folder for the project tip is:\t\n/p\n\nDo you want to proceed ?";
const std::string kAnother =
    " Do you wish to create another Crisis Diskette ? \n\n If Yes, Please insert a new diskette "
    "now.  \n\n";

TEST(ProgressDisplay, WithoutATerminalEachStatusTextIsOneLine) {
    MemoryOut out;
    cli::ProgressDisplay display(out.file(), false);
    display.status("Copying minidos.sys...");
    display.work({"copying", "minidos.sys", 12, 50, "bytes"});
    display.work({"copying", "minidos.sys", 20, 50, "bytes"});
    display.status("Copying bios.rom...");
    display.work({"copying", "bios.rom", 50, 50, "bytes"});
    display.status("");
    display.status("Updating Boot Sector...");
    display.status("");
    display.status("Updating Boot Sector...");  // a new step, though the same text
    EXPECT_EQ(out.text(),
              "Copying minidos.sys...\nCopying bios.rom...\nUpdating Boot Sector...\n"
              "Updating Boot Sector...\n");
}

TEST(ProgressDisplay, OnATerminalOneLineShowsTheStepItsShareAndTheTimeLeft) {
    MemoryOut out, json;
    cli::ProgressDisplay display(out.file(), true, json.file());
    const auto t0 = cli::ProgressDisplay::Clock::time_point{};
    using std::chrono::seconds;
    display.work({"formatting", "", 0, 2880, "sectors"}, t0);
    display.work({"formatting", "", 720, 2880, "sectors"}, t0 + seconds(10));
    display.work({"formatting", "", 720, 2880, "sectors"}, t0 + seconds(10));  // drawn once
    display.work({"formatting", "", 2880, 2880, "sectors"}, t0 + seconds(40));
    display.status("");  // the format's end, as the policy says it
    display.status("Reading the diskette back...");
    display.status("");
    display.clear();  // nothing shown: nothing to take away
    EXPECT_EQ(out.text(),
              "\r\033[KFormatting drive A:  0%"
              "\r\033[KFormatting drive A:  25%  about 0:30 left"
              "\r\033[KFormatting drive A:  100%"
              "\r\033[K\r\033[KReading the diskette back...\r\033[K");
    EXPECT_EQ(json.text().substr(0, json.text().find('\n')),
              R"({"step":"formatting","item":"","done":0,"total":2880,"unit":"sectors"})");
}

TEST(ProgressDisplay, TheTimeLeftFollowsThePaceSoFar) {
    using std::chrono::milliseconds;
    const struct {
        std::uint64_t done, total;
        milliseconds elapsed;
        const char* text;
    } cases[] = {
        {0, 0, milliseconds(0), "100%"},      // nothing to do
        {0, 100, milliseconds(5000), "0%"},   // no pace yet
        {10, 100, milliseconds(900), "10%"},  // too early to tell
        {50, 100, milliseconds(65000), "50%  about 1:05 left"},
        {99, 100, milliseconds(1000), "99%"},    // under half a second left
        {150, 100, milliseconds(3000), "100%"},  // past the end: never more
    };
    for (const auto& c : cases)
        EXPECT_EQ(cli::progressText(c.done, c.total, c.elapsed), c.text)
            << c.done << "/" << c.total;
}

class CliPolicyAnswers : public ::testing::Test {
  protected:
    int ask(const std::string& text, UINT type, bool inTerminal = false,
            const std::string& typed = "") {
        MemoryIn in(typed);
        cli::Terminal terminal;
        terminal.err = m_err.file();
        terminal.in = in.file();
        terminal.inIsTerminal = inTerminal;
        cli::CliPolicy policy(m_options, terminal);
        const int answer = policy.answerMessageBox(text, "quenvol-cli", type);
        m_succeeded = policy.succeeded();
        return answer;
    }
    cli::Options m_options;
    MemoryOut m_err;
    bool m_succeeded = false;
};

TEST_F(CliPolicyAnswers, EveryMessageIsWrittenAsItStands) {
    EXPECT_EQ(ask(" Failed to copy bios.rom file.\n\n", MB_OK), IDOK);
    EXPECT_EQ(m_err.text(), " Failed to copy bios.rom file.\n\n\n");
    EXPECT_FALSE(m_succeeded);
}

// Success is what the build's outcome says, never a message's words.
TEST_F(CliPolicyAnswers, SuccessIsTakenFromTheOutcomeNotFromTheText) {
    EXPECT_EQ(
        ask("Crisis Recovery Diskette was Successfully Created. \n\n", MB_OK | MB_ICONEXCLAMATION),
        IDOK);
    EXPECT_FALSE(m_succeeded);
}

TEST_F(CliPolicyAnswers, AnotherDisketteIsYesOnlyWhileMoreAreToBeBuilt) {
    // The question after a successful build is known by the outcome, whatever its words.
    CCrisisDlg dialog;
    dialog.m_outcome.kind = build::Outcome::Kind::Succeeded;
    CWinApp& app = *AfxGetApp();
    CWnd* const before = app.m_pMainWnd;
    app.m_pMainWnd = &dialog;
    m_options.yes = true;
    // The first diskette of a row: one is the count, none is no count.
    const struct {
        unsigned count;
        int answer;
    } cases[] = {{1, IDNO}, {2, IDYES}, {0, IDYES}};
    for (const auto& c : cases) {
        m_options.count = c.count;
        EXPECT_EQ(ask(kAnother, MB_YESNO | MB_ICONQUESTION, true, "n\n"), c.answer) << c.count;
    }
    EXPECT_EQ(m_err.text(), kAnother + "\n" + kAnother + "\n" + kAnother + "\n");
    app.m_pMainWnd = before;
}

TEST_F(CliPolicyAnswers, YesAnswersTheConfirmationWithoutAsking) {
    m_options.yes = true;
    EXPECT_EQ(ask(kConfirm, MB_YESNO | MB_ICONQUESTION, true, "n\n"), IDYES);
    EXPECT_EQ(m_err.text(), kConfirm + "\n");
}

TEST_F(CliPolicyAnswers, WithoutATerminalTheConfirmationIsNo) {
    EXPECT_EQ(ask(kConfirm, MB_YESNO | MB_ICONQUESTION, false, "y\n"), IDNO);
    EXPECT_NE(m_err.text().find("answered No, as standard input is not a terminal"),
              std::string::npos);
}

TEST_F(CliPolicyAnswers, OnATerminalTheTypedAnswerCounts) {
    EXPECT_EQ(ask(kConfirm, MB_YESNO, true, "y\n"), IDYES);
    EXPECT_EQ(m_err.text(), kConfirm + "\nProceed? [y/N] ");
    EXPECT_EQ(ask(kConfirm, MB_YESNO, true, " YES \n"), IDYES);
    EXPECT_EQ(ask(kConfirm, MB_YESNO, true, "n\n"), IDNO);
    EXPECT_EQ(ask(kConfirm, MB_YESNO, true, "\n"), IDNO);
    EXPECT_EQ(ask(kConfirm, MB_YESNO, true, "yeah\n"), IDNO);
    EXPECT_EQ(ask(kConfirm, MB_YESNO, true, ""), IDNO);  // end of input
}

// The desktop's questions are told by the dialog's mark, not by the outcome or the words:
// --unmount answers the unmount question (the terminal otherwise), --eject the removal, and
// --yes neither.
TEST_F(CliPolicyAnswers, TheDriveQuestionsHaveOptionsOfTheirOwn) {
    using Question = CCrisisDlg::DriveQuestion;
    CCrisisDlg dialog;
    dialog.m_outcome.kind = build::Outcome::Kind::Succeeded;  // as after the success message
    CWinApp& app = *AfxGetApp();
    CWnd* const before = app.m_pMainWnd;
    app.m_pMainWnd = &dialog;
    const std::string unmount = texts::unmountQuestion("/dev/sdb", "vfat at /media/ann/DISK");
    const struct Case {
        Question question;
        bool yes, unmount, eject, terminal;
        const char* typed;
        int answer;
        std::string said;
    } cases[] = {
        {Question::Unmount, false, true, false, true, "n\n", IDYES, unmount + "\n"},
        {Question::Unmount, false, false, false, true, "y\n", IDYES,
         unmount + "\nUnmount it? [y/N] "},
        {Question::Unmount, true, false, false, false, "", IDNO,
         unmount + "\nquenvol-cli: answered No, as standard input is not a terminal (--unmount "
                   "answers Yes)\n"},
        {Question::RemoveDiskette, false, false, true, false, "", IDYES,
         std::string(texts::kEjectQuestion) + "\nquenvol-cli: answered Yes (--eject)\n"},
        {Question::RemoveDiskette, true, true, false, true, "y\n", IDNO, ""},
    };
    for (const Case& c : cases) {
        MemoryOut err;
        MemoryIn in(c.typed);
        m_options.yes = c.yes;
        m_options.unmount = c.unmount;
        m_options.eject = c.eject;
        cli::Terminal terminal{err.file(), in.file(), false, c.terminal};
        cli::CliPolicy policy(m_options, terminal);
        dialog.m_driveQuestion = c.question;
        const std::string text =
            c.question == Question::Unmount ? unmount : std::string(texts::kEjectQuestion);
        EXPECT_EQ(policy.answerMessageBox(text, "quenvol-cli", MB_YESNO | MB_ICONQUESTION),
                  c.answer)
            << text;
        EXPECT_EQ(err.text(), c.said);
    }
    dialog.m_driveQuestion = Question::None;
    app.m_pMainWnd = before;
}

TEST(DriveTarget, BlankImagesAreMadeOnlyWhereNothingIs) {
    fattools::TempDir dir;
    const std::string image = dir.file("a.img");
    EXPECT_EQ(cli::createBlankImage(image), "");
    const auto bytes = fattools::readBytes(image);
    ASSERT_TRUE(bytes);
    EXPECT_EQ(bytes->size(), cli::kBlankImageBytes);
    EXPECT_EQ(std::count(bytes->begin(), bytes->end(), 0), static_cast<long>(bytes->size()));

    ASSERT_TRUE(fattools::writeBytes(image, {1, 2, 3}));
    EXPECT_EQ(cli::createBlankImage(image), "File exists");
    EXPECT_EQ(fattools::readBytes(image), (std::vector<std::uint8_t>{1, 2, 3}));
}

TEST(DriveTarget, TheDriveIsResolvedAndHandedToThePlatform) {
    fattools::TempDir dir;
    dialogtest::ScopedEnv drive("QUENVOL_DRIVE_A", std::nullopt);
    struct Restore {
        platform::DriveASelection saved = platform::driveASelection();
        ~Restore() { platform::setDriveASelection(saved); }
    } restore;

    // The image's path as the system spells it ("\\" between names on Windows).
    const std::string image = std::filesystem::path(dir.file("a.img")).lexically_normal().string();
    // Nothing there, no --create: an empty drive, for the dialog to report.
    auto empty = cli::prepareDrive(dir.file("a.img"), false);
    EXPECT_EQ(empty.state, cli::DriveTarget::State::Empty);
    EXPECT_EQ(empty.path, image);
    EXPECT_EQ(platform::driveASelection().named, image);
    EXPECT_EQ(platform::driveAPath(), image);

    auto made = cli::prepareDrive(dir.file("a.img"), true);
    EXPECT_EQ(made.state, cli::DriveTarget::State::Ready);
    EXPECT_NE(made.message.find("created a blank 1.44 MB diskette image"), std::string::npos);
    EXPECT_EQ(cli::announceDrive(made), "Drive A: is " + image + ", 1,474,560 bytes");
    auto again = cli::prepareDrive(dir.file("a.img"), true);
    EXPECT_EQ(again.state, cli::DriveTarget::State::Ready);
    EXPECT_EQ(again.message, "");

    // --create needs a path of its own, never the default device.
    dialogtest::ScopedEnv unset("QUENVOL_DRIVE_A", std::nullopt);
    auto unnamed = cli::prepareDrive(std::nullopt, true);
    EXPECT_EQ(unnamed.state, cli::DriveTarget::State::Unusable);
    EXPECT_NE(unnamed.message.find("--create needs the image's path"), std::string::npos);

    // A relative path is made absolute: the dialog changes the current directory.
    dialogtest::ScopedEnv fromEnv("QUENVOL_DRIVE_A", "relative.img");
    auto relative = cli::prepareDrive(std::nullopt, false);
    EXPECT_TRUE(std::filesystem::path(relative.path).is_absolute()) << relative.path;
    EXPECT_EQ(std::filesystem::path(relative.path).filename(), "relative.img") << relative.path;
#ifdef _WIN32
    // A drive letter, however spelt, is the drive itself, never a folder or an image to make.
    for (const char* letter : {"a:", "A:\\", "\\\\.\\A:"}) {
        EXPECT_EQ(cli::prepareDrive(letter, false).path, "A:") << letter;
        const auto create = cli::prepareDrive(letter, true);
        EXPECT_EQ(create.state, cli::DriveTarget::State::Unusable) << letter;
        EXPECT_NE(create.message.find("A: is a drive"), std::string::npos) << create.message;
    }
#endif
}

}  // namespace
