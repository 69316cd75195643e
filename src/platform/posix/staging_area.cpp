#include "platform/staging_area.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <utility>

#include "platform/host_file.h"
#include "platform/interrupts.h"
#include "platform/posix/descriptor.h"
#include "platform/posix/file_io.h"
#include "platform/posix/folder_entries.h"
#include "platform/posix/system_error.h"
#include "platform/staging_journal.h"
#include "platform/text_case.h"

namespace platform {
namespace {

using base::Result;
using base::Status;

using staging::asideFor;
using staging::Digest;
using staging::kChunk;
using staging::keptFor;
using staging::kJournalHeader;
using staging::kJournalNext;
using staging::temporaryFor;

// The digest of what `fd` holds from its start; nullopt when it cannot be read.
std::optional<Digest> digestOf(int fd) {
    Digest digest;
    std::vector<char> chunk(kChunk);
    for (off_t at = 0;;) {
        const ssize_t n = ::pread(fd, chunk.data(), chunk.size(), at);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return std::nullopt;
        if (n == 0) return digest;
        digest.add(chunk.data(), static_cast<std::size_t>(n));
        at += n;
    }
}

// A regular file under `name` in the folder, opened for reading without blocking on a pipe
// and without following a link; -1 (errno set) otherwise.
int openRegular(int folder, const std::string& name) {
    const int fd = ::openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return -1;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        errno = EINVAL;
        return -1;
    }
    return fd;
}

using posix::failedBecause;
using posix::namesIn;

// The name as spelt by an entry of the folder that equals it without regard to case; the name
// itself when there is none.
std::string spellingIn(int folder, const std::string& name) {
    std::string found = posix::spellingIn(folder, name);
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
    if (folder < 0)
        return failedBecause("the start directory \"" + hostFolder + "\" cannot be opened");
    return StagingArea(posix::handleOf(folder), hostFolder);
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
    ::close(posix::descriptor(m_folder));
}

std::optional<StagingArea::Identity> StagingArea::identityOf(const std::string& name) const {
    const int fd = openRegular(posix::descriptor(m_folder), name);
    if (fd < 0) return std::nullopt;
    const auto digest = digestOf(fd);
    ::close(fd);
    if (!digest) return std::nullopt;
    return Identity{digest->size, digest->value, true};
}

// The journal is made whole under a draft name, synced and renamed into place, and the folder
// synced: two flushes, after which what it records may happen.
Status StagingArea::writeJournal(const std::vector<Entry>& entries) const {
    std::ostringstream text;
    text << kJournalHeader << "\n";
    for (const Entry& e : entries) {
        text << "entry " << e.name << ' ' << e.temporary << ' ' << (e.aside.empty() ? "-" : e.aside)
             << ' ' << (e.kept.empty() ? "-" : e.kept) << ' ' << e.userFile.known << ' '
             << e.userFile.size << ' ' << e.userFile.digest << ' ' << e.copy.size << ' '
             << e.copy.digest << "\n";
    }
    const std::string content = text.str();
    ::unlinkat(posix::descriptor(m_folder), kJournalNext, 0);
    const int fd = ::openat(posix::descriptor(m_folder), kJournalNext,
                            O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) return failedBecause("the staging journal cannot be written");
    const Status written =
        writeAll(fd, m_path + "/" + kJournalNext, content.data(), content.size());
    if (!written) {
        ::close(fd);
        ::unlinkat(posix::descriptor(m_folder), kJournalNext, 0);
        return written;
    }
    if (::fsync(fd) != 0 || ::close(fd) != 0) {
        const Status status = failedBecause("the staging journal cannot be synced");
        ::unlinkat(posix::descriptor(m_folder), kJournalNext, 0);
        return status;
    }
    if (::renameat(posix::descriptor(m_folder), kJournalNext, posix::descriptor(m_folder),
                   kStagingJournal) != 0) {
        const Status status = failedBecause("the staging journal cannot be put in place");
        ::unlinkat(posix::descriptor(m_folder), kJournalNext, 0);
        return status;
    }
    if (::fsync(posix::descriptor(m_folder)) != 0)
        return failedBecause("the start directory cannot be synced");
    return Status::success();
}

Result<std::vector<StagingArea::Entry>> StagingArea::readJournal(
    const std::vector<std::string>& stageable) const {
    std::vector<Entry> entries;
    const auto garbled = [](const std::string& why) {
        return Status::failure(base::Failure::BadData, why);
    };
    // Without blocking: a pipe under the journal's name would hold the build forever.
    const int fd = ::openat(posix::descriptor(m_folder), kStagingJournal,
                            O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) return entries;
        return failedBecause("it cannot be opened");
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return garbled("it is not a regular file");
    }
    std::string content;
    char chunk[4096];
    bool unread = false;
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        unread = n < 0;
        if (n <= 0) break;
        content.append(chunk, static_cast<std::size_t>(n));
        if (content.size() > 64 * 1024) return garbled("it is far larger than any build writes");
    }
    ::close(fd);
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
            if (sameIgnoringCase(allowed, name) && name.find('/') == std::string::npos) return true;
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
    auto exists = [this](const std::string& name, struct stat* info) {
        return ::fstatat(posix::descriptor(m_folder), name.c_str(), info, AT_SYMLINK_NOFOLLOW) == 0;
    };
    std::vector<Entry> unsettled;
    std::vector<std::size_t> toKeep;  // indices into `unsettled` whose user's file moves
    for (auto e = entries.rbegin(); e != entries.rend(); ++e) {
        const std::size_t before = left.size();
        struct stat info {};
        // The copy while it was made: the journal names it, and only the build makes it.
        if (exists(e->temporary, &info)) {
            if (!S_ISREG(info.st_mode)) {
                left.push_back({What::Partial, e->temporary, {}, {}});
            } else if (::unlinkat(posix::descriptor(m_folder), e->temporary.c_str(), 0) != 0) {
                left.push_back({What::Partial, e->temporary, {}, std::strerror(errno)});
            }
        }
        // Where the user's own file is now, if the build moved it.
        std::string userAt;
        if (!e->aside.empty() && exists(e->aside, &info)) userAt = e->aside;
        if (userAt.empty() && !e->kept.empty() && exists(e->kept, &info)) userAt = e->kept;
        // The name: the build's copy goes; the user's own file, never moved, stays.
        bool nameFree = !exists(e->name, &info);
        if (!nameFree) {
            const auto now = S_ISREG(info.st_mode) ? identityOf(e->name) : std::nullopt;
            const bool isCopy = now && *now == e->copy;
            const bool isUsers = now && e->userFile.known && *now == e->userFile;
            if (isCopy && (!isUsers || !userAt.empty())) {
                if (::unlinkat(posix::descriptor(m_folder), e->name.c_str(), 0) == 0) {
                    nameFree = true;
                } else {
                    left.push_back({What::Copy, e->name, userAt, std::strerror(errno)});
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
                // Back under its name, whatever its inode now: only the build puts a file
                // under that hidden name, and only the user's.
                if (renameNoReplace(posix::descriptor(m_folder), userAt, e->name) != 0)
                    left.push_back({What::UsersFile, userAt, e->name, std::strerror(errno)});
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
        // The renames back are durable before the journal that would redo them goes.
        ::fsync(posix::descriptor(m_folder));
        if (::unlinkat(posix::descriptor(m_folder), kStagingJournal, 0) != 0 && errno != ENOENT) {
            left.push_back({What::Journal, kStagingJournal, {}, std::strerror(errno)});
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
        if (!recorded || renameNoReplace(posix::descriptor(m_folder), e.aside, e.kept) != 0) {
            const std::string reason = std::strerror(recorded ? errno : EIO);
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
    ::fsync(posix::descriptor(m_folder));
    return false;
}

void StagingArea::rescueHidden(std::vector<StagingLeftover>& left) const {
    using What = StagingLeftover::What;
    const std::string prefix = std::string(kStagingJournal) + ".";
    for (const std::string& entry : namesIn(posix::descriptor(m_folder))) {
        if (!entry.starts_with(prefix) || entry == kJournalNext) continue;
        const std::string rest = entry.substr(prefix.size());
        if (rest.ends_with(".user") && rest.size() > 5) {
            const std::string name = rest.substr(0, rest.size() - 5);
            struct stat info {};
            if (::fstatat(posix::descriptor(m_folder), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) !=
                    0 &&
                renameNoReplace(posix::descriptor(m_folder), entry, name) == 0) {
                continue;  // back under its own name, which nothing held
            }
            const std::string visible = keptFor(name);
            if (renameNoReplace(posix::descriptor(m_folder), entry, visible) == 0) {
                left.push_back({What::UsersFile, visible, name, {}});
            } else {
                left.push_back({What::UsersFile, entry, name, std::strerror(errno)});
            }
        } else {
            left.push_back({What::Partial, entry, {}, {}});
        }
    }
    ::fsync(posix::descriptor(m_folder));
}

Result<std::vector<StagingLeftover>> StagingArea::recover(
    const std::vector<std::string>& stageable) {
    std::vector<StagingLeftover> left;
    // A journal that was being replaced when the build ended is no more than a draft.
    struct stat info {};
    if (::fstatat(posix::descriptor(m_folder), kJournalNext, &info, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISREG(info.st_mode)) {
        ::unlinkat(posix::descriptor(m_folder), kJournalNext, 0);
    }
    if (::fstatat(posix::descriptor(m_folder), kStagingJournal, &info, AT_SYMLINK_NOFOLLOW) != 0)
        return left;
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
    std::vector<std::string> links;
    for (const std::string& name : namesIn(posix::descriptor(m_folder))) {
        bool ours = false;
        for (const std::string& w : wanted) ours = ours || lowerAscii(name) == w;
        struct stat info {};
        if (ours &&
            ::fstatat(posix::descriptor(m_folder), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISLNK(info.st_mode)) {
            links.push_back(name);
        }
    }
    return links;
}

Status StagingArea::plan(const std::vector<std::pair<std::string, std::string>>& sourcesAndNames) {
    std::vector<Entry> planned = m_entries;
    for (const auto& [source, name] : sourcesAndNames) {
        Entry e;
        e.source = source;
        e.name = spellingIn(posix::descriptor(m_folder), name);
        e.temporary = temporaryFor(e.name);
        for (const Entry& other : planned)
            if (other.name == e.name)
                return Status::failure("\"" + e.name + "\" is staged already");
        struct stat info {};
        if (::fstatat(posix::descriptor(m_folder), e.temporary.c_str(), &info,
                      AT_SYMLINK_NOFOLLOW) == 0) {
            return Status::failure("\"" + e.temporary + "\" is in the way of staging \"" + e.name +
                                   "\"");
        }
        if (::fstatat(posix::descriptor(m_folder), e.name.c_str(), &info, AT_SYMLINK_NOFOLLOW) ==
            0) {
            if (!S_ISREG(info.st_mode)) {
                return Status::failure("\"" + e.name +
                                       "\" in the start directory is not a plain file");
            }
            e.aside = asideFor(e.name);
            struct stat inTheWay {};
            if (::fstatat(posix::descriptor(m_folder), e.aside.c_str(), &inTheWay,
                          AT_SYMLINK_NOFOLLOW) == 0) {
                return Status::failure("\"" + e.aside + "\" is in the way of keeping \"" + e.name +
                                       "\"");
            }
            auto users = identityOf(e.name);
            if (!users)
                return failedBecause("\"" + e.name + "\" in the start directory cannot be read");
            e.userFile = *users;
        }
        const int from = ::open(source.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        if (from < 0) return failedBecause("\"" + source + "\" cannot be opened");
        struct stat sourceInfo {};
        if (::fstat(from, &sourceInfo) != 0 || !S_ISREG(sourceInfo.st_mode)) {
            ::close(from);
            return Status::failure("\"" + source + "\" is not a regular file");
        }
        const auto digest = digestOf(from);
        ::close(from);
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
    Entry* planned = nullptr;
    for (Entry& e : m_entries)
        if (e.source == source && sameIgnoringCase(e.name, name) && !e.placed) planned = &e;
    if (planned == nullptr) return Status::failure("\"" + name + "\" was not planned for staging");
    Entry& entry = *planned;

    const int from = ::open(source.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (from < 0) return failedBecause("\"" + source + "\" cannot be opened");
    Status status = Status::success();
    if (!entry.aside.empty() &&
        renameNoReplace(posix::descriptor(m_folder), entry.name, entry.aside) != 0) {
        status = failedBecause("\"" + entry.name + "\" cannot be moved aside");
    }
    int to = -1;
    if (status) {
        // Not synced: nothing trusts a staged copy after a crash (the next build removes it,
        // and the read-back compares the diskette with the sources).
        to = ::openat(posix::descriptor(m_folder), entry.temporary.c_str(),
                      O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (to < 0) status = failedBecause("\"" + entry.temporary + "\" cannot be created");
    }
    std::vector<char> chunk(kChunk);
    Digest copied;
    while (status) {
        if (interrupted()) {
            status = Status::failure("the build was interrupted");
            break;
        }
        const ssize_t got = ::read(from, chunk.data(), chunk.size());
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            status = failedBecause("\"" + source + "\" cannot be read");
            break;
        }
        if (got == 0) break;
        copied.add(chunk.data(), static_cast<std::size_t>(got));
        status = writeAll(to, m_path + "/" + entry.temporary, chunk.data(),
                          static_cast<std::size_t>(got));
    }
    ::close(from);
    // The journal knows the copy by the source's content when it was planned.
    if (status && (copied.size != entry.copy.size || copied.value != entry.copy.digest)) {
        status = Status::failure("\"" + source + "\" changed while it was being staged");
    }
    if (to >= 0 && ::close(to) != 0 && status)
        status = failedBecause("\"" + entry.temporary + "\" cannot be closed");
    if (status && renameNoReplace(posix::descriptor(m_folder), entry.temporary, entry.name) != 0) {
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
    const int folder = ::open(hostFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0) return failedBecause(where + " cannot be opened");
    Status status = Status::success();
    if (::faccessat(folder, ".", W_OK | X_OK, AT_EACCESS) != 0) {
        status = failedBecause(where + " cannot be written");
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
