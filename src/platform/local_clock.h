// The system's local time, for the stamps of files written to drive A:.
#pragma once

#include "fat/clock.h"

namespace platform {

const fat::LocalClock& localClock();

}  // namespace platform
