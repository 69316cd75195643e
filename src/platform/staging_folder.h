// The calls the staging's rules (staging_area.cpp) make on the start directory, each system's
// own (posix/staging_area.cpp, win32/staging_area.cpp): entries reached in the folder and never
// through a link, renames that never replace, flushes, listings, and the files the build reads
// and makes there. A call that fails leaves the system's error for the next failedBecause() or
// lastReason(), so nothing may come between the two.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "base/result.h"
#include "platform/native_handle.h"

namespace platform::staging {

// What an entry is, seen as itself (a link is never followed).
enum class Kind { Plain, Link, Other };

// One open file, closed when it goes.
class File {
  public:
    File() = default;
    explicit File(NativeHandle handle) : m_handle(handle) {}
    File(File&& other) noexcept : m_handle(other.m_handle) { other.m_handle = {}; }
    File& operator=(File&& other) noexcept;
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    ~File() { (void)close(); }

    bool isOpen() const { return m_handle.valid(); }
    // Up to `bytes` from where the last read ended: how many, 0 at the end; none on failure.
    std::optional<std::size_t> read(char* out, std::size_t bytes);
    // All of `bytes`, as a host file's write (the host faults are asked first); `path` names
    // the file in a failure.
    base::Status write(const std::string& path, const char* in, std::size_t bytes);
    // What was written reaches the disk.
    bool flush();
    // False when the system reports a failure; the file is closed either way.
    bool close();

  private:
    NativeHandle m_handle;
};

// What a new file in the folder is for: the journal is written through to the disk; a copy is
// not, since nothing trusts a staged copy after a crash.
enum class NewFile { Journal, Copy };

// How an open of the journal went.
enum class Found { Opened, Absent, Failed, NotRegular };

// The start directory, by the build's handle of it (none for a check before the build) and
// its host path.
class Folder {
  public:
    Folder(NativeHandle handle, const std::string& path) : m_handle(handle), m_path(path) {}

    // `name` in the folder as a host path, for failures.
    std::string at(const std::string& name) const;
    // None when nothing is there.
    std::optional<Kind> kindOf(const std::string& name) const;
    bool exists(const std::string& name) const { return kindOf(name).has_value(); }
    // The names of the entries; none when it cannot be listed.
    std::vector<std::string> names() const;
    // The spelling of `name` an entry has, without regard to case; `name` when none has.
    std::string spelling(const std::string& name) const;

    // A regular file for reading; closed when `name` is none.
    File openRegular(const std::string& name) const;
    // The journal for reading, saying how it went.
    File openJournal(const std::string& name, Found& found) const;
    // A new file, never over an entry and never through a link.
    File create(const std::string& name, NewFile what) const;
    bool remove(const std::string& name) const;
    bool renameNoReplace(const std::string& from, const std::string& to) const;
    // The journal's draft over the journal.
    bool replace(const std::string& from, const std::string& to) const;
    // The folder's entries reach the disk: false when they may not have.
    bool sync() const;

  private:
    NativeHandle m_handle;
    const std::string& m_path;
};

// A build's source, for reading from its start: as planned (a regular file, else the refusal
// in `file`'s stead), and as staged.
base::Status openPlannedSource(const std::string& source, File& file);
File openStagedSource(const std::string& source);

void closeFolder(NativeHandle folder);

// How this system compares names in a folder, and what separates a path's names.
bool namesIgnoreCase();
const char* nameSeparators();

// The failure `what`, for the system's last error; the last error's words; whether it said
// that nothing was there; the words of an input or output error.
base::Error failedBecause(const std::string& what);
std::string lastReason();
bool lastWasAbsent();
std::string ioErrorReason();

// Whether the build could stage `names` in `folder`, which can be written: what is in the way
// of one, if anything, named as in `where`.
// Whether `available` bytes of a file system lack the room for `files` staged copies of
// `bytes` together and the journal: each file and the journal counted with a block of slack.
bool lacksRoom(std::uint64_t available, std::size_t files, std::uint64_t bytes);
base::Error noRoomFailure(const std::string& where, std::uint64_t available, std::uint64_t bytes);

base::Status roomFor(const Folder& folder, const std::string& where,
                     const std::vector<std::string>& names);

}  // namespace platform::staging
