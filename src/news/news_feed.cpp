#include "news/news_feed.h"

#include <limits>
#include <system_error>
#include <thread>

#include "core/text.h"
#include "net/http_client.h"

namespace hv {
namespace {

constexpr std::string_view kHeader = "HALVORYN-NEWS 1\n";

// Like strtoll: leading blanks, an optional sign, the digits up to the first other byte; no
// digits give 0; values beyond 64 bits stop at the nearest limit.
int64_t ParseSeconds(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  uint64_t magnitude = 0;
  const uint64_t limit = negative ? uint64_t{1} << 63 : (uint64_t{1} << 63) - 1;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    const uint64_t digit = static_cast<uint64_t>(text[i] - '0');
    magnitude = magnitude > (limit - digit) / 10 ? limit : magnitude * 10 + digit;
  }
  if (!negative) return static_cast<int64_t>(magnitude);
  return magnitude == uint64_t{1} << 63 ? std::numeric_limits<int64_t>::min()
                                        : -static_cast<int64_t>(magnitude);
}

std::vector<std::string_view> SplitTabs(std::string_view line) {
  std::vector<std::string_view> fields;
  size_t begin = 0;
  while (true) {
    const size_t tab = line.find('\t', begin);
    fields.push_back(line.substr(begin, tab == std::string_view::npos ? tab : tab - begin));
    if (tab == std::string_view::npos) return fields;
    begin = tab + 1;
  }
}

}  // namespace

bool IsLinkOnOrigin(std::u16string_view link, std::u16string_view origin) {
  if (!link.starts_with(origin)) return false;
  if (link.size() == origin.size()) return true;
  const char16_t next = link[origin.size()];
  return next == u'/' || next == u'?' || next == u'#';
}

bool ParseNewsFeed(std::string_view body, std::u16string_view origin,
                   std::vector<NewsItem>& items) {
  items.clear();
  if (!body.starts_with(kHeader)) return false;
  size_t at = kHeader.size();
  while (items.size() < kMaxNewsItems && at < body.size()) {
    size_t end = body.find('\n', at);
    if (end == std::string_view::npos) end = body.size();
    const std::vector<std::string_view> fields = SplitTabs(body.substr(at, end - at));
    at = end + 1;
    if (fields.size() < 5) continue;
    NewsItem item{Utf8ToWide(fields[2]), Utf8ToWide(fields[3]), Utf8ToWide(fields[4]),
                  ParseSeconds(fields[1])};
    if (!IsLinkOnOrigin(item.link, origin)) item.link.clear();
    items.push_back(std::move(item));
  }
  return true;
}

void NewsFeed::StartNewsFetch(const EngineConfig& config, std::function<void()> notify) {
  {
    std::lock_guard<std::mutex> guard(lock_);
    started_ = true;
    state_ = NewsState::NewsLoading;
    notify_ = std::move(notify);
  }
  try {
    std::thread([this, config] { FetchNews(config); }).detach();
  } catch (const std::system_error&) {
    // The feed stays loading, as if the fetch were still under way.
  }
}

bool NewsFeed::CopyNewsFeed(std::vector<NewsItem>& items, NewsState& state) const {
  std::lock_guard<std::mutex> guard(lock_);
  if (!started_) {
    state = NewsState::NewsLoading;
    return false;
  }
  items = items_;
  state = state_;
  return true;
}

void NewsFeed::FetchNews(const EngineConfig& config) {
  std::string body;
  std::vector<NewsItem> items;
  const bool loaded =
      HttpGetToMemory(config, config.origin + u"/launcher_news.php", body, kMaxNewsBody, nullptr)
          .ok &&
      ParseNewsFeed(body, config.origin, items);
  std::function<void()> notify;
  {
    std::lock_guard<std::mutex> guard(lock_);
    started_ = true;
    items_ = std::move(items);
    state_ = loaded ? NewsState::NewsLoaded : NewsState::NewsFailed;
    notify = notify_;
  }
  if (notify) notify();
}

}  // namespace hv
