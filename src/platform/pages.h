// Memory blocks straight from the system, for the memory-block calls (VirtualAlloc); each
// system provides them in its own folder.
#pragma once

#include <cstddef>

namespace platform {

// `bytes` bytes of fresh pages, zero-filled and page-aligned; null when there is no room.
void* mapPages(std::size_t bytes);
// Gives back what mapPages returned, whole.
void unmapPages(void* block, std::size_t bytes);

}  // namespace platform
