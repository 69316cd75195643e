// A seam for tests of whole builds, apart from the stand-ins under the system's names so that
// each system's drive A: can serve it (device_hooks.h includes it for everyone else).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace platform {

// A seam for tests of whole builds: while a ScopedDriveFaults lives, every transfer on drive A:
// itself (file copies, formatting, the raw volume) asks it first. It can only hold a transfer
// back, as a failing medium would, never carry one out. Afterwards it is told what reached the
// drive, so that a test or the benchmark can record a build's writes, flushes and reads.
class DriveFaults {
  public:
    virtual ~DriveFaults() = default;
    // How many leading bytes of a write at `offset` reach the medium; nullopt lets all through.
    // A write cut short fails with an I/O error.
    virtual std::optional<std::size_t> allowWrite(std::uint64_t /*offset*/, std::size_t /*bytes*/) {
        return std::nullopt;
    }
    // false: the read, or the flush, fails with an I/O error.
    virtual bool allowRead(std::uint64_t /*offset*/, std::size_t /*bytes*/) { return true; }
    virtual bool allowFlush() { return true; }

    // `bytes` bytes were written at `offset` (into the host's cache, not yet durable).
    virtual void written(std::uint64_t /*offset*/, const void* /*data*/, std::size_t /*bytes*/) {}
    // Every write before it is durable.
    virtual void flushed() {}
    // A read; `pastCache` when what it returns is what is on the medium: read with the cache
    // bypassed, or with the cache holding nothing this program wrote since it was dropped.
    virtual void wasRead(std::uint64_t /*offset*/, std::size_t /*bytes*/, bool /*pastCache*/) {}
    // The host's cache of the drive was emptied: the next reads go to the medium.
    virtual void cacheDropped() {}
};

// Installs faults for its lifetime; scopes nest, the innermost serving.
class ScopedDriveFaults {
  public:
    explicit ScopedDriveFaults(DriveFaults& faults);
    ~ScopedDriveFaults();
    ScopedDriveFaults(const ScopedDriveFaults&) = delete;
    ScopedDriveFaults& operator=(const ScopedDriveFaults&) = delete;

  private:
    DriveFaults* m_previous;
};

// The faults in force, or null.
DriveFaults* currentDriveFaults();

}  // namespace platform
