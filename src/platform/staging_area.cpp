#include "platform/staging_area.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sstream>

#include "platform/host_file.h"
#include "platform/interrupts.h"

namespace platform {
namespace {

using base::Result;
using base::Status;

constexpr char kJournalHeader[] = "quenvol-staging 1";
constexpr char kJournalNext[] = ".quenvol-staging.new";

std::string lowered(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

std::string temporaryFor(const std::string& name) {
    return std::string(kStagingJournal) + "." + lowered(name) + ".part";
}

std::string asideFor(const std::string& name) {
    return std::string(kStagingJournal) + "." + lowered(name) + ".user";
}

base::Error failed(const std::string& what) {
    const int error = errno;
    return Status::failure(transferFailure(error), what + ": " + std::strerror(error));
}

// The names of the folder's entries; none when it cannot be listed.
std::vector<std::string> namesIn(int folder) {
    std::vector<std::string> names;
    const int listing = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (listing < 0) return names;
    DIR* entries = ::fdopendir(listing);
    if (entries == nullptr) {
        ::close(listing);
        return names;
    }
    while (const dirent* entry = ::readdir(entries)) names.emplace_back(entry->d_name);
    ::closedir(entries);
    return names;
}

// The name as spelt by an entry of the folder that equals it without regard to case, the
// exact one first; the name itself when there is none.
std::string spellingIn(int folder, const std::string& name) {
    struct stat info {};
    if (::fstatat(folder, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0) return name;
    std::string found;
    const std::string wanted = lowered(name);
    for (const std::string& candidate : namesIn(folder)) {
        if (lowered(candidate) == wanted && (found.empty() || candidate < found)) found = candidate;
    }
    return found.empty() ? name : found;
}

// Renames within the folder, never over an existing entry.
int renameNoReplace(int folder, const std::string& from, const std::string& to) {
    if (::renameat2(folder, from.c_str(), folder, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS) return -1;
    // A file system without the flag: a hard link refuses an existing name just as well.
    if (::linkat(folder, from.c_str(), folder, to.c_str(), 0) != 0) return -1;
    return ::unlinkat(folder, from.c_str(), 0);
}

}  // namespace

Result<StagingArea> StagingArea::open(const std::string& hostFolder) {
    const int folder = ::open(hostFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0) return failed("the start directory \"" + hostFolder + "\" cannot be opened");
    return StagingArea(folder, hostFolder);
}

StagingArea::StagingArea(StagingArea&& other) noexcept
    : m_folder(other.m_folder),
      m_path(std::move(other.m_path)),
      m_entries(std::move(other.m_entries)),
      m_journalWritten(other.m_journalWritten) {
    other.m_folder = -1;
    other.m_entries.clear();
    other.m_journalWritten = false;
}

StagingArea::~StagingArea() {
    if (m_folder < 0) return;
    if (!m_entries.empty() || m_journalWritten) (void)finish();
    ::close(m_folder);
}

Status StagingArea::writeJournal() const {
    std::ostringstream text;
    text << kJournalHeader << "\n";
    for (const Entry& e : m_entries) {
        text << "entry " << e.name << ' ' << e.temporary << ' ' << (e.aside.empty() ? "-" : e.aside)
             << ' ' << e.userFile.device << ' ' << e.userFile.inode << ' ' << e.userFile.size << ' '
             << e.userFile.mtime << ' ' << e.userFile.known << ' ' << e.copy.device << ' '
             << e.copy.inode << ' ' << e.copy.size << ' ' << e.copy.mtime << ' ' << e.copy.known
             << ' ' << e.whole << "\n";
    }
    const std::string content = text.str();
    ::unlinkat(m_folder, kJournalNext, 0);
    const int fd = ::openat(m_folder, kJournalNext,
                            O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) return failed("the staging journal cannot be written");
    const Status written =
        writeAll(fd, m_path + "/" + kJournalNext, content.data(), content.size());
    if (!written) {
        ::close(fd);
        ::unlinkat(m_folder, kJournalNext, 0);
        return written;
    }
    if (::fsync(fd) != 0 || ::close(fd) != 0) {
        const Status status = failed("the staging journal cannot be synced");
        ::unlinkat(m_folder, kJournalNext, 0);
        return status;
    }
    if (::renameat(m_folder, kJournalNext, m_folder, kStagingJournal) != 0) {
        const Status status = failed("the staging journal cannot be put in place");
        ::unlinkat(m_folder, kJournalNext, 0);
        return status;
    }
    if (::fsync(m_folder) != 0) return failed("the start directory cannot be synced");
    return Status::success();
}

Result<std::vector<StagingArea::Entry>> StagingArea::readJournal() const {
    std::vector<Entry> entries;
    const int fd = ::openat(m_folder, kStagingJournal, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) return entries;
        return failed(std::string("\"") + kStagingJournal + "\" cannot be read");
    }
    std::string content;
    char chunk[4096];
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        content.append(chunk, static_cast<std::size_t>(n));
        if (content.size() > 64 * 1024) break;  // far more than any build writes
    }
    ::close(fd);
    std::istringstream lines(content);
    std::string line;
    const base::Error garbled =
        Status::failure(base::Failure::BadData,
                        std::string("\"") + kStagingJournal + "\" is not a staging journal");
    if (!std::getline(lines, line) || line != kJournalHeader) return garbled;
    // Every name is one of ours or a spelling of one, in this folder: never a path.
    auto plainName = [](const std::string& name) {
        return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
    };
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string tag;
        Entry e;
        fields >> tag >> e.name >> e.temporary >> e.aside >> e.userFile.device >>
            e.userFile.inode >> e.userFile.size >> e.userFile.mtime >> e.userFile.known >>
            e.copy.device >> e.copy.inode >> e.copy.size >> e.copy.mtime >> e.copy.known >> e.whole;
        if (!fields || tag != "entry" || !plainName(e.name) ||
            e.temporary != temporaryFor(e.name) ||
            (e.aside != "-" && e.aside != asideFor(e.name))) {
            return garbled;
        }
        if (e.aside == "-") e.aside.clear();
        entries.push_back(e);
    }
    return entries;
}

bool StagingArea::matches(const std::string& name, const Identity& identity,
                          bool wholeIdentity) const {
    struct stat info {};
    if (!identity.known || ::fstatat(m_folder, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISREG(info.st_mode)) {
        return false;
    }
    if (info.st_dev != identity.device || info.st_ino != identity.inode) return false;
    if (!wholeIdentity) return true;
    const std::int64_t mtime =
        static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
    return static_cast<std::uint64_t>(info.st_size) == identity.size && mtime == identity.mtime;
}

void StagingArea::undo(const std::vector<Entry>& entries,
                       std::vector<std::string>* leftAlone) const {
    auto exists = [this](const std::string& name, struct stat* info) {
        return ::fstatat(m_folder, name.c_str(), info, AT_SYMLINK_NOFOLLOW) == 0;
    };
    auto leave = [leftAlone](const std::string& name) {
        for (const std::string& already : *leftAlone)
            if (already == name) return;
        leftAlone->push_back(name);
    };
    for (auto e = entries.rbegin(); e != entries.rend(); ++e) {
        struct stat info {};
        // The copy while it was made: ours by device and inode (its size was still growing),
        // or, made but not yet recorded, empty.
        if (exists(e->temporary, &info)) {
            const bool ours = e->copy.known ? matches(e->temporary, e->copy, false)
                                            : S_ISREG(info.st_mode) && info.st_size == 0;
            if (ours) {
                ::unlinkat(m_folder, e->temporary.c_str(), 0);
            } else {
                leave(e->temporary);
            }
        }
        // The copy in place: ours only while it is exactly as it was when it became whole.
        bool nameFree = !exists(e->name, &info);
        if (!nameFree && e->whole && matches(e->name, e->copy, true)) {
            nameFree = ::unlinkat(m_folder, e->name.c_str(), 0) == 0;
        }
        if (e->aside.empty()) {
            // Nothing of the user's was here; a file that is there now and is not the copy
            // was put there by someone else and stays, unremarked if it is the one found
            // at the start.
            if (!nameFree && !matches(e->name, e->userFile, true) && e->whole) leave(e->name);
            continue;
        }
        if (!exists(e->aside, &info)) continue;  // never moved, or already back
        if (!matches(e->aside, e->userFile, true)) {
            leave(e->aside);
            continue;
        }
        if (!nameFree || renameNoReplace(m_folder, e->aside, e->name) != 0) {
            leave(e->name);
            leave(e->aside);
        }
    }
    ::fsync(m_folder);
}

Result<std::vector<std::string>> StagingArea::recover() {
    std::vector<std::string> leftAlone;
    // A journal that was being replaced when the build ended is no more than a draft.
    struct stat info {};
    if (::fstatat(m_folder, kJournalNext, &info, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISREG(info.st_mode)) {
        ::unlinkat(m_folder, kJournalNext, 0);
    }
    if (::fstatat(m_folder, kStagingJournal, &info, AT_SYMLINK_NOFOLLOW) != 0) return leftAlone;
    auto entries = readJournal();
    if (!entries) {
        // Not knowing what it recorded, nothing is touched, and it stays to say so.
        leftAlone.push_back(kStagingJournal);
        return leftAlone;
    }
    undo(*entries, &leftAlone);
    // What is left is no longer what the journal describes: it has been reported, and the
    // journal goes last.
    if (::unlinkat(m_folder, kStagingJournal, 0) != 0 && errno != ENOENT) {
        return failed(std::string("\"") + kStagingJournal + "\" cannot be removed");
    }
    ::fsync(m_folder);
    return leftAlone;
}

std::vector<std::string> StagingArea::linksAmong(const std::vector<std::string>& names) const {
    std::vector<std::string> wanted = {kStagingJournal, kJournalNext};
    for (const std::string& name : names) {
        wanted.push_back(lowered(name));
        wanted.push_back(temporaryFor(name));
        wanted.push_back(asideFor(name));
    }
    std::vector<std::string> links;
    for (const std::string& name : namesIn(m_folder)) {
        bool ours = false;
        for (const std::string& w : wanted) ours = ours || lowered(name) == w;
        struct stat info {};
        if (ours && ::fstatat(m_folder, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISLNK(info.st_mode)) {
            links.push_back(name);
        }
    }
    return links;
}

Status StagingArea::stage(const std::string& source, const std::string& name) {
    Entry e;
    e.name = spellingIn(m_folder, name);
    e.temporary = temporaryFor(e.name);
    for (const Entry& other : m_entries)
        if (other.name == e.name) return Status::failure("\"" + e.name + "\" is staged already");

    struct stat info {};
    if (::fstatat(m_folder, e.temporary.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0) {
        return Status::failure("\"" + e.temporary + "\" is in the way of staging \"" + e.name +
                               "\"");
    }
    if (::fstatat(m_folder, e.name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0) {
        if (!S_ISREG(info.st_mode)) {
            return Status::failure("\"" + e.name + "\" in the start directory is not a plain file");
        }
        e.aside = asideFor(e.name);
        struct stat inTheWay {};
        if (::fstatat(m_folder, e.aside.c_str(), &inTheWay, AT_SYMLINK_NOFOLLOW) == 0) {
            return Status::failure("\"" + e.aside + "\" is in the way of keeping \"" + e.name +
                                   "\"");
        }
        e.userFile = {
            static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino),
            static_cast<std::uint64_t>(info.st_size),
            static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec,
            true};
    }
    const int from = ::open(source.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (from < 0) return failed("\"" + source + "\" cannot be opened");
    struct stat sourceInfo {};
    if (::fstat(from, &sourceInfo) != 0 || !S_ISREG(sourceInfo.st_mode)) {
        ::close(from);
        return Status::failure("\"" + source + "\" is not a regular file");
    }

    // Recorded before anything is moved or made.
    m_entries.push_back(e);
    Entry& entry = m_entries.back();
    m_journalWritten = true;
    Status status = writeJournal();
    if (status && !entry.aside.empty() && renameNoReplace(m_folder, entry.name, entry.aside) != 0) {
        status = failed("\"" + entry.name + "\" cannot be moved aside");
    }
    int to = -1;
    if (status) {
        ::fsync(m_folder);
        to = ::openat(m_folder, entry.temporary.c_str(),
                      O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (to < 0) status = failed("\"" + entry.temporary + "\" cannot be created");
    }
    if (status && ::fstat(to, &info) == 0) {
        entry.copy = {static_cast<std::uint64_t>(info.st_dev),
                      static_cast<std::uint64_t>(info.st_ino), 0, 0, true};
        status = writeJournal();
    }
    std::vector<char> chunk(64 * 1024);
    while (status) {
        if (interrupted()) {
            status = Status::failure("the build was interrupted");
            break;
        }
        const ssize_t got = ::read(from, chunk.data(), chunk.size());
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            status = failed("\"" + source + "\" cannot be read");
            break;
        }
        if (got == 0) break;
        status = writeAll(to, m_path + "/" + entry.temporary, chunk.data(),
                          static_cast<std::size_t>(got));
    }
    ::close(from);
    if (status && ::fsync(to) != 0) status = failed("\"" + entry.temporary + "\" cannot be synced");
    if (status && ::fstat(to, &info) == 0) {
        entry.copy.size = static_cast<std::uint64_t>(info.st_size);
        entry.copy.mtime =
            static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
        entry.whole = true;
        status = writeJournal();
    }
    if (to >= 0 && ::close(to) != 0 && status)
        status = failed("\"" + entry.temporary + "\" cannot be closed");
    if (status && renameNoReplace(m_folder, entry.temporary, entry.name) != 0) {
        status = failed("\"" + entry.name + "\" cannot be put in place");
    }
    if (status && ::fsync(m_folder) != 0) status = failed("the start directory cannot be synced");
    return status;
}

std::vector<std::string> StagingArea::stagedNames() const {
    std::vector<std::string> names;
    for (const Entry& e : m_entries)
        if (e.whole) names.push_back(e.name);
    return names;
}

Status StagingArea::finish() {
    std::vector<std::string> leftAlone;
    undo(m_entries, &leftAlone);
    m_entries.clear();
    if (m_journalWritten) {
        m_journalWritten = false;
        if (::unlinkat(m_folder, kStagingJournal, 0) != 0 && errno != ENOENT) {
            return failed(std::string("\"") + kStagingJournal + "\" cannot be removed");
        }
        ::fsync(m_folder);
    }
    if (leftAlone.empty()) return Status::success();
    std::string names;
    for (const std::string& name : leftAlone)
        names += (names.empty() ? "\"" : ", \"") + name + "\"";
    return Status::failure("the start directory's " + names +
                           " changed during the build and stayed");
}

}  // namespace platform

namespace platform {

Status checkStagingRoom(const std::string& hostFolder, const std::vector<std::string>& names) {
    const std::string where = "the start directory \"" + hostFolder + "\"";
    const int folder = ::open(hostFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0) return failed(where + " cannot be opened");
    Status status = Status::success();
    if (::faccessat(folder, ".", W_OK | X_OK, AT_EACCESS) != 0) {
        status = failed(where + " cannot be written");
    }
    auto present = [folder](const std::string& name, struct stat* info) {
        return ::fstatat(folder, name.c_str(), info, AT_SYMLINK_NOFOLLOW) == 0;
    };
    for (const std::string& wanted : names) {
        if (!status) break;
        const std::string name = spellingIn(folder, wanted);
        struct stat info {};
        if (present(name, &info) && !S_ISREG(info.st_mode)) {
            status = Status::failure(base::Failure::BadData,
                                     "\"" + name + "\" in " + where + " is not a plain file");
        } else if (const std::string part = temporaryFor(name); present(part, &info)) {
            status = Status::failure(
                base::Failure::BadData,
                "\"" + part + "\" in " + where + " is in the way of staging \"" + name + "\"");
        } else if (const std::string aside = asideFor(name);
                   present(aside, &info) && present(name, &info)) {
            status = Status::failure(base::Failure::BadData,
                                     "\"" + aside + "\" in " + where +
                                         " is in the way of keeping your \"" + name + "\"");
        }
    }
    ::close(folder);
    return status;
}

}  // namespace platform
