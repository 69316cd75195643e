// Drive A:'s rules that hold on every system: which sizes are diskettes, the faults a test
// installs and what this program wrote and flushed, and the transfers in terms of the raw
// reads, writes and flushes each system provides (posix/drive_a.cpp, win32/drive_a.cpp).
#include "platform/drive_a.h"

#include <algorithm>

#include "platform/drive_a_system.h"
#include "platform/drive_faults.h"
#include "platform/drive_format.h"

namespace platform {

using base::Failure;
using base::Result;
using base::Status;

namespace {

DriveFaults* g_faults = nullptr;

// Writes made since the last successful flush, in any session on drive A:.
bool g_unflushed = false;

// Writes made by any session, counted, and the count when the cache was last emptied of them:
// until the next write, every read returns what is on the medium, so a session that must read
// the medium drops the cache only when something was written since (or never before).
std::uint64_t g_writes = 0;
struct CacheDrop {
    std::uint64_t writes = 0;
    bool blockDevice = false;
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
};
std::optional<CacheDrop> g_lastDrop;

base::Error ioError(const char* what, std::uint64_t offset, const std::string& path) {
    return Status::failure(Failure::IoError, std::string(what) + " error at byte " +
                                                 std::to_string(offset) + " of drive A: (" + path +
                                                 "): " + drive_a::heldBackTransferText());
}

}  // namespace

namespace drive_a {

base::Error noDiskette(const std::string& path, const std::string& why) {
    return Status::failure(Failure::NoMedium, "no diskette in drive A: (" + path + " " + why + ")");
}

base::Error notDiskette(const std::string& path, const std::string& why) {
    return Status::failure(Failure::NotDiskette, "not a diskette: " + path + " " + why);
}

base::Error writeProtected(const std::string& path) {
    return Status::failure(Failure::WriteProtected, "write-protected: the diskette in drive A: (" +
                                                        path + ") cannot be written");
}

}  // namespace drive_a

ScopedDriveFaults::ScopedDriveFaults(DriveFaults& faults) : m_previous(g_faults) {
    g_faults = &faults;
}

ScopedDriveFaults::~ScopedDriveFaults() {
    g_faults = m_previous;
}

DriveFaults* currentDriveFaults() {
    return g_faults;
}

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

// The medium's size, which must be a diskette format's, and the layout that goes with it.
Status DriveA::measureMedium(const DriveOpenOptions& options) {
    if (m_blockDevice) {
        if (Status s = measureBlockDevice(options); !s) return s;
    } else if (!isDisketteSize(m_size)) {
        return drive_a::notDiskette(m_path, disketteSizeRefusal(m_size));
    }
    auto geometry = fat::geometryForSize(m_size);
    if (!geometry) return drive_a::notDiskette(m_path, geometry.message());
    m_geometry = *geometry;
    return Status::success();
}

Result<std::size_t> DriveA::readAt(std::uint64_t offset, void* out, std::size_t bytes) {
    if (offset >= m_size) return std::size_t{0};
    bytes = static_cast<std::size_t>(std::min<std::uint64_t>(bytes, m_size - offset));
    if (g_faults != nullptr && !g_faults->allowRead(offset, bytes)) {
        return ioError("read", offset, m_path);
    }
    if (m_dropBeforeRead && !dropCache()) {
        return Status::failure(
            Failure::IoError,
            "drive A: (" + m_path + ") could not be flushed, so it cannot be read past the cache");
    }
    Result<std::size_t> got = readMedium(offset, out, bytes);
    if (!got) return got;
    if (g_faults != nullptr) g_faults->wasRead(offset, *got, m_direct || m_dropBeforeRead);
    return got;
}

Result<std::size_t> DriveA::writeAt(std::uint64_t offset, const void* in, std::size_t bytes) {
    if (!m_writable) {
        if (m_openedForReading) {
            return Status::failure("drive A: (" + m_path + ") was opened for reading only");
        }
        return m_whyReadOnly.error();
    }
    // Cut at the end of the medium: an image file must never grow.
    if (offset >= m_size) return std::size_t{0};
    bytes = static_cast<std::size_t>(std::min<std::uint64_t>(bytes, m_size - offset));
    const std::size_t wanted = bytes;
    if (g_faults != nullptr) {
        bytes = std::min(bytes, g_faults->allowWrite(offset, bytes).value_or(bytes));
        if (bytes == 0 && wanted > 0) return ioError("write", offset, m_path);
    }
    Result<std::size_t> put = std::size_t{0};
    {
        const DriveLock hold(*this);
        if (!hold.status()) return hold.status().error();
        put = writeHeld(offset, in, bytes);
    }
    if (!put) return put;
    const std::size_t n = *put;
    if (n > 0) {
        g_unflushed = true;
        ++g_writes;
    }
    if (g_faults != nullptr && n > 0) g_faults->written(offset, in, n);
    if (bytes < wanted) return ioError("write", offset + bytes, m_path);
    return n;
}

Status DriveA::flush() {
    if (g_faults != nullptr && !g_faults->allowFlush()) {
        return Status::failure(
            Failure::IoError,
            "drive A: (" + m_path + ") could not be flushed: " + drive_a::heldBackFlushText());
    }
    if (Status s = flushMedium(); !s) return s;
    g_unflushed = false;
    if (g_faults != nullptr) g_faults->flushed();
    return Status::success();
}

bool DriveA::hasUnflushedWrites() {
    return g_unflushed;
}

bool DriveA::dropCache() {
    const CacheDrop now{g_writes, m_blockDevice, m_device, m_inode};
    const bool dropped = g_lastDrop && g_lastDrop->writes == now.writes &&
                         g_lastDrop->blockDevice == now.blockDevice &&
                         g_lastDrop->device == now.device && g_lastDrop->inode == now.inode;
    if (dropped) return true;
    // Dirty pages are not dropped, so what is not yet flushed is written first.
    if (g_unflushed && (g_faults == nullptr || g_faults->allowFlush()) && flushAnyHandle()) {
        g_unflushed = false;
        if (g_faults != nullptr) g_faults->flushed();
    }
    forgetCachedPages();
    if (g_faults != nullptr) g_faults->cacheDropped();
    if (g_unflushed) return false;
    g_lastDrop = now;
    return true;
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
