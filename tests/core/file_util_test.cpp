#include "core/file_util.h"

#include <gtest/gtest.h>

#include "support/test_files.h"

namespace hv {
namespace {

using test::PathExistsRaw;
using test::ReadFileRaw;
using test::TempDir;
using test::WriteFileRaw;

TEST(JoinPath, InsertsOneBackslashOnlyWhenNeeded) {
  const struct {
    std::u16string folder, name, joined;
  } cases[] = {
      {u"", u"name.txt", u"name.txt"},
      {u"C:\\games", u"client", u"C:\\games\\client"},
      {u"C:\\games\\", u"client", u"C:\\games\\client"},
      {u"/home/p/games/", u"client", u"/home/p/games/client"},
      {u"C:\\games", u"\\client", u"C:\\games\\\\client"},
      {u"C:\\games", u"data/maps/a.bin", u"C:\\games\\data/maps/a.bin"},
      {u"C:\\games", u"", u"C:\\games\\"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(JoinPath(c.folder, c.name), c.joined);
  }
}

TEST(FileTests, TellFilesFromFoldersAndMissingPaths) {
  TempDir dir;
  WriteFileRaw(dir.Sub(u"file.bin"), "x");
  EXPECT_TRUE(FileExists(dir.Sub(u"file.bin")));
  EXPECT_FALSE(DirectoryExists(dir.Sub(u"file.bin")));
  EXPECT_TRUE(DirectoryExists(dir.path()));
  EXPECT_FALSE(FileExists(dir.path()));
  EXPECT_FALSE(FileExists(dir.Sub(u"missing")));
  EXPECT_FALSE(DirectoryExists(dir.Sub(u"missing")));
  // Both separators work when the path reaches the OS.
  EnsureDirectory(dir.Sub(u"a"));
  WriteFileRaw(dir.Sub(u"a\\b.txt"), "b");
  EXPECT_TRUE(FileExists(dir.Sub(u"a/b.txt")));
  EXPECT_TRUE(FileExists(dir.Sub(u"a\\b.txt")));
}

TEST(GetFileSizeAndTime, ReportsSizeAndTimeIn100nsSince1601) {
  TempDir dir;
  const std::u16string file = dir.Sub(u"f.bin");
  WriteFileRaw(file, std::string(70000, 'z'));
  // 2026-01-01 00:00:00 UTC plus 0.1234567 s.
  const uint64_t stamp = (1767225600ull + 11644473600ull) * 10000000ull + 1234567ull;
  test::SetWriteTime(file, stamp);
  uint64_t size = 0, time = 0;
  ASSERT_TRUE(GetFileSizeAndTime(file, size, time));
  EXPECT_EQ(size, 70000u);
  EXPECT_EQ(time, stamp);

  uint64_t untouched_size = 7, untouched_time = 9;
  EXPECT_FALSE(GetFileSizeAndTime(dir.path(), untouched_size, untouched_time));
  EXPECT_FALSE(GetFileSizeAndTime(dir.Sub(u"missing"), untouched_size, untouched_time));
  EXPECT_EQ(untouched_size, 7u);
  EXPECT_EQ(untouched_time, 9u);
}

TEST(EnsureDirectory, CreatesMissingLevelsFromTheTop) {
  TempDir dir;
  EXPECT_TRUE(EnsureDirectory(u""));
  EXPECT_TRUE(EnsureDirectory(dir.path()));
  EXPECT_TRUE(EnsureDirectory(dir.Sub(u"one\\two/three")));
  EXPECT_TRUE(DirectoryExists(dir.Sub(u"one\\two\\three")));

  // A plain file in the way counts as success; creating inside it then fails.
  WriteFileRaw(dir.Sub(u"plain"), "p");
  EXPECT_TRUE(EnsureDirectory(dir.Sub(u"plain")));
  EXPECT_TRUE(FileExists(dir.Sub(u"plain")));
  EXPECT_FALSE(EnsureDirectory(dir.Sub(u"plain\\inside")));

  EXPECT_TRUE(EnsureParentDirectory(dir.Sub(u"p1\\p2\\file.txt")));
  EXPECT_TRUE(DirectoryExists(dir.Sub(u"p1\\p2")));
  EXPECT_FALSE(PathExistsRaw(dir.Sub(u"p1\\p2\\file.txt")));
  EXPECT_TRUE(EnsureParentDirectory(u"no-separator.txt"));
}

TEST(ReadWholeFile, HonoursTheLimitExactly) {
  TempDir dir;
  WriteFileRaw(dir.Sub(u"empty"), "");
  WriteFileRaw(dir.Sub(u"ten"), "0123456789");
  std::string out = "stale";
  EXPECT_TRUE(ReadWholeFile(dir.Sub(u"empty"), out, 0));
  EXPECT_EQ(out, "");
  EXPECT_TRUE(ReadWholeFile(dir.Sub(u"ten"), out, 10));
  EXPECT_EQ(out, "0123456789");
  EXPECT_FALSE(ReadWholeFile(dir.Sub(u"ten"), out, 9));
  EXPECT_FALSE(ReadWholeFile(dir.Sub(u"missing"), out, 100));
  EXPECT_FALSE(ReadWholeFile(dir.path(), out, 100));
}

TEST(WriteFileAtomic, ReplacesWholeFilesThroughATemporarySibling) {
  TempDir dir;
  const std::u16string target = dir.Sub(u"state\\filecache.txt");
  EXPECT_TRUE(WriteFileAtomic(target, ""));  // creates the parent folder too
  EXPECT_TRUE(FileExists(target));
  EXPECT_EQ(ReadFileRaw(target), "");

  WriteFileRaw(target + u".tmp", "left over from a crash, longer than the new content");
  EXPECT_TRUE(WriteFileAtomic(target, std::string("new\0content", 11)));
  EXPECT_EQ(ReadFileRaw(target), std::string("new\0content", 11));
  EXPECT_FALSE(PathExistsRaw(target + u".tmp"));
}

TEST(WriteFileAtomic, FailuresLeaveTheTargetUntouched) {
  TempDir dir;
  // The temporary file cannot be created: its folder is a plain file.
  WriteFileRaw(dir.Sub(u"blocker"), "b");
  EXPECT_FALSE(WriteFileAtomic(dir.Sub(u"blocker\\x.txt"), "data"));
  EXPECT_EQ(ReadFileRaw(dir.Sub(u"blocker")), "b");

  // The rename fails: a folder holds the target's name. The temporary file stays behind.
  const std::u16string target = dir.Sub(u"busy");
  ASSERT_TRUE(EnsureDirectory(JoinPath(target, u"inner")));
  EXPECT_FALSE(WriteFileAtomic(target, "data"));
  EXPECT_TRUE(DirectoryExists(JoinPath(target, u"inner")));
  EXPECT_EQ(ReadFileRaw(target + u".tmp"), "data");
}

TEST(RemoveTree, LeavesMissingPathsAndPlainFilesAlone) {
  TempDir dir;
  EXPECT_TRUE(RemoveTree(dir.Sub(u"missing")));
  WriteFileRaw(dir.Sub(u"plain.txt"), "keep");
  EXPECT_TRUE(RemoveTree(dir.Sub(u"plain.txt")));
  EXPECT_EQ(ReadFileRaw(dir.Sub(u"plain.txt")), "keep");
}

TEST(RemoveTree, RemovesNestedTreesWithReadOnlyEntries) {
  TempDir dir;
  const std::u16string tree = dir.Sub(u"backup");
  WriteFileRaw(JoinPath(tree, u"a.bin"), "a");
  WriteFileRaw(JoinPath(tree, u"data\\maps\\m.bin"), "m");
  WriteFileRaw(JoinPath(tree, u"data\\ro.bin"), "r");
  test::MakeReadOnly(JoinPath(tree, u"data\\ro.bin"));
  test::MakeReadOnly(JoinPath(tree, u"a.bin"));
  test::MakeReadOnly(JoinPath(tree, u"data\\maps"));
  EnsureDirectory(JoinPath(tree, u"empty\\deeper"));
  EXPECT_TRUE(RemoveTree(tree));
  EXPECT_FALSE(PathExistsRaw(tree));
}

TEST(RemoveTree, RemovesLinksWithoutFollowingThem) {
  TempDir dir;
  const std::u16string outside = dir.Sub(u"outside");
  WriteFileRaw(JoinPath(outside, u"precious.txt"), "keep me");
  const std::u16string tree = dir.Sub(u"staging");
  WriteFileRaw(JoinPath(tree, u"f.bin"), "f");
  ASSERT_TRUE(test::MakeDirectoryLink(JoinPath(tree, u"link"), outside));
  ASSERT_TRUE(test::MakeDirectoryLink(dir.Sub(u"root-link"), outside));

  const bool tree_removed = RemoveTree(tree);
  const bool root_link_removed = RemoveTree(dir.Sub(u"root-link"));
  EXPECT_EQ(ReadFileRaw(JoinPath(outside, u"precious.txt")), "keep me");
  EXPECT_FALSE(PathExistsRaw(JoinPath(tree, u"f.bin")));
  if (test::RunningUnderWine()) {
    // Wine 8 cannot delete a Unix symbolic link to a folder through Win32 (RemoveDirectoryW acts
    // on the target), so the links stay; what must hold is that nothing behind them is touched.
    return;
  }
  EXPECT_TRUE(tree_removed);
  EXPECT_FALSE(PathExistsRaw(tree));
  EXPECT_TRUE(root_link_removed);
  EXPECT_FALSE(PathExistsRaw(dir.Sub(u"root-link")));
}

class SafeRelativePath : public ::testing::Test {
 protected:
  TempDir dir_;
  const std::u16string client_ = dir_.Sub(u"client");
};

TEST_F(SafeRelativePath, AcceptsOrdinaryClientPaths) {
  const std::u16string accepted[] = {
      u"otclient.exe",
      u"data\\things\\sets\\items.bin",
      u"data/sounds/intro.ogg",
      u"mods\\a=b.lua",
      u"my mods\\inner space.txt",
      u"n\u00E3o\\\u00E7\u00E3o.txt",
      u".hidden\\.file",
      u"dots..inside",
      std::u16string(240, u'a'),
  };
  for (const std::u16string& path : accepted) {
    EXPECT_TRUE(IsSafeRelativePath(client_, path)) << testing::PrintToString(path);
  }
}

TEST_F(SafeRelativePath, RejectsEverythingElse) {
  const std::u16string rejected[] = {
      u"",
      std::u16string(241, u'a'),
      u"\\abs.txt",
      u"/abs.txt",
      u"C:\\x.txt",
      u"file.txt:stream",
      u"a\\\\b.txt",
      u"a//b.txt",
      u"folder\\",
      u".",
      u"..\\outside.txt",
      u"a\\..\\b.txt",
      u"a\\.\\b.txt",
      u"ends-in-dot.",
      u"ends-in-space ",
      u"folder.\\x",
      u"pipe|.txt",
      u"tab\t.txt",
      u"quote\".txt",
      u"star*.txt",
      u"less<.txt",
      u"more>.txt",
      u"ask?.txt",
      std::u16string(u"nul\0.txt", 8),
      u"line\nfeed",
  };
  for (const std::u16string& path : rejected) {
    EXPECT_FALSE(IsSafeRelativePath(client_, path)) << testing::PrintToString(path);
  }
}

TEST_F(SafeRelativePath, BoundsTheCanonicalFormTo519Units) {
  // Pad the client folder so that the joined path lands exactly on the bound.
  const size_t room = 519 - client_.size() - 1;  // what the relative part may use
  ASSERT_GT(room, 240u);
  const std::u16string deep_client = JoinPath(client_, std::u16string(room - 200 - 1, u'c'));
  EXPECT_TRUE(IsSafeRelativePath(deep_client, std::u16string(200, u'x')));
  EXPECT_FALSE(IsSafeRelativePath(deep_client, std::u16string(201, u'x')));
}

TEST(LongPaths, EveryToolkitOperationWorksBeyond260Units) {
  TempDir dir;
  const std::u16string client = dir.Sub(u"client");
  std::u16string relative;
  for (char16_t letter = u'a'; relative.size() < 220; ++letter) {
    relative += u"folder-name-" + std::u16string(1, letter) + u"\\";
  }
  relative += u"file.bin";
  ASSERT_LE(relative.size(), 240u);
  ASSERT_TRUE(IsSafeRelativePath(client, relative));
  const std::u16string file = JoinPath(client, relative);
  ASSERT_GT(file.size(), 260u);

  EXPECT_TRUE(EnsureParentDirectory(file));
  EXPECT_TRUE(WriteFileAtomic(file, "long"));
  EXPECT_TRUE(FileExists(file));
  std::string content;
  EXPECT_TRUE(ReadWholeFile(file, content, 100));
  EXPECT_EQ(content, "long");
  uint64_t size = 0, time = 0;
  EXPECT_TRUE(GetFileSizeAndTime(file, size, time));
  EXPECT_EQ(size, 4u);
  EXPECT_TRUE(RemoveTree(client));
  EXPECT_FALSE(DirectoryExists(client));
}

}  // namespace
}  // namespace hv
