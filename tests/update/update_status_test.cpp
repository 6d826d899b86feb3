#include "update/update_status.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <thread>

#include "update/update_worker.h"

namespace hv {
namespace {

bool WaitUntilIdle(const UpdateWorker& worker) {
  for (int i = 0; i < 500 && worker.IsRunning(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return !worker.IsRunning();
}

TEST(StatusBoard, StartsPreparingWithEverythingEmpty) {
  const StatusBoard board;
  const UpdateStatus status = board.Snapshot();
  EXPECT_EQ(status.phase, UpdatePhase::Preparing);
  EXPECT_EQ(status.error_code, UpdateError::NoError);
  EXPECT_EQ(status.progress, 0.0);
  EXPECT_EQ(status.bytes_done + status.bytes_total + status.file_count, 0u);
  EXPECT_FALSE(status.ready || status.has_previous || status.pinned || status.launcher_outdated);
  EXPECT_TRUE(status.error_detail.empty() && status.installed_version.empty() &&
              status.remote_version.empty() && status.exe.empty() && status.notes_pt.empty());
  EXPECT_EQ(status.last_check.year, 0);
}

TEST(StatusBoard, ReportFailureChangesOnlyPhaseCodeAndDetailAndPosts) {
  StatusBoard board;
  int posts = 0;
  board.SetNotifier([&posts] { ++posts; });
  board.Update([](UpdateStatus& status) {
    status.phase = UpdatePhase::Downloading;
    status.ready = true;
    status.installed_version = "2.0";
    status.progress = 0.5;
  });
  board.ReportFailure(UpdateError::DiskSpace, u"2.06 GB");
  const UpdateStatus status = board.Snapshot();
  EXPECT_EQ(status.phase, UpdatePhase::Failed);
  EXPECT_EQ(status.error_code, UpdateError::DiskSpace);
  EXPECT_EQ(status.error_detail, u"2.06 GB");
  EXPECT_TRUE(status.ready);
  EXPECT_EQ(status.installed_version, "2.0");
  EXPECT_EQ(status.progress, 0.5);
  EXPECT_EQ(posts, 1);
}

// A run that waits until the test lets it finish.
class GatedRun {
 public:
  void operator()(WorkerMode mode, const CancelFlag& cancel) {
    std::unique_lock<std::mutex> lock(mutex_);
    modes_seen.push_back(mode);
    started_ = true;
    changed_.notify_all();
    changed_.wait(lock, [&] { return open_ || cancel.load() != 0; });
    saw_cancel = cancel.load() != 0;
  }
  void WaitStarted() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return started_; });
  }
  void Open() {
    std::lock_guard<std::mutex> lock(mutex_);
    open_ = true;
    changed_.notify_all();
  }
  void Poke() {
    std::lock_guard<std::mutex> lock(mutex_);
    changed_.notify_all();
  }

  std::vector<WorkerMode> modes_seen;
  bool saw_cancel = false;

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool started_ = false, open_ = false;
};

TEST(UpdateWorker, RunsOneRunAtATimeAndDropsStartsMeanwhile) {
  StatusBoard board;
  GatedRun gate;
  UpdateWorker worker(board,
                      [&gate](WorkerMode mode, const CancelFlag& cancel) { gate(mode, cancel); });
  std::atomic<int> posts{0}, posts_while_idle{0};
  auto notifier = [&] {
    ++posts;
    if (!worker.IsRunning()) ++posts_while_idle;
  };

  worker.Start(notifier, WorkerMode::UpdateRun);
  gate.WaitStarted();
  EXPECT_TRUE(worker.IsRunning());
  worker.Start(notifier, WorkerMode::RestoreRun);  // dropped, not queued
  gate.Open();
  ASSERT_TRUE(WaitUntilIdle(worker));
  EXPECT_EQ(gate.modes_seen, std::vector<WorkerMode>{WorkerMode::UpdateRun});
  EXPECT_FALSE(gate.saw_cancel);
  // The worker posts once more after clearing the flag, so the window sees it idle.
  EXPECT_EQ(posts.load(), 1);
  EXPECT_EQ(posts_while_idle.load(), 1);

  worker.Start(notifier, WorkerMode::RestoreRun);  // idle again: accepted
  ASSERT_TRUE(WaitUntilIdle(worker));
  EXPECT_EQ(gate.modes_seen.size(), 2u);
  EXPECT_EQ(gate.modes_seen[1], WorkerMode::RestoreRun);
}

TEST(UpdateWorker, CancelRaisesTheFlagAndANewStartLowersIt) {
  StatusBoard board;
  GatedRun gate;
  UpdateWorker worker(board,
                      [&gate](WorkerMode mode, const CancelFlag& cancel) { gate(mode, cancel); });
  worker.Start(nullptr, WorkerMode::UpdateRun);
  gate.WaitStarted();
  worker.Cancel();
  gate.Poke();
  ASSERT_TRUE(WaitUntilIdle(worker));
  EXPECT_TRUE(gate.saw_cancel);

  bool cancelled_at_start = true;
  UpdateWorker second(board, [&](WorkerMode, const CancelFlag& cancel) {
    cancelled_at_start = cancel.load() != 0;
  });
  second.Cancel();
  second.Start(nullptr, WorkerMode::UpdateRun);
  ASSERT_TRUE(WaitUntilIdle(second));
  EXPECT_FALSE(cancelled_at_start);
}

}  // namespace
}  // namespace hv
