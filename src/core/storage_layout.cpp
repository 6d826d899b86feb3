#include "core/storage_layout.h"

#include "core/file_util.h"

namespace hv {

StorageLayout InitStorageLayout(const FolderLookups& lookups) {
  StorageLayout layout;
  std::u16string program;
  if (lookups.program_path) lookups.program_path(program);
  const size_t last = program.find_last_of(u"\\/");
  layout.exe_dir = last == std::u16string::npos ? program : program.substr(0, last);

  const bool portable = FileExists(JoinPath(layout.exe_dir, u"portable.txt")) ||
                        DirectoryExists(JoinPath(layout.exe_dir, u"client"));
  std::u16string app_data;
  if (!portable && lookups.local_app_data && lookups.local_app_data(app_data)) {
    layout.root_dir = JoinPath(app_data, u"Halvoryn");
  } else {
    layout.root_dir = layout.exe_dir;
  }

  layout.client_dir = JoinPath(layout.root_dir, u"client");
  layout.state_dir = JoinPath(layout.root_dir, u"state");
  layout.staging_dir = JoinPath(layout.state_dir, u"staging");
  layout.backup_dir = JoinPath(layout.root_dir, u"backup");
  EnsureDirectory(layout.client_dir);
  EnsureDirectory(layout.state_dir);
  return layout;
}

}  // namespace hv
