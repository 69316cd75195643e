// An open file, folder or device as the system knows it: a descriptor on POSIX systems, the
// bits of a HANDLE on Windows. Shared headers keep one without looking inside; only the
// system's own folder (posix/, win32/) makes one or passes it to the system.
#pragma once

#include <cstdint>

namespace platform {

struct NativeHandle {
    std::intptr_t value = -1;  // -1: none, on either system
    bool valid() const { return value != -1; }
    bool operator==(const NativeHandle&) const = default;
};

}  // namespace platform
