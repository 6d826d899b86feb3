#include "update/manifest_copies.h"

#include <gtest/gtest.h>

#include "core/file.h"
#include "core/file_util.h"
#include "support/test_files.h"
#include "support/test_servers.h"

namespace hv {
namespace {

using test::ReadFixture;
using test::TempDir;
using test::WriteFileRaw;

// The largest accepted manifest, as the fixture script builds it for largest.sig.
std::string LargestManifest() {
  const std::string base = ReadFixture("signatures/manifest.txt");
  return base + "#" + std::string(kMaxManifestText - base.size() - 2, 'x') + "\n";
}

class ManifestCopiesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(test::LoadTestServers(servers_));
    site_ = test::MakeTestSite(servers_, "copies");
    config_ = test::TestEngineConfig(servers_, site_.origin);
    layout_.client_dir = dir_.Sub(u"client");
    layout_.state_dir = dir_.Sub(u"state");
    layout_.backup_dir = dir_.Sub(u"backup");
  }

  EngineContext Context() { return {config_, layout_, settings_, board_, cancel_, clock_, nullptr}; }

  void Store(const std::u16string& folder, const std::string& text, const std::string& signature) {
    WriteFileRaw(JoinPath(folder, u"manifest.txt"), text);
    WriteFileRaw(JoinPath(folder, u"manifest.sig"), signature);
  }
  void Serve(const std::string& text, const std::string& signature) {
    Store(JoinPath(site_.dir, u"downloads\\launcher"), text, signature);
  }
  bool Loads(const std::u16string& folder) {
    ManifestCopy copy;
    return LoadStoredManifest(Context(), folder, copy);
  }

  test::TestServers servers_;
  test::TestSite site_;
  EngineConfig config_;
  TempDir dir_;
  StorageLayout layout_;
  LauncherSettings settings_{dir_.Sub(u"state")};
  StatusBoard board_;
  CancelFlag cancel_{0};
  Clock clock_ = SystemClock();
  const std::string text_ = ReadFixture("signatures/manifest.txt");
  const std::string signature_ = ReadFixture("signatures/valid.sig");
};

TEST_F(ManifestCopiesTest, LoadsAWholeValidCopyWithItsBytes) {
  Store(layout_.state_dir, text_, signature_);
  ManifestCopy copy;
  ASSERT_TRUE(LoadStoredManifest(Context(), layout_.state_dir, copy));
  EXPECT_EQ(copy.manifest.version, "2.1.0");
  EXPECT_EQ(copy.text, text_);
  EXPECT_EQ(copy.signature, signature_);
}

TEST_F(ManifestCopiesTest, AnyFaultMakesTheStoredCopyAbsent) {
  const struct {
    const char* name;
    std::string text, signature;
  } cases[] = {
      {"line endings changed by an editor", ReadFixture("signatures/manifest-crlf.txt"),
       signature_},
      {"signature of 1025 bytes", text_, signature_ + std::string(1025 - signature_.size(), '\0')},
      {"empty signature", text_, ""},
      {"signed but not a manifest", "not a manifest\n", ""},
  };
  for (const auto& c : cases) {
    Store(layout_.state_dir, c.text, c.signature);
    EXPECT_FALSE(Loads(layout_.state_dir)) << c.name;
  }
  DeleteFilePath(JoinPath(layout_.state_dir, u"manifest.sig"));
  EXPECT_FALSE(Loads(layout_.state_dir));
  EXPECT_FALSE(Loads(dir_.Sub(u"nowhere")));
}

TEST_F(ManifestCopiesTest, TheLimitsHoldToTheByte) {
  const std::string largest = LargestManifest();
  ASSERT_EQ(largest.size(), kMaxManifestText);
  Store(layout_.state_dir, largest, ReadFixture("signatures/largest.sig"));
  EXPECT_TRUE(Loads(layout_.state_dir));
  Serve(largest, ReadFixture("signatures/largest.sig"));
  std::string text, signature;
  EXPECT_TRUE(FetchRemoteManifest(Context(), text, signature));
  EXPECT_EQ(text, largest);

  Store(layout_.state_dir, largest + "x", ReadFixture("signatures/largest.sig"));
  EXPECT_FALSE(Loads(layout_.state_dir));
  Serve(largest + "x", ReadFixture("signatures/largest.sig"));
  EXPECT_FALSE(FetchRemoteManifest(Context(), text, signature));
}

TEST_F(ManifestCopiesTest, FetchesTheTextThenItsSignature) {
  Serve(text_, signature_);
  std::string text, signature;
  ASSERT_TRUE(FetchRemoteManifest(Context(), text, signature));
  EXPECT_EQ(text, text_);
  EXPECT_EQ(signature, signature_);
  Manifest manifest;
  EXPECT_TRUE(AcceptManifest(Context(), text, signature, manifest));

  // The text arrives but the signature does not: no server manifest.
  DeleteFilePath(JoinPath(site_.dir, u"downloads\\launcher\\manifest.sig"));
  EXPECT_FALSE(FetchRemoteManifest(Context(), text, signature));
  Serve(text_, std::string(1025, 's'));
  EXPECT_FALSE(FetchRemoteManifest(Context(), text, signature));
  cancel_ = 1;
  Serve(text_, signature_);
  EXPECT_FALSE(FetchRemoteManifest(Context(), text, signature));
}

TEST_F(ManifestCopiesTest, FindsTheFirstValidVersionFolder) {
  EXPECT_EQ(FindPreviousVersion(Context()).folder, u"");  // no backup folder at all
  WriteFileRaw(JoinPath(layout_.backup_dir, u"a-plain-file"), "not a folder");
  WriteFileRaw(JoinPath(layout_.backup_dir, u"no-signature\\manifest.txt"), text_);
  EXPECT_EQ(FindPreviousVersion(Context()).folder, u"");
  Store(JoinPath(layout_.backup_dir, u"2.1.0"), text_, signature_);
  const PreviousVersion previous = FindPreviousVersion(Context());
  EXPECT_EQ(previous.folder, JoinPath(layout_.backup_dir, u"2.1.0"));
  EXPECT_EQ(previous.copy.manifest.version, "2.1.0");
}

}  // namespace
}  // namespace hv
