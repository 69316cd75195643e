#include "platform/host_faults.h"

namespace platform {
namespace {

HostFaults* g_hostFaults = nullptr;

}  // namespace

base::Failure HostFaults::error() const {
    return base::Failure::NoRoom;
}

ScopedHostFaults::ScopedHostFaults(HostFaults& faults) : m_previous(g_hostFaults) {
    g_hostFaults = &faults;
}

ScopedHostFaults::~ScopedHostFaults() {
    g_hostFaults = m_previous;
}

HostFaults* currentHostFaults() {
    return g_hostFaults;
}

}  // namespace platform
