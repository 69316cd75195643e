// NativeHandle as a file descriptor.
#pragma once

#include "platform/native_handle.h"

namespace platform::posix {

inline int descriptor(NativeHandle handle) {
    return static_cast<int>(handle.value);
}

// A descriptor as a handle; a failed open's -1 is no handle.
inline NativeHandle handleOf(int fd) {
    return NativeHandle{fd < 0 ? -1 : fd};
}

}  // namespace platform::posix
