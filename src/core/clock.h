// Time as the engine sees it: a wrapping millisecond tick for throttling, and the local calendar
// time shown as "last check". Tests supply their own.
#pragma once

#include <cstdint>
#include <functional>

namespace hv {

struct LocalTime {
  uint16_t year = 0, month = 0, day_of_week = 0, day = 0;
  uint16_t hour = 0, minute = 0, second = 0, millisecond = 0;
};

struct Clock {
  std::function<uint32_t()> tick_ms;  // milliseconds, wrapping at 2^32
  std::function<LocalTime()> local_time;
};

// Windows: GetTickCount, GetLocalTime. POSIX: the monotonic clock, localtime_r.
Clock SystemClock();

}  // namespace hv
