// The system's error numbers as failures: the one map from errno to base::Failure, for every
// call of platform/ that reports one.
#pragma once

#include <string>

#include "base/result.h"

namespace platform::posix {

// Permission (EACCES, EPERM), no room (a full file system or quota), an I/O error; Other
// for the rest. Drive A:'s own refusals (no medium, write protection, busy) are worded
// where the drive is opened, with the kind that goes with each.
base::Failure failureOf(int error);

// The error number that stands for a failure of `kind` (a test's fault, told as a kind): the
// inverse of failureOf where it has one, EIO otherwise.
int errnoFor(base::Failure kind);

// A failure of the kind `error` is, with `detail` for people.
base::Error systemError(int error, std::string detail);

// `what` and the system's reason for the current errno: "<what>: <strerror>".
base::Error failedBecause(const std::string& what);

}  // namespace platform::posix
