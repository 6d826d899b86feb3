#include "update/status_text.h"

#include <cstdio>

#include "core/text.h"

namespace hv {
namespace {

constexpr size_t kMaxDownloadLine = 255;  // what fits a 256-unit buffer

struct Text {
  const char16_t* pt;
  const char16_t* en;
};

std::u16string Pick(const Text& text, UiLanguage language) {
  return language == UiLanguage::Portuguese ? text.pt : text.en;
}

Text FailureText(UpdateError code) {
  switch (code) {
    case UpdateError::NoConnectionNoClient:
      return {u"Sem conexão e sem cliente válido instalado.",
              u"No connection and no valid client installed."};
    case UpdateError::InvalidManifest:
      return {u"Manifesto de atualização inválido. Nada foi alterado.",
              u"Invalid update manifest. Nothing was changed."};
    case UpdateError::DownloadAltered:
      return {u"Arquivo baixado não confere (alterado). Nada foi instalado.",
              u"Downloaded file does not match (altered). Nothing was installed."};
    case UpdateError::DiskSpace:
      return {u"Espaço em disco insuficiente. Necessário: ", u"Not enough disk space. Required: "};
    case UpdateError::ClientRunning:
      return {u"Feche o jogo para concluir a atualização.",
              u"Close the game to finish the update."};
    case UpdateError::ReplaceFailed:
      return {u"Não foi possível substituir os arquivos. A versão anterior foi mantida.",
              u"Could not replace the files. The previous version was kept."};
    case UpdateError::RestoreFailed:
      return {u"Não foi possível restaurar a versão anterior.",
              u"Could not restore the previous version."};
    default:  // ConnectionDropped, and any code without a text of its own
      return {u"A conexão caiu durante o download.",
              u"The connection dropped during the download."};
  }
}

}  // namespace

std::u16string FormatSize(uint64_t bytes) {
  char text[64];
  const double value = static_cast<double>(bytes);
  if (bytes > 1073741823) {
    std::snprintf(text, sizeof text, "%.2f GB", value / 1073741824.0);
  } else if (bytes > 1048575) {
    std::snprintf(text, sizeof text, "%.1f MB", value / 1048576.0);
  } else {
    std::snprintf(text, sizeof text, "%.0f KB", value / 1024.0);
  }
  return Utf8ToWide(text);
}

StatusLine DescribeStatus(const UpdateStatus& status, UiLanguage language) {
  switch (status.phase) {
    case UpdatePhase::Preparing:
      return {Pick({u"Preparando...", u"Preparing..."}, language)};
    case UpdatePhase::Checking:
      return {Pick({u"Buscando atualizações...", u"Checking for updates..."}, language)};
    case UpdatePhase::Verifying:
      return {Pick({u"Verificando arquivos", u"Verifying files"}, language)};
    case UpdatePhase::Downloading: {
      std::u16string line = Pick({u"Baixando atualização", u"Downloading update"}, language) +
                            u" \u00B7 " + FormatSize(status.bytes_done) + u" / " +
                            FormatSize(status.bytes_total);
      if (line.size() > kMaxDownloadLine) line.resize(kMaxDownloadLine);
      return {line};
    }
    case UpdatePhase::Installing:
      return {Pick({u"Instalando atualização...", u"Installing update..."}, language)};
    case UpdatePhase::UpToDate:
      return {status.pinned ? Pick({u"Versão anterior restaurada. Atualização automática adiada.",
                                    u"Previous version restored. Automatic update postponed."},
                                   language)
                            : Pick({u"Pronto para jogar", u"Ready to play"}, language)};
    case UpdatePhase::UsingInstalled:
      return {status.error_code != UpdateError::NoError
                  ? Pick({u"Atualização não concluída: usando a versão instalada",
                          u"Update not completed: using the installed version"},
                         language)
                  : Pick({u"Sem conexão: usando a versão instalada",
                          u"Offline: using the installed version"},
                         language)};
    case UpdatePhase::Failed: {
      std::u16string line = Pick(FailureText(status.error_code), language);
      if (status.error_code == UpdateError::DiskSpace) line += status.error_detail;
      return {line, true};
    }
    case UpdatePhase::Restoring:
      return {
          Pick({u"Restaurando versão anterior...", u"Restoring previous version..."}, language)};
  }
  return {};
}

}  // namespace hv
