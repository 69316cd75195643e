#include "platform/pages.h"

#include <sys/mman.h>

namespace platform {

void* mapPages(std::size_t bytes) {
    void* block =
        ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return block == MAP_FAILED ? nullptr : block;
}

void unmapPages(void* block, std::size_t bytes) {
    ::munmap(block, bytes);
}

}  // namespace platform
