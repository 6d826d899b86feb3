// Real files for tests: a unique temporary folder per test, and helpers that go around the
// toolkit so that a faulty toolkit cannot hide its own fault.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

namespace hv::test {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // Absolute, without a trailing separator, in the platform's own form.
  const std::u16string& path() const { return path_; }
  std::u16string Sub(std::u16string_view name) const;

 private:
  std::u16string path_;
};

void WriteFileRaw(const std::u16string& path, const std::string& bytes);
std::string ReadFileRaw(const std::u16string& path);
bool PathExistsRaw(const std::u16string& path);
void MakeReadOnly(const std::u16string& path);
// Sets the last-write time, in 100 ns units since 1601-01-01 UTC.
void SetWriteTime(const std::u16string& path, uint64_t file_time);
// A link at `link` to the folder `target` (a symbolic link; on Windows a directory link).
// False when the platform refuses to make one.
bool MakeDirectoryLink(const std::u16string& link, const std::u16string& target);
// True for a Windows program that runs under Wine.
bool RunningUnderWine();

// Every file below folder: its path relative to folder (backslash separators) and its content.
std::map<std::u16string, std::string> ReadTree(const std::u16string& folder);
// Copies every file below from into to, keeping the relative paths.
void CopyTree(const std::u16string& from, const std::u16string& to);

// A file of the repository's tests/fixtures folder, e.g. Fixture("signatures/valid.sig").
std::u16string FixturePath(std::string_view relative);
std::string ReadFixture(std::string_view relative);

}  // namespace hv::test
