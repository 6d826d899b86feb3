#include "core/text.h"

#include <cstdint>
#include <cstring>

namespace hv {
namespace {

constexpr char16_t kReplacement = 0xFFFD;
constexpr uint64_t kHighBits = 0x8080808080808080ull;

char* EncodeUtf8(char* out, char32_t cp) {
  if (cp < 0x800) {
    *out++ = static_cast<char>(0xC0 | (cp >> 6));
  } else if (cp < 0x10000) {
    *out++ = static_cast<char>(0xE0 | (cp >> 12));
    *out++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
  } else {
    *out++ = static_cast<char>(0xF0 | (cp >> 18));
    *out++ = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    *out++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
  }
  *out++ = static_cast<char>(0x80 | (cp & 0x3F));
  return out;
}

}  // namespace

std::u16string Utf8ToWide(std::string_view bytes) {
  // Never more UTF-16 units than bytes: write into a buffer of that size, then trim it.
  std::u16string out(bytes.size(), u'\0');
  char16_t* write = out.data();
  const size_t n = bytes.size();
  size_t i = 0;
  while (i < n) {
    // Most text is ASCII: widen eight bytes at a time while no high bit is set.
    uint64_t chunk;
    if (i + 8 <= n && (std::memcpy(&chunk, bytes.data() + i, 8), (chunk & kHighBits) == 0)) {
      for (size_t k = 0; k < 8; ++k) write[k] = static_cast<uint8_t>(bytes[i + k]);
      write += 8;
      i += 8;
      continue;
    }
    const uint8_t lead = static_cast<uint8_t>(bytes[i]);
    if (lead < 0x80) {
      *write++ = lead;
      ++i;
      continue;
    }
    // Length and the allowed range of the second byte, per the well-formed byte sequences
    // table of the Unicode standard. Anything else in the lead position is ill-formed alone.
    size_t length = 0;
    uint8_t low = 0x80, high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      if (lead == 0xE0) low = 0xA0;
      if (lead == 0xED) high = 0x9F;  // no encoded surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      if (lead == 0xF0) low = 0x90;
      if (lead == 0xF4) high = 0x8F;  // nothing above U+10FFFF
    }
    char32_t cp = lead & (0xFF >> (length + 1));
    size_t used = 1;
    while (used < length && i + used < n) {
      const uint8_t b = static_cast<uint8_t>(bytes[i + used]);
      const bool ok = used == 1 ? (b >= low && b <= high) : (b >= 0x80 && b <= 0xBF);
      if (!ok) break;
      cp = (cp << 6) | (b & 0x3F);
      ++used;
    }
    if (length == 0 || used < length) {
      *write++ = kReplacement;  // one replacement for the whole maximal subpart
    } else if (cp < 0x10000) {
      *write++ = static_cast<char16_t>(cp);
    } else {
      cp -= 0x10000;  // four bytes give two units: still no more units than bytes
      *write++ = static_cast<char16_t>(0xD800 + (cp >> 10));
      *write++ = static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    }
    i += used;
  }
  out.resize(static_cast<size_t>(write - out.data()));
  return out;
}

std::string WideToUtf8(std::u16string_view text) {
  std::string out;
  AppendUtf8(out, text);
  return out;
}

void AppendUtf8(std::string& out, std::u16string_view text) {
  // Paths and digests are nearly always ASCII: append those unit for byte.
  bool ascii = true;
  for (char16_t c : text) ascii &= c < 0x80;
  if (ascii) {
    out.append(text.begin(), text.end());
    return;
  }
  // At most three bytes per unit (a surrogate pair takes four bytes for two units): write into
  // room of that size, then trim it.
  const size_t start = out.size();
  out.resize(start + text.size() * 3);
  char* write = out.data() + start;
  const size_t n = text.size();
  for (size_t i = 0; i < n; ++i) {
    const char16_t c = text[i];
    if (c < 0x80) {
      *write++ = static_cast<char>(c);
      continue;
    }
    char32_t cp = c;
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < n && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((char32_t(c) - 0xD800) << 10) + (char32_t(text[i + 1]) - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      cp = kReplacement;
    }
    write = EncodeUtf8(write, cp);
  }
  out.resize(static_cast<size_t>(write - out.data()));
}

std::u16string DecodeEscapedUtf8(std::string_view bytes) {
  std::string unescaped;
  unescaped.reserve(bytes.size());
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] == '\\' && i + 1 < bytes.size() && bytes[i + 1] == 'n') {
      unescaped.push_back('\n');
      ++i;
    } else {
      unescaped.push_back(bytes[i]);
    }
  }
  return Utf8ToWide(unescaped);
}

std::u16string AsciiLower(std::u16string_view text) {
  std::u16string out(text);
  for (char16_t& c : out) c = AsciiLower(c);
  return out;
}

bool EqualsIgnoringAsciiCase(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

}  // namespace hv
