#include "update/status_text.h"

#include <gtest/gtest.h>

namespace hv {
namespace {

UpdateStatus Status(UpdatePhase phase, UpdateError code = UpdateError::NoError,
                    bool pinned = false) {
  UpdateStatus status;
  status.phase = phase;
  status.error_code = code;
  status.pinned = pinned;
  return status;
}

struct Case {
  UpdateStatus status;
  std::u16string pt;
  std::u16string en;
  bool error;
};

const Case kCases[] = {
    {Status(UpdatePhase::Preparing), u"Preparando...", u"Preparing...", false},
    {Status(UpdatePhase::Checking), u"Buscando atualizações...", u"Checking for updates...", false},
    {Status(UpdatePhase::Verifying), u"Verificando arquivos", u"Verifying files", false},
    {Status(UpdatePhase::Installing), u"Instalando atualização...", u"Installing update...", false},
    {Status(UpdatePhase::UpToDate), u"Pronto para jogar", u"Ready to play", false},
    {Status(UpdatePhase::UpToDate, UpdateError::NoError, true),
     u"Versão anterior restaurada. Atualização automática adiada.",
     u"Previous version restored. Automatic update postponed.", false},
    {Status(UpdatePhase::UsingInstalled), u"Sem conexão: usando a versão instalada",
     u"Offline: using the installed version", false},
    {Status(UpdatePhase::UsingInstalled, UpdateError::ConnectionDropped),
     u"Atualização não concluída: usando a versão instalada",
     u"Update not completed: using the installed version", false},
    {Status(UpdatePhase::Restoring), u"Restaurando versão anterior...",
     u"Restoring previous version...", false},
    {Status(UpdatePhase::Failed, UpdateError::NoConnectionNoClient),
     u"Sem conexão e sem cliente válido instalado.",
     u"No connection and no valid client installed.", true},
    {Status(UpdatePhase::Failed, UpdateError::InvalidManifest),
     u"Manifesto de atualização inválido. Nada foi alterado.",
     u"Invalid update manifest. Nothing was changed.", true},
    {Status(UpdatePhase::Failed, UpdateError::ConnectionDropped),
     u"A conexão caiu durante o download.", u"The connection dropped during the download.", true},
    {Status(UpdatePhase::Failed, UpdateError::DownloadAltered),
     u"Arquivo baixado não confere (alterado). Nada foi instalado.",
     u"Downloaded file does not match (altered). Nothing was installed.", true},
    {Status(UpdatePhase::Failed, UpdateError::DiskSpace), u"Espaço em disco insuficiente. Necessário: ",
     u"Not enough disk space. Required: ", true},
    {Status(UpdatePhase::Failed, UpdateError::ClientRunning),
     u"Feche o jogo para concluir a atualização.", u"Close the game to finish the update.", true},
    {Status(UpdatePhase::Failed, UpdateError::ReplaceFailed),
     u"Não foi possível substituir os arquivos. A versão anterior foi mantida.",
     u"Could not replace the files. The previous version was kept.", true},
    {Status(UpdatePhase::Failed, UpdateError::RestoreFailed),
     u"Não foi possível restaurar a versão anterior.", u"Could not restore the previous version.",
     true},
    {Status(UpdatePhase::Failed, static_cast<UpdateError>(8)),
     u"A conexão caiu durante o download.", u"The connection dropped during the download.", true},
    {Status(static_cast<UpdatePhase>(9)), u"", u"", false},
};

TEST(DescribeStatus, GivesEveryLineInBothLanguages) {
  for (const Case& c : kCases) {
    const StatusLine pt = DescribeStatus(c.status, UiLanguage::Portuguese);
    const StatusLine en = DescribeStatus(c.status, UiLanguage::English);
    EXPECT_EQ(pt.text, c.pt);
    EXPECT_EQ(en.text, c.en);
    EXPECT_EQ(pt.error, c.error) << testing::PrintToString(c.en);
    EXPECT_EQ(en.error, c.error) << testing::PrintToString(c.en);
  }
}

TEST(DescribeStatus, FillsTheDownloadAndDiskSpaceLines) {
  UpdateStatus status = Status(UpdatePhase::Downloading);
  status.bytes_done = 13107200;          // 12.5 MiB
  status.bytes_total = 1288490189;       // 1.2 GiB
  EXPECT_EQ(DescribeStatus(status, UiLanguage::English).text,
            u"Downloading update \u00B7 12.5 MB / 1.20 GB");
  status.bytes_done = 0;
  status.bytes_total = 3ull << 30;
  EXPECT_EQ(DescribeStatus(status, UiLanguage::Portuguese).text,
            u"Baixando atualização \u00B7 0 KB / 3.00 GB");

  status = Status(UpdatePhase::Failed, UpdateError::DiskSpace);
  status.error_detail = u"2.06 GB";
  EXPECT_EQ(DescribeStatus(status, UiLanguage::English).text,
            u"Not enough disk space. Required: 2.06 GB");
}

TEST(FormatSize, UsesPowersOf1024) {
  const struct {
    uint64_t bytes;
    std::u16string text;
  } cases[] = {
      {0, u"0 KB"},          {1023, u"1 KB"},           {1048575, u"1024 KB"},
      {1048576, u"1.0 MB"},  {1073741823, u"1024.0 MB"}, {1073741824, u"1.00 GB"},
      {2212495360, u"2.06 GB"}, {18446744073709551615ull, u"17179869184.00 GB"},
  };
  for (const auto& c : cases) EXPECT_EQ(FormatSize(c.bytes), c.text) << c.bytes;
}

}  // namespace
}  // namespace hv
