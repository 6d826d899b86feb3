#include <windows.h>

#include "core/file.h"
#include "core/path_win.h"

namespace hv {
namespace {

HANDLE Native(intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

// The streaming calls take 32-bit counts.
DWORD Clamp(size_t size) { return size > MAXDWORD ? MAXDWORD : static_cast<DWORD>(size); }

}  // namespace

File::~File() { Close(); }

bool File::Open(const std::u16string& path, Access access) {
  Close();
  const std::wstring extended = ExtendedPath(path);
  const HANDLE handle = access == Access::kReadSequential
                            ? CreateFileW(extended.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                          OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr)
                            : CreateFileW(extended.c_str(), GENERIC_WRITE, 0, nullptr,
                                          CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    last_error_ = GetLastError();
    return false;
  }
  handle_ = reinterpret_cast<intptr_t>(handle);
  return true;
}

bool File::Read(void* buffer, size_t capacity, size_t& got) {
  DWORD read = 0;
  if (!ReadFile(Native(handle_), buffer, Clamp(capacity), &read, nullptr)) {
    last_error_ = GetLastError();
    return false;
  }
  got = read;
  return true;
}

bool File::Write(const void* data, size_t size) {
  DWORD written = 0;
  if (!WriteFile(Native(handle_), data, Clamp(size), &written, nullptr) || written != size) {
    last_error_ = GetLastError();
    return false;
  }
  return true;
}

void File::Close() {
  if (handle_ != -1) CloseHandle(Native(handle_));
  handle_ = -1;
}

bool File::last_error_is_disk_full() const {
  return last_error_ == ERROR_DISK_FULL || last_error_ == ERROR_HANDLE_DISK_FULL;
}

bool DeleteFilePath(const std::u16string& path) {
  return DeleteFileW(ExtendedPath(path).c_str()) != 0;
}

}  // namespace hv
