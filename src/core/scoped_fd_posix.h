// Owners of a POSIX file descriptor (closed on destruction and on Reset, not copyable) and of
// an open directory stream.
#pragma once

#include <dirent.h>
#include <unistd.h>

#include "core/owned.h"

namespace hv {

class ScopedFd {
 public:
  ScopedFd() = default;
  explicit ScopedFd(int fd) : fd_(fd) {}
  ~ScopedFd() { Reset(); }

  ScopedFd(const ScopedFd&) = delete;
  ScopedFd& operator=(const ScopedFd&) = delete;
  ScopedFd(ScopedFd&& other) noexcept : fd_(other.Take()) {}
  ScopedFd& operator=(ScopedFd&& other) noexcept {
    if (this != &other) Reset(other.Take());
    return *this;
  }

  bool IsValid() const { return fd_ >= 0; }
  int Get() const { return fd_; }

  void Reset(int fd = -1) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }

  [[nodiscard]] int Take() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_ = -1;
};

using ScopedDir = Owned<DIR, ::closedir>;

}  // namespace hv
