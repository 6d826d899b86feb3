#include "update/local_verification.h"

#include <gtest/gtest.h>

#include "core/file_util.h"
#include "support/test_files.h"
#include "support/test_keys.h"
#include "update/file_cache.h"
#include "update/transfer_progress.h"

namespace hv {
namespace {

using test::ReadFileRaw;
using test::TempDir;
using test::WriteFileRaw;

// A client folder, a state folder and a manifest whose files the test writes and changes.
class LocalVerificationTest : public ::testing::Test {
 protected:
  LocalVerificationTest() {
    layout_.client_dir = dir_.Sub(u"client");
    layout_.state_dir = dir_.Sub(u"state");
    EnsureDirectory(layout_.client_dir);
    EnsureDirectory(layout_.state_dir);
    board_.SetNotifier([this] { ++posts_; });
  }

  void AddFile(const std::u16string& path, const std::string& content, bool write = true) {
    manifest_.entries.push_back({path, content.size(), test::Sha256Hex(content)});
    if (write) WriteFileRaw(ClientPath(path), content);
  }

  std::u16string ClientPath(const std::u16string& path) const {
    return JoinPath(layout_.client_dir, path);
  }
  std::u16string CachePath() const { return JoinPath(layout_.state_dir, u"filecache.txt"); }

  // Runs a verification; returns the paths to download. hashed_ receives the hashing total.
  std::vector<std::u16string> Verify(bool expect_complete = true) {
    EngineContext context{config_, layout_, settings_, board_, cancel_, clock_, nullptr};
    std::vector<const ManifestEntry*> download;
    EXPECT_EQ(VerifyInstalledFiles(context, manifest_, download), expect_complete);
    hashed_ = board_.Snapshot().bytes_total;
    std::vector<std::u16string> paths;
    for (const ManifestEntry* entry : download) paths.push_back(entry->path);
    return paths;
  }

  TempDir dir_;
  StorageLayout layout_;
  LauncherSettings settings_{dir_.Sub(u"state")};
  EngineConfig config_;
  StatusBoard board_;
  CancelFlag cancel_{0};
  uint32_t tick_ = 0;
  Clock clock_{[this] { return tick_; }, [] { return LocalTime{}; }};
  Manifest manifest_;
  int posts_ = 0;
  uint64_t hashed_ = 0;
};

using Paths = std::vector<std::u16string>;

TEST_F(LocalVerificationTest, HashesOnceThenTrustsTheCache) {
  AddFile(u"otclient.exe", "program bytes");
  AddFile(u"data\\b.dat", "bbbb");
  AddFile(u"data\\a.dat", "aa");
  AddFile(u"data\\missing.dat", "never written", false);
  AddFile(u"data\\short.dat", "full content");
  WriteFileRaw(ClientPath(u"data\\short.dat"), "short");
  WriteFileRaw(ClientPath(u"unlisted.txt"), "left alone");

  EXPECT_EQ(Verify(), (Paths{u"data\\missing.dat", u"data\\short.dat"}));
  EXPECT_EQ(hashed_, 13u + 4u + 2u);  // the files of the right size only
  EXPECT_EQ(board_.Snapshot().phase, UpdatePhase::Verifying);
  const FileCache cache = ParseFileCache(ReadFileRaw(CachePath()));
  ASSERT_EQ(cache.size(), 3u);
  EXPECT_EQ(cache.begin()->first, u"data\\a.dat");  // sorted by path
  EXPECT_EQ(cache.at(u"otclient.exe").sha256, test::Sha256Hex("program bytes"));

  // Nothing changed: nothing is hashed, and the cache is written again, identical.
  const std::string first = ReadFileRaw(CachePath());
  test::SetWriteTime(CachePath(), 116444736000000000ull);
  EXPECT_EQ(Verify(), (Paths{u"data\\missing.dat", u"data\\short.dat"}));
  EXPECT_EQ(hashed_, 0u);
  EXPECT_EQ(ReadFileRaw(CachePath()), first);
  uint64_t size = 0, time = 0;
  ASSERT_TRUE(GetFileSizeAndTime(CachePath(), size, time));
  EXPECT_NE(time, 116444736000000000ull);
  EXPECT_EQ(ReadFileRaw(ClientPath(u"unlisted.txt")), "left alone");
}

TEST_F(LocalVerificationTest, ATouchedFileIsHashedAgainOnce) {
  AddFile(u"a.bin", "same content");
  AddFile(u"b.bin", "other");
  Verify();
  const uint64_t touched = 133500000000000000ull;
  test::SetWriteTime(ClientPath(u"a.bin"), touched);
  EXPECT_EQ(Verify(), Paths{});
  EXPECT_EQ(hashed_, 12u);
  EXPECT_EQ(ParseFileCache(ReadFileRaw(CachePath())).at(u"a.bin").write_time, touched);
  Verify();
  EXPECT_EQ(hashed_, 0u);
}

TEST_F(LocalVerificationTest, JudgesByTheCacheWhenSizeAndTimeMatch) {
  AddFile(u"trusted.bin", "original");
  AddFile(u"republished.bin", "old version");
  AddFile(u"upper.bin", "upper");
  Verify();
  // Same size and time, other content: trusted, not read.
  uint64_t size = 0, time = 0;
  ASSERT_TRUE(GetFileSizeAndTime(ClientPath(u"trusted.bin"), size, time));
  WriteFileRaw(ClientPath(u"trusted.bin"), "ORIGINAL");
  test::SetWriteTime(ClientPath(u"trusted.bin"), time);
  // A new manifest digest for an unchanged file: downloaded without hashing.
  manifest_.entries[1].sha256 = test::Sha256Hex("new version");
  // A cached digest in upper case never equals the manifest's.
  FileCache cache = ParseFileCache(ReadFileRaw(CachePath()));
  for (char16_t& c : cache.at(u"upper.bin").sha256)
    c = (c >= u'a' && c <= u'f') ? char16_t(c - 32) : c;
  WriteFileRaw(CachePath(), SerializeFileCache(cache));

  EXPECT_EQ(Verify(), (Paths{u"republished.bin", u"upper.bin"}));
  EXPECT_EQ(hashed_, 0u);
}

TEST_F(LocalVerificationTest, RehashesEverythingAfterCarriageReturnLines) {
  AddFile(u"a.bin", "aaa");
  AddFile(u"b.bin", "bbb");
  Verify();
  std::string crlf;
  for (char c : ReadFileRaw(CachePath())) {
    if (c == '\n') crlf += '\r';
    crlf += c;
  }
  WriteFileRaw(CachePath(), crlf);
  EXPECT_EQ(Verify(), Paths{});
  EXPECT_EQ(hashed_, 6u);
  EXPECT_EQ(ReadFileRaw(CachePath()).find('\r'), std::string::npos);
}

TEST_F(LocalVerificationTest, DropsRecordsOfPathsNoLongerListed) {
  AddFile(u"kept.bin", "k");
  AddFile(u"dropped.bin", "d");
  Verify();
  manifest_.entries.pop_back();
  Verify();
  const FileCache cache = ParseFileCache(ReadFileRaw(CachePath()));
  EXPECT_EQ(cache.size(), 1u);
  EXPECT_EQ(cache.count(u"kept.bin"), 1u);
  EXPECT_EQ(ReadFileRaw(ClientPath(u"dropped.bin")), "d");
}

TEST_F(LocalVerificationTest, AnEmptyManifestPublishesVerifyingAndWritesAnEmptyCache) {
  WriteFileRaw(CachePath(), "1\t2\tdd\told.bin\n");
  EXPECT_EQ(Verify(), Paths{});
  const UpdateStatus status = board_.Snapshot();
  EXPECT_EQ(status.phase, UpdatePhase::Verifying);
  EXPECT_EQ(status.bytes_total, 0u);
  EXPECT_EQ(status.progress, 0.0);
  EXPECT_GE(posts_, 1);
  EXPECT_EQ(ReadFileRaw(CachePath()), "");
  EXPECT_TRUE(FileExists(CachePath()));
}

TEST_F(LocalVerificationTest, CancellationKeepsTheOldCacheFile) {
  AddFile(u"a.bin", std::string(2 * 1048576, 'a'));
  const std::string old_cache = "1\t2\tdd\told.bin\n";
  WriteFileRaw(CachePath(), old_cache);
  cancel_ = 1;
  Verify(false);
  EXPECT_EQ(ReadFileRaw(CachePath()), old_cache);
}

TEST(ReportTransferProgress, PublishesAtMostOncePer120Milliseconds) {
  StatusBoard board;
  int posts = 0;
  board.SetNotifier([&posts] { ++posts; });
  uint32_t tick = 1000;
  const Clock clock{[&tick] { return tick; }, [] { return LocalTime{}; }};
  TransferProgress progress{0, 400, 1000, &board, &clock};

  tick = 1120;  // 120 ms after the last post: not yet
  ReportTransferProgress(100, &progress);
  EXPECT_EQ(posts, 0);
  EXPECT_EQ(board.Snapshot().bytes_done, 0u);
  tick = 1121;
  ReportTransferProgress(100, &progress);
  EXPECT_EQ(posts, 1);
  const UpdateStatus status = board.Snapshot();
  EXPECT_EQ(status.bytes_done, 200u);
  EXPECT_EQ(status.bytes_total, 400u);
  EXPECT_DOUBLE_EQ(status.progress, 0.5);
  EXPECT_EQ(status.phase, UpdatePhase::Preparing);  // the phase is not touched

  // Across the wrap-around of the 32-bit tick.
  progress.last_post_tick = 0xFFFFFFF0u;
  tick = 0x00000070u;  // 128 ms later
  ReportTransferProgress(0, &progress);
  EXPECT_EQ(posts, 2);

  TransferProgress empty{0, 0, 0, &board, &clock};
  tick = 500;
  ReportTransferProgress(0, &empty);
  EXPECT_EQ(board.Snapshot().progress, 0.0);
}

}  // namespace
}  // namespace hv
