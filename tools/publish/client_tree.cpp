#include "publish/client_tree.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <set>

#include "core/file_util.h"
#include "core/scoped_fd_posix.h"
#include "core/text.h"
#include "net/sha256.h"
#include "publish/console.h"
#include "publish/site_layout.h"
#include "publish/text_rules.h"
#include "publish/windows_names.h"

namespace hv::publish {
namespace {

// The manifest writes sizes with at most twelve decimal digits.
constexpr uint64_t kMaxFileSize = 999'999'999'999;

// The path as the operator sees it on this machine: UTF-8 with '/' separators.
std::string DisplayPath(const std::u16string& manifest_path) {
  std::string shown = WideToUtf8(manifest_path);
  std::replace(shown.begin(), shown.end(), '\\', '/');
  return shown;
}

class Walker {
 public:
  Walker(std::vector<ClientFile>& files, std::vector<std::string>& problems)
      : files_(files), problems_(problems) {}

  void Folder(const std::string& native, const std::u16string& relative) {
    ScopedDir dir(::opendir(native.c_str()));
    if (!dir) {
      problems_.push_back("cannot read the folder " + native);
      return;
    }
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(dir.get())) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    for (const std::string& name : names) Entry(::dirfd(dir.get()), native, relative, name);
  }

 private:
  void Entry(int dir_fd, const std::string& native_dir, const std::u16string& relative_dir,
             const std::string& name) {
    const std::string native = native_dir + "/" + name;
    if (!IsValidUtf8(name)) {
      problems_.push_back(native + ": the name is not valid UTF-8");
      return;
    }
    if (name.find('\\') != std::string::npos) {
      problems_.push_back(native + ": the name holds a backslash, a folder separator on Windows");
      return;
    }
    struct stat info;
    if (::fstatat(dir_fd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
      problems_.push_back(native + ": cannot be read");
      return;
    }
    const std::u16string relative =
        relative_dir.empty() ? Utf8ToWide(name) : JoinPath(relative_dir, Utf8ToWide(name));
    if (S_ISDIR(info.st_mode)) {
      Folder(native, relative);
    } else if (S_ISLNK(info.st_mode)) {
      problems_.push_back(native +
                          ": a symbolic link; links are not followed, put the file itself there");
    } else if (!S_ISREG(info.st_mode)) {
      problems_.push_back(native + ": not a regular file (a device, socket or pipe)");
    } else if (static_cast<uint64_t>(info.st_size) > kMaxFileSize) {
      problems_.push_back(native + ": larger than a manifest can describe (12 digits)");
    } else {
      files_.push_back({{relative, static_cast<uint64_t>(info.st_size), {}}, native});
      if (progress_.Due()) progress_.Show("walking: " + std::to_string(files_.size()) + " files");
    }
  }

  std::vector<ClientFile>& files_;
  std::vector<std::string>& problems_;
  ProgressLine progress_;
};

// Adds a message to problems when the launcher or Windows would refuse path.
void CheckOnePath(const std::u16string& path, std::vector<std::string>& problems) {
  const std::string shown = DisplayPath(path);
  if (!IsSafeRelativePath(RepresentativeClientDir(), path)) {
    problems.push_back("'" + shown +
                       "': the launcher refuses this name (at most 240 characters; no control "
                       "character or any of \" * : < > ? |; no name ending in a dot or a space)");
    return;
  }
  size_t begin = 0;
  while (begin <= path.size()) {
    const size_t end = std::min(path.find(u'\\', begin), path.size());
    const std::u16string_view component = std::u16string_view(path).substr(begin, end - begin);
    if (IsWindowsDeviceName(component)) {
      const std::string where = component.size() == path.size() ? "" : "'" + shown + "': ";
      problems.push_back(where + "'" + WideToUtf8(component) +
                         "' is a device name on Windows, which no file or folder can have");
      return;
    }
    begin = end + 1;
  }
}

struct HashProgress {
  ProgressLine line;
  size_t files_done = 0;
  size_t file_count = 0;
  uint64_t bytes_done = 0;
  uint64_t bytes_total = 0;
  uint64_t file_bytes = 0;  // of the file being hashed
};

void OnHashed(uint64_t bytes, void* user) {
  auto& progress = *static_cast<HashProgress*>(user);
  progress.bytes_done += bytes;
  progress.file_bytes += bytes;
  if (!progress.line.Due()) return;
  progress.line.Show("hashing: " + std::to_string(progress.files_done) + "/" +
                     std::to_string(progress.file_count) + " files, " +
                     FormatBytes(progress.bytes_done) + " of " + FormatBytes(progress.bytes_total));
}

// Where path is or would be: the real path of its deepest existing ancestor, then the rest.
std::string ResolvedPath(const std::string& path) {
  std::string head = path;
  if (!head.starts_with('/')) {
    char cwd[4096];
    head = std::string(::getcwd(cwd, sizeof cwd) ? cwd : ".") + "/" + head;
  }
  std::string tail;
  while (true) {
    if (char* real = ::realpath(head.c_str(), nullptr)) {
      std::string resolved(real);
      std::free(real);
      return tail.empty() ? resolved : resolved + "/" + tail;
    }
    const size_t slash = head.find_last_of('/');
    if (slash == std::string::npos) return path;
    tail = tail.empty() ? head.substr(slash + 1) : head.substr(slash + 1) + "/" + tail;
    head = slash == 0 ? "/" : head.substr(0, slash);
  }
}

}  // namespace

bool WalkClientFolder(const std::string& root, std::vector<ClientFile>& files,
                      std::vector<std::string>& problems) {
  files.clear();
  const size_t problems_before = problems.size();
  struct stat info;
  if (::stat(root.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
    problems.push_back("the client folder " + root + " does not exist or is not a folder");
    return false;
  }
  Walker(files, problems).Folder(root, u"");
  if (problems.size() != problems_before) return false;
  if (files.empty()) {
    problems.push_back("the client folder " + root + " holds no files");
    return false;
  }
  std::sort(files.begin(), files.end(),
            [](const ClientFile& a, const ClientFile& b) { return a.entry.path < b.entry.path; });
  return true;
}

void CheckClientNames(const std::vector<ClientFile>& files, std::vector<std::string>& problems) {
  std::map<std::u32string, const std::u16string*> by_key;
  for (const ClientFile& file : files) {
    CheckOnePath(file.entry.path, problems);
    const auto [where, added] = by_key.emplace(WindowsNameKey(file.entry.path), &file.entry.path);
    if (!added) {
      problems.push_back("'" + DisplayPath(*where->second) + "' and '" +
                         DisplayPath(file.entry.path) +
                         "' differ only in letter case: on Windows they are one file");
    }
  }
  std::set<std::u16string> reported;
  for (const ClientFile& file : files) {
    const std::u16string& path = file.entry.path;
    for (size_t at = path.find(u'\\'); at != std::u16string::npos; at = path.find(u'\\', at + 1)) {
      const auto clash = by_key.find(WindowsNameKey(std::u16string_view(path).substr(0, at)));
      if (clash != by_key.end() && reported.insert(*clash->second).second) {
        problems.push_back("'" + DisplayPath(*clash->second) +
                           "' is a file, and on Windows also "
                           "the folder of '" +
                           DisplayPath(path) + "'");
      }
    }
  }
}

bool HashClientFiles(std::vector<ClientFile>& files, std::string& error) {
  HashProgress progress;
  progress.file_count = files.size();
  for (const ClientFile& file : files) progress.bytes_total += file.entry.size;
  for (ClientFile& file : files) {
    progress.file_bytes = 0;
    if (!Sha256FileHex(Utf8ToWide(file.native_path), file.entry.sha256, nullptr, OnHashed,
                       &progress)) {
      error = file.native_path + ": cannot be read";
      return false;
    }
    if (progress.file_bytes != file.entry.size) {
      error = file.native_path + ": changed while it was being published; publish again";
      return false;
    }
    ++progress.files_done;
  }
  return true;
}

bool LiesInside(const std::string& path, const std::string& folder) {
  const std::string inner = ResolvedPath(path);
  const std::string outer = ResolvedPath(folder);
  return inner == outer || inner.starts_with(outer.ends_with('/') ? outer : outer + "/");
}

}  // namespace hv::publish
