// The staging's rules on every system: what the journal records and when it is written, what
// a journal left behind lets a build remove or put back, and in what order, over the calls on
// the folder each system makes (staging_folder.h).
#include "platform/staging_area.h"

#include <algorithm>
#include <sstream>
#include <utility>

#include "platform/drive_format.h"
#include "platform/interrupts.h"
#include "platform/staging_folder.h"
#include "platform/staging_journal.h"
#include "platform/text_case.h"

namespace platform {
namespace {

using base::Result;
using base::Status;

using staging::asideFor;
using staging::Digest;
using staging::failedBecause;
using staging::File;
using staging::Folder;
using staging::kChunk;
using staging::keptFor;
using staging::Kind;
using staging::kJournalHeader;
using staging::kJournalNext;
using staging::lastReason;
using staging::temporaryFor;

// Names as the folder tells them apart.
bool sameName(const std::string& a, const std::string& b) {
    return staging::namesIgnoreCase() ? sameIgnoringCase(a, b) : a == b;
}

bool startsWithName(const std::string& text, const std::string& prefix) {
    return text.size() >= prefix.size() && sameName(text.substr(0, prefix.size()), prefix);
}

bool endsWithName(const std::string& text, const std::string& suffix) {
    return text.size() >= suffix.size() &&
           sameName(text.substr(text.size() - suffix.size()), suffix);
}

// The digest of what `file` holds from where it stands (its start, freshly opened); none when
// it cannot be read.
std::optional<Digest> digestOf(File& file) {
    Digest digest;
    std::vector<char> chunk(kChunk);
    for (;;) {
        const auto n = file.read(chunk.data(), chunk.size());
        if (!n) return std::nullopt;
        if (*n == 0) return digest;
        digest.add(chunk.data(), *n);
    }
}

}  // namespace

staging::File& staging::File::operator=(File&& other) noexcept {
    if (this != &other) {
        (void)close();
        m_handle = other.m_handle;
        other.m_handle = {};
    }
    return *this;
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
    staging::closeFolder(m_folder);
}

std::optional<StagingArea::Identity> StagingArea::identityOf(const std::string& name) const {
    File file = Folder(m_folder, m_path).openRegular(name);
    if (!file.isOpen()) return std::nullopt;
    const auto digest = digestOf(file);
    file.close();
    if (!digest) return std::nullopt;
    return Identity{digest->size, digest->value, true};
}

// The journal is made whole under a draft name, flushed and put in place, and the folder
// flushed: after that, what it records may happen.
Status StagingArea::writeJournal(const std::vector<Entry>& entries) const {
    const Folder folder(m_folder, m_path);
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
    File file = folder.create(kJournalNext, staging::NewFile::Journal);
    if (!file.isOpen()) return failedBecause("the staging journal cannot be written");
    const Status written = file.write(folder.at(kJournalNext), content.data(), content.size());
    if (!written) {
        file.close();
        folder.remove(kJournalNext);
        return written;
    }
    if (!file.flush()) {
        const Status status = failedBecause("the staging journal cannot be synced");
        file.close();
        folder.remove(kJournalNext);
        return status;
    }
    if (!file.close()) {
        const Status status = failedBecause("the staging journal cannot be synced");
        folder.remove(kJournalNext);
        return status;
    }
    if (!folder.replace(kJournalNext, kStagingJournal)) {
        const Status status = failedBecause("the staging journal cannot be put in place");
        folder.remove(kJournalNext);
        return status;
    }
    if (!folder.sync()) return failedBecause("the start directory cannot be synced");
    return Status::success();
}

Result<std::vector<StagingArea::Entry>> StagingArea::readJournal(
    const std::vector<std::string>& stageable) const {
    std::vector<Entry> entries;
    const auto garbled = [](const std::string& why) {
        return Status::failure(base::Failure::BadData, why);
    };
    staging::Found found = staging::Found::Failed;
    File file = Folder(m_folder, m_path).openJournal(kStagingJournal, found);
    if (found == staging::Found::Absent) return entries;
    if (found == staging::Found::Failed) return failedBecause("it cannot be opened");
    if (found == staging::Found::NotRegular) return garbled("it is not a regular file");
    std::string content;
    char chunk[4096];
    bool unread = false;
    for (;;) {
        const auto n = file.read(chunk, sizeof chunk);
        unread = !n;
        if (!n || *n == 0) break;
        content.append(chunk, *n);
        if (content.size() > 64 * 1024) return garbled("it is far larger than any build writes");
    }
    file.close();
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
            if (sameIgnoringCase(allowed, name) &&
                name.find_first_of(staging::nameSeparators()) == std::string::npos)
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
    const Folder folder(m_folder, m_path);
    std::vector<Entry> unsettled;
    std::vector<std::size_t> toKeep;  // indices into `unsettled` whose user's file moves
    for (auto e = entries.rbegin(); e != entries.rend(); ++e) {
        const std::size_t before = left.size();
        // The copy while it was made: the journal names it, and only the build makes it.
        if (const auto temporary = folder.kindOf(e->temporary)) {
            if (*temporary != Kind::Plain) {
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
        const auto named = folder.kindOf(e->name);
        bool nameFree = !named;
        if (!nameFree) {
            const auto now = *named == Kind::Plain ? identityOf(e->name) : std::nullopt;
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
                // Back under its name, whatever its inode now: only the build puts a file
                // under that hidden name, and only the user's.
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
        // The renames back are durable before the journal that would redo them goes.
        (void)folder.sync();
        if (!folder.remove(kStagingJournal) && !staging::lastWasAbsent()) {
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
            const std::string reason = recorded ? lastReason() : staging::ioErrorReason();
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
    (void)folder.sync();
    return false;
}

void StagingArea::rescueHidden(std::vector<StagingLeftover>& left) const {
    using What = StagingLeftover::What;
    const Folder folder(m_folder, m_path);
    const std::string prefix = std::string(kStagingJournal) + ".";
    for (const std::string& entry : folder.names()) {
        if (!startsWithName(entry, prefix) || sameName(entry, kJournalNext)) continue;
        const std::string rest = entry.substr(prefix.size());
        if (rest.size() > 5 && endsWithName(rest, ".user")) {
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
    (void)folder.sync();
}

Result<std::vector<StagingLeftover>> StagingArea::recover(
    const std::vector<std::string>& stageable) {
    std::vector<StagingLeftover> left;
    const Folder folder(m_folder, m_path);
    // A journal that was being replaced when the build ended is no more than a draft.
    if (folder.kindOf(kJournalNext) == Kind::Plain) folder.remove(kJournalNext);
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
    const Folder folder(m_folder, m_path);
    std::vector<std::string> links;
    for (const std::string& name : folder.names()) {
        bool ours = false;
        for (const std::string& w : wanted) ours = ours || lowerAscii(name) == w;
        if (ours && folder.kindOf(name) == Kind::Link) links.push_back(name);
    }
    return links;
}

Status StagingArea::plan(const std::vector<std::pair<std::string, std::string>>& sourcesAndNames) {
    const Folder folder(m_folder, m_path);
    std::vector<Entry> planned = m_entries;
    for (const auto& [source, name] : sourcesAndNames) {
        Entry e;
        e.source = source;
        e.name = folder.spelling(name);
        e.temporary = temporaryFor(e.name);
        for (const Entry& other : planned)
            if (sameName(other.name, e.name))
                return Status::failure("\"" + e.name + "\" is staged already");
        if (folder.exists(e.temporary)) {
            return Status::failure("\"" + e.temporary + "\" is in the way of staging \"" + e.name +
                                   "\"");
        }
        if (const auto present = folder.kindOf(e.name)) {
            if (*present != Kind::Plain) {
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
        File from;
        if (Status opened = staging::openPlannedSource(source, from); !opened) return opened;
        const auto digest = digestOf(from);
        from.close();
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
    const Folder folder(m_folder, m_path);
    Entry* planned = nullptr;
    for (Entry& e : m_entries)
        if (e.source == source && sameIgnoringCase(e.name, name) && !e.placed) planned = &e;
    if (planned == nullptr) return Status::failure("\"" + name + "\" was not planned for staging");
    Entry& entry = *planned;

    File from = staging::openStagedSource(source);
    if (!from.isOpen()) return failedBecause("\"" + source + "\" cannot be opened");
    Status status = Status::success();
    if (!entry.aside.empty() && !folder.renameNoReplace(entry.name, entry.aside)) {
        status = failedBecause("\"" + entry.name + "\" cannot be moved aside");
    }
    File to;
    if (status) {
        // Not synced: nothing trusts a staged copy after a crash (the next build removes it,
        // and the read-back compares the diskette with the sources).
        to = folder.create(entry.temporary, staging::NewFile::Copy);
        if (!to.isOpen()) status = failedBecause("\"" + entry.temporary + "\" cannot be created");
    }
    std::vector<char> chunk(kChunk);
    Digest copied;
    while (status) {
        if (interrupted()) {
            status = Status::failure("the build was interrupted");
            break;
        }
        // Never more than the planned size and one byte: a source replaced by a device or a
        // pipe that never ends would otherwise fill the start directory's file system.
        const std::uint64_t left = entry.copy.size - std::min(copied.size, entry.copy.size) + 1;
        const auto got = from.read(
            chunk.data(), static_cast<std::size_t>(std::min<std::uint64_t>(chunk.size(), left)));
        if (!got) {
            status = failedBecause("\"" + source + "\" cannot be read");
            break;
        }
        if (*got == 0) break;
        if (copied.size + *got > entry.copy.size) {
            status = Status::failure(base::Failure::BadData,
                                     "\"" + source + "\" changed while it was being staged");
            break;
        }
        copied.add(chunk.data(), *got);
        status = to.write(folder.at(entry.temporary), chunk.data(), *got);
    }
    from.close();
    // The journal knows the copy by the source's content when it was planned.
    if (status && (copied.size != entry.copy.size || copied.value != entry.copy.digest)) {
        status = Status::failure("\"" + source + "\" changed while it was being staged");
    }
    if (to.isOpen() && !to.close() && status)
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

bool staging::lacksRoom(std::uint64_t available, std::size_t files, std::uint64_t bytes) {
    constexpr std::uint64_t kSlack = 4096;  // one block of a usual file system
    return bytes != 0 && available < bytes + (files + 1) * kSlack;
}

base::Error staging::noRoomFailure(const std::string& where, std::uint64_t available,
                                   std::uint64_t bytes) {
    return base::Error(base::Failure::NoRoom, where + " has " + groupThousands(available) +
                                                  " bytes free; the copies for this diskette "
                                                  "take " +
                                                  groupThousands(bytes));
}

Status staging::roomFor(const Folder& folder, const std::string& where,
                        const std::vector<std::string>& names) {
    for (const std::string& wanted : names) {
        const std::string name = folder.spelling(wanted);
        const auto present = folder.kindOf(name);
        if (present && *present != Kind::Plain) {
            return Status::failure(base::Failure::BadData,
                                   "\"" + name + "\" in " + where + " is not a plain file");
        }
        if (const std::string part = temporaryFor(name); folder.exists(part)) {
            return Status::failure(
                base::Failure::BadData,
                "\"" + part + "\" in " + where + " is in the way of staging \"" + name + "\"");
        }
        if (const std::string aside = asideFor(name); folder.exists(aside) && present) {
            return Status::failure(base::Failure::BadData, "\"" + aside + "\" in " + where +
                                                               " is in the way of keeping your \"" +
                                                               name + "\"");
        }
    }
    return Status::success();
}

}  // namespace platform
