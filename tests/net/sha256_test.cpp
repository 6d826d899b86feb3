#include "net/sha256.h"

#include <gtest/gtest.h>

#include <vector>

#include "core/text.h"
#include "support/test_files.h"

namespace hv {
namespace {

using test::TempDir;
using test::WriteFileRaw;

std::u16string HexOf(const Sha256Digest& digest) { return HexLower(digest.data(), digest.size()); }

struct Calls {
  std::vector<uint64_t> chunks;
};

void Record(uint64_t bytes, void* user) { static_cast<Calls*>(user)->chunks.push_back(bytes); }

TEST(HexLower, WritesTwoLowerCaseDigitsPerByte) {
  const uint8_t bytes[] = {0x00, 0xAB, 0xFF};
  EXPECT_EQ(HexLower(bytes, 3), u"00abff");
  EXPECT_EQ(HexLower(bytes, 0), u"");
}

TEST(Sha256Buffer, GivesTheStandardDigests) {
  Sha256Digest digest;
  ASSERT_TRUE(Sha256Buffer("abc", 3, digest));
  EXPECT_EQ(HexOf(digest), u"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  ASSERT_TRUE(Sha256Buffer("", 0, digest));
  EXPECT_EQ(HexOf(digest), u"e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
}

TEST(Sha256Hasher, MatchesTheOneShotDigestAcrossChunks) {
  std::string data(3 * 1000 * 1000, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7 % 251);
  Sha256Digest whole, pieces;
  ASSERT_TRUE(Sha256Buffer(data.data(), data.size(), whole));
  Sha256Hasher hasher;
  ASSERT_TRUE(hasher.usable());
  hasher.Update(data.data(), 5);
  hasher.Update(data.data() + 5, data.size() - 5);
  ASSERT_TRUE(hasher.Finish(pieces));
  EXPECT_EQ(whole, pieces);
}

TEST(Sha256FileHex, ReportsOneCallPerMebibyteChunk) {
  TempDir dir;
  const struct {
    size_t size;
    std::vector<uint64_t> chunks;
  } cases[] = {{0, {}}, {1048576, {1048576}}, {1048577, {1048576, 1}}};
  for (const auto& c : cases) {
    const std::u16string file = dir.Sub(u"f.bin");
    const std::string data(c.size, 'h');
    WriteFileRaw(file, data);
    Sha256Digest expected;
    ASSERT_TRUE(Sha256Buffer(data.data(), data.size(), expected));
    Calls calls;
    std::u16string digest;
    EXPECT_TRUE(Sha256FileHex(file, digest, nullptr, Record, &calls)) << c.size;
    EXPECT_EQ(digest, HexOf(expected)) << c.size;
    EXPECT_EQ(calls.chunks, c.chunks) << c.size;
  }
}

TEST(Sha256FileHex, FailuresLeaveTheDigestUntouched) {
  TempDir dir;
  WriteFileRaw(dir.Sub(u"data.bin"), std::string(3 * 1048576, 'd'));
  WriteFileRaw(dir.Sub(u"empty.bin"), "");
  CancelFlag cancel{1};
  Calls calls;
  std::u16string digest = u"previous";
  EXPECT_FALSE(Sha256FileHex(dir.Sub(u"data.bin"), digest, &cancel, Record, &calls));
  EXPECT_FALSE(Sha256FileHex(dir.Sub(u"missing.bin"), digest, nullptr, Record, &calls));
  EXPECT_FALSE(Sha256FileHex(dir.path(), digest, nullptr, Record, &calls));
  EXPECT_EQ(digest, u"previous");
  EXPECT_TRUE(calls.chunks.empty());
  // An empty file never reads data, so it never sees the flag.
  EXPECT_TRUE(Sha256FileHex(dir.Sub(u"empty.bin"), digest, &cancel, Record, &calls));
  EXPECT_EQ(digest.substr(0, 8), u"e3b0c442");
}

}  // namespace
}  // namespace hv
