#include <windows.h>

#include "core/clock.h"

namespace hv {

Clock SystemClock() {
  return {[] { return static_cast<uint32_t>(GetTickCount()); },
          [] {
            SYSTEMTIME now;
            GetLocalTime(&now);
            return LocalTime{now.wYear, now.wMonth,  now.wDayOfWeek, now.wDay,
                             now.wHour, now.wMinute, now.wSecond,    now.wMilliseconds};
          }};
}

}  // namespace hv
