// The last four project folders: kept in the dialog, shown in the combo box's list, and
// remembered from run to run in quenvol.ini in the Windows directory.
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/CrisisDlg.h"
#include "app/messages.h"
#include "base/result.h"
#include "framework/afxfile.h"
#include "platform/host_file.h"
#include "platform/host_system.h"
#include "platform/win_path.h"

namespace {

bool isSeparator(char c) {
    return c == '/' || c == '\\';
}

// A path that names a folder only against the current one: no root, no drive. A text with a
// quote character in it names no folder as it stands and is kept as it is.
bool isRelativePath(const std::string& path) {
    if (path.empty() || isSeparator(path[0]) || path.find('"') != std::string::npos) return false;
    const bool drive =
        path.size() >= 2 && path[1] == ':' && std::isalpha(static_cast<unsigned char>(path[0]));
    return !drive;
}

// How long the root of an absolute folder is: "/", "C:\", "\\server\share\".
std::size_t rootLength(const std::string& folder) {
    if (folder.size() >= 2 && isSeparator(folder[0]) && isSeparator(folder[1])) {
        std::size_t at = 2;
        for (int part = 0; part < 2 && at < folder.size(); ++part) {
            while (at < folder.size() && !isSeparator(folder[at])) ++at;
            if (part == 0 && at < folder.size()) ++at;
        }
        return at;
    }
    if (folder.size() >= 2 && folder[1] == ':') return folder.size() >= 3 ? 3 : 2;
    return folder.empty() ? 0 : 1;
}

// `path` read against `folder`, its "." and ".." parts taken away and its other parts kept as
// written (blanks at their ends included), joined by the folder's own separator.
std::string againstFolder(const std::string& folder, const std::string& path) {
    const char separator = folder.find('\\') != std::string::npos ? '\\' : '/';
    std::string result = folder;
    const std::size_t root = rootLength(folder);
    while (result.size() > root && isSeparator(result.back())) result.pop_back();
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = start;
        while (end < path.size() && !isSeparator(path[end])) ++end;
        const std::string part = path.substr(start, end - start);
        if (part == "..") {
            std::size_t cut = result.size();
            while (cut > root && !isSeparator(result[cut - 1])) --cut;
            result.resize(std::max(root, cut > root ? cut - 1 : cut));
        } else if (!part.empty() && part != ".") {
            if (result.size() > root || (root > 0 && !isSeparator(result.back())))
                result += separator;
            result += part;
        }
        start = end + 1;
    }
    return result;
}

// Loading keeps no line longer than this: four folder paths of Linux's longest (4,096 bytes)
// fit many times over. A longer line gives an empty slot, and the lines after it still count.
constexpr std::size_t kSettingsLineLimit = 64 * 1024;
// Nor does it read further into the file than this, so that a huge or hostile file without
// line ends costs a bounded time; the text ends there.
constexpr std::uint64_t kSettingsScanLimit = 16 * 1024 * 1024;

// The settings file's text, read a block at a time: its bytes up to the first NUL byte, the
// end of the file or the scan limit, whichever comes first.
class SettingsText {
  public:
    explicit SettingsText(CFile& file) : m_file(file), m_block(64 * 1024) {}

    // The next character, or -1 at the end of the text.
    int next() {
        if (m_at == m_size && !refill()) return -1;
        const char c = m_block[m_at++];
        if (c == '\0') {
            m_ended = true;
            m_at = m_size;
            return -1;
        }
        return static_cast<unsigned char>(c);
    }

    bool atEnd() {
        if (next() == -1) return true;
        --m_at;
        return false;
    }

  private:
    bool refill() {
        if (m_ended || m_scanned >= kSettingsScanLimit) return false;
        const auto wanted = static_cast<UINT>(
            std::min<std::uint64_t>(m_block.size(), kSettingsScanLimit - m_scanned));
        m_size = m_file.Read(m_block.data(), wanted);
        m_at = 0;
        m_scanned += m_size;
        if (m_size == 0) m_ended = true;
        return m_size > 0;
    }

    CFile& m_file;
    std::vector<char> m_block;
    std::size_t m_at = 0, m_size = 0;
    std::uint64_t m_scanned = 0;
    bool m_ended = false;
};

// The Windows directory, or why it is not known.
base::Result<std::string> windowsDirectory() {
    char buffer[MAX_PATH];
    const UINT length = GetWindowsDirectoryA(buffer, MAX_PATH);
    if (length == 0) return base::Status::failure(platform::lastErrorMessage());
    if (length >= static_cast<UINT>(MAX_PATH)) {
        return base::Status::failure("the settings folder's name is longer than " +
                                     std::to_string(MAX_PATH - 1) + " characters");
    }
    return std::string(buffer, length);
}

// "<Windows directory>\quenvol.ini", built as the original does in a MAX_PATH buffer; a
// name cut short by the buffer would be another file, so it counts as no name at all.
base::Result<std::string> settingsPath() {
    auto folder = windowsDirectory();
    if (!folder) return folder.error();
    char path[MAX_PATH];
    const int length = std::snprintf(path, sizeof path, "%s\\quenvol.ini", folder->c_str());
    if (length < 0 || length >= MAX_PATH) {
        return base::Status::failure("the settings file's name \"" + *folder +
                                     "\\quenvol.ini\" is longer than " +
                                     std::to_string(MAX_PATH - 1) + " characters");
    }
    return std::string(path, static_cast<std::size_t>(length));
}

// Makes the Windows directory and any missing folder above it, private to the user as
// configuration folders are.
base::Status createFolder(const std::string& windowsName) {
    auto mapped = platform::mapWindowsName(windowsName);
    if (!mapped) return mapped.error();
    std::string folder;
    if (auto made = platform::makeFolders(mapped->hostPath, folder); !made) {
        return base::Status::failure(
            made.error().kind(),
            "the folder \"" + folder + "\" cannot be created: " + made.message());
    }
    return base::Status::success();
}

// The four lines, oldest first, each ended by CR LF.
std::vector<std::uint8_t> settingsBytes(const CString (&history)[4]) {
    std::vector<std::uint8_t> bytes;
    for (const CString& slot : history) {
        bytes.insert(bytes.end(), slot.str().begin(), slot.str().end());
        bytes.push_back('\r');
        bytes.push_back('\n');
    }
    return bytes;
}

// Whether the file holds exactly `bytes`; read only when its length is theirs, so that a
// file of gigabytes is never read whole.
bool holdsAlready(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    auto file = platform::HostFile::openRead(path);
    if (!file) return false;
    auto length = file->length();
    if (!length || *length != bytes.size()) return false;
    std::vector<std::uint8_t> current(bytes.size());
    auto got = file->read(current.data(), current.size());
    return got && *got == bytes.size() && current == bytes;
}

// Writes the file whole or not at all: a crash, a full disk or a second copy of the program
// saving at the same moment leaves either the old content or the new.
base::Status saveSettings(const CString (&history)[4]) {
    auto folder = windowsDirectory();
    if (!folder) return folder.error();
    auto path = settingsPath();
    if (!path) return path.error();
    if (auto made = createFolder(*folder); !made) return made;
    const std::vector<std::uint8_t> bytes = settingsBytes(history);
    // A file that holds these bytes already is left as it is: replacing it would change
    // nothing but cost two waits for the disk.
    if (holdsAlready(*path, bytes)) return base::Status::success();
    return platform::replaceFileAtomically(*path, bytes);
}

}  // namespace

CString CCrisisDlg::ExtractToken(char chSep, CString& strText, int nSkip) {
    const int len = strText.GetLength();
    const int pos = strText.Find(chSep);
    CString piece = strText.Left(pos);
    strText = strText.Right(len - pos - nSkip);
    return piece;
}

void CCrisisDlg::LoadHistory() {
    auto path = settingsPath();
    if (!path) return;
    CFile file;
    if (!file.Open(path->c_str(), CFile::modeRead)) return;
    SettingsText text(file);
    // As ExtractToken splits the whole text: each slot takes the text up to the next CR, and
    // the CR and the one character after it are passed over. An empty text leaves the slots
    // as they are.
    for (CString& slot : m_strHistory) {
        if (text.atEnd()) break;
        std::string line;
        bool tooLong = false;
        int c;
        while ((c = text.next()) != -1 && c != '\r') {
            if (line.size() < kSettingsLineLimit)
                line.push_back(static_cast<char>(c));
            else
                tooLong = true;
        }
        if (c == -1) {
            // No CR was left: this slot and every later one are empty (as they already are).
            slot = CString();
            break;
        }
        text.next();
        slot = tooLong ? CString() : CString(std::move(line));
    }
}

void CCrisisDlg::FillPathCombo() {
    m_comboPath.SendMessage(CB_RESETCONTENT);
    for (int i = 3; i >= 0; --i) {
        m_comboPath.SendMessage(CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(m_strHistory[i].c_str()));
    }
}

void CCrisisDlg::InitPathCombo() {
    m_strProjectPath = m_strCmdLine;
    FillPathCombo();
}

void CCrisisDlg::AddPathToHistory() {
    if (m_strProjectPath.IsEmpty()) m_strProjectPath = m_strHistory[3];
    if (m_strProjectPath == m_strHistory[3]) return;
    // The next run may start elsewhere: a relative path is kept as the folder it names now,
    // against the start directory.
    const std::string path = m_strProjectPath.str();
    const CString entry(isRelativePath(path) ? againstFolder(m_szStartDir, path) : path);
    if (entry == m_strHistory[3]) return;
    // The settings file holds one path a line: a path with a line break in it would come back
    // as two entries, the next run's project among them. Such a path is built but not kept.
    if (entry.str().find_first_of("\r\n") != std::string::npos) return;
    m_strHistory[0] = m_strHistory[1];
    m_strHistory[1] = m_strHistory[2];
    m_strHistory[2] = m_strHistory[3];
    m_strHistory[3] = entry;
    FillPathCombo();
    UpdateData(FALSE);
}

void CCrisisDlg::OnButtonClose() {
    // The list is all the program keeps between runs, and losing it costs the user a few
    // clicks, so a failure is told but never keeps the program from ending: a Close that
    // did not close would leave only Escape, which saves nothing either.
    if (auto saved = saveSettings(m_strHistory); !saved) {
        AfxMessageBox(texts::historyNotSaved(saved.message()).c_str(), MB_OK | MB_ICONEXCLAMATION);
    }
    DestroyWindow();
}
