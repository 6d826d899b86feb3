#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "core/file_util.h"
#include "core/file_util_platform.h"
#include "core/path_posix.h"
#include "core/scoped_fd_posix.h"
#include "core/text.h"

namespace hv {
namespace {

using namespace std::string_view_literals;

// Seconds from 1601-01-01 to 1970-01-01.
constexpr int64_t kEpochDifference = 11644473600;

bool Stat(const std::u16string& path, struct stat& info) {
  return ::stat(NativePath(path).c_str(), &info) == 0;
}

// The folder holding a native path, for syncing the directory entry after a rename.
std::string NativeParent(const std::string& path) {
  const size_t last = path.find_last_of('/');
  if (last == std::string::npos) return ".";
  if (last == 0) return "/";
  return path.substr(0, last);
}

// POSIX decides deletability by the folder's permission, not the file's, so a read-only folder
// is made writable before its entries are removed.
void MakeWritableFolder(const std::string& path, mode_t mode) {
  if ((mode & S_IRWXU) != S_IRWXU) ::chmod(path.c_str(), mode | S_IRWXU);
}

void RemoveEntries(const std::u16string& folder, const std::string& native) {
  ScopedDir dir(::opendir(native.c_str()));
  if (!dir) return;
  std::vector<std::string> names;
  while (const dirent* entry = ::readdir(dir.get())) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  dir.reset();
  for (const std::string& name : names) {
    const std::string child = native + "/" + name;
    struct stat info;
    if (::lstat(child.c_str(), &info) != 0) continue;
    if (S_ISDIR(info.st_mode)) {
      RemoveTree(JoinPath(folder, Utf8ToWide(name)));
    } else {
      ::unlink(child.c_str());  // a symbolic link goes as an entry, its target stays
    }
  }
}

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    bytes.remove_prefix(static_cast<size_t>(written));
  }
  return true;
}

// All size bytes of source into destination: in the kernel where it can, else through a buffer.
bool CopyContents(int source, int destination, uint64_t size) {
  uint64_t done = 0;
  while (done < size) {
    const ssize_t copied = ::copy_file_range(source, nullptr, destination, nullptr, size - done, 0);
    if (copied < 0 && errno == EINTR) continue;
    if (copied <= 0) break;
    done += static_cast<uint64_t>(copied);
  }
  if (done == size) return true;
  std::vector<char> buffer(1 << 20);
  if (::lseek(source, static_cast<off_t>(done), SEEK_SET) < 0) return false;
  while (true) {
    const ssize_t got = ::read(source, buffer.data(), buffer.size());
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return false;
    if (got == 0) return true;
    if (!WriteAll(destination, std::string_view(buffer.data(), static_cast<size_t>(got)))) {
      return false;
    }
  }
}

}  // namespace

std::string NativePath(const std::u16string& path) {
  std::string native = WideToUtf8(path);
  for (char& c : native) {
    if (c == '\\') c = '/';
  }
  return native;
}

bool LexicalFullPath(const std::u16string& path, std::u16string& out) {
  std::u16string from_cwd;
  if (path.empty() || !IsPathSeparator(path.front())) {
    char cwd[4096];
    if (!::getcwd(cwd, sizeof cwd)) return false;
    from_cwd = JoinPath(Utf8ToWide(cwd), path);
  }
  const std::u16string_view absolute = from_cwd.empty() ? path : from_cwd;
  out.clear();
  size_t start = 0;
  while (start <= absolute.size()) {
    size_t end = start;
    while (end < absolute.size() && !IsPathSeparator(absolute[end])) ++end;
    const std::u16string_view part = absolute.substr(start, end - start);
    if (part == u".."sv) {
      out.resize(out.empty() ? 0 : out.find_last_of(u'/'));
    } else if (!part.empty() && part != u"."sv) {
      out.push_back(u'/');
      out.append(part);
    }
    start = end + 1;
  }
  if (out.empty()) out = u"/";
  return true;
}

uint64_t FileTimeFromTimespec(const timespec& time) {
  return static_cast<uint64_t>(time.tv_sec + kEpochDifference) * 10000000u +
         static_cast<uint64_t>(time.tv_nsec) / 100u;
}

bool FileExists(const std::u16string& path) {
  struct stat info;
  return Stat(path, info) && !S_ISDIR(info.st_mode);
}

bool DirectoryExists(const std::u16string& path) {
  struct stat info;
  return Stat(path, info) && S_ISDIR(info.st_mode);
}

bool GetFileSizeAndTime(const std::u16string& path, uint64_t& size, uint64_t& write_time) {
  struct stat info;
  if (!Stat(path, info) || S_ISDIR(info.st_mode)) return false;
  size = static_cast<uint64_t>(info.st_size);
  write_time = FileTimeFromTimespec(info.st_mtim);
  return true;
}

bool ReadWholeFile(const std::u16string& path, std::string& out, uint64_t max_size) {
  ScopedFd fd(::open(NativePath(path).c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.IsValid()) return false;
  struct stat info;
  if (::fstat(fd.Get(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
  const uint64_t size = static_cast<uint64_t>(info.st_size);
  if (size > max_size) return false;
  out.resize(static_cast<size_t>(size));
  size_t done = 0;
  while (done < out.size()) {
    const ssize_t got = ::read(fd.Get(), out.data() + done, out.size() - done);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;  // a file that shrank under us is not read whole
    done += static_cast<size_t>(got);
  }
  return true;
}

bool WriteFileAtomic(const std::u16string& path, std::string_view bytes) {
  EnsureParentDirectory(path);
  const std::string target = NativePath(path);
  const std::string temp = target + ".tmp";
  {
    ScopedFd fd(::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (!fd.IsValid()) return false;
    // The data must be on the disk before the rename makes it visible under the real name.
    if (!WriteAll(fd.Get(), bytes) || ::fsync(fd.Get()) != 0) {
      fd.Reset();
      ::unlink(temp.c_str());
      return false;
    }
  }
  if (::rename(temp.c_str(), target.c_str()) != 0) return false;
  // And the rename itself is durable only once the folder's entry is synced.
  ScopedFd folder(::open(NativeParent(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (folder.IsValid()) ::fsync(folder.Get());
  return true;
}

bool RemoveTree(const std::u16string& path) {
  const std::string native = NativePath(path);
  struct stat link_info;
  if (::lstat(native.c_str(), &link_info) != 0) return true;
  if (S_ISLNK(link_info.st_mode)) {
    // A link to a folder is removed as the link itself; any other link is "not a directory".
    struct stat target_info;
    if (::stat(native.c_str(), &target_info) != 0 || !S_ISDIR(target_info.st_mode)) return true;
    return ::unlink(native.c_str()) == 0;
  }
  if (!S_ISDIR(link_info.st_mode)) return true;
  MakeWritableFolder(native, link_info.st_mode);
  RemoveEntries(path, native);
  return ::rmdir(native.c_str()) == 0;
}

bool MoveFileReplacing(const std::u16string& from, const std::u16string& to, bool allow_copy) {
  const std::string native_from = NativePath(from);
  if (::rename(native_from.c_str(), NativePath(to).c_str()) == 0) return true;
  if (errno != EXDEV || !allow_copy) return false;
  return CopyFileReplacing(from, to) && ::unlink(native_from.c_str()) == 0;
}

bool CopyFileReplacing(const std::u16string& from, const std::u16string& to) {
  const std::string target = NativePath(to);
  const std::string temp = target + ".tmp";
  ScopedFd source(::open(NativePath(from).c_str(), O_RDONLY | O_CLOEXEC));
  struct stat info;
  if (!source.IsValid() || ::fstat(source.Get(), &info) != 0 || !S_ISREG(info.st_mode)) {
    return false;
  }
  bool copied = false;
  {
    ScopedFd copy(::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (!copy.IsValid()) return false;
    copied = CopyContents(source.Get(), copy.Get(), static_cast<uint64_t>(info.st_size));
  }
  // Visible under its name only once complete.
  if (copied && ::rename(temp.c_str(), target.c_str()) == 0) return true;
  ::unlink(temp.c_str());
  return false;
}

bool GetAvailableDiskSpace(const std::u16string& path, uint64_t& bytes) {
  struct statvfs info;
  if (::statvfs(NativePath(path).c_str(), &info) != 0) return false;
  bytes = static_cast<uint64_t>(info.f_bavail) * static_cast<uint64_t>(info.f_frsize);
  return true;
}

bool ListDirectory(const std::u16string& folder, std::vector<DirectoryEntry>& entries) {
  entries.clear();
  const std::string native = NativePath(folder);
  ScopedDir dir(::opendir(native.c_str()));
  if (!dir) return false;
  while (const dirent* entry = ::readdir(dir.get())) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    struct stat info;
    const bool is_directory =
        ::stat((native + "/" + name).c_str(), &info) == 0 && S_ISDIR(info.st_mode);
    entries.push_back({Utf8ToWide(name), is_directory});
  }
  return true;
}

namespace platform {

CreateDirectoryResult CreateOneDirectory(const std::u16string& path) {
  if (::mkdir(NativePath(path).c_str(), 0777) == 0) return CreateDirectoryResult::Created;
  return errno == EEXIST ? CreateDirectoryResult::AlreadyExists : CreateDirectoryResult::Failed;
}

bool CanonicalJoinedPath(const std::u16string& folder, std::u16string_view relative,
                         std::u16string& out) {
  // Canonicalisation is lexical here, and relative has no component it could change, so the
  // result is the canonical folder, '/', and relative with its separators unified. The folder is
  // the same client folder for every entry of a manifest: remember its canonical form.
  thread_local std::u16string last_folder, canonical_folder;
  if (folder != last_folder || canonical_folder.empty()) {
    if (!LexicalFullPath(folder, canonical_folder)) return false;
    last_folder = folder;
  }
  out.assign(canonical_folder);
  if (out.back() != u'/') out.push_back(u'/');
  const size_t start = out.size();
  out.append(relative);
  for (size_t i = start; i < out.size(); ++i) out[i] = out[i] == u'\\' ? u'/' : out[i];
  return true;
}

}  // namespace platform
}  // namespace hv
