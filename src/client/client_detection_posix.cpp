// POSIX: the processes of /proc, matched by the file name of their program (/proc/PID/exe), then
// by its full path.
#include <unistd.h>

#include "client/client_detection.h"
#include "core/file_util.h"
#include "core/path_posix.h"
#include "core/scoped_fd_posix.h"
#include "core/text.h"

namespace hv {

bool FindRunningClient(const std::u16string& client_dir, const std::u16string& exe, uint32_t* pid) {
  const std::u16string program = exe.empty() ? std::u16string(kDefaultClientExe) : exe;
  std::u16string full;
  if (!LexicalFullPath(JoinPath(client_dir, program), full)) return false;
  const std::u16string name = ClientFileName(program);
  ScopedDir processes(::opendir("/proc"));
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
