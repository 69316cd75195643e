// A seam for tests of the sector class: while a ScopedDeviceHooks lives, every call on the two
// diskette devices ("\\.\a:" and "\\.\vwin32") is shown to the hooks first, in order. A hook
// that answers (returns a value) replaces the device's own answer; one that returns nullopt
// lets the device act as usual. A hook never reaches the medium itself, so the safety checks
// of drive A: stay in force whatever a hook does.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "base/result.h"
#include "platform/host_faults.h"
#include "platform/winapi.h"

namespace platform {

enum class DeviceKind { RawVolume, Vwin32 };

class DeviceHooks {
  public:
    virtual ~DeviceHooks() = default;
    // true: a handle to a stand-in device that only the hooks serve (nothing is opened);
    // false: the open fails.
    virtual std::optional<bool> onOpen(DeviceKind) { return std::nullopt; }
    // `registers` is the record of a BIOS call (in and out), null for the volume codes.
    virtual std::optional<BOOL> onControl(DeviceKind, DWORD /*code*/,
                                          DIOC_REGISTERS* /*registers*/) {
        return std::nullopt;
    }
    virtual std::optional<BOOL> onRead(LPVOID /*buffer*/, DWORD /*requested*/, DWORD* /*done*/) {
        return std::nullopt;
    }
    virtual std::optional<BOOL> onWrite(LPCVOID /*buffer*/, DWORD /*requested*/, DWORD* /*done*/) {
        return std::nullopt;
    }
    virtual void onClose(DeviceKind) {}
};

// Installs hooks for its lifetime; scopes nest, the innermost serving.
class ScopedDeviceHooks {
  public:
    explicit ScopedDeviceHooks(DeviceHooks& hooks);
    ~ScopedDeviceHooks();
    ScopedDeviceHooks(const ScopedDeviceHooks&) = delete;
    ScopedDeviceHooks& operator=(const ScopedDeviceHooks&) = delete;

  private:
    DeviceHooks* m_previous;
};

// The hooks in force, or null.
DeviceHooks* currentDeviceHooks();

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
