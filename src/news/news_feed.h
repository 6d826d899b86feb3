// The server's announcements: the feed format, and the record the interface copies from.
//
// Feed (the body of origin + "/launcher_news.php", at most 512 KiB): UTF-8, lines ending in LF
// (a CR stays in the line's last field). The first line is exactly "HALVORYN-NEWS 1". Every later
// line with at least five TAB-separated fields is an item:
//   (unused) TAB seconds-since-1970 TAB title TAB summary TAB link [TAB ignored...]
// Shorter lines are skipped; only the first ten items are read.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "net/engine_config.h"

namespace hv {

enum class NewsState : int32_t { NewsLoading = 0, NewsLoaded = 1, NewsFailed = 2 };

struct NewsItem {
  std::u16string title;
  std::u16string summary;
  std::u16string link;  // empty unless it lies on the server's origin
  int64_t date = 0;     // seconds since 1970-01-01 00:00 UTC

  bool operator==(const NewsItem&) const = default;
};

constexpr size_t kMaxNewsItems = 10;
constexpr uint64_t kMaxNewsBody = 512 * 1024;
// Posted to the main window when a fetch ends; it carries nothing.
constexpr uint32_t kNewsChangedMessage = 0x8002;  // WM_APP + 2

// True when link is origin itself or continues it with '/', '?' or '#'. A bare text prefix would
// let "https://example.org.evil.test/" or "https://example.org@evil.test/" pass for
// "https://example.org".
bool IsLinkOnOrigin(std::u16string_view link, std::u16string_view origin);

// The items of a feed body. False (and no items) when the body does not start with the header
// line.
bool ParseNewsFeed(std::string_view body, std::u16string_view origin, std::vector<NewsItem>& items);

// The shared record. One fetch at a time is not enforced: each fetch replaces the whole feed
// when it ends, so the last to finish wins. Must outlive every fetch it started.
class NewsFeed {
 public:
  // Marks the feed loading (keeping the items) and fetches it on a thread of its own; when the
  // fetch ends, notify is called. Nothing else happens when the thread cannot be created.
  void StartNewsFetch(const EngineConfig& config, std::function<void()> notify);
  // False (state loading, items untouched) before any fetch was started.
  bool CopyNewsFeed(std::vector<NewsItem>& items, NewsState& state) const;
  // One fetch, on the calling thread: the body of the thread StartNewsFetch starts.
  void FetchNews(const EngineConfig& config);

 private:
  mutable std::mutex lock_;
  bool started_ = false;
  NewsState state_ = NewsState::NewsLoading;
  std::vector<NewsItem> items_;
  std::function<void()> notify_;
};

}  // namespace hv
