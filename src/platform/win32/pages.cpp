#include "platform/pages.h"

#include <windows.h>

namespace platform {

void* mapPages(std::size_t bytes) {
    return VirtualAlloc(nullptr, bytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
}

void unmapPages(void* block, std::size_t) {
    // A reservation goes back whole: the size must be 0.
    if (block != nullptr) VirtualFree(block, 0, MEM_RELEASE);
}

}  // namespace platform
