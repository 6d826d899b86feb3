#include "net/background_hasher.h"

#include <cstring>
#include <system_error>

namespace hv {
namespace {

constexpr size_t kBuffer = 512 * 1024;

}  // namespace

BackgroundHasher::~BackgroundHasher() { Stop(); }

void BackgroundHasher::Add(const void* data, size_t size) {
  const char* bytes = static_cast<const char*>(data);
  while (size > 0) {
    if (!filling_) filling_.reset(new char[kBuffer]);
    const size_t room = kBuffer - filled_;
    const size_t taken = size < room ? size : room;
    std::memcpy(filling_.get() + filled_, bytes, taken);
    filled_ += taken;
    bytes += taken;
    size -= taken;
    if (filled_ == kBuffer) HandOver();
  }
}

bool BackgroundHasher::Finish(Sha256Digest& digest) {
  if (!thread_.joinable()) {
    // Everything fitted one buffer: a thread would cost more than it saves.
    if (filled_ > 0) hasher_.Update(filling_.get(), filled_);
  } else if (filled_ > 0) {
    HandOver();
  }
  Stop();
  return hasher_.Finish(digest);
}

// Gives the full buffer to the hashing thread, taking back the one it has finished.
void BackgroundHasher::HandOver() {
  if (!thread_.joinable() && !no_thread_) {
    try {
      thread_ = std::thread([this] { Run(); });
    } catch (const std::system_error&) {
      no_thread_ = true;
    }
  }
  if (no_thread_) {
    hasher_.Update(filling_.get(), filled_);
    filled_ = 0;
    return;
  }
  std::unique_lock<std::mutex> guard(lock_);
  changed_.wait(guard, [this] { return !busy_; });
  std::swap(filling_, handed_);
  handed_size_ = filled_;
  filled_ = 0;
  busy_ = true;
  changed_.notify_all();
}

void BackgroundHasher::Run() {
  std::unique_lock<std::mutex> guard(lock_);
  while (true) {
    changed_.wait(guard, [this] { return busy_ || closing_; });
    if (!busy_) return;  // closing, and everything is hashed
    guard.unlock();
    hasher_.Update(handed_.get(), handed_size_);
    guard.lock();
    busy_ = false;
    changed_.notify_all();
  }
}

void BackgroundHasher::Stop() {
  {
    std::lock_guard<std::mutex> guard(lock_);
    closing_ = true;
    changed_.notify_all();
  }
  if (thread_.joinable()) thread_.join();
}

}  // namespace hv
