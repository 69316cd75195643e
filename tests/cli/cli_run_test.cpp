// quenvol-cli as a program: exit statuses, messages, the questions on a terminal, and what
// it leaves on the diskette image and in the settings file.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <regex>
#include <sstream>

#include "app/messages.h"
#include "cli/cli_process.h"
#include "cli/drive_target.h"
#include "platform/staging_area.h"
#include "support/dialog_harness.h"
#include "support/fake_sysfs.h"
#include "support/fat_tools.h"
#include "support/message_shape.h"
#include "support/test_files.h"

namespace {

namespace fs = std::filesystem;
using clitest::Scratch;

const std::string kSuccess = texts::kSucceeded;
// The confirmation up to the project folder it names.
const std::string kConfirm = textsupport::shapeOf(texts::confirmProject).head;
const std::string kNoFloppy = texts::kNoFloppy + std::string("\n");
const std::string kRefusal = texts::kProjectRefused;

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

std::size_t count(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

std::vector<std::uint8_t> bytesOf(const std::string& path) {
    auto bytes = fattools::readBytes(path);
    return bytes ? *bytes : std::vector<std::uint8_t>{};
}

bool allZero(const std::vector<std::uint8_t>& bytes) {
    return std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b == 0; });
}

// The start directory as a user sees it: every entry, hidden ones too, with its bytes or,
// for a link, where it points.
std::map<std::string, std::string> snapshot(const std::string& folder) {
    std::map<std::string, std::string> entries;
    for (const auto& entry : fs::directory_iterator(folder)) {
        const std::string name = entry.path().filename();
        if (entry.is_symlink()) {
            entries[name] = "-> " + fs::read_symlink(entry.path()).string();
        } else if (!entry.is_regular_file()) {
            entries[name] = "(not a file)";  // a pipe would hold the test
        } else {
            const auto bytes = bytesOf(entry.path());
            entries[name] = std::string(bytes.begin(), bytes.end());
        }
    }
    return entries;
}

// A project folder like the sample's, with a BIOS and a platform file of its own.
std::string otherProject(const Scratch& s) {
    const std::string other = s.root() + "/other";
    fs::copy(s.project(), other);
    fattools::writeBytes(other + "/testQ7A.rom", fattools::plausibleImage(65536, "Q7A", 9));
    std::ofstream(other + "/platform.bin", std::ios::binary) << "another platform";
    std::ofstream(other + "/vgabios.exe", std::ios::binary) << "another video BIOS";
    return other;
}

// The last line of the settings file: the most recent project folder.
std::string mostRecent(const Scratch& s) {
    std::ifstream in(s.settingsFile(), std::ios::binary);
    std::string line, last;
    while (std::getline(in, line)) last = line;
    if (!last.empty() && last.back() == '\r') last.pop_back();
    return last;
}

TEST(CliRun, BuildsAVerifiedMinidosDiskette) {
    Scratch s;
    const auto r = s.run({"--create", "--yes", "--verify", "--drive", s.image(), s.project()});
    ASSERT_EQ(r.exitCode, 0) << r.output;
    EXPECT_TRUE(contains(r.output, "created a blank 1.44 MB diskette image at " + s.image()));
    EXPECT_TRUE(contains(r.output, texts::confirmProject(s.project()) + "\n"));
    EXPECT_TRUE(contains(r.output, kSuccess));
    EXPECT_TRUE(contains(r.output, texts::kAnotherDiskette));
    EXPECT_TRUE(contains(r.output, "verify: 5 files and sector 0 on the diskette match"));
    EXPECT_LT(r.output.find("Drive A: is " + s.image() + ", 1,474,560 bytes\n"),
              r.output.find(kConfirm));

    EXPECT_EQ(fattools::mdirNames(s.image()),
              (std::vector<std::string>{"MINIDOS.SYS", "ZYPLET.EXE", "PLATFORM.BIN", "VGABIOS.EXE",
                                        "BIOS.ROM"}));
    EXPECT_EQ(fattools::mtype(s.image(), "BIOS.ROM"), bytesOf(s.project() + "/testQ7A.rom"));
    const auto fsck = fattools::runFsck(s.image());
    EXPECT_TRUE(fsck.clean) << fsck.output;
    auto image = bytesOf(s.image());
    ASSERT_GE(image.size(), 512u);
    EXPECT_EQ(fattools::withoutVolumeIdentity({image.begin(), image.begin() + 512}),
              fattools::withoutVolumeIdentity(bytesOf(s.kit() + "/crisboot.bin")));
    // "No" to another diskette closes as the Close button does: the history is saved.
    EXPECT_EQ(mostRecent(s), s.project());
    // The staged BIOS files are gone from the start directory again.
    EXPECT_FALSE(fs::exists(s.kit() + "/bios.rom"));
}

TEST(CliRun, FulldosKeepsTheFormattersBootSectorAndVerifiesTheFiles) {
    Scratch s;
    const auto r = s.run(
        {"--kind", "fulldos", "--create", "--yes", "--verify", "--drive", s.image(), s.project()});
    ASSERT_EQ(r.exitCode, 0) << r.output;
    EXPECT_TRUE(contains(r.output, "verify: 5 files on the diskette match"));
    EXPECT_FALSE(contains(r.output, texts::kUpdatingBootSector));
    const auto image = bytesOf(s.image());
    const auto crisboot = bytesOf(s.kit() + "/crisboot.bin");
    ASSERT_GE(image.size(), 512u);
    EXPECT_FALSE(std::equal(crisboot.begin(), crisboot.end(), image.begin()));
}

TEST(CliRun, TheFourFileListIsVerifiedWhenTheKitHoldsZyplet16) {
    Scratch s;
    fs::rename(s.kit() + "/zyplet.exe", s.kit() + "/ZYPLET16.EXE");
    // The plan follows the same list: flashabl.rom is all it asks of the project.
    const std::string flashOnly = s.root() + "/flash-only";
    fs::copy(s.project(), flashOnly);
    fs::remove(flashOnly + "/platform.bin");
    const auto plan = s.run({"--plan", "--drive", s.image(), flashOnly});
    EXPECT_EQ(plan.exitCode, 0) << plan.output;
    EXPECT_TRUE(contains(plan.output, "file      bios.qvx <- " + flashOnly + "/flashabl.rom"))
        << plan.output;
    const auto r = s.run({"--create", "--yes", "--verify", "--drive", s.image(), s.project()});
    ASSERT_EQ(r.exitCode, 0) << r.output;
    EXPECT_TRUE(contains(r.output, "verify: 4 files and sector 0"));
    EXPECT_EQ(fattools::mtype(s.image(), "BIOS.QVX"), bytesOf(s.project() + "/flashabl.rom"));
    // The staged video BIOS program goes too: the next project's diskette would carry it.
    EXPECT_FALSE(fs::exists(s.kit() + "/vgabios.exe"));
}

TEST(CliRun, NoProjectWordsBuildsTheMostRecentProject) {
    Scratch s;
    ASSERT_EQ(s.run({"--create", "--yes", "--drive", s.image(), s.project()}).exitCode, 0);
    const auto again = s.run({"--yes", "--verify", "--drive", s.image()});
    EXPECT_EQ(again.exitCode, 0) << again.output;
    EXPECT_TRUE(contains(again.output, texts::confirmProject(s.project())));
}

TEST(CliRun, ProjectWordsAreJoinedByOneBlank) {
    Scratch s;
    const std::string spaced = s.root() + "/my  bios";
    fs::copy(s.project(), spaced);
    // The shell has split the folder's name; joined with one blank it names no folder.
    const auto split = s.run({"--create", "--yes", "--drive", s.image(), s.root() + "/my", "bios"});
    EXPECT_EQ(split.exitCode, 1) << split.output;
    EXPECT_TRUE(contains(split.output, kRefusal));
    EXPECT_EQ(mostRecent(s), s.root() + "/my bios");
    const auto whole = s.run({"--yes", "--drive", s.image(), spaced});
    EXPECT_EQ(whole.exitCode, 0) << whole.output;
}

TEST(CliRun, ARefusedProjectStopsWithItsMessageAndKeepsThePathInTheHistory) {
    Scratch s;
    const std::string empty = s.root() + "/empty";
    fs::create_directories(empty);
    const auto r = s.run({"--create", "--yes", "--drive", s.image(), empty});
    EXPECT_EQ(r.exitCode, 1) << r.output;
    EXPECT_TRUE(contains(r.output, kRefusal));
    EXPECT_FALSE(contains(r.output, kSuccess));
    // Close, not Escape, after the failure: the checked path was saved.
    EXPECT_EQ(mostRecent(s), empty);
    EXPECT_TRUE(allZero(bytesOf(s.image())));
}

TEST(CliRun, AnEmptyDriveStopsWithTheDialogsMessageAndSuggestsCreate) {
    Scratch s;
    const auto r = s.run({"--yes", "--drive", s.image(), s.project()});
    EXPECT_EQ(r.exitCode, 3) << r.output;
    EXPECT_TRUE(contains(r.output, kNoFloppy));
    EXPECT_TRUE(contains(r.output, "--create makes a blank 1.44 MB image there"));
    // The diskette is checked before the project: no confirmation was asked.
    EXPECT_FALSE(contains(r.output, kConfirm));
    EXPECT_FALSE(fs::exists(s.image()));
}

TEST(CliRun, ADriveThatCannotBeADisketteIsBadUsageAndIsNeverTouched) {
    Scratch s;
    const std::string big = s.root() + "/big.img";
    { std::ofstream create(big); }
    fs::resize_file(big, 10 * 1024 * 1024);
    const auto r = s.run({"--create", "--yes", "--drive", big, s.project()});
    EXPECT_EQ(r.exitCode, 2) << r.output;
    EXPECT_TRUE(contains(r.output, "not a diskette: " + big + " holds 10,485,760 bytes (10 MB)"))
        << r.output;
    EXPECT_EQ(fs::file_size(big), 10u * 1024 * 1024);
    EXPECT_TRUE(allZero(bytesOf(big)));
    EXPECT_FALSE(fs::exists(s.settingsFile()));

    const auto folder = s.run({"--drive", s.root(), s.project()});
    EXPECT_EQ(folder.exitCode, 2);
    EXPECT_TRUE(contains(folder.output, s.root() + " is a directory")) << folder.output;

    const auto device = s.run({"--drive", "/dev/null", s.project()});
    EXPECT_EQ(device.exitCode, 2);
    EXPECT_TRUE(contains(device.output, "/dev/null is a character device")) << device.output;

    const auto nowhere = s.run({"--create", "--drive", s.root() + "/no/such/a.img"});
    EXPECT_EQ(nowhere.exitCode, 2);
    EXPECT_TRUE(contains(nowhere.output,
                         "cannot create a blank diskette image at " + s.root() + "/no/such/a.img"))
        << nowhere.output;
}

TEST(CliRun, CreateNeverReplacesAnExistingImage) {
    Scratch s;
    ASSERT_EQ(s.run({"--create", "--yes", "--drive", s.image(), s.project()}).exitCode, 0);
    const auto built = bytesOf(s.image());
    // A second --create with --no-format finds the image and builds on it as it is.
    const auto r = s.run({"--create", "--yes", "--no-format", "--drive", s.image(), s.project()});
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_FALSE(contains(r.output, "created a blank"));
    EXPECT_FALSE(contains(r.output, "Formatting"));
    EXPECT_EQ(fattools::mtype(s.image(), "MINIDOS.SYS"), bytesOf(s.kit() + "/minidos.sys"));
    EXPECT_EQ(bytesOf(s.image()).size(), built.size());
}

TEST(CliRun, NoFormatOnABlankImageFailsAtTheCopy) {
    Scratch s;
    const auto r = s.run({"--create", "--yes", "--no-format", "--drive", s.image(), s.project()});
    EXPECT_EQ(r.exitCode, 1) << r.output;
    EXPECT_TRUE(contains(r.output, texts::copyFailed("minidos.sys"))) << r.output;
    EXPECT_TRUE(allZero(bytesOf(s.image())));
}

// The dialog's own messages for a refused project, a failed copy and a failed boot sector say
// nothing of the cause; quenvol-cli adds it on the next line.
TEST(CliRun, MessagesWithoutACauseAreFollowedByTheCause) {
    struct Case {
        const char* what;
        std::vector<std::string> extra;  // options besides --yes --create --drive
        std::string project;             // "": the sample project
        std::string message;
        std::string cause;
    };
    Scratch s;
    const std::string empty = s.root() + "/empty";
    fs::create_directories(empty);
    const std::vector<Case> cases = {
        {"project",
         {},
         empty,
         kRefusal,
         "cause: the project folder " + empty + ": partnum.mak cannot be opened: "},
        {"copy",
         {"--no-format"},
         "",
         texts::copyFailed("minidos.sys"),
         "cause: the diskette in drive A: holds no usable FAT12 volume"},
        {"boot sector",
         {},
         "",
         texts::bootImageUnusable(s.kit(), "crisboot.bin holds 0 bytes; a boot sector is 512"),
         "cause: crisboot.bin holds 0 bytes; a boot sector is 512"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove(s.image());
        if (std::string(c.what) == "boot sector") std::ofstream(s.kit() + "/crisboot.bin").close();
        std::vector<std::string> args = {"--yes", "--create", "--drive", s.image()};
        args.insert(args.end(), c.extra.begin(), c.extra.end());
        args.push_back(c.project.empty() ? s.project() : c.project);
        const auto r = s.run(args);
        EXPECT_EQ(r.exitCode, 1) << r.output;
        const auto at = r.output.find(c.message);
        ASSERT_NE(at, std::string::npos) << r.output;
        const auto cause = r.output.find("\ncause: ", at);
        ASSERT_NE(cause, std::string::npos) << r.output;
        EXPECT_EQ(r.output.compare(cause + 1, c.cause.size(), c.cause), 0) << r.output;
        EXPECT_EQ(count(r.output, "cause: "), 1u) << r.output;
    }
}

// A drive this user may not open is reported as permission, naming the device and the group
// that owns it, never as a write-protected diskette or an empty drive. Needs root, to run the
// program as another user.
TEST(CliRun, ADriveClosedToTheUserIsReportedAsPermission) {
    if (::geteuid() != 0) GTEST_SKIP() << "running as another user needs root";
    if (const std::string closed = clitest::folderClosedToOthers(); !closed.empty())
        GTEST_SKIP() << closed << " is closed to other users, so the program cannot run as one";
    Scratch s;
    ASSERT_EQ(s.run({"--kind", "format", "--yes", "--create", "--drive", s.image()}).exitCode, 0);
    ASSERT_EQ(::chmod(s.image().c_str(), 0660), 0);  // root's and its group's
    for (const std::string& dir : {s.root(), s.kit(), s.config()}) {
        ASSERT_EQ(::chmod(dir.c_str(), 0777), 0);
    }
    s.runAs(65534, 65534);
    const auto before = bytesOf(s.image());
    const auto build = s.run({"--yes", "--drive", s.image(), s.project()});
    EXPECT_EQ(build.exitCode, 4) << build.output;
    const auto wayOut = textsupport::findComposed(
        build.output, [&](const std::string& w) { return texts::noAccess(s.image(), w); });
    ASSERT_TRUE(wayOut.has_value()) << build.output;
    EXPECT_TRUE(wayOut->starts_with("It belongs to the group \"root\"")) << build.output;
    EXPECT_FALSE(contains(build.output, "write-protected")) << build.output;
    EXPECT_FALSE(contains(build.output, kNoFloppy)) << build.output;
    EXPECT_FALSE(contains(build.output, kConfirm)) << build.output;

    ASSERT_EQ(::chmod(s.image().c_str(), 0600), 0);  // root's alone: the owner is the way out
    const auto format = s.run({"--kind", "format", "--yes", "--drive", s.image()});
    EXPECT_EQ(format.exitCode, 4) << format.output;
    EXPECT_TRUE(contains(format.output, "only its owner \"root\" may use it")) << format.output;
    EXPECT_TRUE(contains(format.output, "You have no permission to use drive A:")) << format.output;
    EXPECT_FALSE(contains(format.output, "write-protected")) << format.output;
    EXPECT_EQ(bytesOf(s.image()), before);
}

// An immutable image refuses every user, root and its owner included: the way out is the
// attribute, not a user.
TEST(CliRun, AnImmutableImageIsNamedAsSuch) {
    Scratch s;
    ASSERT_EQ(s.run({"--kind", "format", "--create", "--yes", "--drive", s.image()}).exitCode, 0);
    if (fattools::runTool({"chattr", "+i", s.image()}).exitCode != 0)
        GTEST_SKIP() << "the immutable attribute cannot be set here";
    const auto format = s.run({"--kind", "format", "--yes", "--drive", s.image()});
    fattools::runTool({"chattr", "-i", s.image()});
    EXPECT_EQ(format.exitCode, 4) << format.output;
    EXPECT_TRUE(contains(format.output, "immutable attribute")) << format.output;
    EXPECT_FALSE(contains(format.output, "only its owner")) << format.output;
}

TEST(CliRun, BeforeErasingDriveAOneQuestionNamesIt) {
    const std::string erase = "Erase it? [y/N] ";
    struct Case {
        std::vector<std::string> args;  // the drive and the project follow
        std::string reply;              // empty: no terminal
        int exitCode;
    };
    const Case cases[] = {
        {{}, "", 6},   {{"--kind", "format"}, "", 6},        {{}, "n\n", 6},
        {{}, "\n", 6}, {{"--kind", "format"}, "maybe\n", 6}, {{"--kind", "format"}, "y\n", 0},
    };
    for (const Case& c : cases) {
        Scratch s;
        ASSERT_EQ(cli::createBlankImage(s.image()), "");
        std::vector<std::string> args = c.args;
        args.insert(args.end(), {"--drive", s.image()});
        if (c.args.empty()) args.push_back(s.project());
        const auto r = c.reply.empty() ? s.run(args, "y\n") : s.runOnTerminal(args, erase, c.reply);
        SCOPED_TRACE(r.output);
        EXPECT_EQ(r.exitCode, c.exitCode);
        EXPECT_EQ(count(r.output, "Everything on drive A: (" + s.image() +
                                      ", 1,474,560 bytes) will be erased."),
                  1u);
        EXPECT_EQ(count(r.output, erase), c.reply.empty() ? 0u : 1u);
        EXPECT_EQ(contains(r.output, "answered No, as standard input is not a terminal"),
                  c.reply.empty());
        // Declined before the project question and before anything is written.
        EXPECT_FALSE(contains(r.output, kConfirm));
        EXPECT_EQ(allZero(bytesOf(s.image())), c.exitCode != 0);
    }
}

TEST(CliRun, OnATerminalTheConfirmationIsAsked) {
    const std::string prompt = "Proceed? [y/N] ";
    {
        Scratch s;
        const auto yes = s.runOnTerminal({"--create", "--drive", s.image(), s.project()}, prompt,
                                         "y\n", nullptr, "y\n");
        EXPECT_EQ(yes.exitCode, 0) << yes.output;
        EXPECT_EQ(count(yes.output, prompt), 1u);
        EXPECT_EQ(count(yes.output, "Erase it? [y/N] "), 1u);
        // A terminal gets one line a step, redrawn in place, with its share done.
        for (const std::string& line :
             {std::string("Formatting drive A:  100%"), texts::copying("bios.rom") + "  100%",
              std::string(texts::kReadingBack) + "  100%"})
            EXPECT_TRUE(contains(yes.output, "\r\033[K" + line)) << line << yes.output;
    }
    for (const std::string reply : {"n\n", "\n", "maybe\n"}) {
        Scratch s;
        const auto no = s.runOnTerminal({"--create", "--drive", s.image(), s.project()}, prompt,
                                        reply, nullptr, "y\n");
        EXPECT_EQ(no.exitCode, 6) << no.output;
        EXPECT_FALSE(contains(no.output, textsupport::shapeOf(texts::copying).head));
        EXPECT_TRUE(allZero(bytesOf(s.image())));
    }
}

// A BIOS image the payload checks doubt (a zip under the image's name) asks before drive A: is
// erased; --yes does not answer it, --accept-payload-warnings does, and without a terminal
// and the option the build is refused, saying why, with the findings in the report.
TEST(CliRun, ADoubtfulImageIsAskedAboutAndOnlyItsOwnOptionAnswers) {
    const std::string refused =
        "answered No, as standard input is not a terminal (--accept-payload-warnings answers "
        "Yes; --yes does not): nothing was erased, and the build is refused";
    // A project like the sample's whose test image is `image`.
    auto projectWith = [](const Scratch& s, const std::vector<std::uint8_t>& image) {
        const std::string project = s.root() + "/doubtful";
        fs::copy(s.project(), project);
        fattools::writeBytes(project + "/testQ7A.rom", image);
        return project;
    };
    const auto plausible = fattools::plausibleImage(65536, "Q7A", 5);
    auto beginning = [&](std::string_view head) {
        auto image = plausible;
        std::copy(head.begin(), head.end(), image.begin());
        return image;
    };
    const auto zip = beginning("PK\x03\x04");
    struct Case {
        std::vector<std::uint8_t> image;
        std::vector<std::string> options;
        int exitCode;
        std::vector<std::string> said;  // on standard error or in the report
    };
    const Case cases[] = {
        {zip,
         {"--yes"},
         1,
         {refused, "a zip archive", R"({"file":"bios.rom","name":"package","level":"warn")",
          R"("outcome":"refused","failure":{"kind":"payload-check")",
          R"("payload_question":"answered-no")"}},
        {beginning("MZ"), {"--yes"}, 1, {refused, "a DOS or Windows program"}},
        {std::vector<std::uint8_t>(65536, 0xFF), {"--yes"}, 1, {refused, "every byte is 0xFF"}},
        {fattools::plausibleImage(65536, "Q7B", 5),
         {"--yes"},
         1,
         {refused, "the part number appears nowhere in the image"}},
        {zip,
         {"--yes", "--accept-payload-warnings"},
         0,
         {"a zip archive", "quenvol-cli: answered Yes (--accept-payload-warnings)",
          R"("payload_question":"accepted-by-option")", R"("outcome":"built")"}},
    };
    for (const Case& c : cases) {
        Scratch s;
        const std::string project = projectWith(s, c.image);
        std::vector<std::string> args{"--create", "--json", "--drive", s.image()};
        args.insert(args.end(), c.options.begin(), c.options.end());
        args.push_back(project);
        const auto r = s.run(args);
        EXPECT_EQ(r.exitCode, c.exitCode) << r.output;
        EXPECT_TRUE(contains(r.output, " bios.rom (" + project)) << r.output;
        for (const auto& text : c.said) EXPECT_TRUE(contains(r.output, text)) << text << r.output;
        EXPECT_EQ(allZero(bytesOf(s.image())), c.exitCode != 0);
    }
    // On a terminal it is asked, after the project question.
    Scratch s;
    const auto yes = s.runOnTerminal({"--create", "--drive", s.image(), projectWith(s, zip)},
                                     "Put them on the diskette? [y/N] ", "y\n", nullptr, "y\ny\n");
    EXPECT_EQ(yes.exitCode, 0) << yes.output;
    EXPECT_LT(yes.output.find("Proceed? [y/N] "), yes.output.find("a zip archive"));
    std::ifstream log(s.buildLog());
    const std::string logged((std::istreambuf_iterator<char>(log)), {});
    EXPECT_TRUE(contains(logged, R"("payload_question":"answered-yes")")) << logged;
    // The sample's files pass every check: nothing is asked about them.
    const auto sample = s.run({"--yes", "--json", "--drive", s.image(), s.project()});
    EXPECT_EQ(sample.exitCode, 0) << sample.output;
    EXPECT_FALSE(contains(sample.output, "may not be right")) << sample.output;
    EXPECT_TRUE(contains(sample.output, R"("payload_question":null)")) << sample.output;
}

TEST(CliRun, ProgressAsJsonGivesEveryStepOnStandardOutput) {
    Scratch s;
    const auto r = s.run({"--create", "--yes", "-q", "--progress=json", "--full", "--drive",
                          s.image(), s.project()});
    ASSERT_EQ(r.exitCode, 0) << r.output;
    // Each step's last line, and that every line is one object with the five fields.
    std::map<std::string, std::string> last;
    std::istringstream lines(r.output);
    const std::regex object(
        R"re(^\{"step":"([a-z-]+)","item":"[^"]*","done":([0-9]+),"total":([0-9]+),"unit":"(bytes|sectors)"\}$)re");
    for (std::string line; std::getline(lines, line);) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(line, m, object)) << line;
        last[m[1]] = std::string(m[2]) + "/" + std::string(m[3]);
    }
    EXPECT_EQ(last["formatting"], "2880/2880");
    // Every byte copied is read back, and sector 0 with them.
    const std::string copied = last["copying"].substr(last["copying"].find('/') + 1);
    EXPECT_EQ(last["copying"], copied + "/" + copied);
    EXPECT_EQ(last["boot-sector"], "1/1");
    const std::string read = std::to_string(std::stoul(copied) + 512);
    EXPECT_EQ(last["reading-back"], read + "/" + read);
}

TEST(CliRun, WithoutATerminalProgressIsOneLinePerStep) {
    Scratch s;
    const auto r = s.run({"--create", "--yes", "--drive", s.image(), s.project()});
    ASSERT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(count(r.output, "\r"), 0u);
    EXPECT_EQ(count(r.output, "\n" + texts::copying("bios.rom") + "\n"), 1u);
    EXPECT_EQ(count(r.output, "\n" + std::string(texts::kUpdatingBootSector) + "\n"), 1u);
}

TEST(CliRun, FormatOnlyFormatsWithTheLabel) {
    Scratch s;
    const auto r =
        s.run({"--kind", "format", "--yes", "--create", "--label", "rescue", "--drive", s.image()});
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_TRUE(contains(r.output, "Format complete: 1,457,664 bytes available on the diskette."));
    const auto listing = fattools::runTool({"mdir", "-i", s.image(), "::"});
    EXPECT_TRUE(contains(listing.output, "Volume in drive : is RESCUE")) << listing.output;
    EXPECT_TRUE(fattools::runFsck(s.image()).clean);
    EXPECT_EQ(fattools::mdirNames(s.image()), std::vector<std::string>{});
}

TEST(CliRun, FormatOnlyWithoutADisketteFails) {
    Scratch s;
    const auto r = s.run({"--kind", "format", "--yes", "--drive", s.image()});
    EXPECT_EQ(r.exitCode, 3) << r.output;
    EXPECT_TRUE(contains(r.output, "the format failed")) << r.output;
}

TEST(CliRun, FullFormatIsReported) {
    Scratch s;
    const auto r = s.run({"--kind", "format", "--yes", "--full", "--create", "--drive", s.image()});
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_TRUE(contains(r.output, "Formatting drive A: (full format)..."));
    EXPECT_TRUE(fattools::runFsck(s.image()).clean);
}

// The output with each access field checked and replaced by "*": it depends on which of the
// made-up device names exist under the real /dev.
std::string maskAccess(std::string out) {
    for (const char* access : {"\tread-only", "\twritable", "\tno access"}) {
        for (auto at = out.find(access); at != std::string::npos; at = out.find(access, at)) {
            out.replace(at, std::strlen(access), "\t*");
        }
    }
    return out;
}

TEST(CliRun, ListDrivesShowsTheFloppyDrivesAndMarksDriveA) {
    Scratch s;
    fakesysfs::addMachine(s.root() + "/sys");
    // A made-up tree can name a drive anything, and a maker's strings can hold any bytes: the
    // line breaks of Unicode and a backslash too.
    fakesysfs::addDisk(s.root() + "/sys", {"sd\nz", "2880", "1", "0",
                                           "A\xE2\x80\xA8"
                                           "B\\",
                                           "C\xC2\x85"
                                           "D",
                                           "pci0000:00/usb1/1-5:1.0", "08 04"});
    const std::string lines =
        "/dev/fd0\tunknown\tfloppy controller drive\t*\n"
        "/dev/sdb\t1474560\tTEAC FD-05PUB, USB port 2-1.3\t*\tA:\n"
        "/dev/sdc\t0\tY-E DATA USB FDU, USB port 1-2\t*\n"
        "/dev/sd\\nz\t1474560\tA\\u2028B\\\\ C\\u0085D, USB port 1-5\t*\n"
        "/dev/sdab\t737280\tunnamed drive, USB port 1-4\t*\n";
    std::string unmarked = lines;
    unmarked.erase(unmarked.find("\tA:"), 3);
    struct Case {
        std::string sysfs;
        std::vector<std::string> args;
        std::string output;
    };
    const std::vector<Case> cases = {
        {"/sys", {"--list-drives"}, lines},
        {"/sys",
         {"--list-drives", "--drive=" + s.image()},
         unmarked + "quenvol-cli: drive A: is " + s.image() + " (named by --drive)\n"},
        {"/none",
         {"--list-drives"},
         "quenvol-cli: no floppy drive found\n"
         "quenvol-cli: drive A: is /dev/fd0 (no floppy drive was found)\n"},
    };
    for (const auto& c : cases) {
        dialogtest::ScopedEnv sysfs("QUENVOL_SYSFS", s.root() + c.sysfs);
        const auto r = s.run(c.args);
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_EQ(maskAccess(r.output), c.output);
    }
    EXPECT_EQ(s.run({"--list-drives", s.project()}).exitCode, 2);
    // The same facts as one object.
    dialogtest::ScopedEnv sysfs("QUENVOL_SYSFS", s.root() + "/sys");
    const auto json = s.run({"--list-drives", "--json"});
    EXPECT_EQ(json.exitCode, 0);
    for (const char* fact :
         {R"({"drives":[{"path":"/dev/fd0","name":"fd0","bytes":null,)",
          R"({"path":"/dev/sdb","name":"sdb","bytes":1474560,"vendor":"TEAC","model":"FD-05PUB",)"
          R"("usbPort":"2-1.3","description":"TEAC FD-05PUB, USB port 2-1.3",)",
          R"("usbPort":null,)", R"("driveA":true})",
          R"("driveA":{"path":"/dev/sdb","source":"first-with-diskette","listed":true}})"})
        EXPECT_TRUE(contains(json.output, fact)) << fact << json.output;
    EXPECT_EQ(count(json.output, "\n"), 1u);
}

TEST(CliRun, ManyDiskettesInARowEachWaitForTheNext) {
    Scratch s;
    const auto r =
        s.runOnTerminal({"--create", "--yes", "--count", "2", "--drive", s.image(), s.project()},
                        "waiting...", "", [&] {
                            // A new image in place of the built one, as a technician swaps
                            // diskettes.
                            const std::string next = s.root() + "/next.img";
                            ASSERT_EQ(cli::createBlankImage(next), "");
                            fs::rename(next, s.image());
                        });
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(count(r.output, "Successfully Created"), 2u);
    EXPECT_EQ(count(r.output, "diskette 2 of 2: take the diskette out"), 1u);
    std::ifstream log(s.buildLog());
    std::string line;
    int built = 0;
    while (std::getline(log, line)) built += contains(line, "\"outcome\":\"built\"") ? 1 : 0;
    EXPECT_EQ(built, 2);
    EXPECT_TRUE(fattools::runFsck(s.image()).clean);
}

// While a row waits for its next diskette, drive A: stays held: another build is refused as in
// use, and neither its attempt nor a touch or a change of mode makes the image there another
// diskette; only another file at its path is.
TEST(CliRun, ARowWaitingForTheNextDisketteHoldsDriveA) {
    Scratch s, t;
    const std::string other = otherProject(t);
    const auto r =
        s.runOnTerminal({"--create", "--yes", "--count", "2", "--drive", s.image(), s.project()},
                        "waiting...", "", [&] {
                            ::utimensat(AT_FDCWD, s.image().c_str(), nullptr, 0);
                            ::chmod(s.image().c_str(), 0666);
                            const auto second = t.run({"--yes", "--drive", s.image(), other});
                            EXPECT_EQ(second.exitCode, 5) << second.output;
                            EXPECT_TRUE(contains(second.output, texts::driveHeldByBuild(s.image())))
                                << second.output;
                            const std::string next = s.root() + "/next.img";
                            ASSERT_EQ(cli::createBlankImage(next), "");
                            fs::rename(next, s.image());
                        });
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(count(r.output, "Successfully Created"), 2u) << r.output;
    // The second diskette is the new file, built from this run's project.
    EXPECT_EQ(fattools::mtype(s.image(), "BIOS.ROM"), bytesOf(s.project() + "/testQ7A.rom"));
}

// A signal while the row waits ends it with the signal's status, after its report and its
// line in the build log.
TEST(CliRun, AnInterruptWhileWaitingEndsTheRowByTheSignal) {
    for (const int signal : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(signal);
        Scratch s;
        const auto r =
            s.runInterrupted({"--create", "-jy", "--count", "3", "--drive", s.image(), s.project()},
                             "awaiting the next diskette", signal);
        ASSERT_TRUE(r.paused) << r.output;
        EXPECT_EQ(r.signal, signal) << r.output;
        EXPECT_EQ(count(r.output, "\"outcome\":\"built\""), 1u) << r.output;
        std::ifstream log(s.buildLog());
        std::string line, last;
        while (std::getline(log, line)) last = line;
        EXPECT_TRUE(contains(last, std::string("\"kind\":\"interrupted\",\"message\":\"SIG") +
                                       ::sigabbrev_np(signal)))
            << last;
        EXPECT_TRUE(contains(r.output, last)) << r.output;
    }
}

// What the wait takes for another diskette in an image's place: another file, never a write.
TEST(CliRun, AnImageIsAnotherDisketteOnlyAsAnotherFile) {
    Scratch s;
    ASSERT_EQ(cli::createBlankImage(s.image()), "");
    struct Case {
        const char* what;
        std::function<void()> change;
        bool another;
    };
    const std::string next = s.root() + "/next.img";
    const Case cases[] = {
        {"touched", [&] { ::utimensat(AT_FDCWD, s.image().c_str(), nullptr, 0); }, false},
        {"mode changed", [&] { ::chmod(s.image().c_str(), 0600); }, false},
        {"written to",
         [&] { std::fstream(s.image(), std::ios::in | std::ios::out | std::ios::binary) << "x"; },
         false},
        {"replaced",
         [&] {
             ASSERT_EQ(cli::createBlankImage(next), "");
             fs::rename(next, s.image());
         },
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto before = cli::sys::lookAtFile(s.image());
        c.change();
        EXPECT_EQ(!cli::sameFileAt(cli::sys::lookAtFile(s.image()), before), c.another);
    }
}

// --eject where nothing can take the diskette out says so, and why, after the build.
TEST(CliRun, EjectSaysWhyTheDisketteStayedIn) {
    Scratch s;
    const std::string notEjected = "quenvol-cli: drive A: could not be ejected: ";
    const auto image = s.run({"--create", "--yes", "--eject", "--drive", s.image(), s.project()});
    EXPECT_EQ(image.exitCode, 0) << image.output;
    EXPECT_TRUE(contains(image.output, notEjected + s.image() + " is an image file, not a drive"))
        << image.output;
    if (::geteuid() != 0) GTEST_SKIP() << "attaching loop devices needs root";
    const fattools::LoopDevice loop(s.image());
    if (loop.path().empty()) GTEST_SKIP() << loop.why();
    const auto device = s.run({"--yes", "--eject", "--drive", loop.path(), s.project()});
    EXPECT_EQ(device.exitCode, 0) << device.output;
    EXPECT_TRUE(contains(device.output, notEjected)) << device.output;
}

TEST(CliRun, APlanSaysWhatABuildWouldDoWithoutADiskette) {
    Scratch s;
    const std::string big = s.root() + "/big";
    fs::copy(s.project(), big);
    std::ofstream(big + "/testQ7A.rom", std::ios::binary) << std::string(1500000, 'X');
    const std::string blank = s.root() + "/blank";
    fs::copy(s.project(), blank);
    std::ofstream(blank + "/testQ7A.rom", std::ios::binary) << std::string(65536, '\xFF');
    struct Case {
        std::vector<std::string> args;
        int exitCode;
        std::vector<std::string> lines;
    };
    const Case cases[] = {
        {{s.project()},
         0,
         {"drive A:  " + s.image() + " (nothing there)\n", "kind      minidos\n",
          "file      bios.rom <- " + s.project() + "/testQ7A.rom, 65,536 bytes: the test image",
          "check     bios.rom: pass reset-vector at 0xFFF0: a far jump (0xEA) at size-16",
          "fits      yes: ", "nothing would stop the build\n"}},
        {{blank},
         0,
         {"check     bios.rom: fail blank at 0x0: every byte is 0xFF",
          "note      the payload checks doubt a file: the build would ask before erasing"}},
        {{"--json", blank},
         0,
         {R"("payloadChecks":[{"file":"vgabios.exe","name":"option-rom","level":"pass",)",
          R"({"file":"bios.rom","name":"size","level":"pass","offset":0,)",
          R"({"file":"bios.rom","name":"blank","level":"fail","offset":0,"text":"every byte )"}},
        {{"--kind", "fulldos", "--json", s.project()},
         0,
         {R"("kind":"fulldos")",
          R"("name":"platform.bin","source":")" + s.project() + R"(/platform.bin","bytes":2049,)",
          R"("passed over: develQ7A.rom comes after testQ7A.rom"],"stops":[]})"}},
        {{big}, 1, {"fits      no: ", "bytes; the diskette holds 1,457,664\n"}},
        {{s.root() + "/none"}, 1, {"stop      the project folder " + s.root() + "/none: "}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args{"--plan", "--drive", s.image()};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const auto r = s.run(args);
        EXPECT_EQ(r.exitCode, c.exitCode) << r.output;
        for (const auto& line : c.lines) EXPECT_TRUE(contains(r.output, line)) << line << r.output;
        EXPECT_FALSE(fs::exists(s.image()));  // drive A: is never touched
    }
}

// While a build waits at its confirmation it holds drive A: and its start directory: a build
// or a format that needs either is refused at once with status 5, and the first build goes on
// to a diskette of its own project alone.
TEST(CliRun, ASecondBuildIsRefusedWhileTheFirstHoldsTheDriveOrTheStartDirectory) {
    Scratch s;  // the first build's kit and drive
    Scratch t;  // another kit, another drive, another project
    const std::string other = t.root() + "/other";
    fs::copy(s.project(), other);
    fattools::writeBytes(other + "/testQ7A.rom", fattools::plausibleImage(65536, "Q7A", 9));
    std::ofstream(other + "/platform.bin", std::ios::binary) << "another platform";
    const std::string driveInUse = texts::driveHeldByBuild(s.image());
    struct Second {
        const Scratch& kit;
        std::vector<std::string> args;
        std::string message;
    };
    const Second seconds[] = {
        {t, {"--yes", "--drive", s.image(), other}, driveInUse},
        {t, {"--kind", "format", "--yes", "--drive", s.image()}, driveInUse},
        {s,
         {"--create", "--yes", "--drive", t.image(), other},
         texts::startDirHeldByBuild(s.kit())},
    };
    const auto first = s.runOnTerminal(
        {"--create", "--verify", "--drive", s.image(), s.project()}, "Proceed? [y/N] ", "y\n",
        [&] {
            for (const Second& second : seconds) {
                const auto r = second.kit.run(second.args);
                EXPECT_EQ(r.exitCode, 5) << r.output;
                EXPECT_TRUE(contains(r.output, second.message)) << r.output;
                EXPECT_FALSE(contains(r.output, kConfirm)) << r.output;
                EXPECT_FALSE(contains(r.output, "Formatting")) << r.output;
            }
        },
        "y\n");
    ASSERT_EQ(first.exitCode, 0) << first.output;
    EXPECT_TRUE(contains(first.output, "verify: 5 files and sector 0 on the diskette match"));
    EXPECT_EQ(fattools::mtype(s.image(), "BIOS.ROM"), bytesOf(s.project() + "/testQ7A.rom"));
    EXPECT_EQ(fattools::mtype(s.image(), "PLATFORM.BIN"), bytesOf(s.project() + "/platform.bin"));
    EXPECT_TRUE(allZero(bytesOf(t.image())));

    // Both are given up when the first build ends.
    const auto after = t.run({"--yes", "--drive", s.image(), other});
    EXPECT_EQ(after.exitCode, 0) << after.output;
    EXPECT_EQ(fattools::mtype(s.image(), "BIOS.ROM"), bytesOf(other + "/testQ7A.rom"));
}

// One medium is one drive whatever path reaches it: while a build waits at its confirmation
// on an image or on a loop device over it, a build, a save or a backup through any other path
// to that image (its name, either loop device) is refused with status 5, before it formats,
// writes or creates anything.
TEST(CliRun, OneMediumIsOneDriveWhateverPathReachesIt) {
    if (::geteuid() != 0) GTEST_SKIP() << "attaching loop devices needs root";
    Scratch s;
    Scratch t;  // the second runs' own kit, so that only the drive is shared
    const std::string other = otherProject(t);
    ASSERT_EQ(s.run({"--create", "--yes", "--kind", "format", "--drive", s.image()}).exitCode, 0);
    const fattools::LoopDevice first(s.image());
    const fattools::LoopDevice second(s.image());
    if (first.path().empty() || second.path().empty()) GTEST_SKIP() << first.why();
    const std::string saved = t.root() + "/saved.img";
    for (const std::string& held : {s.image(), first.path()}) {
        SCOPED_TRACE("held as " + held);
        const auto r = s.runOnTerminal(
            {"--verify", "--drive", held, s.project()}, "Proceed? [y/N] ", "y\n",
            [&] {
                for (const std::string& path : {s.image(), first.path(), second.path()}) {
                    if (path == held) continue;
                    const std::vector<std::string> seconds[] = {
                        {"--yes", "--drive", path, other},
                        {"--save-image", saved, "--drive", path},
                        {"--backup", saved, "--yes", "--drive", path, other},
                    };
                    for (const auto& args : seconds) {
                        const auto refused = t.run(args);
                        EXPECT_EQ(refused.exitCode, 5) << path << ": " << refused.output;
                        EXPECT_FALSE(contains(refused.output, "Formatting")) << refused.output;
                        EXPECT_FALSE(fs::exists(saved)) << path << ": " << refused.output;
                    }
                }
            },
            "y\n");
        ASSERT_EQ(r.exitCode, 0) << r.output;
        EXPECT_EQ(fattools::mtype(s.image(), "BIOS.ROM"), bytesOf(s.project() + "/testQ7A.rom"));
    }
}

// An image that backs a mounted loop device, or in which another program holds a record lock
// (as an emulator running from it does), is in use: refused with status 5 through every path
// to it, the image untouched, and the message says how it is in use.
TEST(CliRun, AnImageMountedOrLockedElsewhereIsInUse) {
    if (::geteuid() != 0) GTEST_SKIP() << "attaching loop devices needs root";
    Scratch s;
    ASSERT_EQ(s.run({"--create", "--yes", "--drive", s.image(), s.project()}).exitCode, 0);
    const fattools::LoopDevice first(s.image());
    const fattools::LoopDevice second(s.image());
    if (first.path().empty() || second.path().empty()) GTEST_SKIP() << first.why();
    auto refusedEverywhere = [&](const std::string& how) {
        const auto before = bytesOf(s.image());
        for (const std::string& path : {s.image(), second.path()}) {
            const auto r = s.run({"--yes", "--drive", path, s.project()});
            EXPECT_EQ(r.exitCode, 5) << path << ": " << r.output;
            EXPECT_TRUE(contains(r.output, how)) << path << ": " << r.output;
        }
        EXPECT_TRUE(bytesOf(s.image()) == before);
    };

    {
        // Byte 100 as QEMU locks it: a shared lock on one byte of the image.
        const int fd = ::open(s.image().c_str(), O_RDONLY | O_CLOEXEC);
        struct flock range {};
        range.l_type = F_RDLCK;
        range.l_whence = SEEK_SET;
        range.l_start = 100;
        range.l_len = 1;
        ASSERT_EQ(::fcntl(fd, F_OFD_SETLK, &range), 0) << std::strerror(errno);
        refusedEverywhere("another program holds a lock on it");
        ::close(fd);
    }

    // The kernel may lack FAT where the tests run; which file system is mounted does not matter.
    const std::string mountPoint = s.root() + "/mnt";
    fs::create_directories(mountPoint);
    const auto made = fattools::runTool({"mkfs.ext2", "-q", "-F", first.path()});
    const auto mounted = fattools::runTool({"mount", "-r", first.path(), mountPoint});
    if (made.exitCode != 0 || mounted.exitCode != 0) {
        GTEST_SKIP() << "the loop device cannot be mounted here: " << made.output << mounted.output;
    }
    refusedEverywhere("the same medium is " + first.path() + ", which is mounted");
    fattools::runTool({"umount", mountPoint});
    EXPECT_EQ(s.run({"--yes", "--drive", second.path(), s.project()}).exitCode, 0);
}

// A build ended by a signal (a closed terminal's SIGHUP too) at any of its steps leaves the
// start directory as the user had it (for SIGKILL, once the next build has undone what the
// journal recorded), its line in the build log, no file on the diskette and no success; the
// next build, of another project, puts that project's files alone on the diskette.
TEST(CliRun, AnInterruptedBuildLeavesTheStartDirectoryAsItWas) {
    const std::string points[] = {"staged vgabios.exe", "staged bios.rom", "copying platform.bin",
                                  "copying bios.rom"};
    for (const std::string& point : points) {
        for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGKILL}) {
            SCOPED_TRACE(point + ", signal " + std::to_string(signal));
            Scratch s;
            // The user's own video BIOS program, which the build stages over.
            std::ofstream(s.kit() + "/vgabios.exe", std::ios::binary) << "the user's own";
            const auto before = snapshot(s.kit());
            const std::string other = otherProject(s);

            const auto r = s.runInterrupted(
                {"--create", "--yes", "--drive", s.image(), s.project()}, point, signal);
            ASSERT_TRUE(r.paused) << r.output;
            EXPECT_EQ(r.signal, signal) << r.output;
            EXPECT_FALSE(contains(r.output, kSuccess)) << r.output;
            if (signal != SIGKILL) {
                EXPECT_EQ(snapshot(s.kit()), before);
                std::ifstream log(s.buildLog());
                std::string line, last;
                while (std::getline(log, line)) last = line;
                EXPECT_TRUE(
                    contains(last, std::string("\"message\":\"SIG") + ::sigabbrev_np(signal)))
                    << last;
            }
            // The copies made before the signal were never committed: the diskette lists none.
            EXPECT_EQ(fattools::mdirNames(s.image()), std::vector<std::string>{});

            const auto next = s.run({"--yes", "--verify", "--drive", s.image(), other});
            ASSERT_EQ(next.exitCode, 0) << next.output;
            EXPECT_TRUE(contains(next.output, kConfirm)) << next.output;
            EXPECT_EQ(fattools::mtype(s.image(), "BIOS.ROM"), bytesOf(other + "/testQ7A.rom"));
            EXPECT_EQ(fattools::mtype(s.image(), "PLATFORM.BIN"), bytesOf(other + "/platform.bin"));
            EXPECT_EQ(fattools::mtype(s.image(), "VGABIOS.EXE"), bytesOf(other + "/vgabios.exe"));
            EXPECT_EQ(snapshot(s.kit()), before);
        }
    }
}

// What a killed build left is never taken for the user's own files: the next build puts right
// what the journal vouches for (by content, so a copied folder is no obstacle) and refuses,
// naming each file and what it is, while anything else is left; the user's own file is never
// under a hidden name meanwhile, the journal stays until the user has decided, a journal that
// cannot be read is named without a hang, and a forged one removes nothing of the kit's.
TEST(CliRun, WhatAKilledBuildLeftIsNeverTakenForTheUsersOwnFiles) {
    using Left = platform::StagingLeftover;
    using What = Left::What;
    const std::string journal = "/.quenvol-staging";
    const Left aside = {What::UsersFile, "vgabios.exe.yours", "vgabios.exe", {}};
    auto write = [](const std::string& path, const std::string& text) {
        std::ofstream(path, std::ios::binary) << text;
    };
    // The user, once told: the build's copies go, their own file gets its name back.
    auto settle = [](const Scratch& s) {
        for (const char* name : {".quenvol-staging", "bios.rom", "platform.bin", "vgabios.exe"})
            fs::remove(s.kit() + "/" + name);
        fs::rename(s.kit() + "/vgabios.exe.yours", s.kit() + "/vgabios.exe");
    };
    struct Case {
        std::string what;
        std::function<void(const Scratch&)> after;  // done to the start directory after the kill
        std::vector<Left> told;                     // none: the next build puts all right
        std::function<void(const Scratch&)> decide;
    };
    const Case cases[] = {
        {"the staged bios.rom changed",
         [&](const Scratch& s) { write(s.kit() + "/bios.rom", "changed by the user"); },
         {{What::Copy, "bios.rom", "", {}}},
         [](const Scratch& s) { fs::remove(s.kit() + "/bios.rom"); }},
        {"the staged vgabios.exe changed",
         [&](const Scratch& s) { write(s.kit() + "/vgabios.exe", "changed by the user"); },
         {{What::Copy, "vgabios.exe", "vgabios.exe.yours", {}}, aside},
         [](const Scratch& s) {
             fs::remove(s.kit() + "/vgabios.exe");
             fs::rename(s.kit() + "/vgabios.exe.yours", s.kit() + "/vgabios.exe");
         }},
        {"the folder copied",
         [](const Scratch& s) {
             fs::rename(s.kit(), s.kit() + ".old");
             fs::copy(s.kit() + ".old", s.kit(), fs::copy_options::recursive);
             fs::remove_all(s.kit() + ".old");
         },
         {},
         nullptr},
        {"the journal emptied",
         [&](const Scratch& s) { write(s.kit() + journal, ""); },
         {{What::Journal, ".quenvol-staging", "it is empty", {}}, aside},
         settle},
        {"the journal a pipe",
         [&](const Scratch& s) {
             fs::remove(s.kit() + journal);
             ::mkfifo((s.kit() + journal).c_str(), 0600);
         },
         {{What::Journal, ".quenvol-staging", "it is not a regular file", {}}, aside},
         settle},
        {"the journal a folder",
         [&](const Scratch& s) {
             fs::remove(s.kit() + journal);
             fs::create_directory(s.kit() + journal);
         },
         {{What::Journal, ".quenvol-staging", "it is not a regular file", {}}, aside},
         settle},
        {"a forged entry naming minidos.sys",
         [&](const Scratch& s) {
             write(s.kit() + journal,
                   "quenvol-staging 2\nentry minidos.sys .quenvol-staging.minidos.sys.part - - 0 "
                   "0 0 0 0\n");
         },
         {{What::Journal,
           ".quenvol-staging",
           "it is damaged or names files the build does not stage",
           {}},
          aside},
         settle},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Scratch s;
        write(s.kit() + "/vgabios.exe", "the user's own");
        const auto before = snapshot(s.kit());
        const auto r = s.runInterrupted({"--create", "--yes", "--drive", s.image(), s.project()},
                                        "staged bios.rom", SIGKILL);
        ASSERT_TRUE(r.paused) << r.output;
        c.after(s);
        const std::vector<std::string> args = {"--yes", "--drive", s.image(), s.project()};
        const auto next = s.run(args);
        if (!c.told.empty()) {
            EXPECT_EQ(next.exitCode, 1) << next.output;
            EXPECT_TRUE(contains(next.output, texts::leftBehind(c.told))) << next.output;
            EXPECT_FALSE(contains(next.output, kConfirm)) << next.output;
            for (const auto& [name, bytes] : snapshot(s.kit()))
                EXPECT_FALSE(name.starts_with(".") && bytes == "the user's own") << name;
            EXPECT_EQ(snapshot(s.kit()).at("minidos.sys"), before.at("minidos.sys"));
            // Nothing is decided by pressing Start again.
            EXPECT_EQ(s.run(args).exitCode, 1);
            c.decide(s);
        }
        const auto last = s.run(args);
        EXPECT_EQ(last.exitCode, 0) << last.output;
        EXPECT_EQ(snapshot(s.kit()), before);
    }
}

// A link where the build would stage or remove a file refuses the build before the diskette
// is touched; the link and the file it points at stay as they were.
TEST(CliRun, ALinkInTheStartDirectoryRefusesTheBuild) {
    for (const std::string name : {"vgabios.exe", "bios.rom", "BIOS.QVX", ".quenvol-staging"}) {
        SCOPED_TRACE(name);
        Scratch s;
        const std::string target = s.root() + "/target";
        std::ofstream(target, std::ios::binary) << "not the program's";
        fs::create_symlink(target, s.kit() + "/" + name);
        const auto before = snapshot(s.kit());
        const auto r = s.run({"--create", "--yes", "--drive", s.image(), s.project()});
        EXPECT_EQ(r.exitCode, 1) << r.output;
        EXPECT_TRUE(contains(r.output, texts::linkRefused({name}))) << r.output;
        EXPECT_EQ(snapshot(s.kit()), before);
        std::ifstream in(target);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "not the program's");
        EXPECT_TRUE(allZero(bytesOf(s.image())));
    }
}

// The user's own platform file, video BIOS program or BIOS image alone is staged over for the
// build and is back, unchanged, after a success and after a failure.
TEST(CliRun, TheUsersOwnFilesInTheStartDirectoryAreKept) {
    for (const std::string name : {"platform.bin", "vgabios.exe", "bios.rom"}) {
        for (const bool succeed : {true, false}) {
            SCOPED_TRACE(name + (succeed ? ", success" : ", failure"));
            Scratch s;
            std::ofstream(s.kit() + "/" + name, std::ios::binary) << "the user's own " << name;
            const auto before = snapshot(s.kit());
            // Without a format the blank image takes no file: the build fails after staging.
            std::vector<std::string> args = {"--create", "--yes",   "--verify",
                                             "--drive",  s.image(), s.project()};
            if (!succeed) args.insert(args.begin(), "--no-format");
            const auto r = s.run(args);
            EXPECT_EQ(r.exitCode, succeed ? 0 : 1) << r.output;
            EXPECT_EQ(snapshot(s.kit()), before);
            if (succeed) {
                EXPECT_EQ(fattools::mtype(s.image(), "PLATFORM.BIN"),
                          bytesOf(s.project() + "/platform.bin"));
                EXPECT_EQ(fattools::mtype(s.image(), "VGABIOS.EXE"),
                          bytesOf(s.project() + "/vgabios.exe"));
            }
        }
    }
}

TEST(CliRun, UsageErrorsExitWithTwoHelpAndVersionWithZero) {
    Scratch s;
    const auto bad = s.run({"--kind", "dos"});
    EXPECT_EQ(bad.exitCode, 2);
    EXPECT_TRUE(contains(bad.output, "quenvol-cli: unknown disk kind \"dos\""));
    EXPECT_TRUE(contains(bad.output, "Try 'quenvol-cli --help'"));
    EXPECT_EQ(s.run({"--label", "MUCH TOO LONG"}).exitCode, 2);
    EXPECT_EQ(s.run({"--full", "--no-format"}).exitCode, 2);

    const auto help = s.run({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(help.output.starts_with("Usage: quenvol-cli")) << help.output;
    EXPECT_TRUE(contains(help.output, " 5  drive A: or the start directory is in use by another"));
    const auto version = s.run({"--version"});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_TRUE(
        version.output.starts_with("quenvol-cli (Quenvol) 1.0\n"
                                   "Copyright (c) 2026 The Quenvol developers\n"
                                   "License MIT"))
        << version.output;
    EXPECT_FALSE(fs::exists(s.settingsFile()));
}

}  // namespace

// --plan and the build ask the same checks: where the plan names a stop, the build stops too
// (drive A: as it was, nothing erased), and where the plan finds none, the build succeeds.
TEST(CliRun, APlanAndTheBuildAgree) {
    struct Setup {
        const Scratch& s;
        std::string project;  // a copy of the sample project the case may change
        std::string drive;
        std::vector<std::string> words;  // the project words, the copy's path unless set
        std::vector<std::string> options = {};
    };
    auto write = [](const std::string& path, const std::string& bytes) {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    };
    struct Case {
        const char* title;
        std::function<void(Setup&)> change;
        std::string cause;  // in the plan's stop and in the build's output; empty: no stop
    };
    const Case cases[] = {
        {"Sample", [](Setup&) {}, ""},
        {"LeadingBlanksInThePath", [](Setup& c) { c.words = {"  " + c.project}; }, ""},
        {"EmptyMinidos", [&](Setup& c) { write(c.s.kit() + "/minidos.sys", ""); },
         "minidos.sys in the start directory is empty"},
        {"EmptyFlashUtility", [&](Setup& c) { write(c.s.kit() + "/zyplet.exe", ""); },
         "zyplet.exe in the start directory is empty"},
        {"EmptyProjectVideoBios", [&](Setup& c) { write(c.project + "/vgabios.exe", ""); },
         "the project folder's vgabios.exe is empty"},
        {"ProjectVideoBiosIsAFolder",
         [](Setup& c) {
             fs::remove(c.project + "/vgabios.exe");
             fs::create_directory(c.project + "/vgabios.exe");
         },
         "the project folder's vgabios.exe cannot be read"},
        {"KeyOfAnotherBoardInAComment",
         [&](Setup& c) {
             write(c.project + "/partnum.mak", "# was: PARTNUM = Q7B\nPARTNUM = Q7A\n");
             write(c.project + "/testQ7B.rom", std::string(65536, 'B'));
         },
         "partnum.mak names two part numbers, \"Q7B\" at line 1 \"# was: PARTNUM = Q7B\" and "
         "\"Q7A\" at line 2 \"PARTNUM = Q7A\""},
        {"LongerPartNumber",
         [&](Setup& c) {
             write(c.project + "/partnum.mak", "OLD_X = 1\r\nPARTNUM = Q7AB\r\n");
             write(c.project + "/testQ7AB.rom", std::string(65536, 'B'));
         },
         "longer than three characters, at line 2 \"PARTNUM = Q7AB\""},
        {"PartNumberWithACarriageReturn",
         [&](Setup& c) { write(c.project + "/partnum.mak", "PARTNUM = Q7\r\n"); },
         "testQ7\\r.rom is not there"},
        {"FolderAtAStagedName", [](Setup& c) { fs::create_directory(c.s.kit() + "/platform.bin"); },
         "\"platform.bin\" in the start directory"},
        {"LeftoverJournal",
         [&](Setup& c) { write(c.s.kit() + "/.quenvol-staging", "not a journal\n"); },
         ".quenvol-staging"},
        {"LongBootSector",
         [&](Setup& c) {
             auto boot = bytesOf(c.s.kit() + "/crisboot.bin");
             write(c.s.kit() + "/crisboot.bin", std::string(boot.begin(), boot.end()) + "x");
         },
         "crisboot.bin holds more than 512 bytes"},
        {"DriveAIsAFolder",
         [](Setup& c) {
             c.drive = c.s.root() + "/folder";
             fs::create_directory(c.drive);
         },
         "drive A: "},
        {"DriveAIsASmallFile",
         [&](Setup& c) {
             c.drive = c.s.root() + "/small.img";
             write(c.drive, std::string(1000, 'x'));
         },
         "holds 1,000 bytes"},
        {"BootScreenOverAFile",
         [&](Setup& c) {
             write(c.s.root() + "/screen.png", "mine");
             c.options = {"--boot-check", "--boot-screen", c.s.root() + "/screen.png"};
         },
         "/screen.png: something is already there"},
        {"NoProjectAtAll", [](Setup& c) { c.words = {}; },
         "no project path was given, and no project folder was used before"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.title);
        Scratch s;
        Setup setup{s, s.root() + "/project", s.image(), {}};
        fs::copy(s.project(), setup.project);
        setup.words = {setup.project};
        write(s.image(), std::string(1474560, '\xF6'));
        c.change(setup);
        const bool file = fs::is_regular_file(setup.drive);
        const auto before = file ? bytesOf(setup.drive) : std::vector<std::uint8_t>{};

        std::vector<std::string> args{"--drive", setup.drive};
        args.insert(args.end(), setup.options.begin(), setup.options.end());
        args.insert(args.end(), setup.words.begin(), setup.words.end());
        std::vector<std::string> planArgs{"--plan"};
        planArgs.insert(planArgs.end(), args.begin(), args.end());
        const auto plan = s.run(planArgs);
        std::vector<std::string> buildArgs{"--yes"};
        buildArgs.insert(buildArgs.end(), args.begin(), args.end());
        const auto built = s.run(buildArgs);
        if (c.cause.empty()) {
            EXPECT_EQ(plan.exitCode, 0) << plan.output;
            EXPECT_TRUE(contains(plan.output, "nothing would stop the build")) << plan.output;
            EXPECT_EQ(built.exitCode, 0) << built.output;
            EXPECT_TRUE(contains(built.output, kSuccess)) << built.output;
            // What the plan notes as passed over, the build names with its question.
            const std::string passed = "passed over: develQ7A.rom comes after testQ7A.rom";
            EXPECT_TRUE(contains(plan.output, passed)) << plan.output;
            EXPECT_TRUE(contains(built.output, passed)) << built.output;
            continue;
        }
        EXPECT_NE(plan.exitCode, 0) << plan.output;
        EXPECT_TRUE(contains(plan.output, "stop      ")) << plan.output;
        EXPECT_TRUE(contains(plan.output, c.cause)) << plan.output;
        EXPECT_NE(built.exitCode, 0) << built.output;
        EXPECT_TRUE(contains(built.output, c.cause)) << built.output;
        EXPECT_FALSE(contains(built.output, kSuccess)) << built.output;
        if (file) {
            EXPECT_EQ(bytesOf(setup.drive), before);  // nothing erased
        }
    }
}

// A diskette left as it is takes the files beside what it keeps: where it has not the room
// (free, and the files the build replaces), nothing on it is replaced or erased.
TEST(CliRun, NoFormatWithoutRoomOnTheDisketteChangesNothing) {
    Scratch s;
    ASSERT_TRUE(fattools::mformat(s.image(), 1440));
    ASSERT_TRUE(fattools::mcopyIn(s.image(), "BIOS.ROM", std::vector<std::uint8_t>(65536, 'O')));
    ASSERT_TRUE(fattools::mcopyIn(s.image(), "KEEP.DAT", std::vector<std::uint8_t>(1380000, 'K')));
    const auto before = bytesOf(s.image());
    const auto r = s.run({"--yes", "--no-format", "--drive", s.image(), s.project()});
    EXPECT_EQ(r.exitCode, 1) << r.output;
    EXPECT_TRUE(contains(r.output, " The diskette in drive A: has not the room")) << r.output;
    EXPECT_TRUE(contains(r.output, "(free, and the file it replaces)")) << r.output;
    EXPECT_EQ(bytesOf(s.image()), before);
    const auto log = bytesOf(s.buildLog());
    EXPECT_TRUE(contains(std::string(log.begin(), log.end()), R"("kind":"no-room")"));
}

// A project file replaced by a device or a pipe after the check is staged no further than the
// size the check saw: the build stops, naming it, with the start directory as it was.
TEST(CliRun, AFileReplacedByADeviceWhileStagingStopsTheBuild) {
    for (const std::string target : {"/dev/zero", "/dev/urandom"}) {
        SCOPED_TRACE(target);
        Scratch s;
        const std::string project = s.root() + "/project";
        fs::copy(s.project(), project);
        const auto before = snapshot(s.kit());
        const auto r = s.runInterrupted({"--create", "--yes", "--drive", s.image(), project},
                                        "staged platform.bin", 0, [&] {
                                            fs::remove(project + "/testQ7A.rom");
                                            fs::create_symlink(target, project + "/testQ7A.rom");
                                        });
        EXPECT_TRUE(r.paused) << r.output;
        EXPECT_EQ(r.exitCode, 1) << r.output;
        EXPECT_TRUE(contains(r.output, "testQ7A.rom\" changed while it was being staged"))
            << r.output;
        EXPECT_FALSE(contains(r.output, kSuccess)) << r.output;
        EXPECT_EQ(snapshot(s.kit()), before);
    }
}

namespace several {

const std::vector<std::string> kFiveNames = {"MINIDOS.SYS", "ZYPLET.EXE", "PLATFORM.BIN",
                                             "VGABIOS.EXE", "BIOS.ROM"};

std::string blankImage(const Scratch& s, const std::string& name, std::size_t bytes = 1474560) {
    const std::string path = s.root() + "/" + name;
    fattools::writeBytes(path, std::vector<std::uint8_t>(bytes, 0));
    return path;
}

// Each drive's entry in the --json report: how many diskettes it built and how many failed.
bool reportSays(const std::string& report, const std::string& path, int built, int failed) {
    const std::regex entry("\\{\"path\":\"" + std::regex_replace(path, std::regex("\\."), "\\.") +
                           "\",\"name\":\"[^\"]*\",\"built\":" + std::to_string(built) +
                           ",\"failed\":" + std::to_string(failed) + ",");
    return std::regex_search(report, entry);
}

std::vector<std::string> failedDrives(const Scratch& s) {
    std::vector<std::string> lines;
    std::ifstream in(s.stateHome() + "/quenvol/failed-drives");
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// Checked through the file behind it, for a loop device (mtools warns on a device's geometry).
void expectBuilt(const std::string& drive, const std::map<std::string, std::string>& files = {}) {
    const std::string file = files.contains(drive) ? files.at(drive) : drive;
    EXPECT_TRUE(fattools::runFsck(file).clean) << drive;
    EXPECT_EQ(fattools::mdirNames(file), kFiveNames) << drive;
}

}  // namespace several

// One command, six drives at once (two of them loop devices where this machine can make
// them): a drive with nothing in it, one write-protected and one that is no diskette each
// fail alone with their own message; the others are built and read back. A retry builds only
// in those that failed, and then nothing is left to retry.
TEST(CliRun, SeveralDrivesAtOnceEachFailAloneAndARetryTouchesOnlyTheFailed) {
    using namespace several;
    Scratch s;
    std::vector<std::string> good = {blankImage(s, "d1.img"), blankImage(s, "d2.img")};
    const std::string absent = s.root() + "/absent.img", small = blankImage(s, "small.img", 1000);
    std::vector<std::string> failing = {absent, small};
    fattools::LoopDevice loop(blankImage(s, "l1.img")), readOnly(blankImage(s, "l2.img"));
    const std::map<std::string, std::string> files = {{loop.path(), s.root() + "/l1.img"},
                                                      {readOnly.path(), s.root() + "/l2.img"}};
    if (!loop.path().empty() && !readOnly.path().empty() &&
        fattools::runTool({"blockdev", "--setro", readOnly.path()}).exitCode == 0) {
        good.push_back(loop.path());
        failing.push_back(readOnly.path());
    } else {
        std::cout << "only image files: " << loop.why() << "\n";
    }
    std::vector<std::string> args = {"--yes", "--json"};
    for (const auto& drive : good) args.insert(args.end(), {"--drive", drive});
    for (const auto& drive : failing) args.insert(args.end(), {"--drive", drive});
    args.push_back(s.project());

    const auto r = s.run(args);
    EXPECT_EQ(r.exitCode, 9) << r.output;
    for (const auto& drive : good) {
        EXPECT_TRUE(reportSays(r.output, drive, 1, 0)) << drive << "\n" << r.output;
        expectBuilt(drive, files);
    }
    for (const auto& drive : failing) EXPECT_TRUE(reportSays(r.output, drive, 0, 1)) << drive;
    EXPECT_TRUE(contains(r.output, "no diskette in drive A: (" + absent)) << r.output;
    EXPECT_TRUE(contains(r.output, "not a diskette: " + small)) << r.output;
    if (failing.size() > 2) {
        EXPECT_TRUE(
            contains(r.output, "write-protected: the diskette in drive A: (" + readOnly.path()))
            << r.output;
    }
    EXPECT_TRUE(contains(r.output, std::to_string(good.size()) + " of " +
                                       std::to_string(good.size() + failing.size()) +
                                       " drives built their diskettes"))
        << r.output;
    EXPECT_EQ(failedDrives(s), failing);
    // One line a diskette in the build log, each naming the image it was written from.
    std::ifstream log(s.buildLog());
    std::size_t copies = 0;
    for (std::string line; std::getline(log, line);) copies += contains(line, "\"copy_of\":\"");
    EXPECT_EQ(copies, good.size() + failing.size());

    // Put right, the failed drives are built again, and no other is touched.
    if (failing.size() > 2) fattools::runTool({"blockdev", "--setrw", readOnly.path()});
    std::filesystem::resize_file(small, 1474560);
    // Bytes and modification time: a rewrite with the same bytes would still be a write.
    std::map<std::string, std::pair<std::vector<std::uint8_t>, std::filesystem::file_time_type>>
        before;
    auto look = [&](const std::string& drive) {
        const std::string file = files.contains(drive) ? files.at(drive) : drive;
        return std::pair(bytesOf(file), std::filesystem::last_write_time(file));
    };
    for (const auto& drive : good) before[drive] = look(drive);
    const auto retry = s.run({"--yes", "--retry-failed", "--create", s.project()});
    EXPECT_EQ(retry.exitCode, 0) << retry.output;
    for (const auto& drive : failing) expectBuilt(drive, files);
    for (const auto& drive : good) EXPECT_TRUE(look(drive) == before[drive]) << drive;
    EXPECT_TRUE(failedDrives(s).empty());
    const auto nothing = s.run({"--yes", "--retry-failed", s.project()});
    EXPECT_EQ(nothing.exitCode, 0) << nothing.output;
    EXPECT_TRUE(contains(nothing.output, "nothing to build again")) << nothing.output;
    // The same drive twice, by two names, would be written twice at once: refused.
    const auto twice =
        s.run({"--yes", "--drive", good[0], "--drive", s.root() + "/./d1.img", s.project()});
    EXPECT_EQ(twice.exitCode, 2) << twice.output;
    EXPECT_TRUE(contains(twice.output, "are the same drive")) << twice.output;
    // On a terminal each drive keeps one line, redrawn in place as its copy goes on.
    const auto shown = s.runOnTerminal({"--yes", "-d", good[0], "-d", good[1], s.project()},
                                       "drives built their diskettes", "");
    EXPECT_EQ(shown.exitCode, 0) << shown.output;
    EXPECT_TRUE(contains(shown.output, "\033[2A\r\033[Kdiskette 1: ")) << shown.output;
    EXPECT_FALSE(contains(shown.output, "quenvol-cli: " + good[0])) << shown.output;
    // Without --yes and without a terminal the question is answered No: nothing is touched.
    const auto declined = s.run({"--json", "-d", good[0], "-d", good[1], s.project()});
    EXPECT_EQ(declined.exitCode, 6) << declined.output;
    EXPECT_TRUE(contains(declined.output, "\"outcome\":\"declined\",\"build\":null"))
        << declined.output;
    // No floppy drive on this machine (the tests hide the host's): nothing to build in.
    const auto none = s.run({"--yes", "--all-drives", s.project()});
    EXPECT_EQ(none.exitCode, 3) << none.output;
    EXPECT_TRUE(contains(none.output, "no floppy drive holding a diskette was found"))
        << none.output;
}

// Killed or interrupted while building once or while writing the drives, a run leaves each
// drive untouched or listed for --retry-failed, and the kit as the user had it; the retry
// then builds them all.
TEST(CliRun, ARunOnSeveralDrivesCutShortLeavesEveryDriveToTheRetry) {
    using namespace several;
    const struct {
        const char* point;
        int signal;
    } cuts[] = {{"copying bios.rom", SIGKILL},
                {"writing the drives", SIGKILL},
                {"writing the drives", SIGINT}};
    for (const auto& cut : cuts) {
        SCOPED_TRACE(std::string(cut.point) + ", signal " + std::to_string(cut.signal));
        Scratch s;
        const std::vector<std::string> drives = {blankImage(s, "a.img"), blankImage(s, "b.img")};
        const auto kit = snapshot(s.kit());
        const auto r =
            s.runInterrupted({"--yes", "--drive", drives[0], "--drive", drives[1], s.project()},
                             cut.point, cut.signal);
        ASSERT_TRUE(r.paused) << r.output;
        EXPECT_EQ(r.signal, cut.signal) << r.output;
        // A build killed outright leaves its journal for the next one to put right.
        if (cut.signal != SIGKILL) {
            EXPECT_EQ(snapshot(s.kit()), kit);
        }
        const auto listed = failedDrives(s);
        for (const auto& drive : drives) {
            const bool retried = std::find(listed.begin(), listed.end(), drive) != listed.end();
            if (!retried) expectBuilt(drive);  // finished before the cut, and so not listed
            if (std::string(cut.point) == "copying bios.rom") {
                EXPECT_TRUE(retried);
                EXPECT_TRUE(allZero(bytesOf(drive))) << drive << " was written to";
            }
        }
        const auto retry = s.run({"--yes", "--retry-failed", s.project()});
        EXPECT_EQ(retry.exitCode, 0) << retry.output;
        for (const auto& drive : drives) expectBuilt(drive);
        EXPECT_EQ(snapshot(s.kit()), kit);
    }
}
