#include "platform/local_clock.h"

#include <windows.h>

namespace platform {

namespace {

// The local time of any moment, by the time-zone rules in force at it; GetLocalTime gives the
// same for the present.
class SystemClock final : public fat::LocalClock {
  public:
    std::optional<fat::LocalTime> localTime(std::time_t when) const override {
        // FILETIME counts 100 ns from 1601-01-01; time_t counts seconds from 1970-01-01.
        constexpr long long kEpochGap = 11644473600LL;
        if (when < -kEpochGap) return std::nullopt;
        const auto ticks = static_cast<unsigned long long>(when + kEpochGap) * 10000000ULL;
        FILETIME utc{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
        SYSTEMTIME universal{};
        SYSTEMTIME local{};
        if (!FileTimeToSystemTime(&utc, &universal) ||
            !SystemTimeToTzSpecificLocalTime(nullptr, &universal, &local)) {
            return std::nullopt;
        }
        return fat::LocalTime{local.wYear, local.wMonth,  local.wDay,
                              local.wHour, local.wMinute, local.wSecond};
    }
};

}  // namespace

const fat::LocalClock& localClock() {
    static const SystemClock clock;
    return clock;
}

}  // namespace platform
