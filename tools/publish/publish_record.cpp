#include "publish/publish_record.h"

#include <dirent.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "core/file_util.h"
#include "core/scoped_fd_posix.h"
#include "core/text.h"

namespace hv::publish {
namespace {

constexpr std::string_view kSuffix = ".txt";

// "000042.txt" -> 42; anything else (temporary files included) is not an entry.
bool EntryNumber(std::string_view name, uint64_t& number) {
  if (!name.ends_with(kSuffix)) return false;
  const std::string_view digits = name.substr(0, name.size() - kSuffix.size());
  if (digits.empty() || digits.size() > 18) return false;
  number = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return false;
    number = number * 10 + static_cast<uint64_t>(c - '0');
  }
  return true;
}

std::string EntryName(uint64_t number) {
  char name[32];
  std::snprintf(name, sizeof name, "%06llu.txt", static_cast<unsigned long long>(number));
  return name;
}

}  // namespace

bool ListRecord(const SiteLayout& site, std::vector<RecordEntry>& entries) {
  entries.clear();
  const std::string folder = site.record_dir();
  ScopedDir dir(::opendir(folder.c_str()));
  if (!dir) return errno == ENOENT;
  while (const dirent* item = ::readdir(dir.get())) {
    uint64_t number = 0;
    if (EntryNumber(item->d_name, number)) entries.push_back({number, folder + "/" + item->d_name});
  }
  std::sort(entries.begin(), entries.end(),
            [](const RecordEntry& a, const RecordEntry& b) { return a.number < b.number; });
  return true;
}

bool AppendToRecord(const SiteLayout& site, std::string_view text, RecordEntry& added) {
  std::vector<RecordEntry> entries;
  if (!EnsurePrivateFolder(site.record_dir()) || !ListRecord(site, entries)) return false;
  added.number = entries.empty() ? 1 : entries.back().number + 1;
  added.path = site.record_dir() + "/" + EntryName(added.number);
  return WriteFileAtomic(Utf8ToWide(added.path), text);
}

}  // namespace hv::publish
