#include "cli/cli_options.h"

#include <getopt.h>

#include <algorithm>
#include <cstdio>
#include <string_view>

#include "build/part_number.h"
#include "cli/boot_check.h"
#include "cli/system_words.h"
#include "fat/fat12.h"
#include "framework/afxwin.h"
#include "platform/host_system.h"

namespace cli {
namespace {

std::string checkLabel(const std::string& label) {
    const fat::LabelCheck check = fat::checkVolumeLabel(label);
    const std::string quoted = "the volume label \"" + build::Printable(label) + "\"";
    switch (check.fault) {
        case fat::LabelFault::None:
            return {};
        case fat::LabelFault::TooLong: {
            const bool ascii = std::all_of(label.begin(), label.end(), [](char c) {
                return static_cast<unsigned char>(c) < 0x80;
            });
            return quoted + (ascii ? " has " : " takes ") + std::to_string(check.bytes) +
                   (ascii ? " characters" : " bytes") + "; a label holds at most " +
                   std::to_string(fat::kLabelBytes);
        }
        case fat::LabelFault::LeadingBlank:
            return quoted + " begins with a blank";
        case fat::LabelFault::BadCharacter: {
            char shown[16];
            if (check.character >= 0x7F || check.character < 0x20) {
                std::snprintf(shown, sizeof shown, "the byte 0x%02X", check.character);
            } else {
                std::snprintf(shown, sizeof shown, "'%c'", check.character);
            }
            return quoted + " holds " + shown +
                   ", which a label may not hold (letters, digits, blanks and !#$%&'()-@^_`{}~ "
                   "are allowed)";
        }
    }
    return {};
}

// The disk kinds by their names on the command line, in the radio group's order.
struct KindName {
    DiskKind kind;
    const char* name;
};
constexpr KindName kKindNames[] = {
    {DiskKind::Minidos, "minidos"},
    {DiskKind::Fulldos, "fulldos"},
    {DiskKind::FormatOnly, "format"},
};

}  // namespace

const char* kindName(DiskKind kind) {
    for (const KindName& entry : kKindNames)
        if (entry.kind == kind) return entry.name;
    return "?";
}

namespace {

// What an option with a value does to the options: the sentence saying why the value is
// refused, or an empty text. `name` is the option's long name.
using TakeValue = std::string (*)(Options& o, const std::string& value, const char* name);

std::string takeKind(Options& o, const std::string& value, const char*) {
    for (const KindName& entry : kKindNames) {
        if (value == entry.name) {
            o.kind = entry.kind;
            return {};
        }
    }
    return "unknown disk kind \"" + value + "\" (use minidos, fulldos or format)";
}

std::string takeDrive(Options& o, const std::string& value, const char* name) {
    if (value.empty()) return std::string("the option --") + name + " needs a path";
    o.drive = value;
    o.drives.push_back(value);
    return {};
}

std::string takeLabel(Options& o, const std::string& value, const char*) {
    std::string error = checkLabel(value);
    if (error.empty()) o.label = value;
    return error;
}

template <std::optional<std::string> Options::*File>
std::string takeFile(Options& o, const std::string& value, const char* name) {
    if (value.empty()) return std::string("the option --") + name + " needs a file name";
    o.*File = value;
    return {};
}

std::string takeProgress(Options& o, const std::string& value, const char*) {
    if (value == "auto")
        o.progress = ProgressMode::Auto;
    else if (value == "plain")
        o.progress = ProgressMode::Plain;
    else if (value == "json")
        o.progress = ProgressMode::Json;
    else
        return "unknown progress display \"" + value + "\" (use auto, plain or json)";
    return {};
}

std::string takeCount(Options& o, const std::string& value, const char*) {
    const bool digits =
        !value.empty() && value.size() <= 6 &&
        std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (!digits) {
        return "the option --count needs a number of diskettes (0 builds until interrupted), "
               "not \"" +
               value + "\"";
    }
    o.count = static_cast<unsigned>(std::stoul(value));
    return {};
}

std::string takeBootCheck(Options& o, const std::string& value, const char* name) {
    if (value.empty()) {
        o.bootCheck = kBootCheckDefaultSeconds;
        return {};
    }
    const bool digits =
        value.size() <= 4 && value.find_first_not_of("0123456789") == std::string::npos;
    const unsigned seconds = digits ? static_cast<unsigned>(std::stoul(value)) : 0;
    if (seconds == 0 || seconds > kBootCheckMaxSeconds)
        return std::string("the option --") + name + " takes a number of seconds from 1 to " +
               std::to_string(kBootCheckMaxSeconds) + ", not \"" + value + "\"";
    o.bootCheck = seconds;
    return {};
}

// The one table of options: the parser and --help are both made from it. An option either
// takes a value (`value` names it, `take` reads it) or switches `flag` on.
struct OptionSpec {
    const char* name;
    char letter;        // the short form, or 0 for none
    const char* value;  // the value's name, or null for an option without one
    const char* help;   // lines after the first are indented under it
    TakeValue take = nullptr;
    bool Options::*flag = nullptr;
    bool valueOptional = false;  // given only as --name=VALUE; --name alone takes the default
};

constexpr OptionSpec kOptions[] = {
    {"kind", 'k', "KIND", "minidos (default), fulldos, or format (only format the diskette)",
     takeKind},
    {"drive", 'd', "PATH", words::kDriveHelp, takeDrive},
    {"all-drives", 0, nullptr,
     "build the same diskette in every floppy drive found that holds a\n"
     "diskette, all at once (as --drive given once for each)",
     nullptr, &Options::allDrives},
    {"retry-failed", 0, nullptr,
     "build again in the drives that failed in the last run on several\n"
     "drives, and in no other",
     nullptr, &Options::retryFailed},
    {"copy-image", 0, "FILE", nullptr, takeFile<&Options::copyImage>},
    {"list-drives", 0, nullptr,
     "list the floppy drives, one a line: device, size in bytes,\n"
     "vendor and model, access, and A: on drive A:'s line",
     nullptr, &Options::listDrives},
    {"create", 0, nullptr,
     "first create a blank 1.44 MB image at the --drive path when\n"
     "nothing exists there (an existing file is never replaced)",
     nullptr, &Options::create},
    {"yes", 'y', nullptr,
     "answer Yes to the question before drive A: is erased and to the\n"
     "project folder confirmation; without it they are asked on the\n"
     "terminal, or answered No when standard input is not a terminal",
     nullptr, &Options::yes},
    {"accept-payload-warnings", 0, nullptr,
     "answer Yes when the checks of the BIOS image and the video BIOS\n"
     "find them doubtful (--yes does not); without it the question is\n"
     "asked on the terminal, or answered No and the build refused",
     nullptr, &Options::acceptPayloadWarnings},
    {"unmount", 0, nullptr,
     "when the diskette in drive A: is mounted (a desktop mounts it when\n"
     "it is pushed in), unmount it without asking; without it the\n"
     "question is asked on the terminal, or answered No",
     nullptr, &Options::unmount},
    {"eject", 0, nullptr, words::kEjectHelp, nullptr, &Options::eject},
    {"no-format", 0, nullptr, "leave the diskette as it is instead of formatting it", nullptr,
     &Options::noFormat},
    {"full", 0, nullptr, "full format (every sector written and read back); default quick", nullptr,
     &Options::full},
    {"label", 0, "TEXT",
     "volume label of the formatted diskette: at most 11 ASCII\n"
     "letters, digits, blanks and !#$%&'()-@^_`{}~",
     takeLabel},
    {"verify", 0, nullptr,
     "after a successful build, read every copied file and the boot\n"
     "sector back from the diskette and compare them with their sources\n"
     "once more (the build itself does so before it reports success)",
     nullptr, &Options::verify},
    {"backup", 0, "FILE",
     "before anything is written, read the whole diskette into FILE,\n"
     "which must not exist; a read error stops the build",
     takeFile<&Options::backup>},
    {"backup-skip-bad", 0, nullptr,
     "with --backup: read on past unreadable sectors, fill them with\n"
     "zeros in FILE and list them",
     nullptr, &Options::backupSkipBad},
    {"save-image", 0, "FILE", "only read drive A: whole into FILE (which must not exist); no build",
     takeFile<&Options::saveImage>},
    {"boot-check", 0, "SECONDS",
     "after a successful build, or alone on drive A: when no project\n"
     "path is given, start the diskette in an emulated PC (qemu-system-i386)\n"
     "for SECONDS (default 10) and report what its screen shows",
     takeBootCheck, nullptr, true},
    {"boot-screen", 0, "FILE",
     "with --boot-check: save the emulated screen at the end as a PNG in\n"
     "a new FILE (one already there is refused)",
     takeFile<&Options::bootScreen>},
    {"json", 'j', nullptr,
     "write one JSON object describing the run to standard output at\n"
     "the end, also when it fails (fields in README)",
     nullptr, &Options::json},
    {"progress", 0, "MODE",
     "auto (default: one line redrawn on a terminal, else plain lines),\n"
     "plain, or json (one object a line on standard output: step,\n"
     "item, done, total, unit)",
     takeProgress},
    {"plan", 0, nullptr,
     "only say what a build would do: drive A:, the kind, each file with\n"
     "its source, size and why it was chosen, whether all fits, what\n"
     "would stop the build; drive A: is not touched (--json: an object)",
     nullptr, &Options::plan},
    {"count", 0, "N",
     "build N diskettes in a row (0: until interrupted), waiting for a\n"
     "new diskette in drive A: (or a replaced image file) between them",
     takeCount},
    {"quiet", 'q', nullptr, "print only errors (and the report of --json)", nullptr,
     &Options::quiet},
    {"help", 'h', nullptr, "show this text and exit", nullptr, &Options::help},
    {"version", 'V', nullptr, "show the version and exit", nullptr, &Options::version},
};

constexpr int kFirstLongOnlyId = 1000;

// What getopt_long returns for the option: its letter, else a number past every letter.
int idOf(const OptionSpec& spec) {
    return spec.letter != 0 ? spec.letter
                            : kFirstLongOnlyId + static_cast<int>(&spec - std::begin(kOptions));
}

const OptionSpec* specOf(int id) {
    for (const OptionSpec& spec : kOptions)
        if (idOf(spec) == id) return &spec;
    return nullptr;
}

// The long options that begin with `prefix`, for a message about an ambiguous abbreviation.
std::vector<std::string> longNamesStartingWith(const std::string& prefix) {
    std::vector<std::string> names;
    for (const OptionSpec& spec : kOptions)
        if (std::string_view(spec.name).starts_with(prefix)) names.push_back(spec.name);
    return names;
}

// Why getopt_long refused the long option `arg`, in our words.
std::string refusalOfLong(const std::string& arg, bool missingValue) {
    const std::string given = arg.substr(2, arg.find('=') - 2);
    const auto matches = longNamesStartingWith(given);
    const bool exact = std::find(matches.begin(), matches.end(), given) != matches.end();
    const std::string meant = exact ? given : matches.empty() ? given : matches.front();
    // A value given with "=" is never missing, whatever the C library's getopt_long calls the
    // refusal (the Windows runtime's reports a value given to an option that takes none so).
    const bool valueGiven = arg.find('=') != std::string::npos;
    if (missingValue && !valueGiven) return "the option --" + meant + " needs a value";
    if (matches.size() > 1 && !exact) {
        std::string list;
        for (const auto& m : matches) list += (list.empty() ? "--" : ", --") + m;
        return "the option \"" + arg + "\" is ambiguous: it could be " + list;
    }
    if (!matches.empty() && valueGiven) return "the option --" + meant + " takes no value";
    return "unknown option \"" + arg + "\"";
}

// Why getopt_long refused `arg`, in our words (its own messages are switched off).
std::string refusal(const std::string& arg, int optopt, bool missingValue) {
    if (arg.starts_with("--")) return refusalOfLong(arg, missingValue);
    if (missingValue) {
        const OptionSpec* spec = specOf(optopt);
        return std::string("the option -") + char(optopt) +
               (spec ? " (--" + std::string(spec->name) + ")" : "") + " needs a value";
    }
    return std::string("unknown option \"-") + char(optopt) + "\"";
}

// The table in getopt_long's terms.
struct GetoptTables {
    std::string shortOptions = ":";  // report a missing value apart from an unknown option
    std::vector<option> longOptions;
};

GetoptTables getoptTables() {
    GetoptTables tables;
    for (const OptionSpec& spec : kOptions) {
        if (spec.letter != 0) {
            tables.shortOptions += spec.letter;
            if (spec.value) tables.shortOptions += ':';
        }
        tables.longOptions.push_back(
            {spec.name,
             spec.value ? (spec.valueOptional ? optional_argument : required_argument)
                        : no_argument,
             nullptr, idOf(spec)});
    }
    tables.longOptions.push_back({nullptr, 0, nullptr, 0});
    return tables;
}

// The arguments as getopt_long wants them: a program name first, writable words, a null.
class ArgumentVector {
  public:
    explicit ArgumentVector(const std::vector<std::string>& args) : m_words{"quenvol-cli"} {
        m_words.insert(m_words.end(), args.begin(), args.end());
        for (auto& word : m_words) m_argv.push_back(word.data());
        m_argv.push_back(nullptr);
    }
    int argc() const { return static_cast<int>(m_words.size()); }
    char** argv() { return m_argv.data(); }
    const char* operator[](int i) const { return m_argv[static_cast<std::size_t>(i)]; }

  private:
    std::vector<std::string> m_words;
    std::vector<char*> m_argv;
};

// Reads the options into `o`, and the words that are not options into its project words.
// Returns why the arguments are refused, or an empty text.
std::string readOptions(ArgumentVector& args, Options& o) {
    const GetoptTables tables = getoptTables();
    // Options may come anywhere; "--" ends them. The state is reset for every call.
    optind = 0;
    opterr = 0;
    for (;;) {
        const int before = optind == 0 ? 1 : optind;
        const int id = getopt_long(args.argc(), args.argv(), tables.shortOptions.c_str(),
                                   tables.longOptions.data(), nullptr);
        if (id == -1) break;
        if (id == '?' || id == ':') {
            // The word that was refused: the one getopt_long has just passed over.
            std::string arg = args[std::clamp(optind - 1, before, args.argc() - 1)];
            if (!arg.starts_with("-")) arg = args[before];
            return refusal(arg, optopt, id == ':');
        }
        const OptionSpec* spec = specOf(id);
        if (spec == nullptr) continue;
        if (spec->flag) o.*(spec->flag) = true;
        if (spec->take) {
            if (std::string error = spec->take(o, optarg ? optarg : "", spec->name); !error.empty())
                return error;
        }
    }
    for (int i = optind; i < args.argc(); ++i) o.projectWords.push_back(args[i]);
    return {};
}

// Combinations that would silently do nothing of what was asked: why, or an empty text.
std::string conflictOf(const Options& o) {
    const bool reading = o.saveImage.has_value();
    if (o.noFormat && o.full)
        return "--full chooses how to format, but --no-format leaves the diskette as it is";
    if (o.noFormat && !o.label.empty())
        return "--label names the formatted volume, but --no-format leaves the diskette as it is";
    if (o.noFormat && o.kind == DiskKind::FormatOnly)
        return "--no-format with --kind format leaves nothing to do";
    if (o.listDrives && (o.create || !o.projectWords.empty() || reading || o.backup))
        return "--list-drives only lists the floppy drives; it builds nothing";
    if (o.verify && o.kind == DiskKind::FormatOnly)
        return "--verify checks a built diskette; --kind format builds none";
    if (o.plan && (reading || o.backup || o.create || o.verify || o.count != 1 || o.listDrives))
        return "--plan only says what a build would do; it touches no diskette";
    if (o.count != 1 && (reading || o.backup || o.listDrives))
        return "--count builds diskettes in a row; it goes with neither --backup nor "
               "--save-image nor --list-drives";
    if (o.backupSkipBad && !o.backup) return "--backup-skip-bad goes with --backup FILE";
    if (reading && (o.backup || o.create || o.verify || o.noFormat || o.full || !o.label.empty() ||
                    !o.projectWords.empty()))
        return "--save-image only reads drive A: into a file; it builds nothing";
    if (o.bootScreen && !o.bootCheck) return "--boot-screen goes with --boot-check";
    if (o.copyImage &&
        (o.drives.size() != 1 || o.allDrives || o.retryFailed || reading || o.backup ||
         o.bootCheck || o.plan || o.listDrives || o.noFormat || o.json || !o.projectWords.empty()))
        return "--copy-image is the worker of a run on several drives: it takes one --drive";
    if (o.allDrives + o.retryFailed + (o.drives.size() > 1) > 1)
        return "--drive given twice or more, --all-drives and --retry-failed each name the "
               "drives of a run on several drives: give one of them";
    if (onSeveralDrives(o) && (reading || o.backup || o.bootCheck || o.plan || o.listDrives ||
                               o.noFormat || o.eject || o.unmount))
        return "a run on several drives writes one finished diskette to each; it goes with none "
               "of --save-image, --backup, --boot-check, --plan, --list-drives, --no-format, "
               "--eject and --unmount";
    if (o.bootCheck && (o.listDrives || reading))
        return "--boot-check starts a diskette; --list-drives and --save-image do not make one";
    if (o.bootCheck && o.projectWords.empty() &&
        (o.create || o.verify || o.noFormat || o.full || !o.label.empty() || o.backup ||
         o.kind != DiskKind::Minidos))
        return "--boot-check without a project path only starts drive A:; it builds nothing";
    return {};
}

// One option's entry in --help: its forms, then its help from the column on, each line of it.
std::string optionHelp(const OptionSpec& spec) {
    constexpr std::size_t kColumn = 24;
    std::string head =
        spec.letter != 0 ? std::string("  -") + spec.letter + ", --" : std::string("      --");
    head += spec.name;
    if (spec.value)
        head += (spec.valueOptional ? "[=" : " ") + std::string(spec.value) +
                (spec.valueOptional ? "]" : "");
    head += head.size() + 1 < kColumn ? std::string(kColumn - head.size(), ' ')
                                      : "\n" + std::string(kColumn, ' ');
    std::string help = spec.help;
    for (std::size_t at = help.find('\n'); at != std::string::npos; at = help.find('\n', at + 1))
        help.insert(at + 1, std::string(kColumn, ' '));
    return head + help + "\n";
}

}  // namespace

ParsedArguments parseArguments(const std::vector<std::string>& args) {
    ParsedArguments parsed;
    ArgumentVector argv(args);
    parsed.error = readOptions(argv, parsed.options);
    // --help and --version are answered whatever else was asked.
    if (parsed.error.empty() && !parsed.options.help && !parsed.options.version)
        parsed.error = conflictOf(parsed.options);
    return parsed;
}

namespace {

// Where the documents and the samples are.
std::string documentationText() {
#ifdef _WIN32
    const std::string program = platform::programFilePath();
    const std::string folder = program.substr(0, program.find_last_of("\\/") + 1);
    return "Full documentation: " + folder + words::kGuideName +
           " (the user's guide, with the JSON\nreport's fields); a sample kit and project folder "
           "in " +
           folder + words::kSampleFolder + ".\n";
#else
    return "Full documentation: man quenvol-cli, and " + AfxInstalledDocFolder() +
           "/README.md\n(the JSON report's fields); a sample kit and project folder in\n" +
           AfxInstalledDataFolder() + "/examples.\n";
#endif
}

}  // namespace

std::string usageText() {
    std::string text =
        "Usage: quenvol-cli [OPTION]... [PROJECT_PATH...]\n"
        "Builds a crisis-recovery diskette in drive A: from a project folder, as the dialog\n"
        "does, with the current directory as the start directory. The PROJECT_PATH words,\n"
        "joined by single blanks, are the project path; none means the most recent one.\n"
        "Long options may be shortened to any unambiguous beginning.\n"
        "\n";
    for (const OptionSpec& spec : kOptions)
        if (spec.help) text += optionHelp(spec);
    text +=
        "      --              end of options: the words after it are the project path\n"
        "\n"
        "Message boxes are written to standard error; the question about another diskette\n"
        "is answered Yes until --count is reached, then No, so the list of recent project\n"
        "folders is saved. Every build is\n" +
        std::string(words::kBuildLog) +
        "\n"
        "Exit status:\n"
        " 0  the diskette was built (or formatted, with --kind format), or the image saved\n"
        " 1  the build stopped with a message: project refused, a copy failed, the boot\n"
        "    sector, a difference found on reading back, a backup that could not be made\n"
        " 2  bad usage: a bad option, or a drive that cannot be a diskette\n"
        " 3  no diskette in drive A:\n"
        " 4  the diskette is write-protected, or this user has no permission for drive A:\n"
        " 5  drive A: or the start directory is in use by another build (or drive A: is\n"
        "    mounted or held by another program); nothing was done, try again later\n"
        " 6  the project folder confirmation was answered No\n"
        " 7  --boot-check: the diskette's system did not start in the emulated PC (a\n"
        "    failure text, a reset, a restart loop, a silent screen), or the sample read\n"
        "    its BIOS image differently\n"
        " 8  --boot-check could not run: " +
        std::string(words::kNoEmulator) +
        ", an\n"
        "    emulator that failed or did not answer, or drive A: could not be read\n"
        " 9  on several drives: some drives built their diskettes and others failed (each\n"
        "    drive's result is listed at the end; --retry-failed builds only those again);\n"
        "    when every drive failed, the status is theirs if they failed alike, else 1\n"
        "\n" +
        documentationText();
    return text;
}

std::string versionText() {
    return std::string("quenvol-cli (Quenvol) ") + kVersion +
           "\n"
           "Copyright (c) 2026 The Quenvol developers\n"
           "License MIT: <https://opensource.org/licenses/MIT>\n"
           "This is free software: you are free to change and redistribute it.\n"
           "There is NO WARRANTY, to the extent permitted by law.\n";
}

}  // namespace cli
