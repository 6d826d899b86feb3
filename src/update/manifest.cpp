#include "update/manifest.h"

#include <array>
#include <cstring>
#include <optional>

#include "core/file_util.h"
#include "core/text.h"

namespace hv {
namespace {

constexpr std::string_view kHeader = "HALVORYN-MANIFEST 1";
constexpr size_t kDigestLength = 64;
constexpr size_t kMaxSizeDigits = 12;

// Digest characters are random, so a branch per character would mispredict half the time.
bool IsLowerHexText(std::u16string_view text) {
  static constexpr auto kTable = [] {
    std::array<bool, 128> table{};
    for (char c : std::string_view("0123456789abcdef")) table[static_cast<size_t>(c)] = true;
    return table;
  }();
  bool all = true;
  for (char16_t c : text) all &= (c < 128) & kTable[c & 127];
  return all;
}
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

std::u16string NumberedReason(std::u16string_view prefix, size_t line_number) {
  std::u16string reason(prefix);
  for (char c : std::to_string(line_number)) reason.push_back(static_cast<char16_t>(c));
  return reason;
}

size_t CountLines(std::string_view text) {
  size_t lines = 1;
  for (size_t at = text.find('\n'); at != std::string_view::npos; at = text.find('\n', at + 1)) {
    ++lines;
  }
  return lines;
}

// The entry paths seen so far, compared ignoring ASCII case, as indices into the entries. Open
// addressing sized once from the number of lines, so it never grows while parsing.
class SeenPaths {
 public:
  explicit SeenPaths(size_t max_entries) {
    size_t capacity = 16;
    while (capacity < 2 * max_entries) capacity *= 2;
    slots_.resize(capacity);
  }

  // Hash of a path for Insert. Starts fetching its slot: the table is larger than the caches,
  // and the parser checks the entry while the fetch is under way.
  uint64_t Prepare(std::u16string_view path) const {
    const uint64_t hash = HashIgnoringCase(path);
    __builtin_prefetch(&slots_[hash & (slots_.size() - 1)]);
    return hash;
  }

  // False when entries already holds a path equal to path ignoring case; otherwise records that
  // path, whose hash Prepare gave, will be entries[index].
  bool Insert(const std::vector<ManifestEntry>& entries, const std::u16string& path, uint64_t hash,
              size_t index) {
    const uint32_t tag = static_cast<uint32_t>(hash >> 32);
    for (size_t i = hash & (slots_.size() - 1);; i = (i + 1) & (slots_.size() - 1)) {
      Slot& slot = slots_[i];
      if (slot.index_plus_one == 0) {
        slot = {tag, static_cast<uint32_t>(index + 1)};
        return true;
      }
      if (slot.tag == tag && EqualsIgnoringAsciiCase(entries[slot.index_plus_one - 1].path, path)) {
        return false;
      }
    }
  }

 private:
  struct Slot {
    uint32_t tag = 0;             // high half of the hash
    uint32_t index_plus_one = 0;  // 0: empty
  };

  // Letters hash like their lower-case form (bit 0x20 is set on every unit, which also merges a
  // few other pairs; the equality test sorts those out). Four units per multiplication.
  static uint64_t HashIgnoringCase(std::u16string_view text) {
    uint64_t hash = 0x9E3779B97F4A7C15ull ^ text.size();
    size_t i = 0;
    for (; i + 4 <= text.size(); i += 4) {
      uint64_t chunk;
      std::memcpy(&chunk, text.data() + i, sizeof chunk);
      hash = (hash ^ (chunk | 0x0020002000200020ull)) * 0xFF51AFD7ED558CCDull;
      hash ^= hash >> 32;
    }
    for (; i < text.size(); ++i) hash = (hash ^ (text[i] | 0x20u)) * 0xC4CEB9FE1A85EC53ull;
    return hash ^ (hash >> 29);
  }

  std::vector<Slot> slots_;
};

class ManifestParser {
 public:
  ManifestParser(const std::u16string& client_dir, Manifest& out, std::u16string& reason)
      : client_dir_(client_dir), out_(out), reason_(reason) {}

  bool Parse(std::string_view text) {
    out_ = Manifest{};
    if (text.empty()) return Fail(u"incomplete");
    const size_t max_lines = CountLines(text);
    out_.entries.reserve(max_lines);
    seen_paths_.emplace(max_lines);
    size_t line_number = 0;
    size_t begin = 0;
    while (begin < text.size()) {
      size_t end = text.find('\n', begin);
      if (end == std::string_view::npos) end = text.size();
      std::string_view line = text.substr(begin, end - begin);
      begin = end + 1;
      ++line_number;
      if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
      if (line.empty() || line.front() == '#') continue;
      if (!header_seen_) {
        if (line != kHeader) return Fail(u"header");
        header_seen_ = true;
        continue;
      }
      if (!ApplyField(line, line_number)) return false;
    }
    return Finish();
  }

 private:
  bool Fail(std::u16string reason) {
    reason_ = std::move(reason);
    return false;
  }

  bool ApplyField(std::string_view line, size_t line_number) {
    const size_t space = line.find(' ');
    const std::string_view key = line.substr(0, space);
    const std::string_view value =
        space == std::string_view::npos ? std::string_view{} : line.substr(space + 1);
    if (key == "file") return AddEntry(value, line_number);
    if (key == "version") {
      out_.version = value;
    } else if (key == "min_version") {
      out_.min_version = value;
    } else if (key == "launcher_min") {
      out_.launcher_min = value;
    } else if (key == "exe") {
      out_.exe = Utf8ToWide(value);
    } else if (key == "notes_pt") {
      out_.notes_pt = DecodeEscapedUtf8(value);
    } else if (key == "notes_en") {
      out_.notes_en = DecodeEscapedUtf8(value);
    } else if (key == "privacy_url") {
      out_.privacy_url = value.starts_with("https://") ? Utf8ToWide(value) : std::u16string();
    }
    return true;
  }

  bool AddEntry(std::string_view value, size_t line_number) {
    const size_t first = value.find(' ');
    const size_t second = first == std::string_view::npos ? first : value.find(' ', first + 1);
    if (second == std::string_view::npos) return Fail(NumberedReason(u"file line ", line_number));

    ManifestEntry entry;
    entry.sha256 = Utf8ToWide(value.substr(0, first));
    const std::string_view size = value.substr(first + 1, second - first - 1);
    entry.path = Utf8ToWide(value.substr(second + 1));
    for (char16_t& c : entry.path) c = c == u'/' ? u'\\' : c;
    const uint64_t hash = seen_paths_->Prepare(entry.path);
    if (!IsValidEntry(entry, size)) {
      return Fail(NumberedReason(u"invalid entry line ", line_number));
    }
    if (!seen_paths_->Insert(out_.entries, entry.path, hash, out_.entries.size())) {
      return Fail(u"duplicate path");
    }
    for (char c : size) entry.size = entry.size * 10 + static_cast<uint64_t>(c - '0');
    out_.entries.push_back(std::move(entry));
    return true;
  }

  bool IsValidEntry(const ManifestEntry& entry, std::string_view size) const {
    if (entry.sha256.size() != kDigestLength || !IsLowerHexText(entry.sha256)) return false;
    if (size.empty() || size.size() > kMaxSizeDigits) return false;
    for (char c : size) {
      if (!IsDigit(c)) return false;
    }
    return IsSafeRelativePath(client_dir_, entry.path);
  }

  bool Finish() {
    if (!header_seen_ || out_.version.empty() || out_.exe.empty() || out_.entries.empty() ||
        !IsSafeRelativePath(client_dir_, out_.exe)) {
      return Fail(u"incomplete");
    }
    bool listed = false;
    for (const ManifestEntry& entry : out_.entries) {
      if (EqualsIgnoringAsciiCase(out_.exe, entry.path)) {
        listed = true;
        break;
      }
    }
    if (!listed) return Fail(u"exe not listed");
    if (out_.min_version.empty()) out_.min_version = out_.version;
    return true;
  }

  const std::u16string& client_dir_;
  Manifest& out_;
  std::u16string& reason_;
  bool header_seen_ = false;
  std::optional<SeenPaths> seen_paths_;
};

// One component: the digits of the bytes up to the next '.' or the end.
struct Component {
  std::string_view text;
  size_t significant_digits = 0;  // digits after leading zeros
};

Component NextComponent(std::string_view& rest) {
  const size_t dot = rest.find('.');
  Component component{rest.substr(0, dot)};
  rest = dot == std::string_view::npos ? std::string_view{} : rest.substr(dot + 1);
  bool leading = true;
  for (char c : component.text) {
    if (!IsDigit(c) || (leading && c == '0')) continue;
    leading = false;
    ++component.significant_digits;
  }
  return component;
}

// Compares the decimal numbers of two components exactly: more significant digits is larger,
// and with as many digits the first differing digit decides.
int CompareComponents(const Component& a, const Component& b) {
  if (a.significant_digits != b.significant_digits) {
    return a.significant_digits < b.significant_digits ? -1 : 1;
  }
  auto next_significant = [](std::string_view text, size_t& at, bool& leading) {
    while (at < text.size()) {
      const char c = text[at++];
      if (!IsDigit(c) || (leading && c == '0')) continue;
      leading = false;
      return c;
    }
    return '0';
  };
  size_t ia = 0, ib = 0;
  bool leading_a = true, leading_b = true;
  for (size_t i = 0; i < a.significant_digits; ++i) {
    const char da = next_significant(a.text, ia, leading_a);
    const char db = next_significant(b.text, ib, leading_b);
    if (da != db) return da < db ? -1 : 1;
  }
  return 0;
}

}  // namespace

bool ParseManifest(std::string_view text, const std::u16string& client_dir, Manifest& out,
                   std::u16string& reason) {
  return ManifestParser(client_dir, out, reason).Parse(text);
}

int CompareVersions(std::string_view a, std::string_view b) {
  // A used-up string yields empty components, whose value is 0.
  while (!a.empty() || !b.empty()) {
    const Component ca = NextComponent(a);
    const Component cb = NextComponent(b);
    if (const int order = CompareComponents(ca, cb); order != 0) return order;
  }
  return 0;
}

}  // namespace hv
