// The names on a volume: a file's 8.3 short name, written and shown, and the volume label
// rule, each for the formatter, the mounted volume and the callers that check a name first.
#include <cstring>

#include "fat/fat12.h"
#include "fat/fat12_common.h"
#include "fat/layout.h"

namespace fat {

using base::Failure;
using base::Result;
using base::Status;

namespace {

constexpr char kNoLabel[] = "NO NAME    ";

// Characters DOS allows in a short name besides letters and digits; bytes from 0x80 up
// belong to the code page and are allowed as well.
bool isShortNameChar(unsigned char c) {
    if (c >= 0x80) return true;
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) return true;
    return std::strchr("!#$%&'()-@^_`{}~", c) != nullptr && c != '\0';
}

char toUpperAscii(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

}  // namespace

Result<std::string> toShortName(std::string_view name) {
    const std::string quoted = "\"" + std::string(name) + "\"";
    auto bad = [](const std::string& why) { return Status::failure(Failure::BadData, why); };
    if (name.empty()) return bad("a file name is empty");
    const std::size_t dot = name.find('.');
    const std::string_view base = name.substr(0, dot);
    const std::string_view ext =
        dot == std::string_view::npos ? std::string_view{} : name.substr(dot + 1);
    if (base.empty()) return bad("file name " + quoted + " has no name before the dot");
    if (ext.find('.') != std::string_view::npos) {
        return bad("file name " + quoted + " has more than one dot");
    }
    if (base.size() > 8 || ext.size() > 3) {
        return bad("file name " + quoted + " is longer than 8.3 characters");
    }
    std::string shortName(11, ' ');
    for (std::size_t i = 0; i < base.size(); ++i) {
        if (!isShortNameChar(static_cast<unsigned char>(base[i]))) {
            return bad("file name " + quoted + " holds a character not allowed");
        }
        shortName[i] = toUpperAscii(base[i]);
    }
    for (std::size_t i = 0; i < ext.size(); ++i) {
        if (!isShortNameChar(static_cast<unsigned char>(ext[i]))) {
            return bad("file name " + quoted + " holds a character not allowed");
        }
        shortName[8 + i] = toUpperAscii(ext[i]);
    }
    return shortName;
}

std::string displayName(const std::uint8_t* entry) {
    std::string base(reinterpret_cast<const char*>(entry), 8);
    std::string ext(reinterpret_cast<const char*>(entry + 8), 3);
    if (static_cast<std::uint8_t>(base[0]) == dirent::kEscapedE5) base[0] = static_cast<char>(0xE5);
    base.erase(base.find_last_not_of(' ') + 1);
    ext.erase(ext.find_last_not_of(' ') + 1);
    return ext.empty() ? base : base + "." + ext;
}

LabelCheck checkVolumeLabel(std::string_view label) {
    LabelCheck check;
    check.bytes = label.size();
    if (label.size() > kLabelBytes) {
        check.fault = LabelFault::TooLong;
        return check;
    }
    if (!label.empty() && label.front() == ' ') {
        check.fault = LabelFault::LeadingBlank;
        return check;
    }
    for (const char c : label) {
        const auto byte = static_cast<unsigned char>(c);
        // Bytes from 0x80 up belong to a code page the label cannot name (see fat12.h).
        if (byte != ' ' && (byte >= 0x80 || !isShortNameChar(byte))) {
            check.fault = LabelFault::BadCharacter;
            check.character = byte;
            return check;
        }
    }
    return check;
}

std::string labelField(std::string_view label) {
    if (label.empty()) return kNoLabel;
    std::string field;
    for (const char c : label.substr(0, kLabelBytes)) field += toUpperAscii(c);
    field.resize(kLabelBytes, ' ');
    return field;
}

// A new label that fails the rule, in words.
base::Error labelRefusal(std::string_view label, const LabelCheck& check) {
    const std::string quoted = "volume label \"" + std::string(label) + "\"";
    switch (check.fault) {
        case LabelFault::TooLong:
            return Status::failure(Failure::BadData, quoted + " is longer than 11 bytes");
        case LabelFault::LeadingBlank:
            return Status::failure(Failure::BadData, quoted + " begins with a blank");
        case LabelFault::BadCharacter:
        case LabelFault::None:  // only refused labels come here
            break;
    }
    return Status::failure(Failure::BadData, quoted + " holds a character not allowed in a label");
}

}  // namespace fat
