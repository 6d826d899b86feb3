// SHA-256 of a stream computed on a thread of its own, so that hashing a download overlaps
// receiving and writing it instead of adding to them. Pieces are gathered into two fixed
// buffers (one filling, one being hashed), handed over only when one is full, so the threads
// meet once per buffer rather than once per network read; Add waits while both are in use, which
// bounds the memory.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <thread>

#include "net/sha256.h"

namespace hv {

class BackgroundHasher {
 public:
  BackgroundHasher() = default;
  ~BackgroundHasher();
  BackgroundHasher(const BackgroundHasher&) = delete;
  BackgroundHasher& operator=(const BackgroundHasher&) = delete;

  void Add(const void* data, size_t size);
  // Waits until everything added is hashed. False when the hash failed.
  bool Finish(Sha256Digest& digest);

 private:
  void HandOver();
  void Run();
  void Stop();

  Sha256Hasher hasher_;
  std::unique_ptr<char[]> filling_;  // owned by the caller's thread
  size_t filled_ = 0;
  std::unique_ptr<char[]> handed_;  // owned by the hashing thread while busy_
  size_t handed_size_ = 0;
  std::mutex lock_;
  std::condition_variable changed_;
  bool busy_ = false;
  bool closing_ = false;
  bool no_thread_ = false;  // the thread could not be made: hash on the caller's thread
  std::thread thread_;
};

}  // namespace hv
