// One drive of a run on several drives: a finished diskette image written to drive A:, read
// back past the host's cache and compared, in a process of its own (one per drive), which
// tells the run each step as a line on standard output.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "base/result.h"
#include "cli/cli_options.h"

namespace cli {

// The sectors of a FAT12 image that hold its file system: the boot sector, the FATs, the root
// folder and every cluster in use, as runs of (first sector, count) in order. The whole image
// when it holds no FAT12 file system this program could have made.
std::vector<std::pair<std::uint32_t, std::uint32_t>> sectorsInUse(
    std::span<const std::uint8_t> image);

struct DisketteCopy {
    bool ok = false;
    std::optional<base::Failure> failure;
    std::string failureKind;  // the record's failure kind, for a failed copy
    std::string message;
    std::string sector0Sha256;  // as read back
    bool readBack = false;      // the read-back ran (and, with ok, found what was written)
};

// Writes `image` to drive A:, held exclusively for the whole copy: sector 0 is blanked and
// flushed first and written last, so that a copy cut short leaves no diskette that starts or
// passes for a whole one. Then every sector written is read back past the cache and compared.
// `step` is told "writing" and "reading back".
DisketteCopy copyImageToDriveA(std::span<const std::uint8_t> image,
                               const std::function<void(const char*)>& step);

// The worker's lines, tab-separated, one a line: "drive <name>", "step <n> <name>",
// "done <n> <exit status> <failure kind> <sector 0 SHA-256> <message>" (empty fields stay).
struct WorkerLine {
    enum class Kind { Drive, Step, Done, Other } kind = Kind::Other;
    unsigned diskette = 0;
    int status = 0;
    std::string text;  // Drive: the name; Step: the step; Done: the message; Other: the line
    std::string failureKind, sector0Sha256;
};
std::string workerLine(const WorkerLine& line);
WorkerLine parseWorkerLine(const std::string& line);

// quenvol-cli --copy-image FILE --drive PATH [--count N] [--create]: exit status of the last
// diskette.
int runCopyWorker(const Options& options);

}  // namespace cli
