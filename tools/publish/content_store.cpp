#include "publish/content_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <memory>

#include "core/scoped_fd_posix.h"
#include "net/sha256.h"

namespace hv::publish {
namespace {

constexpr size_t kChunk = 1024 * 1024;

bool WriteAll(int fd, const uint8_t* data, size_t size) {
  while (size > 0) {
    const ssize_t written = ::write(fd, data, size);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    data += written;
    size -= static_cast<size_t>(written);
  }
  return true;
}

// Streams from source into target (when target >= 0) through the hash; counts the bytes.
bool HashStream(int source, int target, uint64_t& bytes, std::u16string& sha256,
                const std::function<void(uint64_t)>& progress) {
  Sha256Hasher hasher;
  const std::unique_ptr<uint8_t[]> buffer(new uint8_t[kChunk]);
  bytes = 0;
  while (hasher.usable()) {
    const ssize_t got = ::read(source, buffer.get(), kChunk);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return false;
    if (got == 0) break;
    const size_t size = static_cast<size_t>(got);
    if (target >= 0 && !WriteAll(target, buffer.get(), size)) return false;
    hasher.Update(buffer.get(), size);
    bytes += size;
    if (progress) progress(size);
  }
  Sha256Digest digest;
  if (!hasher.Finish(digest)) return false;
  sha256 = HexLower(digest.data(), digest.size());
  return true;
}

// The copy is flushed to the disk before its rename: a manifest naming it may follow at once.
std::string CopyToTemporary(const ClientFile& file, const std::string& temporary,
                            const std::function<void(uint64_t)>& progress) {
  ScopedFd source(::open(file.native_path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
  struct stat info;
  if (!source.IsValid() || ::fstat(source.Get(), &info) != 0 || !S_ISREG(info.st_mode)) {
    return file.native_path + ": cannot be read";
  }
  ScopedFd target(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (!target.IsValid() || ::fchmod(target.Get(), 0644) != 0) return "cannot write " + temporary;
  uint64_t bytes = 0;
  std::u16string sha256;
  if (!HashStream(source.Get(), target.Get(), bytes, sha256, progress) ||
      ::fsync(target.Get()) != 0 || ::close(target.Take()) != 0) {
    return "cannot copy " + file.native_path + " to " + temporary;
  }
  if (bytes != file.entry.size || sha256 != file.entry.sha256) {
    return file.native_path + ": changed while it was being published; publish again";
  }
  return {};
}

}  // namespace

bool ContentIsIntact(const std::string& path, uint64_t size, const std::u16string& sha256) {
  ScopedFd fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
  struct stat info;
  if (!fd.IsValid() || ::fstat(fd.Get(), &info) != 0 || !S_ISREG(info.st_mode) ||
      static_cast<uint64_t>(info.st_size) != size) {
    return false;
  }
  uint64_t bytes = 0;
  std::u16string found;
  return HashStream(fd.Get(), -1, bytes, found, nullptr) && bytes == size && found == sha256;
}

StoreResult StoreContent(const SiteLayout& site, const ClientFile& file,
                         const std::function<void(uint64_t)>& progress) {
  const std::string target = site.content(file.entry.sha256);
  if (ContentIsIntact(target, file.entry.size, file.entry.sha256)) {
    return {.ok = true, .added = false, .error = {}};
  }
  const std::string temporary = target + ".partial";
  if (std::string error = CopyToTemporary(file, temporary, progress); !error.empty()) {
    ::unlink(temporary.c_str());
    return {.ok = false, .added = false, .error = error};
  }
  if (std::rename(temporary.c_str(), target.c_str()) != 0) {
    ::unlink(temporary.c_str());
    return {.ok = false, .added = false, .error = "cannot rename " + temporary + " to " + target};
  }
  return {.ok = true, .added = true, .error = {}};
}

}  // namespace hv::publish
