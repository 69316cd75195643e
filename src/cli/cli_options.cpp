#include "cli/cli_options.h"

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

ParsedArguments parseArguments(const std::vector<std::string>& args) {
    ParsedArguments parsed;
    Options& o = parsed.options;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            o.projectWords.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        std::string name = arg;
        std::optional<std::string> inlineValue;
        if (const auto eq = arg.find('='); arg.starts_with("--") && eq != std::string::npos) {
            name = arg.substr(0, eq);
            inlineValue = arg.substr(eq + 1);
        }
        const bool takesValue = name == "--kind" || name == "--drive" || name == "--label";
        if (!takesValue && inlineValue) {
            parsed.error = "the option " + name + " takes no value";
            return parsed;
        }
        std::string value;
        if (takesValue) {
            if (inlineValue) {
                value = *inlineValue;
            } else if (i + 1 < args.size()) {
                value = args[++i];
            } else {
                parsed.error = "the option " + name + " needs a value";
                return parsed;
            }
        }

        if (name == "--kind") {
            if (!parseKind(value, o.kind)) {
                parsed.error =
                    "unknown disk kind \"" + value + "\" (use minidos, fulldos or format)";
                return parsed;
            }
        } else if (name == "--drive") {
            if (value.empty()) {
                parsed.error = "the option --drive needs a path";
                return parsed;
            }
            o.drive = value;
        } else if (name == "--label") {
            if (auto error = checkLabel(value); !error.empty()) {
                parsed.error = error;
                return parsed;
            }
            o.label = value;
        } else if (name == "--create") {
            o.create = true;
        } else if (name == "--yes") {
            o.yes = true;
        } else if (name == "--no-format") {
            o.noFormat = true;
        } else if (name == "--full") {
            o.full = true;
        } else if (name == "--verify") {
            o.verify = true;
        } else if (name == "--list-drives") {
            o.listDrives = true;
        } else if (name == "--help") {
            o.help = true;
        } else if (name == "--version") {
            o.version = true;
        } else {
            parsed.error = "unknown option \"" + arg + "\"";
            return parsed;
        }
    }

    if (o.help || o.version) return parsed;
    // Combinations that would silently do nothing of what was asked.
    if (o.noFormat && o.full) {
        parsed.error = "--full chooses how to format, but --no-format leaves the diskette as it is";
    } else if (o.noFormat && !o.label.empty()) {
        parsed.error =
            "--label names the formatted volume, but --no-format leaves the diskette as it is";
    } else if (o.noFormat && o.kind == DiskKind::FormatOnly) {
        parsed.error = "--no-format with --kind format leaves nothing to do";
    } else if (o.listDrives && (o.create || !o.projectWords.empty())) {
        parsed.error = "--list-drives only lists the floppy drives; it builds nothing";
    } else if (o.verify && o.kind == DiskKind::FormatOnly) {
        parsed.error = "--verify checks a built diskette; --kind format builds none";
    }
    return parsed;
}

std::string usageText() {
    return "Usage: quenvol-cli [OPTION]... [PROJECT_PATH...]\n"
           "Builds a crisis-recovery diskette in drive A: from a project folder, as the dialog\n"
           "does, with the current directory as the start directory. The PROJECT_PATH words,\n"
           "joined by single blanks, are the project path; none means the most recent one.\n"
           "\n"
           "  --kind KIND     minidos (default), fulldos, or format (only format the diskette)\n"
           "  --drive PATH    drive A:: a 1.44 MB image file or a floppy block device\n"
           "                  (default: $QUENVOL_DRIVE_A, else the floppy drive found, the\n"
           "                  first with a diskette in when there are several, else /dev/fd0)\n"
           "  --list-drives   list the floppy drives, one a line: device, size in bytes,\n"
           "                  vendor and model, access, and A: on drive A:'s line\n"
           "  --create        first create a blank 1.44 MB image at the --drive path when\n"
           "                  nothing exists there (an existing file is never replaced)\n"
           "  --yes           answer Yes to the project folder confirmation; without it the\n"
           "                  question is asked on the terminal, or answered No when standard\n"
           "                  input is not a terminal\n"
           "  --no-format     leave the diskette as it is instead of formatting it\n"
           "  --full          full format (every sector written and read back); default quick\n"
           "  --label TEXT    volume label of the formatted diskette: at most 11 ASCII\n"
           "                  letters, digits, blanks and !#$%&'()-@^_`{}~\n"
           "  --verify        after a successful build, read every copied file and the boot\n"
           "                  sector back from the diskette and compare them with their sources\n"
           "  --help          show this text and exit\n"
           "  --version       show the version and exit\n"
           "  --              end of options: the words after it are the project path\n"
           "\n"
           "Message boxes are written to standard error; the question about another diskette\n"
           "is answered No, so the list of recent project folders is saved.\n"
           "\n"
           "Exit status: 0 the diskette was built (or formatted, with --kind format),\n"
           "1 the run stopped with a message or the verification found a difference,\n"
           "2 bad usage: a bad option, or a drive that cannot be a diskette,\n"
           "5 drive A: or the start directory is in use by another build (or drive A: is\n"
           "mounted or held by another program); nothing was done, try again later.\n";
}

}  // namespace cli
