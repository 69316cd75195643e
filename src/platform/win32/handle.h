// NativeHandle as a HANDLE. Only platform/win32/ includes this (it needs windows.h first).
#pragma once

#include <windows.h>

#include "platform/native_handle.h"

namespace platform::win32 {

inline HANDLE handleOf(NativeHandle handle) {
    return handle.valid() ? reinterpret_cast<HANDLE>(handle.value) : INVALID_HANDLE_VALUE;
}

// A failed open's INVALID_HANDLE_VALUE (and a null handle) is no handle.
inline NativeHandle nativeOf(HANDLE handle) {
    if (handle == INVALID_HANDLE_VALUE || handle == nullptr) return NativeHandle{};
    return NativeHandle{reinterpret_cast<std::intptr_t>(handle)};
}

}  // namespace platform::win32
