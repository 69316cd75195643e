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
#include "platform/drive_faults.h"
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

}  // namespace platform
