// The help service: topics from the help file beside the program, one per context id.
//
// The file is plain text. A line "[0x806603EF]" starts the topic of that context id; the
// lines up to the next such line are its text. Lines starting with ';' are comments.
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "framework/afxwin.h"

namespace {

std::string trimmed(const std::string& text) {
    const auto first = text.find_first_not_of("\r\n ");
    if (first == std::string::npos) return {};
    const auto last = text.find_last_not_of("\r\n ");
    return text.substr(first, last - first + 1);
}

bool readTopics(const char* path, std::map<DWORD, std::string>& topics) {
    std::ifstream in(path ? path : "");
    if (!in) return false;
    std::string line, text;
    DWORD current = 0;
    bool inTopic = false;
    auto finish = [&] {
        if (inTopic) topics[current] = trimmed(text);
        text.clear();
    };
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty() && line[0] == ';') continue;
        if (line.size() > 2 && line.front() == '[' && line.back() == ']') {
            finish();
            current = static_cast<DWORD>(std::stoul(line.substr(1, line.size() - 2), nullptr, 0));
            inTopic = true;
            continue;
        }
        text += line + "\n";
    }
    finish();
    return true;
}

}  // namespace

BOOL WinHelpA(HWND hwnd, const char* helpFile, UINT command, ULONG_PTR data) {
    std::map<DWORD, std::string> topics;
    if (!readTopics(helpFile, topics)) {
        AfxBackend().showHelp(hwnd, std::string("Cannot open the help file ") +
                                        (helpFile ? helpFile : "") + ".",
                              command);
        return FALSE;
    }
    if (command != HELP_WM_HELP && command != HELP_CONTEXTMENU) {
        // Contents: the first topic of the file stands for the whole.
        AfxBackend().showHelp(hwnd, topics.empty() ? std::string() : topics.begin()->second,
                              command);
        return TRUE;
    }
    // The table pairs control ids with context ids and ends with a (0, 0) pair.
    const auto* table = reinterpret_cast<const DWORD*>(data);
    const DWORD controlId = hwnd ? static_cast<DWORD>(hwnd->id) : 0;
    DWORD contextId = 0;
    for (const DWORD* p = table; p && (p[0] != 0 || p[1] != 0); p += 2)
        if (p[0] == controlId) {
            contextId = p[1];
            break;
        }
    const auto found = topics.find(contextId);
    const std::string topic = found != topics.end()
                                  ? found->second
                                  : std::string("No Help topic is associated with this item.");
    AfxBackend().showHelp(hwnd, topic, command);
    return TRUE;
}
