// A small INI reader and writer with the rules of the Windows profile functions that matter
// here: section and key names compare without regard to ASCII case, blanks around names and
// values are ignored, the first matching section and key win, lines starting with ';' are
// comments. A write changes only the one line of its key (or adds it at the end of the section,
// or adds the section at the end of the file) and keeps every other byte.
#include <mutex>

#include "core/file_util.h"
#include "core/settings.h"
#include "core/text.h"

namespace hv {
namespace {

constexpr std::string_view kSection = "launcher";
constexpr uint64_t kMaxFileSize = 1 << 20;
constexpr size_t kMaxValueUnits = 1023;

// One lock for the whole process: each read, and each read-modify-write, happens alone.
std::mutex& SettingsLock() {
  static std::mutex lock;
  return lock;
}

std::string_view Trim(std::string_view text) {
  const size_t begin = text.find_first_not_of(" \t");
  if (begin == std::string_view::npos) return {};
  return text.substr(begin, text.find_last_not_of(" \t") - begin + 1);
}

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(char16_t(static_cast<unsigned char>(a[i]))) !=
        AsciiLower(char16_t(static_cast<unsigned char>(b[i])))) {
      return false;
    }
  }
  return true;
}

// Where a key stands in the file, as byte offsets.
struct KeyLocation {
  bool section_found = false;
  size_t insert_at = 0;  // just after the last non-empty line of the section
  bool key_found = false;
  size_t line_begin = 0, line_end = 0;  // the key's line, without its line end
  std::string_view value;
};

KeyLocation FindKey(std::string_view text, std::string_view key) {
  KeyLocation found;
  bool in_section = false;
  size_t begin = 0;
  while (begin < text.size()) {
    size_t end = text.find('\n', begin);
    const size_t next = end == std::string_view::npos ? text.size() : end + 1;
    if (end == std::string_view::npos) end = text.size();
    size_t content_end = end;
    if (content_end > begin && text[content_end - 1] == '\r') --content_end;
    const std::string_view line = Trim(text.substr(begin, content_end - begin));

    if (!line.empty() && line.front() == '[') {
      const size_t close = line.find(']');
      const std::string_view name = Trim(
          line.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1));
      if (found.section_found && in_section) return found;  // the first section wins
      in_section = SameName(name, kSection);
      if (in_section) {
        found.section_found = true;
        found.insert_at = next;
      }
    } else if (in_section && !line.empty()) {
      found.insert_at = next;
      const size_t equals = line.find('=');
      if (line.front() != ';' && equals != std::string_view::npos && !found.key_found &&
          SameName(Trim(line.substr(0, equals)), key)) {
        found.key_found = true;
        found.line_begin = begin;
        found.line_end = content_end;
        found.value = Trim(line.substr(equals + 1));
      }
    }
    begin = next;
  }
  return found;
}

std::string ReadFile(const std::u16string& path) {
  std::string text;
  if (!ReadWholeFile(path, text, kMaxFileSize)) text.clear();
  return text;
}

}  // namespace

std::u16string LauncherSettings::ReadSetting(std::u16string_view key,
                                             std::u16string_view default_value) const {
  std::u16string value;
  {
    std::lock_guard<std::mutex> guard(SettingsLock());
    const std::string text = ReadFile(file_);
    const KeyLocation found = FindKey(text, WideToUtf8(key));
    value = found.key_found ? Utf8ToWide(found.value) : std::u16string(default_value);
  }
  if (value.size() > kMaxValueUnits) value.resize(kMaxValueUnits);
  return value;
}

void LauncherSettings::WriteSetting(std::u16string_view key, std::u16string_view value) const {
  const std::string key_bytes = WideToUtf8(key);
  const std::string line = key_bytes + "=" + WideToUtf8(value);
  std::lock_guard<std::mutex> guard(SettingsLock());
  std::string text = ReadFile(file_);
  const KeyLocation found = FindKey(text, key_bytes);
  if (found.key_found) {
    text.replace(found.line_begin, found.line_end - found.line_begin, line);
  } else if (found.section_found) {
    std::string insert = line + "\n";
    if (found.insert_at > 0 && text[found.insert_at - 1] != '\n') insert.insert(0, "\n");
    text.insert(found.insert_at, insert);
  } else {
    if (!text.empty() && text.back() != '\n') text += '\n';
    text += "[launcher]\n" + line + "\n";
  }
  WriteFileAtomic(file_, text);
}

}  // namespace hv
