// What one run of quenvol-cli sends to drive A:, recorded where every transfer on the drive
// passes: each write, each read (and whether it went past the host's cache), each flush and
// each time the cache was dropped, in order.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace bench {

struct Transfer {
    enum class Kind : std::uint8_t { Write, Read, Flush, DropCache };
    Kind kind = Kind::Write;
    bool pastCache = false;    // reads only
    bool forDrop = false;      // flushes only: made by dropping the cache, not asked for
    std::uint64_t offset = 0;  // bytes from the start of the medium
    std::uint64_t bytes = 0;
};

struct RecordedRun {
    int exitStatus = -1;  // quenvol-cli's; -1 when the child did not report
    std::string how;      // why there is no record, when there is none
    std::vector<Transfer> transfers;

    std::vector<Transfer> writes() const;
    std::uint32_t flushes() const;
};

// What the same run sends to a floppy block device, from its record on an image file of
// `mediumBytes`: an image is read past the cache by a flush (where it was opened for writing)
// and a drop of its cache before each read, a device by reads that bypass the cache; and an
// image is read whole once more after the build, through the cache, for the build record's
// digest, a device not.
std::vector<Transfer> asOnDevice(const std::vector<Transfer>& onImage, std::uint64_t mediumBytes);

// Runs quenvol-cli's program with `args` (its options, without the program name) in a child
// of this process, in `workingDir` with `env` set, and returns every transfer on drive A:.
// The child's output goes to `outputFile`.
RecordedRun recordRun(const std::vector<std::string>& args, const std::string& workingDir,
                      const std::vector<std::pair<std::string, std::string>>& env,
                      const std::string& outputFile);

// What strace needs to trace a run whose transfers are read by transfersInTrace: every process
// to a file of its own (`prefix`.PID), each line stamped with its time, each descriptor
// followed by its path, no data.
std::vector<std::string> straceTransferOptions(const std::string& prefix);

struct TracedDrives {
    std::string how;  // why the trace could not be read, when it could not
    std::vector<std::vector<Transfer>> transfers;  // one list for each drive, in order
};

// The transfers on each of `drives` (paths as the trace names them: absolute, links resolved)
// in the trace of a run by every process of it, in the order they were made. A read is past
// the cache when its descriptor was opened with O_DIRECT, or when the cache was dropped with
// nothing written since; a flush is fsync or fdatasync, a drop of the cache posix_fadvise's
// POSIX_FADV_DONTNEED. A call on a drive that moves data some other way is refused, never left
// out.
TracedDrives transfersInTrace(const std::vector<std::string>& traceFiles,
                              const std::vector<std::string>& drives);

}  // namespace bench
