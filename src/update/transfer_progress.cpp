#include "update/transfer_progress.h"

namespace hv {
namespace {

constexpr uint32_t kPostIntervalMs = 120;

}  // namespace

void PublishPhaseStart(StatusBoard& board, UpdatePhase phase, uint64_t total) {
  board.Update([&](UpdateStatus& status) {
    status.phase = phase;
    status.progress = 0.0;
    status.bytes_done = 0;
    status.bytes_total = total;
  });
  board.PostStatusChanged();
}

void ReportTransferProgress(uint64_t bytes, void* user) {
  auto& progress = *static_cast<TransferProgress*>(user);
  progress.done += bytes;
  const uint32_t now = progress.clock->tick_ms();
  // Unsigned difference: correct across the tick's wrap-around.
  if (static_cast<uint32_t>(now - progress.last_post_tick) <= kPostIntervalMs) return;
  progress.last_post_tick = now;
  progress.board->Update([&](UpdateStatus& status) {
    status.bytes_done = progress.done;
    status.bytes_total = progress.total;
    status.progress = progress.total == 0 ? 0.0
                                          : static_cast<double>(progress.done) /
                                                static_cast<double>(progress.total);
  });
  progress.board->PostStatusChanged();
}

}  // namespace hv
