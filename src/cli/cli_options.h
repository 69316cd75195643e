// The command line of quenvol-cli: options turned into one Options record, or a sentence
// saying what is wrong with them.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace cli {

// The radio group's order: the value is the dialog's disk kind.
enum class DiskKind { Minidos = 0, Fulldos = 1, FormatOnly = 2 };

struct Options {
    DiskKind kind = DiskKind::Minidos;
    std::optional<std::string> drive;  // none: drive A: as the dialog finds it
    bool create = false;
    bool yes = false;
    bool noFormat = false;
    bool full = false;
    std::string label;
    bool verify = false;
    bool listDrives = false;
    bool help = false;
    bool version = false;
    // Joined by single blanks they are the dialog's command-line text.
    std::vector<std::string> projectWords;
};

struct ParsedArguments {
    Options options;
    std::string error;  // empty when the arguments are usable
    bool ok() const { return error.empty(); }
};

// `args` are the arguments after the program's name. Options may come anywhere; "--" ends
// them, so that a project path may begin with a dash. A value is given as the next word or
// after "=". The last of a repeated option counts.
ParsedArguments parseArguments(const std::vector<std::string>& args);

// The text of --help.
std::string usageText();

const char* kindName(DiskKind kind);

}  // namespace cli
