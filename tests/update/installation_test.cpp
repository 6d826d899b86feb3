#include "update/installation.h"

#include <gtest/gtest.h>

#include "core/file.h"
#include "core/file_util.h"
#include "core/text.h"
#include "support/test_files.h"
#include "support/test_keys.h"
#include "support/test_servers.h"
#include "update/local_verification.h"

namespace hv {
namespace {

using test::PathExistsRaw;
using test::ReadFileRaw;
using test::ReadTree;
using test::TempDir;
using test::WriteFileRaw;
using Tree = std::map<std::u16string, std::string>;

// Two signed releases of a small client (tests/fixtures/releases): from 1.0 (A) to 2.0 (B) four
// files change, one is added, one is dropped, one stays.
class InstallationTest : public ::testing::Test {
 protected:
  InstallationTest() {
    const std::u16string root = dir_.Sub(u"root");
    layout_ = {root, root, JoinPath(root, u"client"), JoinPath(root, u"state"),
               JoinPath(root, u"state\\staging"), JoinPath(root, u"backup")};
    EnsureDirectory(layout_.client_dir);
    EnsureDirectory(layout_.state_dir);
    config_.public_key = test::DevelopmentPublicKey();
    board_.SetNotifier([this] { progress_seen_.push_back(board_.Snapshot().progress); });
  }

  EngineContext Context() {
    return {config_, layout_, settings_, board_, cancel_, clock_,
            [this](const std::u16string&) { return client_running_; }};
  }

  ManifestCopy Release(const char* name) {
    ManifestCopy copy;
    copy.text = test::ReadFixture(std::string("releases/") + name + "/manifest.txt");
    copy.signature = test::ReadFixture(std::string("releases/") + name + "/manifest.sig");
    EXPECT_TRUE(AcceptManifest(Context(), copy.text, copy.signature, copy.manifest));
    return copy;
  }
  Tree Files(const char* name) {
    return ReadTree(test::FixturePath(std::string("releases/") + name + "/files"));
  }

  // The client of a release, installed and recorded as the installed manifest.
  void InstallClient(const char* name) {
    test::CopyTree(test::FixturePath(std::string("releases/") + name + "/files"), layout_.client_dir);
    const ManifestCopy copy = Release(name);
    WriteFileRaw(JoinPath(layout_.state_dir, u"manifest.txt"), copy.text);
    WriteFileRaw(JoinPath(layout_.state_dir, u"manifest.sig"), copy.signature);
  }

  // Every content of a release in the staging folder, but those of the paths left out.
  void Stage(const char* name, const std::vector<std::u16string>& left_out = {}) {
    for (const auto& [path, content] : Files(name)) {
      if (std::find(left_out.begin(), left_out.end(), path) != left_out.end()) continue;
      WriteFileRaw(JoinPath(layout_.staging_dir, test::Sha256Hex(content)), content);
    }
  }

  std::vector<const ManifestEntry*> Downloads(const ManifestCopy& target) {
    EngineContext context = Context();
    std::vector<const ManifestEntry*> download;
    EXPECT_TRUE(VerifyInstalledFiles(context, target.manifest, download));
    return download;
  }

  UpdateError Install(const ManifestCopy& target, const ManifestCopy* installed) {
    EngineContext context = Context();
    const std::vector<const ManifestEntry*> download = Downloads(target);
    progress_seen_.clear();
    return InstallFromStaging(context, target, download, installed);
  }
  UpdateError Restore() {
    EngineContext context = Context();
    return RestorePreviousVersion(context);
  }

  std::string Stored(const char16_t* name) { return ReadFileRaw(JoinPath(layout_.state_dir, name)); }
  std::u16string Pin() { return settings_.ReadSetting(u"pin_version", u""); }

  TempDir dir_;
  StorageLayout layout_;
  LauncherSettings settings_{dir_.Sub(u"root\\state")};
  EngineConfig config_;
  StatusBoard board_;
  CancelFlag cancel_{0};
  Clock clock_ = SystemClock();
  bool client_running_ = false;
  std::vector<double> progress_seen_;
};

TEST_F(InstallationTest, UpdatesWithABackupAndRestoresItExactly) {
  InstallClient("A");
  const ManifestCopy a = Release("A"), b = Release("B");
  Stage("B");
  ASSERT_EQ(Install(b, &a), UpdateError::NoError);

  EXPECT_EQ(ReadTree(layout_.client_dir), Files("B"));
  EXPECT_EQ(Stored(u"manifest.txt"), b.text);
  EXPECT_EQ(Stored(u"manifest.sig"), b.signature);
  EXPECT_FALSE(PathExistsRaw(layout_.staging_dir));
  EXPECT_FALSE(PathExistsRaw(JoinPath(layout_.state_dir, u"replaced")));
  // The version folder holds the replaced and the dropped files and 1.0's manifest, nothing else.
  Tree backup = Files("A");
  backup.erase(u"data\\same.dat");
  backup[u"manifest.txt"] = a.text;
  backup[u"manifest.sig"] = a.signature;
  EXPECT_EQ(ReadTree(JoinPath(layout_.backup_dir, u"1.0")), backup);
  // Six files were installed (two from one staged content): 1/7 ... 6/7.
  ASSERT_EQ(progress_seen_.size(), 6u);
  EXPECT_DOUBLE_EQ(progress_seen_.front(), 1.0 / 7);
  EXPECT_DOUBLE_EQ(progress_seen_.back(), 6.0 / 7);

  ASSERT_EQ(Restore(), UpdateError::NoError);
  EXPECT_EQ(ReadTree(layout_.client_dir), Files("A"));
  EXPECT_EQ(Stored(u"manifest.txt"), a.text);
  EXPECT_EQ(Stored(u"manifest.sig"), a.signature);
  EXPECT_FALSE(PathExistsRaw(layout_.backup_dir));
  EXPECT_EQ(Pin(), u"1.0");
  EXPECT_EQ(board_.Snapshot().phase, UpdatePhase::Restoring);
}

TEST_F(InstallationTest, ACopyFailureRollsEverythingBack) {
  InstallClient("A");
  const ManifestCopy a = Release("A"), b = Release("B");
  // The third file of the download list cannot be copied: its staged content is missing.
  const std::vector<const ManifestEntry*> download = Downloads(b);
  ASSERT_GE(download.size(), 5u);
  Stage("B", {download[2]->path});
  const Tree before = ReadTree(layout_.client_dir);

  EXPECT_EQ(Install(b, &a), UpdateError::ReplaceFailed);
  EXPECT_EQ(ReadTree(layout_.client_dir), before);
  EXPECT_EQ(Stored(u"manifest.txt"), a.text);
  EXPECT_FALSE(PathExistsRaw(JoinPath(layout_.state_dir, u"replaced")));
  EXPECT_FALSE(ReadTree(layout_.staging_dir).empty());  // kept for the next attempt
}

// The older backup used to be deleted before the first file moved, so a failed installation
// lost the version the player could still go back to.
TEST_F(InstallationTest, AFailedInstallationKeepsTheOlderBackup) {
  InstallClient("A");
  const ManifestCopy a = Release("A"), b = Release("B");
  Stage("B");
  ASSERT_EQ(Install(b, &a), UpdateError::NoError);
  const Tree backup = ReadTree(layout_.backup_dir);
  // Back to 1.0 by an installation (the server went back), which fails on its last file.
  Stage("A", {u"otclient.exe"});
  EXPECT_EQ(Install(a, &b), UpdateError::ReplaceFailed);
  EXPECT_EQ(ReadTree(layout_.client_dir), Files("B"));
  EXPECT_EQ(ReadTree(layout_.backup_dir), backup);
  ASSERT_EQ(Restore(), UpdateError::NoError);
  EXPECT_EQ(ReadTree(layout_.client_dir), Files("A"));
}

TEST_F(InstallationTest, ARepairReplacesDamagedFilesWithoutABackup) {
  InstallClient("B");
  const ManifestCopy b = Release("B");
  WriteFileRaw(JoinPath(layout_.client_dir, u"data\\changed1.dat"), "damaged");
  WriteFileRaw(JoinPath(layout_.client_dir, u"data\\changed2.dat"), "damaged too");
  WriteFileRaw(JoinPath(layout_.client_dir, u"screenshots\\mine.png"), "not listed");
  Stage("B");
  ASSERT_EQ(Install(b, &b), UpdateError::NoError);
  Tree expected = Files("B");
  expected[u"screenshots\\mine.png"] = "not listed";
  EXPECT_EQ(ReadTree(layout_.client_dir), expected);
  EXPECT_FALSE(PathExistsRaw(layout_.backup_dir));
}

// Without a version folder the replaced files used to be deleted: a rollback then could not
// bring them back although the failure said the previous version was kept.
TEST_F(InstallationTest, AFailedRepairPutsTheReplacedFilesBack) {
  InstallClient("B");
  const ManifestCopy b = Release("B");
  WriteFileRaw(JoinPath(layout_.client_dir, u"data\\changed1.dat"), "damaged");
  WriteFileRaw(JoinPath(layout_.client_dir, u"otclient.exe"), "damaged program");
  const Tree before = ReadTree(layout_.client_dir);
  Stage("B", {u"otclient.exe"});
  EXPECT_EQ(Install(b, &b), UpdateError::ReplaceFailed);
  EXPECT_EQ(ReadTree(layout_.client_dir), before);
}

TEST_F(InstallationTest, AFreshInstallationOverwritesListedFilesAndKeepsOthers) {
  WriteFileRaw(JoinPath(layout_.client_dir, u"otclient.exe"), "some older program");
  WriteFileRaw(JoinPath(layout_.client_dir, u"notes.txt"), "the player's own");
  const ManifestCopy b = Release("B");
  Stage("B");
  ASSERT_EQ(Install(b, nullptr), UpdateError::NoError);
  Tree expected = Files("B");
  expected[u"notes.txt"] = "the player's own";
  EXPECT_EQ(ReadTree(layout_.client_dir), expected);
  EXPECT_FALSE(PathExistsRaw(layout_.backup_dir));
}

// An installation killed after moving some originals into the version folder used to be
// followed by one that emptied the backup folder first, losing those originals.
TEST_F(InstallationTest, AnInterruptedBackupIsKeptAndNeverOverwritten) {
  InstallClient("A");
  const ManifestCopy a = Release("A"), b = Release("B");
  const Tree originals = Files("A");
  // The interrupted run had moved these two originals and installed 2.0's first file...
  WriteFileRaw(JoinPath(layout_.backup_dir, u"1.0\\data\\changed1.dat"),
               originals.at(u"data\\changed1.dat"));
  WriteFileRaw(JoinPath(layout_.client_dir, u"data\\changed1.dat"),
               Files("B").at(u"data\\changed1.dat"));
  WriteFileRaw(JoinPath(layout_.backup_dir, u"1.0\\otclient.exe"), originals.at(u"otclient.exe"));
  WriteFileRaw(JoinPath(layout_.client_dir, u"otclient.exe"), "half written");
  WriteFileRaw(JoinPath(layout_.backup_dir, u"0.9\\old.dat"), "an older backup");
  Stage("B");
  ASSERT_EQ(Install(b, &a), UpdateError::NoError);
  EXPECT_EQ(ReadTree(layout_.client_dir), Files("B"));
  EXPECT_FALSE(PathExistsRaw(JoinPath(layout_.backup_dir, u"0.9")));

  ASSERT_EQ(Restore(), UpdateError::NoError);
  EXPECT_EQ(ReadTree(layout_.client_dir), originals);
}

// With the originals of an interrupted installation beside it, the previous version no longer
// fits the client: restoring it would mix both.
TEST_F(InstallationTest, RestoreRefusesWhileAnInterruptedBackupHoldsFiles) {
  InstallClient("A");
  const ManifestCopy a = Release("A"), b = Release("B");
  Stage("B");
  ASSERT_EQ(Install(b, &a), UpdateError::NoError);
  WriteFileRaw(JoinPath(layout_.backup_dir, u"2.0\\otclient.exe"), "moved by an interrupted run");
  const Tree client = ReadTree(layout_.client_dir);
  EXPECT_EQ(Restore(), UpdateError::RestoreFailed);
  EXPECT_EQ(ReadTree(layout_.client_dir), client);
  // An empty skeleton, as a rolled-back installation leaves, does not stand in the way.
  DeleteFilePath(JoinPath(layout_.backup_dir, u"2.0\\otclient.exe"));
  EnsureDirectory(JoinPath(layout_.backup_dir, u"2.0\\data\\maps"));
  EXPECT_EQ(Restore(), UpdateError::NoError);
}

// A version is any bytes; used as a folder name as it is, "..\.." would put the backup outside
// the backup folder and ":" would make every backup fail.
TEST_F(InstallationTest, UnsafeVersionsGetAFolderNameOfTheirOwn) {
  const struct {
    std::string version;
    bool kept;
  } cases[] = {{"1.0", true},       {"2.0-beta \xC3\xA7", true}, {"..\\..", false},
               {"..", false},        {"a\\b", false},             {"a/b", false},
               {"1:0", false},       {"why?", false},             {"CON", false},
               {"lpt1.x", false},    {"dot.", false},             {"", false},
               {"\xFF", false},      {std::string(241, '9'), false}};
  for (const auto& c : cases) {
    const std::u16string name = BackupFolderName(layout_, c.version);
    if (c.kept) {
      EXPECT_EQ(name, Utf8ToWide(c.version));
    } else {
      EXPECT_TRUE(name.starts_with(u"v-") && name.size() == 66) << c.version;
    }
  }

  InstallClient("A");
  ManifestCopy a = Release("A");
  a.manifest.version = "..\\..\\escaped";
  const ManifestCopy b = Release("B");
  Stage("B");
  ASSERT_EQ(Install(b, &a), UpdateError::NoError);
  EXPECT_FALSE(PathExistsRaw(dir_.Sub(u"escaped")));
  EXPECT_TRUE(DirectoryExists(JoinPath(layout_.backup_dir, BackupFolderName(layout_, a.manifest.version))));
}

// A restoration failing half way used to leave a mix of both versions, whose restored originals
// the next repair then deleted for good.
TEST_F(InstallationTest, AFailedRestoreLeavesEverythingAsItWas) {
  InstallClient("A");
  const ManifestCopy a = Release("A"), b = Release("B");
  Stage("B");
  ASSERT_EQ(Install(b, &a), UpdateError::NoError);
  const Tree backup = ReadTree(layout_.backup_dir);
  // A folder where a file of 1.0 must go back: that move fails.
  DeleteFilePath(JoinPath(layout_.client_dir, u"mods\\changed4.lua"));
  EnsureDirectory(JoinPath(layout_.client_dir, u"mods\\changed4.lua"));
  const Tree client = ReadTree(layout_.client_dir);

  EXPECT_EQ(Restore(), UpdateError::RestoreFailed);
  EXPECT_EQ(ReadTree(layout_.client_dir), client);
  EXPECT_EQ(ReadTree(layout_.backup_dir), backup);
  EXPECT_EQ(Stored(u"manifest.txt"), b.text);
  EXPECT_EQ(Pin(), u"");

  // The stored manifest cannot be written: the backup stays too.
  RemoveTree(JoinPath(layout_.client_dir, u"mods\\changed4.lua"));
  const Tree client_again = ReadTree(layout_.client_dir);
  EnsureDirectory(JoinPath(layout_.state_dir, u"manifest.sig.tmp\\blocked"));
  EXPECT_EQ(Restore(), UpdateError::RestoreFailed);
  EXPECT_EQ(ReadTree(layout_.client_dir), client_again);
  EXPECT_EQ(ReadTree(layout_.backup_dir), backup);
  EXPECT_EQ(Pin(), u"");
}

TEST_F(InstallationTest, RestoreNeedsABackupAndAStoppedClient) {
  EXPECT_EQ(Restore(), UpdateError::RestoreFailed);
  InstallClient("A");
  const ManifestCopy a = Release("A"), b = Release("B");
  Stage("B");
  ASSERT_EQ(Install(b, &a), UpdateError::NoError);
  client_running_ = true;
  EXPECT_EQ(Restore(), UpdateError::ClientRunning);
  EXPECT_EQ(ReadTree(layout_.client_dir), Files("B"));
  // A backup whose manifest does not verify is no previous version.
  client_running_ = false;
  WriteFileRaw(JoinPath(layout_.backup_dir, u"1.0\\manifest.sig"), "forged");
  EXPECT_EQ(Restore(), UpdateError::RestoreFailed);
  EXPECT_EQ(ReadTree(layout_.client_dir), Files("B"));
}

}  // namespace
}  // namespace hv
