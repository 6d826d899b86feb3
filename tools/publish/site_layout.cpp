#include "publish/site_layout.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/text.h"

namespace hv::publish {
namespace {

bool IsFolder(const std::string& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool EnsureFolder(const std::string& folder, mode_t mode) {
  if (IsFolder(folder)) return true;
  const size_t slash = folder.find_last_of('/');
  if (slash != std::string::npos && slash > 0) EnsureServedFolder(folder.substr(0, slash));
  // The umask applies to mkdir; a folder made here gets exactly mode.
  if (::mkdir(folder.c_str(), mode) == 0) ::chmod(folder.c_str(), mode);
  return IsFolder(folder);
}

}  // namespace

const std::u16string& RepresentativeClientDir() {
  static const std::u16string kDir = u"/halvoryn/client";
  return kDir;
}

SiteLayout::SiteLayout(std::string root) : root_(std::move(root)) {
  while (root_.size() > 1 && root_.back() == '/') root_.pop_back();
}

std::string SiteLayout::content(const std::u16string& sha256) const {
  return files_dir() + "/" + WideToUtf8(sha256);
}

bool EnsureServedFolder(const std::string& folder) { return EnsureFolder(folder, 0755); }
bool EnsurePrivateFolder(const std::string& folder) { return EnsureFolder(folder, 0700); }

bool CanCreateFileIn(const std::string& folder) {
  const std::string probe = folder + "/.halvoryn-publish-probe-" + std::to_string(::getpid());
  const int fd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  ::close(fd);
  ::unlink(probe.c_str());
  return true;
}

void SyncFolder(const std::string& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

bool SiteLock::Acquire(const SiteLayout& site, std::string& error) {
  if (!EnsurePrivateFolder(site.tool_dir())) {
    error = "cannot write to the site folder " + site.root();
    return false;
  }
  const std::string path = site.tool_dir() + "/lock";
  fd_.Reset(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
  if (!fd_.IsValid()) {
    error = "cannot write to the site folder " + site.root() + " (" + path + ")";
    return false;
  }
  if (::flock(fd_.Get(), LOCK_EX | LOCK_NB) != 0) {
    error = "another publish or prune is running on " + site.root() + "; try again when it ends";
    return false;
  }
  return true;
}

}  // namespace hv::publish
