#include "core/text.h"

#include <gtest/gtest.h>

namespace hv {
namespace {

struct DecodeCase {
  const char* name;
  std::string bytes;
  std::u16string text;
};

// Malformed input: one U+FFFD per maximal ill-formed subsequence, the same on every platform.
const DecodeCase kDecodeCases[] = {
    {"empty", "", u""},
    {"ascii", "Halvoryn 1.0", u"Halvoryn 1.0"},
    {"two bytes", "\xC3\xA7\xC3\xA3o", u"\u00E7\u00E3o"},
    {"three bytes", "\xE2\x82\xAC", u"\u20AC"},
    {"four bytes", "\xF0\x9F\x8E\xAE", u"\U0001F3AE"},
    {"byte-order mark kept", "\xEF\xBB\xBFx", u"\uFEFFx"},
    {"lone continuation", "a\x80z", u"a\uFFFDz"},
    {"invalid lead bytes", "\xC0\xC1\xF5\xFF", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
    {"overlong two-byte NUL", "\xC0\x80", u"\uFFFD\uFFFD"},
    {"overlong three-byte", "\xE0\x80\xAF", u"\uFFFD\uFFFD\uFFFD"},
    {"encoded surrogate", "\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},
    {"above U+10FFFF", "\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
    {"truncated at end", "ok\xE2\x82", u"ok\uFFFD"},
    {"truncated before ascii", "\xF0\x9F\x8E" "A", u"\uFFFDA"},
    {"truncated before new lead", "\xE2\x82\xC3\xA9", u"\uFFFD\u00E9"},
    {"highest code point", "\xF4\x8F\xBF\xBF", u"\U0010FFFF"},
    {"NUL byte", std::string("a\0b", 3), std::u16string(u"a\0b", 3)},
};

TEST(Utf8ToWide, DecodesAndReplacesMalformedInput) {
  for (const DecodeCase& c : kDecodeCases) {
    EXPECT_EQ(Utf8ToWide(c.bytes), c.text) << c.name;
  }
}

TEST(WideToUtf8, EncodesAndReplacesUnpairedSurrogates) {
  const struct {
    std::u16string text;
    std::string bytes;
  } cases[] = {
      {u"", ""},
      {u"pt \u00E7 \u20AC \U0001F3AE", "pt \xC3\xA7 \xE2\x82\xAC \xF0\x9F\x8E\xAE"},
      {std::u16string{0xD800}, "\xEF\xBF\xBD"},
      {std::u16string{0xDC00, u'a'}, "\xEF\xBF\xBD" "a"},
      {std::u16string{0xD83C, 0xD83C, 0xDFAE}, "\xEF\xBF\xBD\xF0\x9F\x8E\xAE"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(WideToUtf8(c.text), c.bytes);
  }
}

TEST(WideToUtf8, RoundTripsEveryWellFormedText) {
  std::u16string all;
  for (char32_t cp = 1; cp < 0x110000; cp += 97) {
    if (cp >= 0xD800 && cp <= 0xDFFF) continue;
    if (cp < 0x10000) {
      all.push_back(static_cast<char16_t>(cp));
    } else {
      all.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
      all.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
    }
  }
  EXPECT_EQ(Utf8ToWide(WideToUtf8(all)), all);
}

TEST(DecodeEscapedUtf8, OnlyBackslashNIsAnEscape) {
  const struct {
    std::string bytes;
    std::u16string text;
  } cases[] = {
      {"", u""},
      {"one\\ntwo", u"one\ntwo"},
      {"a\\\\nb", u"a\\\nb"},
      {"end\\", u"end\\"},
      {"tab\\t and \\N", u"tab\\t and \\N"},
      {"\\n\\n", u"\n\n"},
      {"vers\xC3\xA3o\\nnova", u"vers\u00E3o\nnova"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DecodeEscapedUtf8(c.bytes), c.text) << c.bytes;
  }
}

TEST(AsciiLower, ChangesOnlyAToZ) {
  EXPECT_EQ(AsciiLower(u"Data\\ÀÉ\u0130Z@[`"), u"data\\ÀÉ\u0130z@[`");
}

}  // namespace
}  // namespace hv
