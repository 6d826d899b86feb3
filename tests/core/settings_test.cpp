#include "core/settings.h"

#include <gtest/gtest.h>

#include <thread>

#include "support/test_files.h"

namespace hv {
namespace {

using test::ReadFileRaw;
using test::TempDir;
using test::WriteFileRaw;

constexpr std::u16string_view kTermsVersion = u"2026-11-22";

TEST(LauncherSettings, AMissingFileReadsAsDefaults) {
  TempDir dir;
  const LauncherSettings settings(dir.path());
  EXPECT_EQ(settings.ReadSetting(u"lang", u""), u"");
  EXPECT_EQ(settings.ReadSetting(u"pin_version", u"fallback"), u"fallback");
  EXPECT_EQ(LanguageFromSetting(settings.ReadSetting(u"lang", u"")), UiLanguage::Portuguese);
  EXPECT_FALSE(TermsAccepted(settings.ReadSetting(u"terms_accepted", u""), kTermsVersion));
}

TEST(LauncherSettings, ReadsBackWhatItWroteAndKeepsClearedKeys) {
  TempDir dir;
  const LauncherSettings settings(dir.path());
  settings.WriteSetting(u"lang", u"en");
  settings.WriteSetting(u"terms_accepted", kTermsVersion);
  settings.WriteSetting(u"pin_version", u"2.4.1");
  settings.WriteSetting(u"pin_version", u"");
  EXPECT_EQ(settings.ReadSetting(u"lang", u""), u"en");
  EXPECT_EQ(settings.ReadSetting(u"terms_accepted", u""), kTermsVersion);
  EXPECT_EQ(settings.ReadSetting(u"pin_version", u"x"), u"");
  EXPECT_NE(ReadFileRaw(dir.Sub(u"launcher.ini")).find("pin_version="), std::string::npos);
}

TEST(LauncherSettings, KeepsOtherSectionsAndKeys) {
  TempDir dir;
  WriteFileRaw(dir.Sub(u"launcher.ini"),
               "[window]\nx=10\n\n[launcher]\nlang=pt\ncustom=keep me\n\n[other]\nlang=xx\n");
  const LauncherSettings settings(dir.path());
  settings.WriteSetting(u"lang", u"en");
  settings.WriteSetting(u"pin_version", u"1.2");
  EXPECT_EQ(settings.ReadSetting(u"lang", u""), u"en");
  EXPECT_EQ(settings.ReadSetting(u"custom", u""), u"keep me");
  EXPECT_EQ(settings.ReadSetting(u"pin_version", u""), u"1.2");
  const std::string text = ReadFileRaw(dir.Sub(u"launcher.ini"));
  EXPECT_NE(text.find("[window]"), std::string::npos);
  EXPECT_NE(text.find("x=10"), std::string::npos);
  EXPECT_NE(text.find("lang=xx"), std::string::npos);
}

TEST(LauncherSettings, CutsLongValuesTo1023Units) {
  TempDir dir;
  const LauncherSettings settings(dir.path());
  settings.WriteSetting(u"pin_version", std::u16string(2000, u'7'));
  EXPECT_EQ(settings.ReadSetting(u"pin_version", u""), std::u16string(1023, u'7'));
}

TEST(LauncherSettings, ConcurrentWritersOfDifferentKeysLoseNothing) {
  TempDir dir;
  const LauncherSettings settings(dir.path());
  constexpr int kRounds = 200;
  auto value = [](int round) { return std::u16string{u'v', char16_t(u'0' + round % 10)}; };
  auto writer = [&](std::u16string key) {
    for (int i = 0; i <= kRounds; ++i) {
      settings.WriteSetting(key, value(i));
      settings.ReadSetting(key, u"");
    }
  };
  std::thread ui(writer, u"lang");
  std::thread worker(writer, u"pin_version");
  ui.join();
  worker.join();
  EXPECT_EQ(settings.ReadSetting(u"lang", u""), value(kRounds));
  EXPECT_EQ(settings.ReadSetting(u"pin_version", u""), value(kRounds));
}

TEST(SettingInterpretation, LanguageAndTermsCompareExactly) {
  const struct {
    std::u16string lang;
    UiLanguage language;
  } languages[] = {{u"", UiLanguage::Portuguese},
                   {u"pt", UiLanguage::Portuguese},
                   {u"en", UiLanguage::English},
                   {u"EN", UiLanguage::English},
                   {u"PT", UiLanguage::English},
                   {u"es", UiLanguage::English}};
  for (const auto& c : languages) {
    EXPECT_EQ(LanguageFromSetting(c.lang), c.language) << testing::PrintToString(c.lang);
  }
  EXPECT_TRUE(TermsAccepted(u"2026-11-22", kTermsVersion));
  EXPECT_FALSE(TermsAccepted(u"2025-01-01", kTermsVersion));
  EXPECT_FALSE(TermsAccepted(u"2026-11-22 ", kTermsVersion));
  EXPECT_FALSE(TermsAccepted(u"", kTermsVersion));
}

TEST(SettingInterpretation, SaveLanguageWritesPtOrEn) {
  TempDir dir;
  const LauncherSettings settings(dir.path());
  SaveLanguage(settings, UiLanguage::English);
  EXPECT_EQ(settings.ReadSetting(u"lang", u""), u"en");
  SaveLanguage(settings, UiLanguage::Portuguese);
  EXPECT_EQ(settings.ReadSetting(u"lang", u""), u"pt");
}

}  // namespace
}  // namespace hv
