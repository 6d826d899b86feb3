#include "update/file_cache.h"

#include <gtest/gtest.h>

namespace hv {
namespace {

TEST(FileCache, SerialisesRecordsInPathOrderWithPlainNumbers) {
  FileCache cache;
  cache[u"data\\b.bin"] = {7, 133000000000000000ull, u"bb"};
  cache[u"data\\a.bin"] = {0, 1, u"aa"};
  cache[u"data"] = {18446744073709551615ull, 2, u"cc"};
  cache[u"\u00E7.txt"] = {3, 4, u"dd"};
  EXPECT_EQ(SerializeFileCache(cache),
            "18446744073709551615\t2\tcc\tdata\n"
            "0\t1\taa\tdata\\a.bin\n"
            "7\t133000000000000000\tbb\tdata\\b.bin\n"
            "3\t4\tdd\t\xC3\xA7.txt\n");
  EXPECT_EQ(SerializeFileCache({}), "");
  EXPECT_EQ(ParseFileCache(SerializeFileCache(cache)), cache);
}

TEST(FileCache, ParsesLeniently) {
  const FileCache cache = ParseFileCache(
      "5\t6\tdigest\tone.bin\n"
      "only\tone tab\n"
      "two\ttabs\there\n"
      "1\t2\tfirst\ttwice.bin\n"
      "3\t4\tsecond\ttwice.bin\n"
      "x1\t9z\td\tletters.bin\n"
      "1\t2\td\tfour\ttabs.bin\n"
      "99999999999999999999\t1\td\tbig.bin\n"
      "1\t2\td\tcrlf.bin\r\n"
      "7\t8\tlast\tno-newline.bin");
  ASSERT_EQ(cache.size(), 7u);
  EXPECT_EQ(cache.at(u"one.bin").size, 5u);
  EXPECT_EQ(cache.at(u"one.bin").write_time, 6u);
  EXPECT_EQ(cache.at(u"one.bin").sha256, u"digest");
  EXPECT_EQ(cache.at(u"twice.bin").sha256, u"second");
  EXPECT_EQ(cache.at(u"letters.bin").size, 0u);
  EXPECT_EQ(cache.at(u"letters.bin").write_time, 9u);
  EXPECT_EQ(cache.count(u"four\ttabs.bin"), 1u);
  EXPECT_EQ(cache.at(u"big.bin").size, 18446744073709551615ull);
  EXPECT_EQ(cache.count(u"crlf.bin\r"), 1u);
  EXPECT_EQ(cache.at(u"no-newline.bin").sha256, u"last");
}

}  // namespace
}  // namespace hv
