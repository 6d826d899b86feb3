// POSIX: the processes of /proc, matched by the file name of their program (/proc/PID/exe), then
// by its full path.
#include <dirent.h>
#include <unistd.h>

#include <memory>

#include "client/client_detection.h"
#include "core/file_util.h"
#include "core/path_posix.h"
#include "core/text.h"

namespace hv {
namespace {

bool EqualsIgnoringAsciiCase(std::u16string_view a, std::u16string_view b) {
  return AsciiLower(a) == AsciiLower(b);
}

// client_dir/exe made absolute and lexically normal, as the kernel reports program paths.
std::u16string NormalPath(const std::u16string& path) {
  std::u16string normal;
  for (size_t start = 0; start <= path.size();) {
    size_t end = start;
    while (end < path.size() && !IsPathSeparator(path[end])) ++end;
    const std::u16string_view part = std::u16string_view(path).substr(start, end - start);
    if (part == u"..") {
      normal.resize(normal.empty() ? 0 : normal.find_last_of(u'/'));
    } else if (!part.empty() && part != u".") {
      normal += u'/';
      normal += part;
    }
    start = end + 1;
  }
  return normal;
}

}  // namespace

bool FindRunningClient(const std::u16string& client_dir, const std::u16string& exe, uint32_t* pid) {
  const std::u16string program = exe.empty() ? std::u16string(kDefaultClientExe) : exe;
  const std::u16string full = NormalPath(JoinPath(client_dir, program));
  const std::u16string name = ClientFileName(program);
  struct DirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
  };
  std::unique_ptr<DIR, DirCloser> processes(::opendir("/proc"));
  if (!processes) return false;
  while (const dirent* entry = ::readdir(processes.get())) {
    const std::string id = entry->d_name;
    if (id.empty() || id.find_first_not_of("0123456789") != std::string::npos) continue;
    char target[4096];
    const ssize_t length = ::readlink(("/proc/" + id + "/exe").c_str(), target, sizeof target - 1);
    if (length <= 0) continue;  // gone, or not ours to read
    const std::u16string image = Utf8ToWide(std::string_view(target, static_cast<size_t>(length)));
    const std::u16string image_name = image.substr(image.find_last_of(u'/') + 1);
    if (EqualsIgnoringAsciiCase(image_name, name) && EqualsIgnoringAsciiCase(image, full)) {
      if (pid) *pid = static_cast<uint32_t>(std::stoul(id));
      return true;
    }
  }
  return false;
}

}  // namespace hv
