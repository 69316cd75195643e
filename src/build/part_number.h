// The part-number file's one rule: the part number is the three characters after the first
// "PARTNUM = " in its text (the bytes up to the first NUL), wherever the key stands. The scan
// also remembers every further occurrence, so that a file naming two part numbers, or a longer
// part number than three characters, is told apart from one that names one.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace build {

class PartNumberScan {
  public:
    // Takes the next bytes of the file; false once the text has ended (a NUL was met), after
    // which more bytes change nothing.
    bool feed(std::string_view bytes);
    // The file has no more bytes.
    void end();

    bool found() const { return !m_hits.empty(); }
    // What follows the first key: at most three characters.
    const std::string& number() const { return m_hits.front().number; }
    // Why the text does not name one part number, quoting its lines; empty when it does.
    std::string problem() const;

  private:
    struct Hit {
        std::string number;
        std::string line;  // the line the key stands on, up to a bounded length
        std::size_t lineNumber = 0;
        bool longer = false;  // a letter or a digit follows the three characters at once
        bool complete = false;
    };
    void take(char c);

    bool m_ended = false;
    std::size_t m_lineNumber = 1;
    std::string m_line;            // the current line so far, bounded
    std::size_t m_keyMatched = 0;  // how many characters of the key the last ones match
    std::vector<Hit> m_hits;
};

// A text as people can read it in a message: a CR, LF, tab or other control character, and
// DEL, written as an escape ("\r", "\x7f"), so that nothing in it is invisible.
std::string Printable(std::string_view text);

}  // namespace build
