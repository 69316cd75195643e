// What a run of quenvol-cli tells a script: its exit status, the --json report checked against
// the diskette by tools we did not write, the build log, and the backup of the old diskette.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <sstream>

#include "app/messages.h"
#include "cli/cli_process.h"
#include "support/fat_tools.h"
#include "support/message_shape.h"

namespace {

namespace fs = std::filesystem;
using clitest::Scratch;

// Runs a Python check over `input` (a file), returning its standard output.
std::string python(const std::string& script, const std::string& input) {
    const std::string scriptPath = input + ".py";
    std::ofstream(scriptPath) << script;
    std::string out;
    if (FILE* p = ::popen(("python3 " + scriptPath + " " + input + " 2>&1").c_str(), "r")) {
        char buffer[4096];
        while (std::fgets(buffer, sizeof buffer, p)) out += buffer;
        ::pclose(p);
    }
    return out;
}

// The report's JSON from a run's output: its one line that begins with '{'.
std::string jsonLine(const std::string& output) {
    std::istringstream lines(output);
    std::string line;
    while (std::getline(lines, line))
        if (line.starts_with("{")) return line;
    return {};
}

// Every SHA-256 of the report recomputed from the image with mtools and hashlib, and the
// backup compared byte for byte with the diskette as it was before the build.
constexpr char kCheckReport[] = R"(
import hashlib, json, subprocess, sys
r = json.load(open(sys.argv[1]))
img = r["drive"]["path"]
disk = open(img, "rb").read()
sha = lambda b: hashlib.sha256(b).hexdigest()
bad = []
if r["schema"] != 1 or r["outcome"] != "built" or r["read_back"] != "passed": bad.append("fields")
if r["disk_sha256"] != sha(disk): bad.append("disk")
if r["sector0_sha256"] != sha(disk[:512]): bad.append("sector0")
for f in r["files"]:
    onDisk = subprocess.run(["mtype", "-i", img, "::" + f["name"]], capture_output=True).stdout
    src = open(f["source"], "rb").read()
    if f["sha256"] != sha(onDisk) or sha(src) != sha(onDisk) or f["bytes"] != len(onDisk):
        bad.append(f["name"])
print("names", " ".join(f["name"] for f in r["files"]), r["image"]["rule"], r["project"]["part_number"])
print("backup", r["backup"]["sha256"] == sha(open(r["backup"]["path"], "rb").read()))
print("bad", bad)
)";

TEST(CliReport, JsonReportAgreesWithTheDisketteAndTheBackupWithTheOldDiskette) {
    Scratch s;
    // The old diskette: a built one, to be formatted over.
    ASSERT_EQ(s.run({"--create", "--yes", "--drive", s.image(), s.project()}).exitCode, 0);
    const auto before = fattools::readBytes(s.image());
    ASSERT_TRUE(before);
    const std::string backup = s.root() + "/old.img";
    const auto r =
        s.run({"-jqy", "--backup", backup, "-d", s.image(), "-k", "minidos", s.project()});
    ASSERT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(fattools::readBytes(backup), before);
    const std::string json = jsonLine(r.output);
    EXPECT_EQ(r.output, json + "\n") << "--quiet prints nothing but the report";
    std::ofstream(s.root() + "/report.json") << json;
    EXPECT_EQ(python(kCheckReport, s.root() + "/report.json"),
              "names minidos.sys zyplet.exe platform.bin vgabios.exe bios.rom test Q7A\n"
              "backup True\nbad []\n");
    // The backup is never overwritten.
    const auto again = s.run({"-y", "--backup", backup, "-d", s.image(), s.project()});
    EXPECT_EQ(again.exitCode, 1) << again.output;
    EXPECT_NE(again.output.find("File exists"), std::string::npos) << again.output;
    EXPECT_EQ(fattools::readBytes(backup), before);
    // --save-image takes the diskette as it is now.
    const auto saved = s.run({"--save-image", s.root() + "/now.img", "-d", s.image()});
    EXPECT_EQ(saved.exitCode, 0) << saved.output;
    EXPECT_EQ(fattools::readBytes(s.root() + "/now.img"), fattools::readBytes(s.image()));
}

// One real case for each exit status, with the outcome and failure kind of the report.
TEST(CliReport, EachExitStatusComesFromItsOwnCase) {
    Scratch s;
    ASSERT_EQ(s.run({"--create", "--yes", "--kind", "format", "--drive", s.image()}).exitCode, 0);
    const std::string locked = s.root() + "/locked.img";
    fs::copy_file(s.image(), locked);
    ::chmod(locked.c_str(), 0444);  // a write-protected diskette, as the drive sees it
    const std::string empty = s.root() + "/empty-folder";
    fs::create_directories(empty);
    // Too large for a diskette: refused, and recorded with what it is and its size.
    const std::string large = s.root() + "/large.img";
    std::ofstream(large).close();
    fs::resize_file(large, 10 * 1024 * 1024);
    const fattools::LoopDevice largeDevice(large);
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string report;  // part of the JSON report
    };
    std::vector<Case> cases = {
        {{"-y", "-d", s.image(), s.project()}, 0, "\"outcome\":\"built\""},
        {{"-y", "-k", "format", "-d", s.image()}, 0, "\"outcome\":\"formatted\""},
        {{"-y", "-d", s.image(), empty}, 1, "\"kind\":\"project-refused\""},
        {{"-y", "-d", s.root() + "/nothing.img", s.project()}, 3, "\"kind\":\"no-diskette\""},
        {{"-y", "-d", locked, s.project()}, 4, "\"kind\":\"write-protected\""},
        {{"-y", "--no-format", "-d", locked, s.project()}, 4, "\"kind\":\"write-protected\""},
        {{"-d", s.image(), s.project()}, 6, "\"outcome\":\"declined\""},
        {{"-y", "-d", large, s.project()},
         2,
         "\"device\":false,\"vendor\":null,\"model\":null,\"bytes\":10485760}"},
    };
    if (!largeDevice.path().empty()) {
        cases.push_back({{"-y", "-d", largeDevice.path(), s.project()},
                         2,
                         "\"device\":true,\"vendor\":\"\",\"model\":\"\",\"bytes\":10485760}"});
    }
    for (const Case& c : cases) {
        std::vector<std::string> args = c.args;
        args.push_back("--json");
        const auto r = s.run(args);
        EXPECT_EQ(r.exitCode, c.status) << r.output;
        EXPECT_NE(jsonLine(r.output).find(c.report), std::string::npos) << r.output;
    }
    EXPECT_EQ(s.run({"--frobnicate"}).exitCode, 2);
    EXPECT_EQ(s.run({"--b", "x"}).exitCode, 2);  // ambiguous: --backup, --backup-skip-bad
}

// Every build appends one line, whatever it came to; two builds at once never interleave.
TEST(CliReport, BuildLogHoldsOneWholeLineForEveryBuild) {
    Scratch s, t;
    t.useStateHome(s.stateHome());
    ASSERT_EQ(s.run({"--create", "-y", "-d", s.image(), s.project()}).exitCode, 0);
    EXPECT_EQ(s.run({"-y", "-d", s.image(), s.root()}).exitCode, 1);              // refused
    EXPECT_EQ(s.run({"-y", "-d", s.root() + "/none", s.project()}).exitCode, 3);  // failed
    auto other = std::async(std::launch::async, [&] {
        return t.run({"--create", "-y", "-d", t.image(), t.project()}).exitCode;
    });
    EXPECT_EQ(s.run({"-y", "-d", s.image(), s.project()}).exitCode, 0);
    EXPECT_EQ(other.get(), 0);

    const std::string check = R"(
import json, sys
for line in open(sys.argv[1]):
    r = json.loads(line)
    print(r["outcome"], r["failure"] and r["failure"]["kind"], r["drive"]["path"].split("/")[-1])
)";
    const std::string out = python(check, s.buildLog());
    std::istringstream lines(out);
    std::vector<std::string> got;
    for (std::string line; std::getline(lines, line);) got.push_back(line);
    ASSERT_EQ(got.size(), 5u) << out;
    EXPECT_EQ(got[0], "built None a.img");
    EXPECT_EQ(got[1], "refused project-refused a.img");
    EXPECT_EQ(got[2], "failed no-diskette none");
    EXPECT_EQ(std::count(got.begin() + 3, got.end(), "built None a.img"), 2) << out;

    // A log that cannot be written is said on standard error and fails nothing.
    fs::remove_all(s.stateHome());
    std::ofstream(s.stateHome()) << "a file where the folder should be";
    const auto r = s.run({"-y", "-d", s.image(), s.project()});
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_TRUE(textsupport::findComposed(r.output, texts::buildLogFailed)) << r.output;
}

// The build log's lines, in order.
std::vector<std::string> logLines(const Scratch& s) {
    std::ifstream in(s.buildLog());
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// Every run that reaches drive A: or the start directory leaves one line in the build log,
// whatever it came to, naming the kind of its failure as its report does.
TEST(CliReport, EveryRunThatReachesTheDriveLeavesOneLineWithItsKind) {
    Scratch s;
    ASSERT_EQ(s.run({"--create", "--yes", "--kind", "format", "--drive", s.image()}).exitCode, 0);
    // A start directory longer than the dialog's 127 characters, holding the kit.
    const std::string deep = s.root() + "/" + std::string(70, 'd') + "/" + std::string(70, 'd');
    fs::create_directories(deep);
    fs::copy(s.kit(), deep, fs::copy_options::recursive);
    struct Case {
        const char* what;
        std::function<clitest::CliRun()> run;
        int status;  // -1: ended by `signal`
        int signal;
        std::string kind;
    };
    const std::string backup = s.root() + "/old.img";
    const Case cases[] = {
        {"erase question answered No",
         [&] {
             return s.run({"-j", "-d", s.image(), s.project()});
         },
         6, 0, "declined"},
        {"start directory too long",
         [&] {
             s.useKit(deep);
             auto r = s.run({"-jy", "-d", s.image(), s.project()});
             s.useKit({});
             return r;
         },
         1, 0, "start-directory"},
        {"backup interrupted",
         [&] {
             return s.runInterrupted({"-jy", "--backup", backup, "-d", s.image(), s.project()},
                                     "saving drive A:", SIGINT);
         },
         -1, SIGINT, "interrupted"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto before = logLines(s);
        const auto r = c.run();
        EXPECT_EQ(r.exitCode, c.status) << r.output;
        EXPECT_EQ(r.signal, c.signal) << r.output;
        const auto after = logLines(s);
        ASSERT_EQ(after.size(), before.size() + 1) << r.output;
        const std::string kind = "\"failure\":{\"kind\":\"" + c.kind + "\"";
        EXPECT_NE(after.back().find(kind), std::string::npos) << after.back();
        EXPECT_NE(jsonLine(r.output).find(kind), std::string::npos) << r.output;
    }
}

// A backup or a saved image is under its name only once it is whole: a copy ended by a signal
// leaves nothing there (nor beside it), ends with the signal's status after its report, and the
// next run makes the file.
TEST(CliReport, AnInterruptedCopyOfDriveALeavesNoFile) {
    Scratch s;
    ASSERT_EQ(s.run({"--create", "--yes", "-d", s.image(), s.project()}).exitCode, 0);
    const std::string file = s.root() + "/copy/old.img";
    fs::create_directories(s.root() + "/copy");
    for (const char* option : {"--backup", "--save-image"}) {
        for (const int signal : {SIGINT, SIGTERM, SIGKILL}) {
            SCOPED_TRACE(std::string(option) + ", signal " + std::to_string(signal));
            const auto disk = fattools::readBytes(s.image());
            std::vector<std::string> args = {"-jy", option, file, "-d", s.image()};
            if (std::string(option) == "--backup") args.push_back(s.project());
            const auto r = s.runInterrupted(args, "saving drive A:", signal);
            ASSERT_TRUE(r.paused) << r.output;
            EXPECT_EQ(r.signal, signal) << r.output;
            // SIGKILL can leave a file without a name at most; the others, nothing at all.
            EXPECT_FALSE(fs::exists(file)) << "a partial copy was left";
            if (signal != SIGKILL) {
                EXPECT_TRUE(fs::is_empty(s.root() + "/copy"));
            }
            EXPECT_EQ(fattools::readBytes(s.image()), disk) << "the diskette was written";
            if (signal != SIGKILL) {
                EXPECT_NE(jsonLine(r.output).find("\"kind\":\"interrupted\""), std::string::npos)
                    << r.output;
            }
            const auto again = s.run(args);
            EXPECT_EQ(again.exitCode, 0) << again.output;
            EXPECT_EQ(fattools::readBytes(file), disk);
            fs::remove(file);
        }
    }
}

}  // namespace

namespace {

// The log and the report stay whole and true where they used to be lost: a log that is a pipe
// is refused at once and said even with --quiet, a torn last line of an earlier crash is not
// continued, and a build ended by a signal still prints its report.
TEST(CliReport, TheLogAndTheReportSurviveWhatUsedToLoseThem) {
    Scratch s;
    ASSERT_EQ(s.run({"--create", "--yes", "--kind", "format", "--drive", s.image()}).exitCode, 0);
    fs::create_directories(s.stateHome() + "/quenvol");
    struct Case {
        std::string what;
        std::function<void()> before;
        std::string said;  // on standard error
    };
    const Case cases[] = {
        {"a pipe as the log",
         [&] {
             fs::remove(s.buildLog());  // the format's line
             ::mkfifo(s.buildLog().c_str(), 0600);
         },
         "it is not a regular file"},
        {"a torn last line",
         [&] {
             fs::remove(s.buildLog());
             std::ofstream(s.buildLog()) << "{\"torn";
         },
         ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        c.before();
        const auto r = s.run({"-qy", "-d", s.image(), s.project()});
        EXPECT_EQ(r.exitCode, 0) << r.output;
        EXPECT_EQ(r.output.find(c.said) != std::string::npos, true) << r.output;
    }
    std::ifstream log(s.buildLog());
    std::string torn, line;
    std::getline(log, torn);
    std::getline(log, line);
    EXPECT_EQ(torn, "{\"torn");
    EXPECT_TRUE(line.starts_with("{\"schema\":1")) << line;

    const auto stopped =
        s.runInterrupted({"-jy", "-d", s.image(), s.project()}, "staged bios.rom", SIGTERM);
    EXPECT_EQ(stopped.signal, SIGTERM);
    EXPECT_NE(jsonLine(stopped.output).find("\"kind\":\"interrupted\",\"message\":\"SIGTERM"),
              std::string::npos)
        << stopped.output;
}

}  // namespace
