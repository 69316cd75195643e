#include "support/memory_device.h"

#include <cstring>
#include <fstream>
#include <iterator>

namespace fat {

using base::Failure;
using base::Result;
using base::Status;

MemoryDevice::MemoryDevice(std::uint32_t sectors) : m_bytes(std::size_t{sectors} * kSectorSize) {}

MemoryDevice::MemoryDevice(std::vector<std::uint8_t> image) : m_bytes(std::move(image)) {
    m_bytes.resize(m_bytes.size() / kSectorSize * kSectorSize);
}

Result<MemoryDevice> MemoryDevice::loadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return Status::failure("cannot open image " + path);
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                    std::istreambuf_iterator<char>());
    if (in.bad()) return Status::failure("cannot read image " + path);
    return MemoryDevice(std::move(bytes));
}

Status MemoryDevice::saveFile(const std::string& path) const {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) return Status::failure("cannot create image " + path);
    out.write(reinterpret_cast<const char*>(m_bytes.data()),
              static_cast<std::streamsize>(m_bytes.size()));
    out.close();
    if (!out) return Status::failure("cannot write image " + path);
    return Status::success();
}

std::uint32_t MemoryDevice::sectorCount() const {
    return static_cast<std::uint32_t>(m_bytes.size() / kSectorSize);
}

Status MemoryDevice::checkRange(const char* what, std::uint32_t first, std::uint32_t count) const {
    if (std::uint64_t{first} + count > sectorCount()) {
        return Status::failure(Failure::BadData,
                               std::string(what) + " of sectors " + std::to_string(first) + ".." +
                                   std::to_string(std::uint64_t{first} + count) +
                                   " past the end of a " + std::to_string(sectorCount()) +
                                   "-sector image");
    }
    return Status::success();
}

Status MemoryDevice::read(std::uint32_t first, std::uint32_t count, std::uint8_t* out) {
    if (Status s = checkRange("read", first, count); !s) return s;
    if (count)
        std::memcpy(out, m_bytes.data() + std::size_t{first} * kSectorSize, count * kSectorSize);
    return Status::success();
}

Status MemoryDevice::write(std::uint32_t first, std::uint32_t count, const std::uint8_t* in) {
    if (Status s = checkRange("write", first, count); !s) return s;
    if (count)
        std::memcpy(m_bytes.data() + std::size_t{first} * kSectorSize, in, count * kSectorSize);
    return Status::success();
}

}  // namespace fat
