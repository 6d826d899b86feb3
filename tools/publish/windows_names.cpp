#include "publish/windows_names.h"

#include <locale.h>
#include <wctype.h>

#include "core/text.h"

namespace hv::publish {
namespace {

constexpr std::u16string_view kDeviceNames[] = {u"con", u"prn",    u"aux",
                                                u"nul", u"conin$", u"conout$"};
constexpr std::u16string_view kNotInNames = u"<>:\"/\\|?*";
constexpr size_t kMaxNameLength = 255;

bool IsPortDigit(char16_t c) {
  return (c >= u'0' && c <= u'9') || c == u'\u00b9' || c == u'\u00b2' || c == u'\u00b3';
}

// The Unicode case mappings of the C.UTF-8 locale, whatever locale the process runs in.
locale_t CaseLocale() {
  static const locale_t locale = ::newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
  return locale;
}

char32_t Upper(char32_t c) {
  const locale_t locale = CaseLocale();
  if (!locale) return c >= U'a' && c <= U'z' ? c - 32 : c;
  return static_cast<char32_t>(::towupper_l(static_cast<wint_t>(c), locale));
}

}  // namespace

bool IsWindowsDeviceName(std::u16string_view component) {
  std::u16string_view base = component.substr(0, component.find(u'.'));
  while (!base.empty() && base.back() == u' ') base.remove_suffix(1);
  const std::u16string lower = AsciiLower(base);
  for (std::u16string_view device : kDeviceNames) {
    if (lower == device) return true;
  }
  return lower.size() == 4 && (lower.starts_with(u"com") || lower.starts_with(u"lpt")) &&
         IsPortDigit(lower[3]);
}

std::string FolderNameProblem(std::u16string_view name) {
  if (name.empty()) return "is empty";
  if (name == u"." || name == u"..") return "is '.' or '..'";
  if (name.size() > kMaxNameLength) return "is longer than 255 characters";
  for (char16_t c : name) {
    if (c < 0x20) return "holds a control character";
    if (kNotInNames.find(c) != std::u16string_view::npos) {
      return "holds '" + WideToUtf8(std::u16string(1, c)) +
             "', which a Windows file name cannot hold (none of < > : \" / \\ | ? *)";
    }
  }
  if (name.back() == u'.' || name.back() == u' ') return "ends in a dot or a space";
  if (IsWindowsDeviceName(name)) return "is a device name on Windows";
  return {};
}

std::u32string WindowsNameKey(std::u16string_view path) {
  std::u32string key;
  key.reserve(path.size());
  for (size_t i = 0; i < path.size(); ++i) {
    char32_t c = path[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < path.size() && path[i + 1] >= 0xDC00 &&
        path[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (path[++i] - 0xDC00);
    }
    key.push_back(c == u'/' ? U'\\' : Upper(c));
  }
  return key;
}

}  // namespace hv::publish
