#include "cli/cli_options.h"

#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

using cli::DiskKind;
using cli::parseArguments;

TEST(CliOptions, NoArgumentsBuildAMinidosDiskFromTheHistory) {
    const auto parsed = parseArguments({});
    ASSERT_TRUE(parsed.ok()) << parsed.error;
    const auto& o = parsed.options;
    EXPECT_EQ(o.kind, DiskKind::Minidos);
    EXPECT_FALSE(o.drive);
    EXPECT_FALSE(o.create || o.yes || o.noFormat || o.full || o.verify || o.help || o.version);
    EXPECT_TRUE(o.label.empty());
    EXPECT_TRUE(o.projectWords.empty());
}

TEST(CliOptions, EveryOptionIsTakenWithItsValue) {
    const auto parsed =
        parseArguments({"--kind", "fulldos", "--drive", "/tmp/a.img", "--create", "--yes", "--full",
                        "--label", "RESCUE", "--verify", "/work/proj"});
    ASSERT_TRUE(parsed.ok()) << parsed.error;
    const auto& o = parsed.options;
    EXPECT_EQ(o.kind, DiskKind::Fulldos);
    EXPECT_EQ(o.drive, "/tmp/a.img");
    EXPECT_TRUE(o.create && o.yes && o.full && o.verify);
    EXPECT_EQ(o.label, "RESCUE");
    EXPECT_EQ(o.projectWords, std::vector<std::string>{"/work/proj"});

    const auto formatOnly = parseArguments({"--kind=format", "--drive=/dev/fd0"});
    ASSERT_TRUE(formatOnly.ok()) << formatOnly.error;
    EXPECT_EQ(formatOnly.options.kind, DiskKind::FormatOnly);
    EXPECT_EQ(formatOnly.options.drive, "/dev/fd0");
    EXPECT_TRUE(parseArguments({"--no-format"}).options.noFormat);
}

TEST(CliOptions, ProjectWordsKeepTheirOrderAroundOptions) {
    // The words become the command-line text joined by blanks, so "my bios" split by the
    // shell arrives as two words in order.
    const auto parsed = parseArguments({"/proj/my", "--yes", "bios", "--", "--verify", "-"});
    ASSERT_TRUE(parsed.ok()) << parsed.error;
    EXPECT_EQ(parsed.options.projectWords,
              (std::vector<std::string>{"/proj/my", "bios", "--verify", "-"}));
    EXPECT_TRUE(parsed.options.yes);
    EXPECT_FALSE(parsed.options.verify);
}

// --drive is the exception: given twice or more it names the drives of a run on several.
TEST(CliOptions, TheLastOfARepeatedOptionCounts) {
    const auto parsed =
        parseArguments({"--kind", "format", "--kind", "minidos", "--drive", "a", "--drive", "b"});
    ASSERT_TRUE(parsed.ok()) << parsed.error;
    EXPECT_EQ(parsed.options.kind, DiskKind::Minidos);
    EXPECT_EQ(parsed.options.drive, "b");
    EXPECT_EQ(parsed.options.drives, (std::vector<std::string>{"a", "b"}));
    EXPECT_TRUE(cli::onSeveralDrives(parsed.options));
    EXPECT_FALSE(cli::onSeveralDrives(parseArguments({"--drive", "a"}).options));
    for (const char* alone : {"--all-drives", "--retry-failed"})
        EXPECT_TRUE(cli::onSeveralDrives(parseArguments({alone, "--count", "3"}).options));
}

TEST(CliOptions, BadArgumentsAreNamedInTheMessage) {
    struct Case {
        std::vector<std::string> args;
        std::string says;
    };
    const Case cases[] = {
        {{"--frobnicate"}, "unknown option \"--frobnicate\""},
        {{"-x"}, "unknown option \"-x\""},
        {{"--ye"}, ""},  // an abbreviation is no error: see below
        {{"--b", "f"}, "is ambiguous: it could be --backup, --backup-skip-bad"},
        {{"-d"}, "the option -d (--drive) needs a value"},
        {{"--backup-skip-bad"}, "goes with --backup FILE"},
        {{"--save-image", "f", "/p"}, "it builds nothing"},
        {{"--kind", "floppy"}, "unknown disk kind \"floppy\""},
        {{"--kind=MINIDOS"}, "unknown disk kind \"MINIDOS\""},
        {{"--kind"}, "--kind needs a value"},
        {{"/p", "--drive"}, "--drive needs a value"},
        {{"--drive="}, "--drive needs a path"},
        {{"--label"}, "--label needs a value"},
        {{"--yes=no"}, "--yes takes no value"},
        {{"--label", "TWELVE_CHARS"}, "has 12 characters; a label holds at most 11"},
        {{"--label", " LEADING"}, "begins with a blank"},
        {{"--label", "A.B"}, "holds '.'"},
        {{"--label",
          "\xE5"
          "BC"},
         "holds the byte 0xE5"},
        {{"--label", "CAF\xC3\x89"}, "holds the byte 0xC3"},
        {{"--label",
          "AB\x7F"
          "C"},
         "label \"AB\\x7fC\" holds the byte 0x7F"},
        {{"--label", "\xC3\x89\xC3\x89\xC3\x89\xC3\x89\xC3\x89\xC3\x89"}, "takes 12 bytes"},
        {{"--no-format", "--full"}, "--no-format leaves the diskette as it is"},
        {{"--no-format", "--label", "X"}, "--no-format leaves the diskette as it is"},
        {{"--kind", "format", "--no-format"}, "leaves nothing to do"},
        {{"--kind", "format", "--verify"}, "--kind format builds none"},
        {{"--boot-check=0"}, "from 1 to 3600, not \"0\""},
        {{"--boot-check=3601"}, "from 1 to 3600"},
        {{"--boot-check=soon"}, "not \"soon\""},
        {{"--boot-screen", "s.png", "/p"}, "--boot-screen goes with --boot-check"},
        {{"--boot-check", "--create"}, "without a project path only starts drive A:"},
        {{"--boot-check", "--kind", "fulldos"}, "without a project path only starts drive A:"},
        {{"--boot-check", "--save-image", "f"}, "do not make one"},
        {{"-d", "a", "-d", "b", "--backup", "f", "/p"}, "writes one finished diskette to each"},
        {{"--all-drives", "--no-format", "/p"}, "writes one finished diskette to each"},
        {{"--retry-failed", "--eject"}, "writes one finished diskette to each"},
        {{"--all-drives", "--retry-failed"}, "give one of them"},
        {{"-d", "a", "-d", "b", "--all-drives"}, "give one of them"},
        {{"--copy-image", "f", "-d", "a", "-d", "b"}, "it takes one --drive"},
        {{"--copy-image", "f", "/p"}, "it takes one --drive"},
    };
    for (const auto& c : cases) {
        const auto parsed = parseArguments(c.args);
        if (c.says.empty()) continue;
        EXPECT_FALSE(parsed.ok()) << c.args.front();
        EXPECT_NE(parsed.error.find(c.says), std::string::npos)
            << "for " << c.args.front() << ": " << parsed.error;
    }
}

TEST(CliOptions, BootCheckTakesItsSecondsOnlyAfterAnEqualsSign) {
    const auto plain = parseArguments({"--boot-check", "/p"});
    ASSERT_TRUE(plain.ok()) << plain.error;
    EXPECT_EQ(plain.options.bootCheck, 10u);
    EXPECT_EQ(plain.options.projectWords, std::vector<std::string>{"/p"});
    const auto timed = parseArguments({"--boot-check=45", "--boot-screen=s.png"});
    ASSERT_TRUE(timed.ok()) << timed.error;
    EXPECT_EQ(timed.options.bootCheck, 45u);
    EXPECT_EQ(timed.options.bootScreen, "s.png");
}

TEST(CliOptions, ShortFormsBundlesAndAbbreviationsMeanTheLongOptions) {
    const auto parsed = parseArguments(
        {"-yqj", "-kfulldos", "-d", "/tmp/a.img", "--veri", "--backup=b.img", "--backup-s", "/p"});
    ASSERT_TRUE(parsed.ok()) << parsed.error;
    const auto& o = parsed.options;
    EXPECT_TRUE(o.yes && o.quiet && o.json && o.verify && o.backupSkipBad);
    EXPECT_EQ(o.kind, DiskKind::Fulldos);
    EXPECT_EQ(o.drive, "/tmp/a.img");
    EXPECT_EQ(o.backup, "b.img");
    EXPECT_EQ(o.projectWords, std::vector<std::string>{"/p"});
    EXPECT_TRUE(parseArguments({"-h"}).options.help);
    EXPECT_TRUE(parseArguments({"-V"}).options.version);
    // The state of one parse does not leak into the next.
    EXPECT_EQ(parseArguments({"/q"}).options.projectWords, std::vector<std::string>{"/q"});
}

TEST(CliOptions, LabelsWithinTheRulesAreAccepted) {
    for (const std::string label : {"", "A", "ELEVEN CHAR", "rescue-1", "{X}~!#$%&'("}) {
        const auto parsed = parseArguments({"--label", label});
        EXPECT_TRUE(parsed.ok()) << label << ": " << parsed.error;
        EXPECT_EQ(parsed.options.label, label);
    }
}

TEST(CliOptions, HelpAndVersionWinOverConflicts) {
    const auto help = parseArguments({"--no-format", "--full", "--help"});
    EXPECT_TRUE(help.ok());
    EXPECT_TRUE(help.options.help);
    EXPECT_TRUE(parseArguments({"--version", "--kind", "format", "--verify"}).ok());
    // An unknown option is still an error: the user mistyped something.
    EXPECT_FALSE(parseArguments({"--help", "--bogus"}).ok());
}

TEST(CliOptions, UsageNamesEveryOption) {
    const std::string usage = cli::usageText();
    for (const char* option : {"-k, --kind",
                               "-d, --drive",
                               "--create",
                               "-y, --yes",
                               "--no-format",
                               "--unmount",
                               "--eject",
                               "--full",
                               "--label",
                               "--verify",
                               "-h, --help",
                               "-V, --version",
                               "-q, --quiet",
                               "-j, --json",
                               "--backup FILE",
                               "--backup-skip-bad",
                               "--save-image FILE",
                               "--plan",
                               "--count N",
                               "--progress MODE",
                               "PROJECT_PATH",
                               " 6  the project folder",
                               "--boot-check[=SECONDS]",
                               "--boot-screen FILE",
                               " 8  --boot-check could not run",
                               "--all-drives",
                               "--retry-failed",
                               " 9  on several drives"}) {
        EXPECT_NE(usage.find(option), std::string::npos) << option;
    }
    EXPECT_EQ(usage.find("copy-image"), std::string::npos);  // the workers' own, not for people
}

// The help names this system's things and no other's: a Windows technician reads drive
// letters, %LOCALAPPDATA% and the guide beside the program, never a Linux path or package.
TEST(CliOptions, HelpNamesOnlyThisSystemsThings) {
#ifdef _WIN32
    const std::vector<std::string> named = {"%QUENVOL_DRIVE_A%", "else A:)",
                                            "%LOCALAPPDATA%\\quenvol\\builds.jsonl", "README.txt",
                                            "qemu-system-i386.exe"};
    const std::vector<std::string> foreign = {
        "/dev/", "$XDG", "$QUENVOL", "~/", "Debian", "man quenvol-cli", "udisks", "/examples"};
#else
    const std::vector<std::string> named = {"$QUENVOL_DRIVE_A", "/dev/fd0", "$XDG_STATE_HOME",
                                            "man quenvol-cli", "qemu-system-x86"};
    const std::vector<std::string> foreign = {"%LOCALAPPDATA%", "%QUENVOL", "README.txt", ".exe"};
#endif
    const std::string usage = cli::usageText();
    for (const std::string& word : named) EXPECT_NE(usage.find(word), std::string::npos) << word;
    for (const std::string& word : foreign) EXPECT_EQ(usage.find(word), std::string::npos) << word;
}

TEST(CliOptions, EveryOptionInTheHelpParsesInBothFormsAndSetsSomething) {
    const std::map<std::string, std::string> sampleValue = {
        {"KIND", "fulldos"}, {"PATH", "/tmp/a.img"}, {"TEXT", "RESCUE"},
        {"FILE", "f.img"},   {"MODE", "json"},       {"N", "3"}};
    std::istringstream usage(cli::usageText());
    int seen = 0;
    for (std::string line; std::getline(usage, line);) {
        // "  -k, --kind KIND   ..." or "      --create   ...": one option's entry.
        std::smatch m;
        const std::regex entry("^  (?:-(.), |    )--([a-z-]+)(?: ([A-Z]+))?");
        if (!std::regex_search(line, m, entry)) continue;
        const std::string name = m[2], letter = m[1], valueName = m[3];
        SCOPED_TRACE(name);
        std::vector<std::string> value;
        if (!valueName.empty()) value.push_back(sampleValue.at(valueName));
        // --help (or --version for --help itself) keeps combinations from being refused.
        const std::string other = name == "help" ? "-V" : "-h";
        auto withOther = [&](const std::string& form) {
            std::vector<std::string> args{other, form};
            args.insert(args.end(), value.begin(), value.end());
            return parseArguments(args);
        };
        const auto longForm = withOther("--" + name);
        ASSERT_TRUE(longForm.ok()) << longForm.error;
        EXPECT_FALSE(longForm.options == parseArguments({other}).options);
        if (!letter.empty()) {
            EXPECT_EQ(withOther("-" + letter).options, longForm.options);
        }
        ++seen;
    }
    EXPECT_EQ(seen, 26);
}
