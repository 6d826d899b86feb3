#include "net/http_client.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "core/file_util.h"
#include "core/text.h"
#include "support/test_files.h"
#include "support/test_keys.h"
#include "support/test_servers.h"

namespace hv {
namespace {

using test::PathExistsRaw;
using test::ReadFileRaw;
using test::TempDir;
using test::WriteFileRaw;

// What the fault server sends for /bytes/<n>: byte i is i mod 251.
std::string Pattern(size_t size, size_t seed = 0) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i + seed) % 251);
  return bytes;
}

class HttpClientTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(test::LoadTestServers(servers_));
    config_ = test::TestEngineConfig(servers_, servers_.fault_origin);
  }

  HttpResult Get(const std::u16string& url, std::string& body, uint64_t max = 1 << 20,
                 const CancelFlag* cancel = nullptr) {
    return HttpGetToMemory(config_, url, body, max, cancel);
  }
  std::u16string Fault(const std::u16string& path) const { return servers_.fault_origin + path; }

  test::TestServers servers_;
  EngineConfig config_;
};

TEST_F(HttpClientTest, RefusesAnythingButUsableHttpsUrlsWithoutTraffic) {
  const std::u16string refused[] = {
      u"http://localhost/x",
      u"ftp://localhost/x",
      u"not a url",
      u"",
      u"https://" + std::u16string(256, u'h') + u"/x",
      u"https://localhost/" + std::u16string(2048, u'p'),
      u"https://localhost/x?" + std::u16string(1024, u'q'),
  };
  for (const std::u16string& url : refused) {
    std::string body;
    const HttpResult result = Get(url, body);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.reason, u"invalid url") << WideToUtf8(url.substr(0, 40));
    EXPECT_EQ(result.error, 0u);
    EXPECT_EQ(result.status, 0);
  }
}

TEST_F(HttpClientTest, AcceptsOnlyStatus200AndFollowsNoRedirect) {
  for (const int status : {204, 206, 301, 302, 304, 404, 500}) {
    std::string body;
    const HttpResult result = Get(Fault(u"/status/" + Utf8ToWide(std::to_string(status))), body);
    EXPECT_FALSE(result.ok) << status;
    EXPECT_EQ(result.status, status);
    EXPECT_EQ(result.error, 0u) << status;
    EXPECT_EQ(result.reason, u"") << status;
  }
  std::string body;
  const HttpResult result = Get(Fault(u"/status/200"), body);
  EXPECT_TRUE(result.ok);
  EXPECT_EQ(result.status, 200);
  EXPECT_EQ(body, "status 200\n");
}

TEST_F(HttpClientTest, MemoryBodiesHonourTheirLimitExactly) {
  std::string body = "stale";
  EXPECT_TRUE(Get(Fault(u"/bytes/0"), body).ok);
  EXPECT_EQ(body, "");
  ASSERT_TRUE(Get(Fault(u"/bytes/40000"), body, 40000).ok);
  EXPECT_EQ(body, Pattern(40000));
  const HttpResult over = Get(Fault(u"/bytes/40001"), body, 40000);
  EXPECT_FALSE(over.ok);
  EXPECT_EQ(over.reason, u"too large");
  EXPECT_EQ(over.status, 200);
}

TEST_F(HttpClientTest, SendsTheUserAgentTheNoCacheHeaderAndTheQueryUnchanged) {
  std::string body;
  ASSERT_TRUE(Get(Fault(u"/echo-request?a=1&b=%20x"), body).ok);
  EXPECT_NE(body.find("GET /echo-request?a=1&b=%20x HTTP/1.1"), std::string::npos) << body;
  EXPECT_NE(body.find("HalvorynLauncher/1.0.1"), std::string::npos) << body;
  EXPECT_NE(body.find("Cache-Control: no-cache"), std::string::npos) << body;
}

TEST_F(HttpClientTest, ACancelFlagSetBeforehandFailsAfterTheHeaders) {
  CancelFlag cancel{1};
  for (const char16_t* path : {u"/bytes/5000", u"/bytes/0"}) {
    std::string body;
    const HttpResult result = Get(Fault(path), body, 1 << 20, &cancel);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.status, 200);
    EXPECT_EQ(result.reason, u"cancelled");
    EXPECT_EQ(body, "");
  }
}

TEST_F(HttpClientTest, BrokenTransfersFail) {
  std::string body;
  // Cut short of its Content-Length: never taken as a whole body.
  HttpResult result = Get(Fault(u"/short/1000/400"), body);
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(result.status, 200);
  // Reset mid-body: a platform error.
  result = Get(Fault(u"/drop/200000/3000"), body);
  EXPECT_FALSE(result.ok);
  EXPECT_NE(result.error, 0u);
  EXPECT_EQ(result.reason, u"");
  // Nothing listens there.
  result = Get(u"https://localhost:1/x", body);
  EXPECT_FALSE(result.ok);
  EXPECT_NE(result.error, 0u);
  EXPECT_EQ(result.status, 0);
}

TEST_F(HttpClientTest, RefusesOldTlsUntrustedAndWrongHostCertificates) {
  for (const std::u16string& origin :
       {servers_.fault_old_tls_origin, servers_.fault_untrusted_origin,
        servers_.fault_wrong_host_origin}) {
    std::string body;
    const HttpResult result = Get(origin + u"/bytes/10", body);
    EXPECT_FALSE(result.ok) << WideToUtf8(origin);
    EXPECT_NE(result.error, 0u) << WideToUtf8(origin);
    EXPECT_EQ(result.status, 0) << WideToUtf8(origin);
    EXPECT_EQ(result.reason, u"") << WideToUtf8(origin);
  }
}

// Waits for the 30-second receive timeout: the one slow test of the client.
TEST_F(HttpClientTest, ASilentServerTimesOut) {
  std::string body;
  const auto start = std::chrono::steady_clock::now();
  const HttpResult result = Get(servers_.silent_origin + u"/x", body);
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_FALSE(result.ok);
  EXPECT_NE(result.error, 0u);
  EXPECT_GE(waited, std::chrono::seconds(25));
  EXPECT_LE(waited, std::chrono::seconds(70));
}

TEST_F(HttpClientTest, ServesSiteFilesByteExactFromNginx) {
  const test::TestSite site = test::MakeTestSite(servers_, "http");
  const std::string text = "HALVORYN-MANIFEST 1\r\nversion 1\r\n\xEF\xBB\xBF\x00\xFF end";
  WriteFileRaw(JoinPath(site.dir, u"downloads\\launcher\\manifest.txt"), text);
  std::string body;
  ASSERT_TRUE(Get(site.origin + u"/downloads/launcher/manifest.txt", body).ok);
  EXPECT_EQ(body, text);
  EXPECT_EQ(Get(site.origin + u"/downloads/launcher/", body).status, 404);
}

struct Progress {
  uint64_t total = 0;
  uint64_t largest = 0;
  int calls = 0;
};

void CountProgress(uint64_t bytes, void* user) {
  auto& progress = *static_cast<Progress*>(user);
  progress.total += bytes;
  progress.largest = std::max(progress.largest, bytes);
  ++progress.calls;
}

class HttpToFileTest : public HttpClientTest {
 protected:
  HttpResult Download(const std::u16string& path, uint64_t expected,
                      const CancelFlag* cancel = nullptr) {
    return HttpGetToFile(config_, Fault(path), file_, expected, digest_, cancel, CountProgress,
                         &progress_);
  }

  TempDir dir_;
  const std::u16string file_ = dir_.Sub(u"staging\\abc.part");
  std::u16string digest_ = u"untouched";
  Progress progress_;
};

TEST_F(HttpToFileTest, WritesAndHashesTheWholeBody) {
  const HttpResult result = Download(u"/bytes/300000", 300000);
  ASSERT_TRUE(result.ok) << result.error;
  EXPECT_EQ(ReadFileRaw(file_), Pattern(300000));
  EXPECT_EQ(digest_, test::Sha256Hex(Pattern(300000)));
  EXPECT_EQ(progress_.total, 300000u);
  EXPECT_LE(progress_.largest, 65536u);

  // Right length, other content: the call succeeds; the digest tells the caller.
  ASSERT_TRUE(Download(u"/bytes/1000/seed/7", 1000).ok);
  EXPECT_EQ(digest_, test::Sha256Hex(Pattern(1000, 7)));
  EXPECT_NE(digest_, test::Sha256Hex(Pattern(1000)));
}

TEST_F(HttpToFileTest, AnEmptyBodyMakesAnEmptyFileOnlyWhenExpected) {
  ASSERT_TRUE(Download(u"/bytes/0", 0).ok);
  EXPECT_TRUE(FileExists(file_));
  EXPECT_EQ(digest_, u"e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  const HttpResult result = Download(u"/bytes/0", 10);
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(result.reason, u"size");
  EXPECT_FALSE(PathExistsRaw(file_));
}

TEST_F(HttpToFileTest, WrongLengthsFailWithSizeAndLeaveNoFile) {
  const struct {
    std::u16string path;
    uint64_t expected;
  } cases[] = {
      {u"/bytes/1001", 1000},       // one byte long: stopped before writing it
      {u"/long/1000/70000", 1000},  // a server sending past what it announced
      {u"/short/1000/999", 1000},   // one byte short
      {u"/bytes/999", 1000},
  };
  for (const auto& c : cases) {
    const HttpResult result = Download(c.path, c.expected);
    EXPECT_FALSE(result.ok) << WideToUtf8(c.path);
    EXPECT_EQ(result.reason, u"size") << WideToUtf8(c.path);
    EXPECT_FALSE(PathExistsRaw(file_)) << WideToUtf8(c.path);
    EXPECT_EQ(digest_, u"untouched");
  }
}

TEST_F(HttpToFileTest, FailuresBeforeTheBodyLeaveTheDestinationAlone) {
  WriteFileRaw(file_, "earlier");
  EXPECT_EQ(Download(u"/status/404", 5).status, 404);
  EXPECT_EQ(ReadFileRaw(file_), "earlier");

  // A destination that cannot be created.
  WriteFileRaw(dir_.Sub(u"blocker"), "plain file");
  const HttpResult result = HttpGetToFile(config_, Fault(u"/bytes/10"), dir_.Sub(u"blocker\\x"), 10,
                                          digest_, nullptr, nullptr, nullptr);
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(result.reason, u"write");
  EXPECT_NE(result.error, 0u);
}

TEST_F(HttpToFileTest, ADropOrACancelDeletesThePartialFile) {
  HttpResult result = Download(u"/drop/500000/100000", 500000);
  EXPECT_FALSE(result.ok);
  EXPECT_NE(result.error, 0u);
  EXPECT_FALSE(PathExistsRaw(file_));

  // 1 MB trickling at 1000 bytes every 20 ms would take 20 s; the cancel ends it within a read.
  CancelFlag cancel{0};
  std::thread canceller([&cancel] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    cancel = 1;
  });
  const auto start = std::chrono::steady_clock::now();
  result = Download(u"/trickle/1000000/1000/20", 1000000, &cancel);
  canceller.join();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(result.reason, u"cancelled");
  EXPECT_FALSE(PathExistsRaw(file_));
  EXPECT_GT(progress_.total, 0u);
}

}  // namespace
}  // namespace hv
