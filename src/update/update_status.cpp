#include "update/update_status.h"

namespace hv {

UpdateStatus StatusBoard::Snapshot() const {
  std::lock_guard<std::mutex> guard(lock_);
  return status_;
}

void StatusBoard::SetNotifier(StatusNotifier notifier) {
  std::lock_guard<std::mutex> guard(lock_);
  notifier_ = std::move(notifier);
}

void StatusBoard::PostStatusChanged() const {
  StatusNotifier notifier;
  {
    std::lock_guard<std::mutex> guard(lock_);
    notifier = notifier_;
  }
  if (notifier) notifier();
}

void StatusBoard::ReportFailure(UpdateError code, std::u16string detail) {
  Update([&](UpdateStatus& status) {
    status.phase = UpdatePhase::Failed;
    status.error_code = code;
    status.error_detail = std::move(detail);
  });
  PostStatusChanged();
}

}  // namespace hv
