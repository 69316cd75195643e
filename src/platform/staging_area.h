// The start directory as a build's staging area. What a build is about to do there is written
// first to a journal in the folder (".quenvol-staging"), once, synced with the folder before
// anything it records is done, so that a build killed at any point leaves enough behind for
// the next one to undo it:
// - a file of the user's that a staged copy takes the name of is first moved aside (renamed,
//   in the same folder) and put back at the end;
// - each copy is made under a temporary name and renamed into place when whole;
// - at the end every staged copy is removed, the user's files are put back, the folder is
//   synced, and the journal goes last.
// The journal knows a staged copy and a file of the user's by size and content (a digest), not
// by inode, so a folder copied or remounted after a kill is still put right. Nothing is taken
// for the build's that the journal cannot vouch for: what is not as it recorded stays, is
// named, and the journal stays with it until the user has decided.
// Names are never followed through a symbolic link and a link is never removed: every entry
// is reached relative to the folder's descriptor, without following links.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/result.h"
#include "platform/native_handle.h"

namespace platform {

inline constexpr char kStagingJournal[] = ".quenvol-staging";

// Something an interrupted build, or this one, left in the start directory that is not as the
// journal recorded it, or could not be put right.
struct StagingLeftover {
    enum class What {
        Copy,       // `name`: the build's copy, changed since, or a file put there since
        Partial,    // `name`: a temporary name of the build's that holds no copy of its own
        UsersFile,  // `name`: the user's own file that belongs under `other`, moved aside
        Journal,    // `name`: the journal, which cannot be read (`other` says why)
    };
    What what = What::Copy;
    std::string name;
    std::string other;   // Copy: where the user's own file of that name is, if there is one
    std::string reason;  // why it could not be put right, in the system's words; empty: it is
                         // not as recorded
};

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
    // while it is still what the journal recorded, and only under the names in `stageable`
    // (a journal naming anything else is not ours). Returns what was found otherwise; while
    // there is any, the journal stays (naming only that) and a user's file that cannot go
    // back under its name is kept under a visible one ("vgabios.exe.yours").
    base::Result<std::vector<StagingLeftover>> recover(const std::vector<std::string>& stageable);

    // Those of `names` (and of the names this area would use for them) that are symbolic
    // links in the folder, under the spelling found there.
    std::vector<std::string> linksAmong(const std::vector<std::string>& names) const;

    // Records in the journal what stage() will do for each (source, name), before any of it is
    // done: the one durable write of a build's staging.
    base::Status plan(const std::vector<std::pair<std::string, std::string>>& sourcesAndNames);

    // Stages the host file `source` as `name` (or the spelling of it the folder already holds),
    // as planned, moving a file of that name aside first. Fails if the copy cannot be made
    // whole, the source changed since it was planned, or the build is interrupted meanwhile;
    // what was done so far is still undone at the end.
    base::Status stage(const std::string& source, const std::string& name);

    // The names staged so far, as spelt in the folder.
    std::vector<std::string> stagedNames() const;

    // Removes the staged copies, puts the user's files back, then removes the journal. Fails
    // when anything is left (leftovers() says what); the journal then stays for it.
    base::Status finish();
    const std::vector<StagingLeftover>& leftovers() const { return m_left; }

  private:
    // A file by its size and a digest of its content.
    struct Identity {
        std::uint64_t size = 0;
        std::uint64_t digest = 0;
        bool known = false;
        bool operator==(const Identity&) const = default;
    };
    struct Entry {
        std::string name;       // as spelt in the folder
        std::string temporary;  // the copy while it is made
        std::string aside;      // the user's file meanwhile; empty when there was none
        std::string kept;       // the user's file once it could not go back; empty until then
        Identity userFile;      // the file moved aside
        Identity copy;          // the source, as the copy must be
        std::string source;     // not in the journal
        bool placed = false;    // not in the journal: renamed into place
    };

    StagingArea(NativeHandle folder, std::string path)
        : m_folder(folder), m_path(std::move(path)) {}
    base::Status writeJournal(const std::vector<Entry>& entries) const;
    base::Result<std::vector<Entry>> readJournal(const std::vector<std::string>& stageable) const;
    // Undoes `entries`, telling what is not as recorded into `left`; true when all was undone
    // and the journal is gone.
    bool undo(const std::vector<Entry>& entries, std::vector<StagingLeftover>& left) const;
    // The user's files an unreadable journal may have left under a hidden name, back under
    // their own or under a visible one, and the temporaries beside them named.
    void rescueHidden(std::vector<StagingLeftover>& left) const;
    std::optional<Identity> identityOf(const std::string& name) const;

    NativeHandle m_folder;
    std::string m_path;  // the folder's host path, for messages
    std::vector<Entry> m_entries;
    std::vector<StagingLeftover> m_left;
    bool m_journalWritten = false;
};

}  // namespace platform

namespace platform {

// Before anything is erased: whether a build could stage `names` in the start directory at
// `hostFolder`. Fails, naming the folder, when it cannot be written or when something of
// another kind, or a file under a name the staging keeps for itself, is in the way, or when
// its file system has not the room.
// `bytes` is what the copies take together: a file system that cannot hold them with the
// journal beside them is found here too.
base::Status checkStagingRoom(const std::string& hostFolder, const std::vector<std::string>& names,
                              std::uint64_t bytes = 0);

}  // namespace platform
