#include "platform/local_clock.h"

#include <ctime>

namespace platform {

namespace {

class SystemClock final : public fat::LocalClock {
  public:
    std::optional<fat::LocalTime> localTime(std::time_t when) const override {
        std::tm tm{};
        if (localtime_r(&when, &tm) == nullptr) return std::nullopt;
        return fat::LocalTime{tm.tm_year + 1900LL, tm.tm_mon + 1, tm.tm_mday,
                              tm.tm_hour,          tm.tm_min,     tm.tm_sec};
    }
};

}  // namespace

const fat::LocalClock& localClock() {
    static const SystemClock clock;
    return clock;
}

}  // namespace platform
