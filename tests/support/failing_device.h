// A device wrapper that counts every transfer and can fail on purpose: a medium pulled out
// after N sectors, or sectors that will not take a write. Tests and benchmarks use it.
#pragma once

#include <cstdint>
#include <optional>
#include <set>

#include "base/result.h"
#include "fat/sector_device.h"

namespace fat {

class FailingDevice : public SectorDevice {
  public:
    enum class Mode {
        Fail,  // once the limit is reached every write fails; reads still work
        Stop,  // a write past the limit fails and so does every later call: a medium pulled out
    };

    explicit FailingDevice(SectorDevice& inner) : m_inner(&inner) {}

    // Lets `sectors` more sectors be written; the write that crosses the limit stores the
    // sectors below it and fails.
    void failAfterSectorsWritten(std::uint32_t sectors, Mode mode = Mode::Fail);
    // Makes writes and reads touching `sector` fail, as a damaged spot on the medium.
    void markBad(std::uint32_t sector) { m_bad.insert(sector); }
    // Lifts the limit and the bad sectors; the counters keep running.
    void heal();

    std::uint32_t writeCalls() const { return m_writeCalls; }
    std::uint64_t sectorsWritten() const { return m_sectorsWritten; }
    std::uint32_t readCalls() const { return m_readCalls; }
    std::uint64_t sectorsRead() const { return m_sectorsRead; }
    std::uint32_t flushCalls() const { return m_flushCalls; }
    void resetCounters();

    std::uint32_t sectorCount() const override { return m_inner->sectorCount(); }
    base::Status read(std::uint32_t first, std::uint32_t count, std::uint8_t* out) override;
    base::Status write(std::uint32_t first, std::uint32_t count, const std::uint8_t* in) override;
    base::Status flush() override;

  private:
    std::optional<std::uint32_t> firstBad(std::uint32_t first, std::uint32_t count) const;

    SectorDevice* m_inner;
    std::optional<std::uint64_t> m_limit;  // sectors that may still be written
    Mode m_mode = Mode::Fail;
    bool m_stopped = false;
    std::set<std::uint32_t> m_bad;
    std::uint32_t m_writeCalls = 0;
    std::uint64_t m_sectorsWritten = 0;
    std::uint32_t m_readCalls = 0;
    std::uint64_t m_sectorsRead = 0;
    std::uint32_t m_flushCalls = 0;
};

}  // namespace fat
