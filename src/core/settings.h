// The launcher's small persistent memory: "launcher.ini" in the state folder, section
// "launcher", keys "lang", "terms_accepted" and "pin_version". Every read goes to the file and
// every write goes through at once; nothing is cached. Each read and each read-modify-write is
// atomic with respect to other threads of the process. A missing or unreadable file reads as the
// defaults; a failed write is silently lost.
#pragma once

#include <string>
#include <string_view>

namespace hv {

enum class UiLanguage { Portuguese, English };

class LauncherSettings {
 public:
  explicit LauncherSettings(const std::u16string& state_dir);

  // The stored value, cut to 1023 UTF-16 units, or default_value when the file, the section or
  // the key is missing.
  std::u16string ReadSetting(std::u16string_view key, std::u16string_view default_value) const;
  // Creates the file and the section when missing; clearing writes an empty value (the key
  // stays as "key=").
  void WriteSetting(std::u16string_view key, std::u16string_view value) const;

  const std::u16string& file() const { return file_; }

 private:
  std::u16string file_;
};

// "" (missing or empty) and exactly "pt" mean Portuguese; any other value English.
UiLanguage LanguageFromSetting(std::u16string_view lang);
// Accepted only when the stored version equals the one this launcher shows, exactly.
bool TermsAccepted(std::u16string_view stored, std::u16string_view terms_version);
// Writes "pt" or "en".
void SaveLanguage(const LauncherSettings& settings, UiLanguage language);

}  // namespace hv
