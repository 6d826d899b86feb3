#include <windows.h>

#include "core/file_util.h"
#include "core/file_util_platform.h"
#include "core/path_win.h"
#include "core/scoped_handle_win.h"

namespace hv {
namespace {

constexpr DWORD kCanonicalBuffer = 520;

bool StartsWith(const std::wstring& text, const wchar_t* prefix) {
  return text.rfind(prefix, 0) == 0;
}

DWORD Attributes(const std::u16string& path) {
  return GetFileAttributesW(ExtendedPath(path).c_str());
}

bool IsDirectory(DWORD attributes) {
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Removes a folder's entries. A reparse point (junction, symbolic link, mount point) is removed
// as an entry: descending through it would delete whatever it points at.
void RemoveEntries(const std::u16string& folder) {
  WIN32_FIND_DATAW entry;
  ScopedFindHandle find(FindFirstFileW(ExtendedPath(JoinPath(folder, u"*")).c_str(), &entry));
  if (!find.IsValid()) return;
  do {
    const std::wstring name(entry.cFileName);
    if (name == L"." || name == L"..") continue;
    const std::u16string child = JoinPath(folder, FromW(name.c_str(), name.size()));
    const std::wstring extended = ExtendedPath(child);
    const DWORD attributes = entry.dwFileAttributes;
    if (attributes & FILE_ATTRIBUTE_READONLY) {
      SetFileAttributesW(extended.c_str(), attributes & ~DWORD{FILE_ATTRIBUTE_READONLY});
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
      RemoveDirectoryW(extended.c_str());
    } else if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
      RemoveTree(child);
    } else {
      SetFileAttributesW(extended.c_str(), FILE_ATTRIBUTE_NORMAL);
      DeleteFileW(extended.c_str());
    }
  } while (FindNextFileW(find.Get(), &entry));
}

}  // namespace

std::wstring ExtendedPath(const std::u16string& path) {
  std::wstring input(W(path));
  if (StartsWith(input, L"\\\\?\\")) return input;
  const DWORD needed = GetFullPathNameW(input.c_str(), 0, nullptr, nullptr);
  if (needed == 0) return input;  // the call that uses it fails on its own
  std::wstring full(needed, L'\0');
  const DWORD length = GetFullPathNameW(input.c_str(), needed, full.data(), nullptr);
  if (length == 0 || length >= needed) return input;
  full.resize(length);
  if (StartsWith(full, L"\\\\.\\")) return full;
  if (StartsWith(full, L"\\\\")) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

bool FileExists(const std::u16string& path) {
  const DWORD attributes = Attributes(path);
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool DirectoryExists(const std::u16string& path) { return IsDirectory(Attributes(path)); }

bool GetFileSizeAndTime(const std::u16string& path, uint64_t& size, uint64_t& write_time) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(ExtendedPath(path).c_str(), GetFileExInfoStandard, &data)) {
    return false;
  }
  if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return false;
  size = (uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
  write_time =
      (uint64_t{data.ftLastWriteTime.dwHighDateTime} << 32) | data.ftLastWriteTime.dwLowDateTime;
  return true;
}

bool ReadWholeFile(const std::u16string& path, std::string& out, uint64_t max_size) {
  ScopedFileHandle file(CreateFileW(ExtendedPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.IsValid()) return false;
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file.Get(), &size)) return false;
  const uint64_t bytes = static_cast<uint64_t>(size.QuadPart);
  // One read call takes a 32-bit count.
  if (bytes > max_size || bytes > MAXDWORD) return false;
  out.resize(static_cast<size_t>(bytes));
  if (bytes == 0) return true;
  DWORD read = 0;
  const BOOL ok = ReadFile(file.Get(), out.data(), static_cast<DWORD>(bytes), &read, nullptr);
  return ok && read == bytes;
}

bool WriteFileAtomic(const std::u16string& path, std::string_view bytes) {
  EnsureParentDirectory(path);
  if (bytes.size() > MAXDWORD) return false;
  const std::wstring temp = ExtendedPath(path + u".tmp");
  {
    ScopedFileHandle file(CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.IsValid()) return false;
    if (!bytes.empty()) {
      DWORD written = 0;
      const BOOL ok =
          WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
      if (!ok || written != bytes.size()) {
        FlushFileBuffers(file.Get());
        file.Reset();
        DeleteFileW(temp.c_str());
        return false;
      }
    }
    FlushFileBuffers(file.Get());
  }
  return MoveFileExW(temp.c_str(), ExtendedPath(path).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool RemoveTree(const std::u16string& path) {
  const std::wstring extended = ExtendedPath(path);
  const DWORD attributes = GetFileAttributesW(extended.c_str());
  if (!IsDirectory(attributes)) return true;
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return RemoveDirectoryW(extended.c_str()) != 0;
  if (attributes & FILE_ATTRIBUTE_READONLY) {
    SetFileAttributesW(extended.c_str(), attributes & ~DWORD{FILE_ATTRIBUTE_READONLY});
  }
  RemoveEntries(path);
  return RemoveDirectoryW(extended.c_str()) != 0;
}

bool MoveFileReplacing(const std::u16string& from, const std::u16string& to, bool allow_copy) {
  const DWORD flags = MOVEFILE_REPLACE_EXISTING | (allow_copy ? MOVEFILE_COPY_ALLOWED : 0);
  return MoveFileExW(ExtendedPath(from).c_str(), ExtendedPath(to).c_str(), flags) != 0;
}

bool CopyFileReplacing(const std::u16string& from, const std::u16string& to) {
  return CopyFileW(ExtendedPath(from).c_str(), ExtendedPath(to).c_str(), FALSE) != 0;
}

bool GetAvailableDiskSpace(const std::u16string& path, uint64_t& bytes) {
  ULARGE_INTEGER available;
  if (!GetDiskFreeSpaceExW(ExtendedPath(path).c_str(), &available, nullptr, nullptr)) return false;
  bytes = available.QuadPart;
  return true;
}

bool ListDirectory(const std::u16string& folder, std::vector<DirectoryEntry>& entries) {
  entries.clear();
  WIN32_FIND_DATAW entry;
  ScopedFindHandle find(FindFirstFileW(ExtendedPath(JoinPath(folder, u"*")).c_str(), &entry));
  if (!find.IsValid()) return false;
  do {
    const std::wstring name(entry.cFileName);
    if (name == L"." || name == L"..") continue;
    entries.push_back({FromW(name.c_str(), name.size()),
                       (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0});
  } while (FindNextFileW(find.Get(), &entry));
  return true;
}

namespace platform {

CreateDirectoryResult CreateOneDirectory(const std::u16string& path) {
  if (CreateDirectoryW(ExtendedPath(path).c_str(), nullptr)) return CreateDirectoryResult::Created;
  return GetLastError() == ERROR_ALREADY_EXISTS ? CreateDirectoryResult::AlreadyExists
                                                : CreateDirectoryResult::Failed;
}

bool CanonicalJoinedPath(const std::u16string& folder, std::u16string_view relative,
                         std::u16string& out) {
  // GetFullPathNameW also resolves what the component rules leave (device names such as CON,
  // the current drive), so it sees the whole joined path.
  const std::u16string joined = JoinPath(folder, relative);
  wchar_t buffer[kCanonicalBuffer];
  const DWORD length = GetFullPathNameW(W(joined), kCanonicalBuffer, buffer, nullptr);
  if (length == 0 || length >= kCanonicalBuffer) return false;
  out.assign(reinterpret_cast<const char16_t*>(buffer), length);
  return true;
}

}  // namespace platform
}  // namespace hv
