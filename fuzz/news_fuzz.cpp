// The news feed parser on arbitrary bytes: no crash, at most ten items, and every kept link on
// the origin.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "news/news_feed.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::u16string kOrigin = u"https://halvoryn.example";
  std::vector<hv::NewsItem> items;
  const bool loaded =
      hv::ParseNewsFeed(std::string_view(reinterpret_cast<const char*>(data), size), kOrigin, items);
  if (!loaded && !items.empty()) __builtin_trap();
  if (items.size() > hv::kMaxNewsItems) __builtin_trap();
  for (const hv::NewsItem& item : items) {
    if (!item.link.empty() && !hv::IsLinkOnOrigin(item.link, kOrigin)) __builtin_trap();
  }
  return 0;
}
