// The request to stop the current update run: one shared 32-bit flag, nonzero meaning "stop".
// Set by the interface thread, read between chunks by every network, hashing and download loop.
// A relaxed load is enough: a stop request only has to be seen within one chunk.
#pragma once

#include <atomic>
#include <cstdint>

namespace hv {

using CancelFlag = std::atomic<int32_t>;

inline bool IsCancelled(const CancelFlag* flag) {
  return flag && flag->load(std::memory_order_relaxed) != 0;
}

}  // namespace hv
