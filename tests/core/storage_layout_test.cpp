#include "core/storage_layout.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "core/file_util.h"
#include "support/test_files.h"

namespace hv {
namespace {

using test::PathExistsRaw;
using test::TempDir;
using test::WriteFileRaw;

class StorageLayoutTest : public ::testing::Test {
 protected:
  FolderLookups Lookups(bool app_data_ok = true) {
    return {[this](std::u16string& path) {
              path = JoinPath(program_dir_, u"launcher.exe");
              return true;
            },
            [this, app_data_ok](std::u16string& folder) {
              folder = app_data_;
              return app_data_ok;
            }};
  }

  TempDir dir_;
  const std::u16string program_dir_ = dir_.Sub(u"program");
  std::u16string app_data_ = dir_.Sub(u"appdata");
};

TEST_F(StorageLayoutTest, PortableTxtNextToTheProgramSelectsItsFolder) {
  WriteFileRaw(JoinPath(program_dir_, u"portable.txt"), "");
  const StorageLayout layout = InitStorageLayout(Lookups());
  EXPECT_EQ(layout.exe_dir, program_dir_);
  EXPECT_EQ(layout.root_dir, program_dir_);
  EXPECT_EQ(layout.client_dir, JoinPath(program_dir_, u"client"));
  EXPECT_EQ(layout.state_dir, JoinPath(program_dir_, u"state"));
  EXPECT_EQ(layout.staging_dir, JoinPath(program_dir_, u"state\\staging"));
  EXPECT_EQ(layout.backup_dir, JoinPath(program_dir_, u"backup"));
  EXPECT_TRUE(DirectoryExists(layout.client_dir));
  EXPECT_TRUE(DirectoryExists(layout.state_dir));
  EXPECT_FALSE(PathExistsRaw(layout.staging_dir));
  EXPECT_FALSE(PathExistsRaw(layout.backup_dir));
  EXPECT_FALSE(PathExistsRaw(app_data_));
}

TEST_F(StorageLayoutTest, ClientFolderNextToTheProgramSelectsItsFolder) {
  EnsureDirectory(JoinPath(program_dir_, u"client"));
  EXPECT_EQ(InitStorageLayout(Lookups()).root_dir, program_dir_);
}

TEST_F(StorageLayoutTest, OtherwiseTheRootIsHalvorynInTheUserFolder) {
  // Neither a folder named portable.txt nor a file named client counts.
  EnsureDirectory(JoinPath(program_dir_, u"portable.txt"));
  WriteFileRaw(JoinPath(program_dir_, u"client"), "not a folder");
  const StorageLayout layout = InitStorageLayout(Lookups());
  const std::u16string root = JoinPath(app_data_, u"Halvoryn");
  EXPECT_EQ(layout.exe_dir, program_dir_);
  EXPECT_EQ(layout.root_dir, root);
  EXPECT_EQ(layout.staging_dir, JoinPath(root, u"state\\staging"));
  EXPECT_EQ(layout.backup_dir, JoinPath(root, u"backup"));
  EXPECT_TRUE(DirectoryExists(JoinPath(root, u"client")));
  EXPECT_TRUE(DirectoryExists(JoinPath(root, u"state")));
}

TEST_F(StorageLayoutTest, AUserFolderEndingInASeparatorIsJoinedOnce) {
  EnsureDirectory(program_dir_);
  app_data_ += u"\\";
  EXPECT_EQ(InitStorageLayout(Lookups()).root_dir, app_data_ + u"Halvoryn");
}

TEST_F(StorageLayoutTest, AFailedUserFolderLookupFallsBackToTheProgramFolder) {
  EnsureDirectory(program_dir_);
  const StorageLayout layout = InitStorageLayout(Lookups(false));
  EXPECT_EQ(layout.root_dir, program_dir_);
  EXPECT_TRUE(DirectoryExists(JoinPath(program_dir_, u"client")));
}

TEST(PlatformFolderLookups, FindTheRunningProgramAndAUserFolder) {
  const FolderLookups lookups = PlatformFolderLookups();
  std::u16string program, folder;
  ASSERT_TRUE(lookups.program_path(program));
  EXPECT_TRUE(FileExists(program));
  EXPECT_NE(program.find(u"core_tests"), std::u16string::npos);
  ASSERT_TRUE(lookups.local_app_data(folder));
  EXPECT_FALSE(folder.empty());
}

#ifndef _WIN32
TEST(PlatformFolderLookups, FollowTheXdgRulesOnPosix) {
  const char* home = std::getenv("HOME");
  const std::string saved_home = home ? home : "";
  const FolderLookups lookups = PlatformFolderLookups();
  std::u16string folder;

  ::setenv("XDG_DATA_HOME", "/data/home", 1);
  EXPECT_TRUE(lookups.local_app_data(folder));
  EXPECT_EQ(folder, u"/data/home");

  ::setenv("XDG_DATA_HOME", "relative/is/ignored", 1);
  ::setenv("HOME", "/home/player", 1);
  EXPECT_TRUE(lookups.local_app_data(folder));
  EXPECT_EQ(folder, u"/home/player/.local/share");

  ::unsetenv("XDG_DATA_HOME");
  ::unsetenv("HOME");
  EXPECT_FALSE(lookups.local_app_data(folder));
  if (home) ::setenv("HOME", saved_home.c_str(), 1);
}
#endif

}  // namespace
}  // namespace hv
