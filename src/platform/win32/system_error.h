// The system's error codes as failures: the one map from GetLastError() to base::Failure, for
// every call of platform/ that reports one on Windows.
#pragma once

#include <string>

#include "base/result.h"

namespace platform::win32 {

// Permission (access denied, sharing and lock violations are not: they are Busy), no room (a
// full disk), no medium, write protection, an I/O error (CRC, sector not found, seek); Other
// for the rest.
base::Failure failureOf(unsigned long error);

// The error code that stands for a failure of `kind` (a test's fault, told as a kind): the
// inverse of failureOf where it has one, a write fault otherwise.
unsigned long errorFor(base::Failure kind);

// The system's message for `error`, one line without its trailing full stop and line break;
// "error N" when the system has none.
std::string messageOf(unsigned long error);

// A failure of the kind `error` is, with `detail` for people.
base::Error systemError(unsigned long error, std::string detail);

// `what` and the system's reason for GetLastError(): "<what>: <message>".
base::Error failedBecause(const std::string& what);

}  // namespace platform::win32
