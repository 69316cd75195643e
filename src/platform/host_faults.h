// The host side's test seam, apart from the drive's stand-ins so that the system's own files of
// either system can see it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "base/result.h"

namespace platform {

// A seam for tests of the host side: while a ScopedHostFaults lives, every write into a file of
// the host (staging copies, the settings file) asks it first, as a full or failing file system
// would answer. It can only cut a write short, never carry one out.
class HostFaults {
  public:
    virtual ~HostFaults() = default;
    // How many leading bytes of a write of `bytes` at `offset` into `path` reach the file;
    // nullopt lets all through. A write that gets no byte through fails with error().
    virtual std::optional<std::size_t> allowWrite(const std::string& /*path*/,
                                                  std::uint64_t /*offset*/, std::size_t /*bytes*/) {
        return std::nullopt;
    }
    // The kind of that failure: NoRoom unless a test says otherwise. The failure's detail is
    // the system's own wording of it.
    virtual base::Failure error() const;
};

class ScopedHostFaults {
  public:
    explicit ScopedHostFaults(HostFaults& faults);
    ~ScopedHostFaults();
    ScopedHostFaults(const ScopedHostFaults&) = delete;
    ScopedHostFaults& operator=(const ScopedHostFaults&) = delete;

  private:
    HostFaults* m_previous;
};

// The faults in force, or null.
HostFaults* currentHostFaults();

}  // namespace platform
