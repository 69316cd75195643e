// The staging journal on Windows. Entries are reached by the folder's path while the build
// holds the folder open without sharing its deletion, so that the folder cannot be renamed or
// removed under the build; a reparse point (a link or a junction) is opened as itself
// (FILE_FLAG_OPEN_REPARSE_POINT) and never taken for a file. Renames never replace
// (MoveFileEx without MOVEFILE_REPLACE_EXISTING) and are written through to the disk
// (MOVEFILE_WRITE_THROUGH) where the POSIX side syncs the folder; the journal is flushed
// (FlushFileBuffers) before it is put in place.
#include "platform/staging_area.h"

#include <windows.h>

#include <algorithm>
#include <sstream>
#include <utility>

#include "platform/host_file.h"
#include "platform/interrupts.h"
#include "platform/staging_journal.h"
#include "platform/text_case.h"
#include "platform/win32/file_io.h"
#include "platform/win32/folder_entries.h"
#include "platform/win32/handle.h"
#include "platform/win32/system_error.h"

namespace platform {
namespace {

using base::Result;
using base::Status;
using win32::failedBecause;
using win32::handleOf;
using win32::messageOf;

using staging::asideFor;
using staging::Digest;
using staging::kChunk;
using staging::keptFor;
using staging::kJournalHeader;
using staging::kJournalNext;
using staging::temporaryFor;

// The digest of what `file` holds from its start; nullopt when it cannot be read.
std::optional<Digest> digestOf(HANDLE file) {
    Digest digest;
    std::vector<char> chunk(kChunk);
    for (std::uint64_t at = 0;;) {
        OVERLAPPED from{};
        from.Offset = static_cast<DWORD>(at);
        from.OffsetHigh = static_cast<DWORD>(at >> 32);
        DWORD n = 0;
        if (!ReadFile(file, chunk.data(), static_cast<DWORD>(chunk.size()), &n, &from)) {
            if (GetLastError() == ERROR_HANDLE_EOF) return digest;
            return std::nullopt;
        }
        if (n == 0) return digest;
        digest.add(chunk.data(), n);
        at += n;
    }
}

// The last error's words, for a leftover's reason.
std::string lastReason() {
    return messageOf(GetLastError());
}

bool isAbsent(DWORD error) {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// The folder's entries by name, as the build reaches them.
class Folder {
  public:
    explicit Folder(const std::string& path) : m_path(path) {}
    std::string at(const std::string& name) const { return win32::joined(m_path, name); }
    std::optional<unsigned long> attributes(const std::string& name) const {
        return win32::attributesOf(at(name));
    }
    bool exists(const std::string& name) const { return attributes(name).has_value(); }
    bool isPlain(const std::string& name) const {
        const auto found = attributes(name);
        return found && win32::isPlainFile(*found);
    }
    // A regular file under `name`, for reading, never through a reparse point.
    HANDLE openRegular(const std::string& name) const {
        std::string why;
        return win32::openRegular(at(name), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, why);
    }
    bool remove(const std::string& name) const { return DeleteFileA(at(name).c_str()) != FALSE; }
    // Renames within the folder, never over an existing entry, through to the disk.
    bool renameNoReplace(const std::string& from, const std::string& to) const {
        return MoveFileExA(at(from).c_str(), at(to).c_str(), MOVEFILE_WRITE_THROUGH) != FALSE;
    }
    std::string spelling(const std::string& name) const {
        const std::string found = win32::spellingIn(m_path, name);
        return found.empty() ? name : found;
    }

  private:
    const std::string& m_path;
};

// What the system holds of the folder goes to the disk, where its file system offers it (the
// renames are written through already).
void syncFolder(NativeHandle folder) {
    FlushFileBuffers(handleOf(folder));
}

}  // namespace

Result<StagingArea> StagingArea::open(const std::string& hostFolder) {
    // Written as well as read, for the folder's flush; shared but for deletion, so that the
    // folder keeps its name while the build works in it.
    constexpr DWORD kShare = FILE_SHARE_READ | FILE_SHARE_WRITE;
    HANDLE folder = CreateFileA(hostFolder.c_str(), GENERIC_READ | GENERIC_WRITE, kShare, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (folder == INVALID_HANDLE_VALUE) {
        folder = CreateFileA(hostFolder.c_str(), GENERIC_READ, kShare, nullptr, OPEN_EXISTING,
                             FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    }
    if (folder == INVALID_HANDLE_VALUE)
        return failedBecause("the start directory \"" + hostFolder + "\" cannot be opened");
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(folder, &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        CloseHandle(folder);
        return Status::failure("the start directory \"" + hostFolder +
                               "\" cannot be opened: it is not a folder");
    }
    return StagingArea(win32::nativeOf(folder), hostFolder);
}

StagingArea::StagingArea(StagingArea&& other) noexcept
    : m_folder(other.m_folder),
      m_path(std::move(other.m_path)),
      m_entries(std::move(other.m_entries)),
      m_left(std::move(other.m_left)),
      m_journalWritten(other.m_journalWritten) {
    other.m_folder = {};
    other.m_entries.clear();
    other.m_journalWritten = false;
}

StagingArea::~StagingArea() {
    if (!m_folder.valid()) return;
    if (!m_entries.empty() || m_journalWritten) (void)finish();
    CloseHandle(handleOf(m_folder));
}

std::optional<StagingArea::Identity> StagingArea::identityOf(const std::string& name) const {
    HANDLE file = Folder(m_path).openRegular(name);
    if (file == INVALID_HANDLE_VALUE) return std::nullopt;
    const auto digest = digestOf(file);
    CloseHandle(file);
    if (!digest) return std::nullopt;
    return Identity{digest->size, digest->value, true};
}

// The journal is made whole under a draft name, flushed, and put in place by a rename written
// through: after that, what it records may happen.
Status StagingArea::writeJournal(const std::vector<Entry>& entries) const {
    const Folder folder(m_path);
    std::ostringstream text;
    text << kJournalHeader << "\n";
    for (const Entry& e : entries) {
        text << "entry " << e.name << ' ' << e.temporary << ' ' << (e.aside.empty() ? "-" : e.aside)
             << ' ' << (e.kept.empty() ? "-" : e.kept) << ' ' << e.userFile.known << ' '
             << e.userFile.size << ' ' << e.userFile.digest << ' ' << e.copy.size << ' '
             << e.copy.digest << "\n";
    }
    const std::string content = text.str();
    folder.remove(kJournalNext);
    HANDLE file = CreateFileA(
        folder.at(kJournalNext).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) return failedBecause("the staging journal cannot be written");
    const Status written =
        win32::writeAll(file, folder.at(kJournalNext), content.data(), content.size());
    if (!written) {
        CloseHandle(file);
        folder.remove(kJournalNext);
        return written;
    }
    if (!FlushFileBuffers(file)) {
        const Status status = failedBecause("the staging journal cannot be synced");
        CloseHandle(file);
        folder.remove(kJournalNext);
        return status;
    }
    if (!CloseHandle(file)) {
        const Status status = failedBecause("the staging journal cannot be synced");
        folder.remove(kJournalNext);
        return status;
    }
    if (!MoveFileExA(folder.at(kJournalNext).c_str(), folder.at(kStagingJournal).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        const Status status = failedBecause("the staging journal cannot be put in place");
        folder.remove(kJournalNext);
        return status;
    }
    syncFolder(m_folder);
    return Status::success();
}

Result<std::vector<StagingArea::Entry>> StagingArea::readJournal(
    const std::vector<std::string>& stageable) const {
    std::vector<Entry> entries;
    const auto garbled = [](const std::string& why) {
        return Status::failure(base::Failure::BadData, why);
    };
    const Folder folder(m_path);
    HANDLE file = CreateFileA(folder.at(kStagingJournal).c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        if (isAbsent(GetLastError())) return entries;
        return failedBecause("it cannot be opened");
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (GetFileType(file) != FILE_TYPE_DISK || !GetFileInformationByHandle(file, &info) ||
        !win32::isPlainFile(info.dwFileAttributes)) {
        CloseHandle(file);
        return garbled("it is not a regular file");
    }
    std::string content;
    char chunk[4096];
    bool unread = false;
    for (;;) {
        DWORD n = 0;
        if (!ReadFile(file, chunk, sizeof chunk, &n, nullptr)) {
            unread = true;
            break;
        }
        if (n == 0) break;
        content.append(chunk, n);
        if (content.size() > 64 * 1024) {
            CloseHandle(file);
            return garbled("it is far larger than any build writes");
        }
    }
    CloseHandle(file);
    if (unread) return garbled("it cannot be read");
    if (content.empty()) return garbled("it is empty");
    std::istringstream lines(content);
    std::string line;
    if (!std::getline(lines, line) || line != kJournalHeader) {
        return garbled("it is not a staging journal of this program");
    }
    // Every name is one the build stages, as spelt in this folder: never a path, never a
    // file of the kit's.
    auto stagedName = [&](const std::string& name) {
        for (const std::string& allowed : stageable)
            if (sameIgnoringCase(allowed, name) && name.find_first_of("/\\") == std::string::npos)
                return true;
        return false;
    };
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string tag;
        Entry e;
        fields >> tag >> e.name >> e.temporary >> e.aside >> e.kept >> e.userFile.known >>
            e.userFile.size >> e.userFile.digest >> e.copy.size >> e.copy.digest;
        if (!fields || tag != "entry" || !stagedName(e.name) ||
            e.temporary != temporaryFor(e.name) ||
            (e.aside != "-" && e.aside != asideFor(e.name)) ||
            (e.kept != "-" && e.kept != keptFor(e.name))) {
            return garbled("it is damaged or names files the build does not stage");
        }
        e.copy.known = true;
        if (e.aside == "-") e.aside.clear();
        if (e.kept == "-") e.kept.clear();
        entries.push_back(e);
    }
    if (!content.ends_with('\n')) return garbled("it is cut short");
    return entries;
}

bool StagingArea::undo(const std::vector<Entry>& entries,
                       std::vector<StagingLeftover>& left) const {
    using What = StagingLeftover::What;
    const Folder folder(m_path);
    std::vector<Entry> unsettled;
    std::vector<std::size_t> toKeep;  // indices into `unsettled` whose user's file moves
    for (auto e = entries.rbegin(); e != entries.rend(); ++e) {
        const std::size_t before = left.size();
        // The copy while it was made: the journal names it, and only the build makes it.
        if (folder.exists(e->temporary)) {
            if (!folder.isPlain(e->temporary)) {
                left.push_back({What::Partial, e->temporary, {}, {}});
            } else if (!folder.remove(e->temporary)) {
                left.push_back({What::Partial, e->temporary, {}, lastReason()});
            }
        }
        // Where the user's own file is now, if the build moved it.
        std::string userAt;
        if (!e->aside.empty() && folder.exists(e->aside)) userAt = e->aside;
        if (userAt.empty() && !e->kept.empty() && folder.exists(e->kept)) userAt = e->kept;
        // The name: the build's copy goes; the user's own file, never moved, stays.
        bool nameFree = !folder.exists(e->name);
        if (!nameFree) {
            const auto now = folder.isPlain(e->name) ? identityOf(e->name) : std::nullopt;
            const bool isCopy = now && *now == e->copy;
            const bool isUsers = now && e->userFile.known && *now == e->userFile;
            if (isCopy && (!isUsers || !userAt.empty())) {
                if (folder.remove(e->name)) {
                    nameFree = true;
                } else {
                    left.push_back({What::Copy, e->name, userAt, lastReason()});
                }
            } else if (!isUsers) {
                left.push_back({What::Copy, e->name, userAt, {}});
            } else if (!userAt.empty()) {
                left.push_back({What::Copy, e->name, userAt, {}});
            }
        }
        Entry kept = *e;
        if (!userAt.empty()) {
            if (nameFree) {
                // Back under its name: only the build puts a file under that hidden name, and
                // only the user's.
                if (!folder.renameNoReplace(userAt, e->name))
                    left.push_back({What::UsersFile, userAt, e->name, lastReason()});
            } else if (userAt == e->aside) {
                // Not under a hidden name: beside the file in its way, under one the user sees.
                kept.kept = keptFor(e->name);
                toKeep.push_back(unsettled.size());
                left.push_back({What::UsersFile, kept.kept, e->name, {}});
            } else {
                left.push_back({What::UsersFile, userAt, e->name, {}});
            }
        }
        if (left.size() != before) unsettled.push_back(kept);
    }
    if (unsettled.empty()) {
        // The renames back were written through before the journal that would redo them goes.
        syncFolder(m_folder);
        if (!folder.remove(kStagingJournal) && !isAbsent(GetLastError())) {
            left.push_back({What::Journal, kStagingJournal, {}, lastReason()});
            return false;
        }
        return true;
    }
    // The journal, naming only what is left, is in place before a user's file is moved to
    // the name it gives; the next build looks under both names.
    std::reverse(unsettled.begin(), unsettled.end());
    for (std::size_t& i : toKeep) i = unsettled.size() - 1 - i;
    const bool recorded = static_cast<bool>(writeJournal(unsettled));
    for (const std::size_t i : toKeep) {
        const Entry& e = unsettled[i];
        if (!recorded || !folder.renameNoReplace(e.aside, e.kept)) {
            const std::string reason = recorded ? lastReason() : messageOf(ERROR_IO_DEVICE);
            for (StagingLeftover& l : left) {
                if (l.what == What::UsersFile && l.name == e.kept) {
                    l.name = e.aside;
                    l.reason = reason;
                }
            }
        } else {
            for (StagingLeftover& l : left)
                if (l.what == What::Copy && l.other == e.aside) l.other = e.kept;
        }
    }
    syncFolder(m_folder);
    return false;
}

void StagingArea::rescueHidden(std::vector<StagingLeftover>& left) const {
    using What = StagingLeftover::What;
    const Folder folder(m_path);
    const std::string prefix = std::string(kStagingJournal) + ".";
    for (const std::string& entry : win32::namesIn(m_path)) {
        if (!startsWithIgnoringCase(entry, prefix) || sameIgnoringCase(entry, kJournalNext))
            continue;
        const std::string rest = entry.substr(prefix.size());
        if (rest.size() > 5 && sameIgnoringCase(rest.substr(rest.size() - 5), ".user")) {
            const std::string name = rest.substr(0, rest.size() - 5);
            if (!folder.exists(name) && folder.renameNoReplace(entry, name)) {
                continue;  // back under its own name, which nothing held
            }
            const std::string visible = keptFor(name);
            if (folder.renameNoReplace(entry, visible)) {
                left.push_back({What::UsersFile, visible, name, {}});
            } else {
                left.push_back({What::UsersFile, entry, name, lastReason()});
            }
        } else {
            left.push_back({What::Partial, entry, {}, {}});
        }
    }
    syncFolder(m_folder);
}

Result<std::vector<StagingLeftover>> StagingArea::recover(
    const std::vector<std::string>& stageable) {
    std::vector<StagingLeftover> left;
    const Folder folder(m_path);
    // A journal that was being replaced when the build ended is no more than a draft.
    if (folder.isPlain(kJournalNext)) folder.remove(kJournalNext);
    if (!folder.exists(kStagingJournal)) return left;
    auto entries = readJournal(stageable);
    if (!entries) {
        // Not knowing what it recorded, nothing it names is touched, and it stays to say so;
        // only the user's files under the build's hidden names come back into sight.
        left.push_back({StagingLeftover::What::Journal, kStagingJournal, entries.message(), {}});
        rescueHidden(left);
        return left;
    }
    undo(*entries, left);
    return left;
}

std::vector<std::string> StagingArea::linksAmong(const std::vector<std::string>& names) const {
    std::vector<std::string> wanted = {kStagingJournal, kJournalNext};
    for (const std::string& name : names) {
        wanted.push_back(lowerAscii(name));
        wanted.push_back(temporaryFor(name));
        wanted.push_back(asideFor(name));
    }
    const Folder folder(m_path);
    std::vector<std::string> links;
    for (const std::string& name : win32::namesIn(m_path)) {
        bool ours = false;
        for (const std::string& w : wanted) ours = ours || lowerAscii(name) == w;
        const auto attributes = folder.attributes(name);
        if (ours && attributes && (*attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
            links.push_back(name);
        }
    }
    return links;
}

Status StagingArea::plan(const std::vector<std::pair<std::string, std::string>>& sourcesAndNames) {
    const Folder folder(m_path);
    std::vector<Entry> planned = m_entries;
    for (const auto& [source, name] : sourcesAndNames) {
        Entry e;
        e.source = source;
        e.name = folder.spelling(name);
        e.temporary = temporaryFor(e.name);
        for (const Entry& other : planned)
            if (sameIgnoringCase(other.name, e.name))
                return Status::failure("\"" + e.name + "\" is staged already");
        if (folder.exists(e.temporary)) {
            return Status::failure("\"" + e.temporary + "\" is in the way of staging \"" + e.name +
                                   "\"");
        }
        if (folder.exists(e.name)) {
            if (!folder.isPlain(e.name)) {
                return Status::failure("\"" + e.name +
                                       "\" in the start directory is not a plain file");
            }
            e.aside = asideFor(e.name);
            if (folder.exists(e.aside)) {
                return Status::failure("\"" + e.aside + "\" is in the way of keeping \"" + e.name +
                                       "\"");
            }
            auto users = identityOf(e.name);
            if (!users)
                return failedBecause("\"" + e.name + "\" in the start directory cannot be read");
            e.userFile = *users;
        }
        std::string why;
        DWORD error = 0;
        HANDLE from = win32::openRegular(source, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                         OPEN_EXISTING, 0, why, &error);
        if (from == INVALID_HANDLE_VALUE) {
            if (error == 0) return Status::failure("\"" + source + "\" is not a regular file");
            return win32::systemError(error, "\"" + source + "\" cannot be opened: " + why);
        }
        const auto digest = digestOf(from);
        CloseHandle(from);
        if (!digest) return failedBecause("\"" + source + "\" cannot be read");
        e.copy = {digest->size, digest->value, true};
        planned.push_back(e);
    }
    if (planned.size() == m_entries.size()) return Status::success();
    // Recorded before anything is moved or made.
    m_journalWritten = true;
    if (Status written = writeJournal(planned); !written) return written;
    m_entries = std::move(planned);
    return Status::success();
}

Status StagingArea::stage(const std::string& source, const std::string& name) {
    const Folder folder(m_path);
    Entry* planned = nullptr;
    for (Entry& e : m_entries)
        if (e.source == source && sameIgnoringCase(e.name, name) && !e.placed) planned = &e;
    if (planned == nullptr) return Status::failure("\"" + name + "\" was not planned for staging");
    Entry& entry = *planned;

    HANDLE from = CreateFileA(source.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (from == INVALID_HANDLE_VALUE) return failedBecause("\"" + source + "\" cannot be opened");
    Status status = Status::success();
    if (!entry.aside.empty() && !folder.renameNoReplace(entry.name, entry.aside)) {
        status = failedBecause("\"" + entry.name + "\" cannot be moved aside");
    }
    HANDLE to = INVALID_HANDLE_VALUE;
    if (status) {
        // Not flushed: nothing trusts a staged copy after a crash (the next build removes it,
        // and the read-back compares the diskette with the sources).
        to = CreateFileA(folder.at(entry.temporary).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (to == INVALID_HANDLE_VALUE)
            status = failedBecause("\"" + entry.temporary + "\" cannot be created");
    }
    std::vector<char> chunk(kChunk);
    Digest copied;
    while (status) {
        if (interrupted()) {
            status = Status::failure("the build was interrupted");
            break;
        }
        DWORD got = 0;
        if (!ReadFile(from, chunk.data(), static_cast<DWORD>(chunk.size()), &got, nullptr)) {
            status = failedBecause("\"" + source + "\" cannot be read");
            break;
        }
        if (got == 0) break;
        copied.add(chunk.data(), got);
        status = win32::writeAll(to, folder.at(entry.temporary), chunk.data(), got);
    }
    CloseHandle(from);
    // The journal knows the copy by the source's content when it was planned.
    if (status && (copied.size != entry.copy.size || copied.value != entry.copy.digest)) {
        status = Status::failure("\"" + source + "\" changed while it was being staged");
    }
    if (to != INVALID_HANDLE_VALUE && !CloseHandle(to) && status)
        status = failedBecause("\"" + entry.temporary + "\" cannot be closed");
    if (status && !folder.renameNoReplace(entry.temporary, entry.name)) {
        status = failedBecause("\"" + entry.name + "\" cannot be put in place");
    }
    if (status) entry.placed = true;
    return status;
}

std::vector<std::string> StagingArea::stagedNames() const {
    std::vector<std::string> names;
    for (const Entry& e : m_entries)
        if (e.placed) names.push_back(e.name);
    return names;
}

Status StagingArea::finish() {
    m_left.clear();
    const bool journal = m_journalWritten;
    m_journalWritten = false;
    if (journal) undo(m_entries, m_left);
    m_entries.clear();
    if (m_left.empty()) return Status::success();
    std::string names;
    for (const StagingLeftover& l : m_left)
        names += (names.empty() ? "\"" : ", \"") + l.name + "\"";
    return Status::failure("the start directory's " + names + " could not be put back as it was");
}

}  // namespace platform

namespace platform {

Status checkStagingRoom(const std::string& hostFolder, const std::vector<std::string>& names) {
    const std::string where = "the start directory \"" + hostFolder + "\"";
    const auto attributes = win32::attributesOf(hostFolder);
    if (!attributes || (*attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        return failedBecause(where + " cannot be opened");
    }
    const Folder folder(hostFolder);
    Status status = Status::success();
    // Whether a file can be made there, by making one that goes when its handle closes (and
    // so when the program ends).
    const std::string probe =
        std::string(kStagingJournal) + ".probe-" + std::to_string(GetCurrentProcessId());
    HANDLE made = CreateFileA(folder.at(probe).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (made == INVALID_HANDLE_VALUE) {
        status = failedBecause(where + " cannot be written");
    } else {
        CloseHandle(made);
    }
    for (const std::string& wanted : names) {
        if (!status) break;
        const std::string name = folder.spelling(wanted);
        if (folder.exists(name) && !folder.isPlain(name)) {
            status = Status::failure(base::Failure::BadData,
                                     "\"" + name + "\" in " + where + " is not a plain file");
        } else if (const std::string part = temporaryFor(name); folder.exists(part)) {
            status = Status::failure(
                base::Failure::BadData,
                "\"" + part + "\" in " + where + " is in the way of staging \"" + name + "\"");
        } else if (const std::string aside = asideFor(name);
                   folder.exists(aside) && folder.exists(name)) {
            status = Status::failure(base::Failure::BadData,
                                     "\"" + aside + "\" in " + where +
                                         " is in the way of keeping your \"" + name + "\"");
        }
    }
    return status;
}

}  // namespace platform
