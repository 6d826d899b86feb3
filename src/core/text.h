// Text conversions between UTF-8 bytes (std::string) and UTF-16 text (std::u16string).
//
// The codec is our own so that malformed input gives the same result on every platform:
// each maximal ill-formed subsequence of UTF-8 becomes one U+FFFD (the Unicode recommendation),
// and each unpaired surrogate of UTF-16 becomes the UTF-8 form of U+FFFD. Nothing is rejected,
// and a byte-order mark is kept as U+FEFF.
#pragma once

#include <string>
#include <string_view>

namespace hv {

std::u16string Utf8ToWide(std::string_view bytes);
std::string WideToUtf8(std::u16string_view text);
// WideToUtf8 appended to out.
void AppendUtf8(std::string& out, std::u16string_view text);

// Replaces each backslash directly followed by 'n' with a line feed, then decodes as UTF-8.
// No other escape exists: a doubled backslash or a trailing backslash stays as it is.
std::u16string DecodeEscapedUtf8(std::string_view bytes);

// ASCII-only case folding (A-Z to a-z), code unit by code unit; every other unit is kept.
inline char16_t AsciiLower(char16_t c) { return (c >= u'A' && c <= u'Z') ? char16_t(c + 32) : c; }
std::u16string AsciiLower(std::u16string_view text);
bool EqualsIgnoringAsciiCase(std::u16string_view a, std::u16string_view b);

}  // namespace hv
