// Byte progress of hashing and downloading, published into the status record at most once per
// 120 ms so that the interface repaints about eight times a second, never on every chunk.
#pragma once

#include <cstdint>

#include "core/clock.h"
#include "update/update_status.h"

namespace hv {

struct TransferProgress {
  uint64_t done = 0;   // bytes processed so far in this phase
  uint64_t total = 0;  // bytes to process in this phase
  uint32_t last_post_tick = 0;
  StatusBoard* board = nullptr;
  const Clock* clock = nullptr;
};

// Publishes the start of a phase with byte progress (hashing, downloading) and posts.
void PublishPhaseStart(StatusBoard& board, UpdatePhase phase, uint64_t total);

// A ProgressCallback; user is the TransferProgress. Adds bytes; publishes bytes_done,
// bytes_total and progress (not the phase) and posts when more than 120 ms passed since the
// last publication. The last chunk of a phase is therefore not necessarily published.
void ReportTransferProgress(uint64_t bytes, void* user);

}  // namespace hv
