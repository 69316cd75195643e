// The help file beside the program: plain text in topics, one per context id.
//
// A line "[0x806603EF]" (a context id in hexadecimal with 0x, or in decimal, in brackets)
// starts the topic of that id; the lines up to the next such line are its text, the first of
// them its title. Lines starting with ';' are comments. Every other line, a bracketed one that
// holds no valid id included, is topic text: the file is outside the program and may say
// anything.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct HelpTopic {
    std::uint32_t contextId;
    std::string text;  // without the blank lines and blanks around it

    std::string title() const;  // the first line
    std::string body() const;   // what follows the first line, without the blanks around it
};

// The topics of a help file's text, in file order.
std::vector<HelpTopic> AfxParseHelpTopics(std::string_view fileText);
// The topics of the help file at `path`; nullopt when it is no readable file. Only the first
// mebibyte is read.
std::optional<std::vector<HelpTopic>> AfxReadHelpTopics(const char* path);
// The first topic with that context id, or nullptr.
const HelpTopic* AfxFindHelpTopic(const std::vector<HelpTopic>& topics, std::uint32_t contextId);
