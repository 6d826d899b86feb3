#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "core/file.h"
#include "core/path_posix.h"

namespace hv {

File::~File() { Close(); }

bool File::Open(const std::u16string& path, Access access) {
  Close();
  const std::string native = NativePath(path);
  const int fd = access == Access::kReadSequential
                     ? ::open(native.c_str(), O_RDONLY | O_CLOEXEC)
                     : ::open(native.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) {
    last_error_ = static_cast<uint32_t>(errno);
    return false;
  }
  handle_ = fd;
  if (access == Access::kReadSequential) {
    // Windows refuses to open a folder as a file; so do we.
    struct stat info;
    if (::fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
      last_error_ = EISDIR;
      Close();
      return false;
    }
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  }
  return true;
}

bool File::Read(void* buffer, size_t capacity, size_t& got) {
  while (true) {
    const ssize_t read = ::read(static_cast<int>(handle_), buffer, capacity);
    if (read >= 0) {
      got = static_cast<size_t>(read);
      return true;
    }
    if (errno != EINTR) {
      last_error_ = static_cast<uint32_t>(errno);
      return false;
    }
  }
}

bool File::Write(const void* data, size_t size) {
  const char* bytes = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t written = ::write(static_cast<int>(handle_), bytes, size);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      last_error_ = written < 0 ? static_cast<uint32_t>(errno) : ENOSPC;
      return false;
    }
    bytes += written;
    size -= static_cast<size_t>(written);
  }
  return true;
}

void File::Close() {
  if (handle_ >= 0) ::close(static_cast<int>(handle_));
  handle_ = -1;
}

bool File::last_error_is_disk_full() const {
  return last_error_ == ENOSPC || last_error_ == EDQUOT;
}

bool DeleteFilePath(const std::u16string& path) { return ::unlink(NativePath(path).c_str()) == 0; }

}  // namespace hv
