#include "update/staging.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>

#include "core/file.h"
#include "core/file_util.h"
#include "core/text.h"
#include "support/test_files.h"
#include "support/test_keys.h"
#include "support/test_servers.h"

namespace hv {
namespace {

using test::PathExistsRaw;
using test::ReadFileRaw;
using test::WriteFileRaw;

class StagingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(test::LoadTestServers(servers_));
    site_ = test::MakeTestSite(servers_, "staging");
    config_ = test::TestEngineConfig(servers_, site_.origin);
    layout_.state_dir = dir_.Sub(u"state");
    layout_.staging_dir = dir_.Sub(u"state\\staging");
    board_.SetNotifier([this] { ++posts_; });
  }

  // A manifest entry for content, served by the site unless told otherwise.
  const ManifestEntry& Entry(const std::u16string& path, const std::string& content,
                             bool served = true) {
    entries_.push_back({path, content.size(), test::Sha256Hex(content)});
    if (served) Serve(entries_.back().sha256, content);
    return entries_.back();
  }
  void Serve(const std::u16string& digest, const std::string& content) {
    WriteFileRaw(JoinPath(site_.dir, u"downloads\\launcher\\files\\" + digest), content);
  }
  std::u16string Staged(const std::u16string& digest) {
    return JoinPath(layout_.staging_dir, digest);
  }

  UpdateError Stage(std::vector<const ManifestEntry*> download) {
    const LauncherSettings settings(layout_.state_dir);
    EngineContext context{config_, layout_, settings, board_, cancel_, clock_, nullptr};
    return StageDownloads(context, download);
  }
  std::vector<std::string> Requests(size_t expected) {
    return test::RequestedPaths(servers_,
                                "/" +
                                    WideToUtf8(site_.origin.substr(site_.origin.rfind(u'/') + 1)) +
                                    "/downloads/launcher/files/",
                                expected);
  }

  test::TestServers servers_;
  test::TestSite site_;
  EngineConfig config_;
  test::TempDir dir_;
  StorageLayout layout_;
  StatusBoard board_;
  CancelFlag cancel_{0};
  Clock clock_ = SystemClock();
  std::deque<ManifestEntry> entries_;
  int posts_ = 0;
};

TEST_F(StagingTest, FetchesEachContentOnceInDigestOrder) {
  const ManifestEntry& c = Entry(u"c.bin", "ccc");
  const ManifestEntry& a = Entry(u"a.bin", "aaaa");
  const ManifestEntry& copy = Entry(u"data\\a-copy.bin", "aaaa");
  const ManifestEntry& b = Entry(u"b.bin", "bb");
  ASSERT_EQ(Stage({&c, &a, &copy, &b}), UpdateError::NoError);
  for (const ManifestEntry* entry : {&a, &b, &c}) {
    EXPECT_EQ(ReadFileRaw(Staged(entry->sha256)), std::string(entry->size, static_cast<char>(entry->path[0])));
  }
  EXPECT_EQ(test::ReadTree(layout_.staging_dir).size(), 3u);  // no .part left
  std::vector<std::string> expected;
  for (const ManifestEntry* entry : {&a, &b, &c}) expected.push_back(WideToUtf8(entry->sha256));
  std::sort(expected.begin(), expected.end());
  std::vector<std::string> requested;
  for (const std::string& path : Requests(3)) requested.push_back(path.substr(path.rfind('/') + 1));
  EXPECT_EQ(requested, expected);
  const UpdateStatus status = board_.Snapshot();
  EXPECT_EQ(status.phase, UpdatePhase::Downloading);
  EXPECT_EQ(status.bytes_total, 9u);  // the shared content counted once
}

TEST_F(StagingTest, ReusesStagedFilesOnlyWhenTheirDigestHolds) {
  const ManifestEntry& good = Entry(u"good.bin", "good content");
  const ManifestEntry& bad = Entry(u"bad.bin", "bad content");
  WriteFileRaw(Staged(good.sha256), "good content");
  WriteFileRaw(Staged(bad.sha256), "BAD CONTENT");  // right size, wrong bytes
  ASSERT_EQ(Stage({&good, &bad}), UpdateError::NoError);
  EXPECT_EQ(ReadFileRaw(Staged(bad.sha256)), "bad content");
  const std::vector<std::string> requested = Requests(1);
  ASSERT_EQ(requested.size(), 1u);
  EXPECT_NE(requested[0].find(WideToUtf8(bad.sha256)), std::string::npos);
}

TEST_F(StagingTest, StopsAtTheFirstFailureWithItsCode) {
  // Contents in digest order: the failing one in the middle.
  std::vector<const ManifestEntry*> list;
  for (const char* content : {"one", "two", "three"})
    list.push_back(&Entry(Utf8ToWide(content), content));
  std::sort(list.begin(), list.end(), [](auto* x, auto* y) { return x->sha256 < y->sha256; });
  const ManifestEntry& middle = *list[1];
  const struct {
    const char* name;
    std::string served;  // what the server has for the middle content; empty: nothing (404)
    UpdateError code;
  } cases[] = {
      {"missing", "", UpdateError::ConnectionDropped},
      {"one byte long", std::string(middle.size + 1, 'x'), UpdateError::DownloadAltered},
      {"one byte short", std::string(middle.size - 1, 'x'), UpdateError::DownloadAltered},
      {"other bytes", std::string(middle.size, 'x'), UpdateError::DownloadAltered},
  };
  for (const auto& c : cases) {
    RemoveTree(layout_.staging_dir);
    const std::u16string served =
        JoinPath(site_.dir, u"downloads\\launcher\\files\\" + middle.sha256);
    if (c.served.empty()) {
      DeleteFilePath(served);
    } else {
      WriteFileRaw(served, c.served);
    }
    EXPECT_EQ(Stage(list), c.code) << c.name;
    EXPECT_TRUE(FileExists(Staged(list[0]->sha256))) << c.name;
    EXPECT_FALSE(PathExistsRaw(Staged(middle.sha256))) << c.name;
    EXPECT_FALSE(PathExistsRaw(Staged(middle.sha256) + u".part")) << c.name;
    EXPECT_FALSE(PathExistsRaw(Staged(list[2]->sha256))) << c.name;
  }
}

TEST_F(StagingTest, CancellationAndAnOccupiedNameFail) {
  const ManifestEntry& entry = Entry(u"f.bin", "content");
  cancel_ = 1;
  EXPECT_EQ(Stage({&entry}), UpdateError::ConnectionDropped);
  EXPECT_FALSE(PathExistsRaw(Staged(entry.sha256) + u".part"));
  cancel_ = 0;
  EnsureDirectory(JoinPath(Staged(entry.sha256), u"in-the-way"));
  EXPECT_EQ(Stage({&entry}), UpdateError::ReplaceFailed);
  EXPECT_EQ(ReadFileRaw(Staged(entry.sha256) + u".part"), "content");
}

TEST_F(StagingTest, ChecksTheFreeSpaceFirst) {
  // A manifest can describe more than any disk holds.
  entries_.push_back({u"huge.bin", 999999999999ull, test::Sha256Hex("huge")});
  posts_ = 0;
  EXPECT_EQ(Stage({&entries_.back()}), UpdateError::DiskSpace);
  const UpdateStatus status = board_.Snapshot();
  EXPECT_EQ(status.error_detail, u"931.39 GB");  // 999999999999 + 64 MiB
  EXPECT_NE(status.phase, UpdatePhase::Downloading);
  EXPECT_EQ(posts_, 0);
  EXPECT_TRUE(Requests(0).empty());
}

}  // namespace
}  // namespace hv
