#include "fat/clock.h"

#include <chrono>

namespace fat {

namespace {

class UtcClock final : public LocalClock {
  public:
    std::optional<LocalTime> localTime(std::time_t when) const override {
        using namespace std::chrono;
        // Years 1 to 9999 only: the calendar types hold no more, and a stamp far less.
        const long long at = when;  // 32 bits wide on some systems
        if (at < -62'135'596'800LL || at > 253'402'300'799LL) return std::nullopt;
        const seconds since{at};
        const sys_days day = floor<days>(sys_seconds{since});
        const year_month_day date{day};
        const hh_mm_ss<seconds> time{since - day.time_since_epoch()};
        LocalTime t;
        t.year = int{date.year()};
        t.month = static_cast<int>(unsigned{date.month()});
        t.day = static_cast<int>(unsigned{date.day()});
        t.hour = static_cast<int>(time.hours().count());
        t.minute = static_cast<int>(time.minutes().count());
        t.second = static_cast<int>(time.seconds().count());
        return t;
    }
};

}  // namespace

const LocalClock& utcClock() {
    static const UtcClock clock;
    return clock;
}

}  // namespace fat
