#include "cli/cli_options.h"

#include <getopt.h>

#include <algorithm>
#include <cstdio>
#include <string_view>

#include "fat/fat12.h"

namespace cli {
namespace {

std::string checkLabel(const std::string& label) {
    const fat::LabelCheck check = fat::checkVolumeLabel(label);
    const std::string quoted = "the volume label \"" + label + "\"";
    switch (check.fault) {
        case fat::LabelFault::None:
            return {};
        case fat::LabelFault::TooLong: {
            const bool ascii = std::all_of(label.begin(), label.end(),
                                           [](char c) { return static_cast<unsigned char>(c) < 0x80; });
            return quoted + (ascii ? " has " : " takes ") + std::to_string(check.bytes) +
                   (ascii ? " characters" : " bytes") + "; a label holds at most " +
                   std::to_string(fat::kLabelBytes);
        }
        case fat::LabelFault::LeadingBlank:
            return quoted + " begins with a blank";
        case fat::LabelFault::BadCharacter: {
            char shown[16];
            if (check.character >= 0x80 || check.character < 0x20) {
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

bool parseKind(const std::string& text, DiskKind& kind) {
    if (text == "minidos")
        kind = DiskKind::Minidos;
    else if (text == "fulldos")
        kind = DiskKind::Fulldos;
    else if (text == "format")
        kind = DiskKind::FormatOnly;
    else
        return false;
    return true;
}

}  // namespace

const char* kindName(DiskKind kind) {
    switch (kind) {
        case DiskKind::Minidos:
            return "minidos";
        case DiskKind::Fulldos:
            return "fulldos";
        case DiskKind::FormatOnly:
            return "format";
    }
    return "?";
}


namespace {

enum OptionId {
    kOptKind = 'k',
    kOptDrive = 'd',
    kOptYes = 'y',
    kOptQuiet = 'q',
    kOptJson = 'j',
    kOptHelp = 'h',
    kOptVersion = 'V',
    kOptListDrives = 1000,
    kOptCreate,
    kOptNoFormat,
    kOptFull,
    kOptLabel,
    kOptVerify,
    kOptBackup,
    kOptBackupSkipBad,
    kOptSaveImage,
};

// The one table of options: the parser and --help are both made from it.
struct OptionSpec {
    const char* name;
    int id;              // the short form when it is a letter
    const char* value;   // the value's name, or null for an option without one
    const char* help;    // lines after the first are indented under it
};

constexpr OptionSpec kOptions[] = {
    {"kind", kOptKind, "KIND", "minidos (default), fulldos, or format (only format the diskette)"},
    {"drive", kOptDrive, "PATH",
     "drive A:: a 1.44 MB image file or a floppy block device\n"
     "(default: $QUENVOL_DRIVE_A, else the floppy drive found, the\n"
     "first with a diskette in when there are several, else /dev/fd0)"},
    {"list-drives", kOptListDrives, nullptr,
     "list the floppy drives, one a line: device, size in bytes,\n"
     "vendor and model, access, and A: on drive A:'s line"},
    {"create", kOptCreate, nullptr,
     "first create a blank 1.44 MB image at the --drive path when\n"
     "nothing exists there (an existing file is never replaced)"},
    {"yes", kOptYes, nullptr,
     "answer Yes to the project folder confirmation; without it the\n"
     "question is asked on the terminal, or answered No when standard\n"
     "input is not a terminal"},
    {"no-format", kOptNoFormat, nullptr, "leave the diskette as it is instead of formatting it"},
    {"full", kOptFull, nullptr, "full format (every sector written and read back); default quick"},
    {"label", kOptLabel, "TEXT",
     "volume label of the formatted diskette: at most 11 ASCII\n"
     "letters, digits, blanks and !#$%&'()-@^_`{}~"},
    {"verify", kOptVerify, nullptr,
     "after a successful build, read every copied file and the boot\n"
     "sector back from the diskette and compare them with their sources\n"
     "once more (the build itself does so before it reports success)"},
    {"backup", kOptBackup, "FILE",
     "before anything is written, read the whole diskette into FILE,\n"
     "which must not exist; a read error stops the build"},
    {"backup-skip-bad", kOptBackupSkipBad, nullptr,
     "with --backup: read on past unreadable sectors, fill them with\n"
     "zeros in FILE and list them"},
    {"save-image", kOptSaveImage, "FILE",
     "only read drive A: whole into FILE (which must not exist); no build"},
    {"json", kOptJson, nullptr,
     "write one JSON object describing the run to standard output at\n"
     "the end, also when it fails (fields in README)"},
    {"quiet", kOptQuiet, nullptr, "print only errors (and the report of --json)"},
    {"help", kOptHelp, nullptr, "show this text and exit"},
    {"version", kOptVersion, nullptr, "show the version and exit"},
};

bool isShort(int id) {
    return id > 0 && id < 128;
}

const OptionSpec* specOf(int id) {
    for (const OptionSpec& spec : kOptions)
        if (spec.id == id) return &spec;
    return nullptr;
}

// The long options that begin with `prefix`, for a message about an ambiguous abbreviation.
std::vector<std::string> longNamesStartingWith(const std::string& prefix) {
    std::vector<std::string> names;
    for (const OptionSpec& spec : kOptions)
        if (std::string_view(spec.name).starts_with(prefix)) names.push_back(spec.name);
    return names;
}

// Why getopt_long refused `arg`, in our words (its own messages are switched off).
std::string refusal(const std::string& arg, int optopt, bool missingValue) {
    if (arg.starts_with("--")) {
        const std::string given = arg.substr(2, arg.find('=') - 2);
        const auto matches = longNamesStartingWith(given);
        std::string exact;
        for (const auto& m : matches)
            if (m == given) exact = m;
        if (missingValue) return "the option --" + (exact.empty() ? matches.front() : exact) +
                                 " needs a value";
        if (matches.size() > 1 && exact.empty()) {
            std::string list;
            for (const auto& m : matches) list += (list.empty() ? "--" : ", --") + m;
            return "the option \"" + arg + "\" is ambiguous: it could be " + list;
        }
        if (!matches.empty() && arg.find('=') != std::string::npos) {
            return "the option --" + (exact.empty() ? matches.front() : exact) +
                   " takes no value";
        }
        return "unknown option \"" + arg + "\"";
    }
    if (missingValue) {
        const OptionSpec* spec = specOf(optopt);
        return std::string("the option -") + char(optopt) + (spec ? " (--" + std::string(spec->name) + ")" : "") +
               " needs a value";
    }
    return std::string("unknown option \"-") + char(optopt) + "\"";
}

}  // namespace

ParsedArguments parseArguments(const std::vector<std::string>& args) {
    ParsedArguments parsed;
    Options& o = parsed.options;

    std::string shortOptions = ":";  // report a missing value apart from an unknown option
    std::vector<option> longOptions;
    for (const OptionSpec& spec : kOptions) {
        if (isShort(spec.id)) {
            shortOptions += char(spec.id);
            if (spec.value) shortOptions += ':';
        }
        longOptions.push_back({spec.name, spec.value ? required_argument : no_argument, nullptr,
                               spec.id});
    }
    longOptions.push_back({nullptr, 0, nullptr, 0});

    std::vector<std::string> words{"quenvol-cli"};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    const int argc = static_cast<int>(words.size());

    // Options may come anywhere; "--" ends them. The state is reset for every call.
    optind = 0;
    opterr = 0;
    for (;;) {
        const int before = optind == 0 ? 1 : optind;
        const int id = getopt_long(argc, argv.data(), shortOptions.c_str(), longOptions.data(),
                                   nullptr);
        if (id == -1) break;
        if (id == '?' || id == ':') {
            // The word that was refused: the one getopt_long has just passed over.
            const int at = std::clamp(optind - 1, before, argc - 1);
            std::string arg = argv[static_cast<std::size_t>(at)];
            if (!arg.starts_with("-")) arg = argv[static_cast<std::size_t>(before)];
            parsed.error = refusal(arg, optopt, id == ':');
            return parsed;
        }
        const std::string value = optarg ? optarg : "";
        switch (id) {
            case kOptKind:
                if (!parseKind(value, o.kind)) {
                    parsed.error =
                        "unknown disk kind \"" + value + "\" (use minidos, fulldos or format)";
                    return parsed;
                }
                break;
            case kOptDrive:
                if (value.empty()) {
                    parsed.error = "the option --drive needs a path";
                    return parsed;
                }
                o.drive = value;
                break;
            case kOptLabel:
                if (auto error = checkLabel(value); !error.empty()) {
                    parsed.error = error;
                    return parsed;
                }
                o.label = value;
                break;
            case kOptBackup:
            case kOptSaveImage:
                if (value.empty()) {
                    parsed.error = std::string("the option --") + specOf(id)->name +
                                   " needs a file name";
                    return parsed;
                }
                (id == kOptBackup ? o.backup : o.saveImage) = value;
                break;
            case kOptCreate: o.create = true; break;
            case kOptYes: o.yes = true; break;
            case kOptNoFormat: o.noFormat = true; break;
            case kOptFull: o.full = true; break;
            case kOptVerify: o.verify = true; break;
            case kOptListDrives: o.listDrives = true; break;
            case kOptBackupSkipBad: o.backupSkipBad = true; break;
            case kOptJson: o.json = true; break;
            case kOptQuiet: o.quiet = true; break;
            case kOptHelp: o.help = true; break;
            case kOptVersion: o.version = true; break;
            default: break;
        }
    }
    for (int i = optind; i < argc; ++i) o.projectWords.push_back(argv[static_cast<std::size_t>(i)]);

    if (o.help || o.version) return parsed;
    // Combinations that would silently do nothing of what was asked.
    const bool reading = o.saveImage.has_value();
    if (o.noFormat && o.full) {
        parsed.error = "--full chooses how to format, but --no-format leaves the diskette as it is";
    } else if (o.noFormat && !o.label.empty()) {
        parsed.error =
            "--label names the formatted volume, but --no-format leaves the diskette as it is";
    } else if (o.noFormat && o.kind == DiskKind::FormatOnly) {
        parsed.error = "--no-format with --kind format leaves nothing to do";
    } else if (o.listDrives && (o.create || !o.projectWords.empty() || reading || o.backup)) {
        parsed.error = "--list-drives only lists the floppy drives; it builds nothing";
    } else if (o.verify && o.kind == DiskKind::FormatOnly) {
        parsed.error = "--verify checks a built diskette; --kind format builds none";
    } else if (o.backupSkipBad && !o.backup) {
        parsed.error = "--backup-skip-bad goes with --backup FILE";
    } else if (reading && (o.backup || o.create || o.verify || o.noFormat || o.full ||
                           !o.label.empty() || !o.projectWords.empty())) {
        parsed.error = "--save-image only reads drive A: into a file; it builds nothing";
    }
    return parsed;
}

std::string usageText() {
    std::string text =
        "Usage: quenvol-cli [OPTION]... [PROJECT_PATH...]\n"
        "Builds a crisis-recovery diskette in drive A: from a project folder, as the dialog\n"
        "does, with the current directory as the start directory. The PROJECT_PATH words,\n"
        "joined by single blanks, are the project path; none means the most recent one.\n"
        "Long options may be shortened to any unambiguous beginning.\n"
        "\n";
    constexpr std::size_t kColumn = 24;
    for (const OptionSpec& spec : kOptions) {
        std::string head = isShort(spec.id) ? std::string("  -") + char(spec.id) + ", --"
                                            : std::string("      --");
        head += spec.name;
        if (spec.value) head += std::string(" ") + spec.value;
        head += head.size() + 1 < kColumn ? std::string(kColumn - head.size(), ' ') : "\n" + std::string(kColumn, ' ');
        std::string help = spec.help;
        for (std::size_t at = help.find('\n'); at != std::string::npos; at = help.find('\n', at + 1)) {
            help.insert(at + 1, std::string(kColumn, ' '));
        }
        text += head + help + "\n";
    }
    text +=
        "      --              end of options: the words after it are the project path\n"
        "\n"
        "Message boxes are written to standard error; the question about another diskette\n"
        "is answered No, so the list of recent project folders is saved. Every build is\n"
        "recorded as one JSON line in $XDG_STATE_HOME/quenvol/builds.jsonl\n"
        "(default ~/.local/state/quenvol/builds.jsonl).\n"
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
        "\n"
        "Full documentation: man quenvol-cli, and the README (README.md in the source,\n"
        "/usr/share/doc/quenvol/README.md when installed).\n";
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
