// The same diskette in several drives at once (--drive given twice or more, --all-drives,
// --retry-failed). The project is checked, staged and built once, into a private image, by
// the one-drive build; then one worker process per drive writes that image to its drive, reads
// it back past the cache and compares it, all at once. A drive that fails ends alone; the
// others go on. Each drive's diskettes are logged and reported apart; the drives that failed
// are kept for --retry-failed.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "build/build_record.h"
#include "cli/cli_options.h"

namespace cli {

// The one-drive build of `options` (drive A: a new image file), without the question before
// drive A: is erased: its exit status, and its record in `record`.
using BuildOnce = std::function<int(const Options& options, build::Record& record)>;

int runOnSeveralDrives(const Options& options, const BuildOnce& buildOnce);

// The file that lists the drives that failed in the last run on several drives, one path a
// line: in the state folder, beside the build log; empty when no state folder is known.
std::string failedDrivesPath();

// The exit status of a run on several drives from each drive's: 0 when all succeeded,
// kExitSomeDrivesFailed when some did, else the drives' own status when they failed alike, or 1.
int statusOfDrives(const std::vector<int>& statuses);

}  // namespace cli
