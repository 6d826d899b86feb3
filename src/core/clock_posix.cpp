#include <time.h>

#include "core/clock.h"

namespace hv {

Clock SystemClock() {
  return {[] {
            timespec now;
            clock_gettime(CLOCK_MONOTONIC, &now);
            return static_cast<uint32_t>(static_cast<uint64_t>(now.tv_sec) * 1000u +
                                         static_cast<uint64_t>(now.tv_nsec) / 1000000u);
          },
          [] {
            timespec now;
            clock_gettime(CLOCK_REALTIME, &now);
            tm local;
            localtime_r(&now.tv_sec, &local);
            return LocalTime{static_cast<uint16_t>(local.tm_year + 1900),
                             static_cast<uint16_t>(local.tm_mon + 1),
                             static_cast<uint16_t>(local.tm_wday),
                             static_cast<uint16_t>(local.tm_mday),
                             static_cast<uint16_t>(local.tm_hour),
                             static_cast<uint16_t>(local.tm_min),
                             static_cast<uint16_t>(local.tm_sec),
                             static_cast<uint16_t>(now.tv_nsec / 1000000)};
          }};
}

}  // namespace hv
