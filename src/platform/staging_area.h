// The start directory as a build's staging area. What a build is about to do there is written
// first to a journal in the folder (".quenvol-staging", replaced whole and synced each time),
// so that a build killed at any point leaves enough behind for the next one to undo it:
// - a file of the user's that a staged copy takes the name of is first moved aside (renamed,
//   in the same folder) and put back at the end;
// - each copy is made under a temporary name, synced, and renamed into place when whole;
// - at the end every staged copy is removed, the user's files are put back and the journal
//   goes last.
// Names are never followed through a symbolic link and a link is never removed: every entry
// is reached relative to the folder's descriptor, without following links.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/result.h"

namespace platform {

inline constexpr char kStagingJournal[] = ".quenvol-staging";

class StagingArea {
  public:
    // The folder under its host path.
    static base::Result<StagingArea> open(const std::string& hostFolder);

    StagingArea(StagingArea&& other) noexcept;
    StagingArea& operator=(StagingArea&&) = delete;
    StagingArea(const StagingArea&) = delete;
    StagingArea& operator=(const StagingArea&) = delete;
    // Undoes whatever finish() has not.
    ~StagingArea();

    // Honours a journal that a build which no longer runs left behind: its copies and
    // temporaries are removed and the user's files it moved aside are put back, each only
    // while it is still what the journal recorded. Returns the names of what was found
    // otherwise and left alone; the journal is removed in any case.
    base::Result<std::vector<std::string>> recover();

    // Those of `names` (and of the names this area would use for them) that are symbolic
    // links in the folder, under the spelling found there.
    std::vector<std::string> linksAmong(const std::vector<std::string>& names) const;

    // Stages the host file `source` as `name` (or the spelling of it the folder already holds),
    // moving a file of that name aside first. Fails if the copy cannot be made whole or the
    // build is interrupted meanwhile; what was done so far is still undone at the end.
    base::Status stage(const std::string& source, const std::string& name);

    // The names staged so far, as spelt in the folder.
    std::vector<std::string> stagedNames() const;

    // Removes the staged copies, puts the user's files back, then removes the journal.
    base::Status finish();

  private:
    struct Identity {
        std::uint64_t device = 0;
        std::uint64_t inode = 0;
        std::uint64_t size = 0;
        std::int64_t mtime = 0;  // nanoseconds
        bool known = false;
    };
    struct Entry {
        std::string name;       // as spelt in the folder
        std::string temporary;  // the copy while it is made
        std::string aside;      // the user's file meanwhile; empty when there was none
        Identity userFile;      // the file moved aside
        Identity copy;          // the copy: device and inode once made, all once whole
        bool whole = false;     // synced; renamed into place or about to be
    };

    StagingArea(int folder, std::string path) : m_folder(folder), m_path(std::move(path)) {}
    base::Status writeJournal() const;
    base::Result<std::vector<Entry>> readJournal() const;
    // Undoes `entries`, reporting what is not as recorded into `leftAlone`.
    void undo(const std::vector<Entry>& entries, std::vector<std::string>* leftAlone) const;
    bool matches(const std::string& name, const Identity& identity, bool wholeIdentity) const;

    int m_folder = -1;
    std::string m_path;  // the folder's host path, for messages
    std::vector<Entry> m_entries;
    bool m_journalWritten = false;
};

}  // namespace platform

namespace platform {

// Before anything is erased: whether a build could stage `names` in the start directory at
// `hostFolder`. Fails, naming the folder, when it cannot be written or when something of
// another kind, or a file under a name the staging keeps for itself, is in the way.
base::Status checkStagingRoom(const std::string& hostFolder, const std::vector<std::string>& names);

}  // namespace platform
