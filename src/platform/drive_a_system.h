// What drive A:'s portable rules (drive_a.cpp) and each system's calls (posix/drive_a.cpp,
// win32/drive_a.cpp) share: the refusals both word alike, and the system's own words for a
// failing medium.
#pragma once

#include <string>

#include "base/result.h"

namespace platform::drive_a {

base::Error noDiskette(const std::string& path, const std::string& why);
base::Error notDiskette(const std::string& path, const std::string& why);
base::Error writeProtected(const std::string& path);

// The system's message for a failing medium, where a test's faults hold back a transfer or a
// flush, so that the refusal reads as the system's own would.
std::string heldBackTransferText();
std::string heldBackFlushText();

}  // namespace platform::drive_a
