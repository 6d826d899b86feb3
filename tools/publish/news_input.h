// The operator's news list and the feed made from it.
//
// Input: UTF-8 text, one item per line, four TAB-separated fields:
//   DATE TAB TITLE TAB SUMMARY TAB LINK
// DATE is yyyy-mm-dd (00:00 UTC that day) or seconds since 1970; LINK may be empty (its TAB
// stays). Empty lines and lines starting with '#' are skipped; a UTF-8 byte-order mark at the
// start is ignored. The feed format is described in news/news_feed.h.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace hv::publish {

struct NewsInputItem {
  int64_t date = 0;  // seconds since 1970-01-01 00:00 UTC
  std::string title;
  std::string summary;
  std::string link;
  size_t line = 0;  // in the input, from 1
};

// Every item, in input order. Each line that cannot become a feed line unchanged (wrong number
// of fields, a CR, a bad date, an empty title, text that is not UTF-8) adds a problem naming
// its line.
void ParseNewsInput(std::string_view text, std::vector<NewsInputItem>& items,
                    std::vector<std::string>& problems);

// The feed body: the header line, then one line per item whose first field is its number.
std::string ComposeNewsFeed(const std::vector<NewsInputItem>& items);

}  // namespace hv::publish
