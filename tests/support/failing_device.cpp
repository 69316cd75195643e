#include "support/failing_device.h"

#include <algorithm>
#include <string>

namespace fat {

using base::Failure;
using base::Result;
using base::Status;

void FailingDevice::failAfterSectorsWritten(std::uint32_t sectors, Mode mode) {
    m_limit = sectors;
    m_mode = mode;
    m_stopped = false;
}

void FailingDevice::heal() {
    m_limit.reset();
    m_bad.clear();
    m_stopped = false;
}

void FailingDevice::resetCounters() {
    m_writeCalls = 0;
    m_sectorsWritten = 0;
    m_readCalls = 0;
    m_sectorsRead = 0;
    m_flushCalls = 0;
}

std::optional<std::uint32_t> FailingDevice::firstBad(std::uint32_t first,
                                                     std::uint32_t count) const {
    auto it = m_bad.lower_bound(first);
    if (it != m_bad.end() && std::uint64_t{*it} < std::uint64_t{first} + count) return *it;
    return std::nullopt;
}

Status FailingDevice::read(std::uint32_t first, std::uint32_t count, std::uint8_t* out) {
    ++m_readCalls;
    if (m_stopped) {
        return Status::failure(Failure::IoError,
                               "read of sector " + std::to_string(first) + ": no medium");
    }
    if (auto bad = firstBad(first, count)) {
        return Status::failure(Failure::IoError,
                               "read of sector " + std::to_string(*bad) + " failed");
    }
    Status s = m_inner->read(first, count, out);
    if (s) m_sectorsRead += count;
    return s;
}

Status FailingDevice::write(std::uint32_t first, std::uint32_t count, const std::uint8_t* in) {
    ++m_writeCalls;
    if (m_stopped) {
        return Status::failure(Failure::IoError,
                               "write of sector " + std::to_string(first) + ": no medium");
    }
    std::uint64_t allowed = count;
    if (m_limit) allowed = std::min<std::uint64_t>(allowed, *m_limit);
    if (auto bad = firstBad(first, count)) allowed = std::min<std::uint64_t>(allowed, *bad - first);
    if (allowed > 0) {
        if (Status s = m_inner->write(first, static_cast<std::uint32_t>(allowed), in); !s) return s;
        m_sectorsWritten += allowed;
        if (m_limit) *m_limit -= allowed;
    }
    if (allowed < count) {
        if (m_mode == Mode::Stop && m_limit && *m_limit == 0) m_stopped = true;
        return Status::failure(Failure::IoError,
                               "write of sector " + std::to_string(first + allowed) + " failed");
    }
    return Status::success();
}

Status FailingDevice::flush() {
    ++m_flushCalls;
    if (m_stopped) return Status::failure(Failure::IoError, "flush: no medium");
    return m_inner->flush();
}

}  // namespace fat
