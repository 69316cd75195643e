// The time a directory entry records. DOS stamps entries in the local time of the machine that
// writes them; which time zone that is, is the system's knowledge, so fat/ is handed a clock
// that answers it rather than asking the system itself.
#pragma once

#include <ctime>
#include <optional>

namespace fat {

// A moment as the calendar on the wall shows it.
struct LocalTime {
    long long year = 1970;  // e.g. 2024
    int month = 1;          // 1..12
    int day = 1;            // 1..31
    int hour = 0;           // 0..23
    int minute = 0;         // 0..59
    int second = 0;         // 0..60, 60 for a leap second
};

class LocalClock {
  public:
    virtual ~LocalClock() = default;
    // The local time of `when`; none when the system cannot tell it.
    virtual std::optional<LocalTime> localTime(std::time_t when) const = 0;
};

// Coordinated universal time, worked out without the system: for tests, and for volumes that
// are only read.
const LocalClock& utcClock();

}  // namespace fat
