// An open file for the streaming code (hashing, downloads): read sequentially, or write a new
// file. Closed on destruction. Failures are false results; the platform's error code of the last
// failed call is kept for callers that report it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace hv {

class File {
 public:
  enum class Access {
    kReadSequential,  // an existing file; other readers allowed, writers refused
    kCreateAlways,    // a new file replacing any old one; no sharing
  };

  File() = default;
  ~File();
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  bool Open(const std::u16string& path, Access access);
  // got = 0 at the end of the file.
  bool Read(void* buffer, size_t capacity, size_t& got);
  // Writes everything or fails.
  bool Write(const void* data, size_t size);
  void Close();

  // GetLastError on Windows, errno on POSIX.
  uint32_t last_error() const { return last_error_; }
  // The last failure was the disk (or the user's quota) running out of space.
  bool last_error_is_disk_full() const;

 private:
  intptr_t handle_ = -1;
  uint32_t last_error_ = 0;
};

// Deletes a plain file; false when it cannot (missing, in use, a folder).
bool DeleteFilePath(const std::u16string& path);

}  // namespace hv
