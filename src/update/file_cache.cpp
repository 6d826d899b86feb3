#include "update/file_cache.h"

#include <charconv>
#include <limits>

#include "core/text.h"

namespace hv {
namespace {

uint64_t LeadingNumber(std::string_view text) {
  uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') break;
    const uint64_t digit = static_cast<uint64_t>(c - '0');
    if (value > (std::numeric_limits<uint64_t>::max() - digit) / 10) {
      return std::numeric_limits<uint64_t>::max();
    }
    value = value * 10 + digit;
  }
  return value;
}

void AppendNumber(std::string& out, uint64_t value) {
  char digits[20];
  const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  out.append(digits, end);
}

}  // namespace

FileCache ParseFileCache(std::string_view bytes) {
  FileCache cache;
  size_t begin = 0;
  while (begin < bytes.size()) {
    size_t end = bytes.find('\n', begin);
    if (end == std::string_view::npos) end = bytes.size();
    const std::string_view line = bytes.substr(begin, end - begin);
    begin = end + 1;
    const size_t first = line.find('\t');
    const size_t second = first == std::string_view::npos ? first : line.find('\t', first + 1);
    const size_t third = second == std::string_view::npos ? second : line.find('\t', second + 1);
    if (third == std::string_view::npos) continue;
    CacheRecord record;
    record.size = LeadingNumber(line.substr(0, first));
    record.write_time = LeadingNumber(line.substr(first + 1, second - first - 1));
    record.sha256 = Utf8ToWide(line.substr(second + 1, third - second - 1));
    // The file is written in key order, so the end is the right place nearly always.
    cache.insert_or_assign(cache.end(), Utf8ToWide(line.substr(third + 1)), std::move(record));
  }
  return cache;
}

std::string SerializeFileCache(const FileCache& cache) {
  std::string out;
  size_t estimate = 0;
  for (const auto& [path, record] : cache) estimate += 48 + record.sha256.size() + path.size() * 3;
  out.reserve(estimate);
  for (const auto& [path, record] : cache) {
    AppendNumber(out, record.size);
    out += '\t';
    AppendNumber(out, record.write_time);
    out += '\t';
    AppendUtf8(out, record.sha256);
    out += '\t';
    AppendUtf8(out, path);
    out += '\n';
  }
  return out;
}

}  // namespace hv
