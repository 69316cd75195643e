// Transfers on open descriptors that the platform's files share.
#pragma once

#include <cstddef>
#include <string>

#include "base/result.h"

namespace platform {

// Writes all of `bytes` to the open file `fd` (named `path` in failures), as HostFile::write.
base::Status writeAll(int fd, const std::string& path, const void* in, std::size_t bytes);

}  // namespace platform
