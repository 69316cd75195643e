// Transfers on open handles that the platform's files share on Windows.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>

#include "base/result.h"

namespace platform::win32 {

// Writes all of `bytes` to the open file `file` (named `path` in failures), as HostFile::write;
// the host faults in force are asked first.
base::Status writeAll(HANDLE file, const std::string& path, const void* in, std::size_t bytes);

// Reads up to `bytes` from the current position, as HostFile::read: fewer only at the end.
base::Result<std::size_t> readSome(HANDLE file, const std::string& path, void* out,
                                   std::size_t bytes);

// The regular file at `path`, opened for `access` with `disposition`, never through a reparse
// point and never a folder or a device; `why` is set to the reason on failure (the system's
// wording, or "it is not a regular file").
HANDLE openRegular(const std::string& path, DWORD access, DWORD share, DWORD disposition,
                   DWORD flags, std::string& why, DWORD* error = nullptr);

}  // namespace platform::win32
