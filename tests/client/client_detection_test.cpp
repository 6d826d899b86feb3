#include "client/client_detection.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "core/file_util.h"
#include "core/text.h"
#include "support/child_process.h"
#include "support/test_files.h"

#ifdef _WIN32
#include "client/client_window_win.h"
#endif

namespace hv {
namespace {

using test::ChildProcess;
using test::TempDir;

const std::u16string kFakeClient = Utf8ToWide(HV_FAKE_CLIENT);

// Waits until the condition holds (processes take a moment to appear, windows too).
template <typename Condition>
bool Eventually(Condition condition) {
  for (int i = 0; i < 250; ++i) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

class ClientDetectionTest : public ::testing::Test {
 protected:
  std::u16string Install(const std::u16string& folder, const std::u16string& exe) {
    const std::u16string program = JoinPath(folder, exe);
    EXPECT_TRUE(test::CopyProgram(kFakeClient, program));
    return program;
  }

  TempDir dir_;
  const std::u16string client_ = dir_.Sub(u"client");
};

TEST_F(ClientDetectionTest, FindsTheClientByItsFullPath) {
  ChildProcess client;
  ASSERT_TRUE(client.Start(Install(client_, u"otclient.exe"), {u"30"}));
  uint32_t pid = 0;
  // No exe known yet: the default program name is looked for.
  ASSERT_TRUE(Eventually([&] { return FindRunningClient(client_, u"", &pid); }));
  EXPECT_EQ(pid, client.pid());
  EXPECT_TRUE(FindRunningClient(client_, u"OTClient.EXE"));
  EXPECT_FALSE(FindRunningClient(client_, u"other.exe"));
  client.Stop();
  EXPECT_TRUE(Eventually([&] { return !FindRunningClient(client_, u"otclient.exe"); }));
}

TEST_F(ClientDetectionTest, IgnoresTheSameProgramElsewhereAndMatchesSubfolders) {
  ChildProcess elsewhere, nested;
  ASSERT_TRUE(elsewhere.Start(Install(dir_.Sub(u"elsewhere"), u"otclient.exe"), {u"30"}));
  ASSERT_TRUE(nested.Start(Install(client_, u"bin\\game.exe"), {u"30"}));
  ASSERT_TRUE(Eventually([&] { return FindRunningClient(client_, u"bin\\game.exe"); }));
  EXPECT_FALSE(FindRunningClient(client_, u"otclient.exe"));
  EXPECT_FALSE(FindRunningClient(client_, u"game.exe"));
  EXPECT_FALSE(FindRunningClient(dir_.Sub(u"other"), u"bin\\game.exe"));
}

#ifdef _WIN32
TEST_F(ClientDetectionTest, FindsTheClientWindowByItsTitle) {
  // Under Wine a window needs an X display (scripts/dev test starts one).
  if (test::RunningUnderWine() && !std::getenv("DISPLAY")) GTEST_SKIP() << "no X display";
  ChildProcess titled, untitled;
  ASSERT_TRUE(
      titled.Start(Install(client_, u"otclient.exe"), {u"30", u"--window", u"Halvoryn Online"}));
  ASSERT_TRUE(untitled.Start(Install(dir_.Sub(u"other"), u"otclient.exe"),
                             {u"30", u"--window", u"Loading..."}));
  HWND found = nullptr;
  ASSERT_TRUE(Eventually([&] { return (found = FindClientWindow(titled.pid())) != nullptr; }));
  wchar_t title[64];
  GetWindowTextW(found, title, 64);
  EXPECT_STREQ(title, L"Halvoryn Online");
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_EQ(FindClientWindow(untitled.pid()), nullptr);
}
#endif

}  // namespace
}  // namespace hv
