#include "core/settings.h"

#include "core/file_util.h"

namespace hv {

LauncherSettings::LauncherSettings(const std::u16string& state_dir)
    : file_(JoinPath(state_dir, u"launcher.ini")) {}

UiLanguage LanguageFromSetting(std::u16string_view lang) {
  return lang.empty() || lang == u"pt" ? UiLanguage::Portuguese : UiLanguage::English;
}

bool TermsAccepted(std::u16string_view stored, std::u16string_view terms_version) {
  return stored == terms_version;
}

void SaveLanguage(const LauncherSettings& settings, UiLanguage language) {
  settings.WriteSetting(u"lang", language == UiLanguage::Portuguese ? u"pt" : u"en");
}

}  // namespace hv
