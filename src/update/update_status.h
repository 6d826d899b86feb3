// The shared record of what the update worker is doing, the one lock that guards it, and the
// notification that tells the interface to repaint. The worker writes; the interface only reads
// copies taken with Snapshot().
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "core/clock.h"

namespace hv {

enum class UpdatePhase : int32_t {
  Preparing = 0,       // nothing published yet
  Checking = 1,        // loading the installed manifest, asking the server
  Verifying = 2,       // comparing installed files with a manifest (hashing progress)
  Downloading = 3,     // fetching into the staging folder (byte progress)
  Installing = 4,      // moving staged files into the client folder (file progress)
  UpToDate = 5,        // the server's manifest was accepted and the client matches the target
  UsingInstalled = 6,  // no usable server manifest, or a failed update, but the client verifies
  Failed = 7,          // no usable result; error_code says why
  Restoring = 8,       // bringing the previous version back from the backup folder
};

enum class UpdateError : int32_t {
  NoError = 0,
  NoConnectionNoClient = 1,
  InvalidManifest = 2,
  ConnectionDropped = 3,
  DownloadAltered = 4,
  DiskSpace = 5,
  ClientRunning = 6,
  ReplaceFailed = 7,
  RestoreFailed = 9,
};

enum class WorkerMode : uint8_t { UpdateRun = 0, RestoreRun = 1 };

// Posted to the main window after each visible change; it carries nothing.
constexpr uint32_t kStatusChangedMessage = 0x8001;  // WM_APP + 1

struct UpdateStatus {
  UpdatePhase phase = UpdatePhase::Preparing;
  double progress = 0.0;  // of the current phase, 0.0 to 1.0
  uint64_t bytes_done = 0;
  uint64_t bytes_total = 0;
  UpdateError error_code = UpdateError::NoError;
  std::u16string error_detail;
  std::string installed_version;
  std::string remote_version;
  std::string remote_min_version;
  bool ready = false;  // a verified, usable client: Play is allowed
  bool has_previous = false;
  std::string previous_version;
  bool pinned = false;
  bool launcher_outdated = false;
  std::u16string privacy_url;
  std::u16string notes_pt;
  std::u16string notes_en;
  std::u16string exe;
  LocalTime last_check;
  uint64_t file_count = 0;
};

// Wakes the interface; on Windows it posts kStatusChangedMessage to the main window.
using StatusNotifier = std::function<void()>;

class StatusBoard {
 public:
  UpdateStatus Snapshot() const;

  // Runs change on the record under the lock. Keep it to field writes: no I/O, no posting.
  template <typename Change>
  void Update(Change&& change) {
    std::lock_guard<std::mutex> guard(lock_);
    change(status_);
  }

  void SetNotifier(StatusNotifier notifier);
  // Calls the notifier, if any, outside the lock.
  void PostStatusChanged() const;
  // phase Failed with the code and detail; ready stays as it is. Posts.
  void ReportFailure(UpdateError code, std::u16string detail);

 private:
  mutable std::mutex lock_;
  UpdateStatus status_;
  StatusNotifier notifier_;
};

}  // namespace hv
