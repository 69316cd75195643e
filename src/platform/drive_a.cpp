// Drive A:'s rules that hold on every system: which sizes are diskettes, and sector transfers
// in terms of the byte transfers each system provides (posix/drive_a.cpp).
#include "platform/drive_a.h"

namespace platform {

using base::Failure;
using base::Status;

bool isDisketteSize(std::uint64_t bytes) {
    if (bytes == 0 || bytes > kLargestDisketteBytes || bytes % fat::kSectorSize != 0) return false;
    return fat::geometryForSize(bytes).ok();
}

std::uint32_t DriveA::sectorCount() const {
    return static_cast<std::uint32_t>(m_size / fat::kSectorSize);
}

Status DriveA::transferCheck(std::uint32_t first, std::uint32_t count) const {
    if (count == 0 || first >= sectorCount() || count > sectorCount() - first) {
        return Status::failure(Failure::BadData, "sectors " + std::to_string(first) + " to " +
                                                     std::to_string(std::uint64_t{first} + count) +
                                                     " lie outside the diskette in drive A: (" +
                                                     std::to_string(sectorCount()) + " sectors)");
    }
    return Status::success();
}

Status DriveA::read(std::uint32_t first, std::uint32_t count, std::uint8_t* out) {
    Status range = transferCheck(first, count);
    if (!range) return range;
    std::size_t bytes = std::size_t{count} * fat::kSectorSize;
    auto got = readAt(std::uint64_t{first} * fat::kSectorSize, out, bytes);
    if (!got) return got.error();
    if (*got != bytes) {
        return Status::failure(Failure::IoError, "short read at sector " + std::to_string(first) +
                                                     " of drive A: (" + std::to_string(*got) +
                                                     " of " + std::to_string(bytes) + " bytes)");
    }
    return Status::success();
}

Status DriveA::write(std::uint32_t first, std::uint32_t count, const std::uint8_t* in) {
    Status range = transferCheck(first, count);
    if (!range) return range;
    std::size_t bytes = std::size_t{count} * fat::kSectorSize;
    auto put = writeAt(std::uint64_t{first} * fat::kSectorSize, in, bytes);
    if (!put) return put.error();
    if (*put != bytes) {
        return Status::failure(Failure::IoError, "short write at sector " + std::to_string(first) +
                                                     " of drive A: (" + std::to_string(*put) +
                                                     " of " + std::to_string(bytes) + " bytes)");
    }
    return Status::success();
}

DriveLock::DriveLock(DriveA& drive) : m_drive(drive) {
    if (drive.locked()) return;
    m_status = drive.lock();
    m_took = m_status.ok();
}

DriveLock::~DriveLock() {
    if (m_took) m_drive.unlock();
}

}  // namespace platform
