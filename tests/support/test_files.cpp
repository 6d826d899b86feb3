#include "support/test_files.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "core/file_util.h"
#include "core/text.h"

namespace hv::test {
namespace fs = std::filesystem;

namespace {

fs::path ToFs(const std::u16string& path) {
  std::u16string native = path;
#ifndef _WIN32
  for (char16_t& c : native) {
    if (c == u'\\') c = u'/';
  }
#else
  // Long paths need the extended form here too.
  if (native.size() >= 240 && native.rfind(u"\\\\?\\", 0) != 0) {
    for (char16_t& c : native) {
      if (c == u'/') c = u'\\';
    }
    native = u"\\\\?\\" + native;
  }
#endif
  return fs::path(native);
}

}  // namespace

TempDir::TempDir() {
  static std::atomic<unsigned> counter{0};
  const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  std::ostringstream name;
  name << "hv-test-" << stamp << "-" << counter++;
  const fs::path dir = fs::temp_directory_path() / name.str();
  fs::create_directories(dir);
  path_ = dir.u16string();
  while (!path_.empty() && (path_.back() == u'\\' || path_.back() == u'/')) path_.pop_back();
}

TempDir::~TempDir() {
  RemoveTree(path_);
  std::error_code ignored;
  fs::remove_all(ToFs(path_), ignored);
}

std::u16string TempDir::Sub(std::u16string_view name) const { return JoinPath(path_, name); }

void WriteFileRaw(const std::u16string& path, const std::string& bytes) {
  const fs::path target = ToFs(path);
  fs::create_directories(target.parent_path());
  std::ofstream out(target, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(out.good()) << "cannot write test file";
}

std::string ReadFileRaw(const std::u16string& path) {
  std::ifstream in(ToFs(path), std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

bool PathExistsRaw(const std::u16string& path) {
  std::error_code error;
  return fs::exists(fs::symlink_status(ToFs(path), error));
}

void MakeReadOnly(const std::u16string& path) {
  fs::permissions(ToFs(path),
                  fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
}

void SetWriteTime(const std::u16string& path, uint64_t file_time) {
#ifdef _WIN32
  HANDLE file = CreateFileW(ToFs(path).c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  FILETIME time{static_cast<DWORD>(file_time), static_cast<DWORD>(file_time >> 32)};
  EXPECT_TRUE(SetFileTime(file, nullptr, nullptr, &time));
  CloseHandle(file);
#else
  constexpr uint64_t kEpochDifference = 11644473600ull * 10000000ull;
  const uint64_t since_1970 = file_time - kEpochDifference;
  const timespec times[2] = {
      {0, UTIME_OMIT},
      {static_cast<time_t>(since_1970 / 10000000), static_cast<long>(since_1970 % 10000000) * 100}};
  ASSERT_EQ(::utimensat(AT_FDCWD, ToFs(path).c_str(), times, 0), 0);
#endif
}

#ifdef _WIN32
namespace {

bool IsReparsePoint(const std::u16string& path) {
  const DWORD attributes = GetFileAttributesW(ToFs(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// Wine (8.0) answers CreateSymbolicLinkW with success without making a link and cannot set
// reparse points, but it shows a Unix symbolic link to a folder as a directory reparse point, and
// it can start Unix programs. So under Wine the link is made by /bin/ln.
bool MakeUnixLinkUnderWine(const std::u16string& link, const std::u16string& target) {
  using UnixFileName = char*(CDECL*)(LPCWSTR);
  const auto unix_file_name = reinterpret_cast<UnixFileName>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  if (!unix_file_name) return false;
  char* unix_link = unix_file_name(ToFs(link).c_str());
  char* unix_target = unix_file_name(ToFs(target).c_str());
  bool made = false;
  if (unix_link && unix_target) {
    std::wstring command = L"ln -s \"" + fs::path(unix_target).wstring() + L"\" \"" +
                           fs::path(unix_link).wstring() + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (CreateProcessW(L"Z:\\bin\\ln", command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                       &startup, &process)) {
      CloseHandle(process.hThread);
      CloseHandle(process.hProcess);
      // Wine's handle of a Unix process does not tell when it ends: wait for the link instead.
      for (int i = 0; i < 200 && !made; ++i) {
        made = IsReparsePoint(link);
        if (!made) Sleep(10);
      }
    }
  }
  HeapFree(GetProcessHeap(), 0, unix_link);
  HeapFree(GetProcessHeap(), 0, unix_target);
  return made;
}

}  // namespace

bool MakeDirectoryLink(const std::u16string& link, const std::u16string& target) {
  const DWORD flags = SYMBOLIC_LINK_FLAG_DIRECTORY | SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE;
  if (CreateSymbolicLinkW(ToFs(link).c_str(), ToFs(target).c_str(), flags) &&
      IsReparsePoint(link)) {
    return true;
  }
  return MakeUnixLinkUnderWine(link, target);
}
bool RunningUnderWine() {
  return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}
#else
bool RunningUnderWine() { return false; }

bool MakeDirectoryLink(const std::u16string& link, const std::u16string& target) {
  std::error_code error;
  fs::create_directory_symlink(ToFs(target), ToFs(link), error);
  return !error;
}
#endif

std::map<std::u16string, std::string> ReadTree(const std::u16string& folder) {
  std::map<std::u16string, std::string> files;
  std::error_code error;
  const fs::path root = ToFs(folder);
  if (!fs::is_directory(root, error)) return files;
  for (const auto& item : fs::recursive_directory_iterator(root, error)) {
    if (!item.is_regular_file()) continue;
    std::u16string relative = fs::relative(item.path(), root).u16string();
    for (char16_t& c : relative) {
      if (c == u'/') c = u'\\';
    }
    files[relative] = ReadFileRaw(item.path().u16string());
  }
  return files;
}

void CopyTree(const std::u16string& from, const std::u16string& to) {
  for (const auto& [relative, content] : ReadTree(from))
    WriteFileRaw(JoinPath(to, relative), content);
}

std::u16string FixturePath(std::string_view relative) {
  return JoinPath(Utf8ToWide(HV_FIXTURES_DIR), Utf8ToWide(relative));
}

std::string ReadFixture(std::string_view relative) {
  std::string bytes;
  EXPECT_TRUE(ReadWholeFile(FixturePath(relative), bytes, 1 << 24)) << "missing fixture";
  return bytes;
}

}  // namespace hv::test
