#include "news/news_feed.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "core/file.h"
#include "core/file_util.h"
#include "core/text.h"
#include "support/test_files.h"
#include "support/test_servers.h"

namespace hv {
namespace {

using test::WriteFileRaw;

const std::u16string kOrigin = u"https://halvoryn.example";

std::string Line(int n, const std::string& link = "https://halvoryn.example/news/") {
  return "id" + std::to_string(n) + "\t" + std::to_string(1767225600 + n) + "\ttitle " +
         std::to_string(n) + "\tsummary " + std::to_string(n) + "\t" + link + std::to_string(n) +
         "\n";
}

std::vector<std::u16string> Titles(const std::vector<NewsItem>& items) {
  std::vector<std::u16string> titles;
  for (const NewsItem& item : items) titles.push_back(item.title);
  return titles;
}

TEST(ParseNewsFeed, NeedsTheExactHeaderLine) {
  std::vector<NewsItem> items;
  EXPECT_TRUE(ParseNewsFeed("HALVORYN-NEWS 1\n", kOrigin, items));
  EXPECT_TRUE(items.empty());
  for (const char* body : {"", "HALVORYN-NEWS 1", "HALVORYN-NEWS 2\n", "halvoryn-news 1\n",
                           "\xEF\xBB\xBFHALVORYN-NEWS 1\n", "HALVORYN-NEWS 1\r\n"}) {
    EXPECT_FALSE(ParseNewsFeed(body, kOrigin, items)) << body;
  }
}

TEST(ParseNewsFeed, ReadsTenItemsSkippingShortLines) {
  std::string body = "HALVORYN-NEWS 1\n";
  for (int n = 1; n <= 12; ++n) body += n == 3 ? "only\tfour\tfields\there\n" : Line(n);
  std::vector<NewsItem> items;
  ASSERT_TRUE(ParseNewsFeed(body, kOrigin, items));
  EXPECT_EQ(Titles(items), (std::vector<std::u16string>{
                               u"title 1", u"title 2", u"title 4", u"title 5", u"title 6",
                               u"title 7", u"title 8", u"title 9", u"title 10", u"title 11"}));
  EXPECT_EQ(items[0].date, 1767225601);
  EXPECT_EQ(items[0].summary, u"summary 1");
  EXPECT_EQ(items[0].link, u"https://halvoryn.example/news/1");
}

TEST(ParseNewsFeed, TakesFieldsAsTheLauncherKeepsThem) {
  const std::string body =
      "HALVORYN-NEWS 1\n"
      "\n"
      "x\t1767225600\tSix\tfields\thttps://halvoryn.example/a\tignored\n"
      "x\t1767225600\tCRLF\tline\thttps://halvoryn.example/b\r\n"
      "x\tnone\tLetters\tdate\t\n"
      "x\t  -42abc\tSigned\tdate\t\n"
      "x\t99999999999999999999\tHuge\tdate\t\n"
      "\t\tEmpty\tfirst fields\t\n"
      "x\t0\tT\xC3\xADtulo\tNot\xC3\xAD"
      "cia\t\n";
  std::vector<NewsItem> items;
  ASSERT_TRUE(ParseNewsFeed(body, kOrigin, items));
  ASSERT_EQ(items.size(), 7u);
  EXPECT_EQ(items[0].link, u"https://halvoryn.example/a");
  EXPECT_EQ(items[1].link, u"https://halvoryn.example/b\r");
  EXPECT_EQ(items[2].date, 0);
  EXPECT_EQ(items[3].date, -42);
  EXPECT_EQ(items[4].date, INT64_MAX);
  EXPECT_EQ(items[5].title, u"Empty");
  EXPECT_EQ(items[6].title, u"T\u00EDtulo");
  EXPECT_EQ(items[6].summary, u"Not\u00EDcia");
}

TEST(IsLinkOnOrigin, KeepsOnlyLinksThatStayOnTheOrigin) {
  const struct {
    std::u16string link;
    bool kept;
  } cases[] = {
      {u"https://halvoryn.example", true},
      {u"https://halvoryn.example/", true},
      {u"https://halvoryn.example/?subtopic=news&id=4", true},
      {u"https://halvoryn.example?x", true},
      {u"https://halvoryn.example#top", true},
      {u"https://halvoryn.example.evil.test/", false},
      {u"https://halvoryn.example@evil.test/", false},
      {u"https://halvoryn.example:8443/", false},
      {u"http://halvoryn.example/", false},
      {u"https://HALVORYN.example/", false},
      {u"https://other.example/", false},
      {u"", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IsLinkOnOrigin(c.link, kOrigin), c.kept) << testing::PrintToString(c.link);
  }
}

class NewsFetchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(test::LoadTestServers(servers_));
    site_ = test::MakeTestSite(servers_, "news");
    config_ = test::TestEngineConfig(servers_, site_.origin);
  }

  NewsState Fetch() {
    feed_.FetchNews(config_);
    NewsState state = NewsState::NewsLoading;
    EXPECT_TRUE(feed_.CopyNewsFeed(items_, state));
    return state;
  }
  void Publish(const std::string& body) {
    WriteFileRaw(JoinPath(site_.dir, u"launcher_news.php"), body);
  }

  test::TestServers servers_;
  test::TestSite site_;
  EngineConfig config_;
  NewsFeed feed_;
  std::vector<NewsItem> items_;
};

TEST_F(NewsFetchTest, LoadsTheFeedOfTheServer) {
  const std::string link = WideToUtf8(site_.origin) + "/news/";
  Publish("HALVORYN-NEWS 1\n" + Line(1, link) + Line(2, "https://elsewhere.example/"));
  ASSERT_EQ(Fetch(), NewsState::NewsLoaded);
  ASSERT_EQ(items_.size(), 2u);
  EXPECT_EQ(items_[0].link, site_.origin + u"/news/1");
  EXPECT_EQ(items_[1].link, u"");
}

TEST_F(NewsFetchTest, FailsWithoutAFeedAndEmptiesTheItems) {
  Publish("HALVORYN-NEWS 1\n" + Line(1));
  ASSERT_EQ(Fetch(), NewsState::NewsLoaded);
  const struct {
    const char* name;
    std::string body;
  } failing[] = {
      {"no header", "Not a feed\n" + Line(1)},
      {"over 512 KiB", "HALVORYN-NEWS 1\n" + std::string(kMaxNewsBody, '#')},
  };
  for (const auto& c : failing) {
    Publish(c.body);
    EXPECT_EQ(Fetch(), NewsState::NewsFailed) << c.name;
    EXPECT_TRUE(items_.empty()) << c.name;
  }
  Publish("HALVORYN-NEWS 1\n" + std::string(kMaxNewsBody - 17, '#') + "\n");
  EXPECT_EQ(Fetch(), NewsState::NewsLoaded);
  DeleteFilePath(JoinPath(site_.dir, u"launcher_news.php"));
  EXPECT_EQ(Fetch(), NewsState::NewsFailed);
}

TEST_F(NewsFetchTest, FetchesOnAThreadOfItsOwnAndNotifies) {
  std::vector<NewsItem> items;
  NewsState state = NewsState::NewsFailed;
  EXPECT_FALSE(feed_.CopyNewsFeed(items, state));
  EXPECT_EQ(state, NewsState::NewsLoading);

  Publish("HALVORYN-NEWS 1\n" + Line(7));
  std::atomic<int> notified{0};
  feed_.StartNewsFetch(config_, [&notified] { ++notified; });
  for (int i = 0; i < 500 && notified == 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_EQ(notified.load(), 1);
  EXPECT_TRUE(feed_.CopyNewsFeed(items, state));
  EXPECT_EQ(state, NewsState::NewsLoaded);
  EXPECT_EQ(Titles(items), std::vector<std::u16string>{u"title 7"});
}

}  // namespace
}  // namespace hv
