#include "publish/news_command.h"

#include <algorithm>
#include <cstdio>

#include "core/file_util.h"
#include "core/text.h"
#include "news/news_feed.h"
#include "publish/console.h"
#include "publish/news_input.h"
#include "publish/site_layout.h"
#include "publish/staged_file.h"

namespace hv::publish {

const CommandInfo kNewsCommand = {
    .name = "news",
    .summary = "write a site's news feed from a TAB-separated list",
    .help = R"(usage: halvoryn-publish news --site DIR --origin URL --items FILE

Writes SITE/launcher_news.php, replacing it as a whole, from FILE: UTF-8 text with one item per
line and four TAB-separated fields:
  DATE  TITLE  SUMMARY  LINK
DATE is yyyy-mm-dd (00:00 UTC) or seconds since 1970. LINK may be empty, but its TAB stays.
Empty lines and lines starting with # are skipped.

  --origin URL   the launcher's server origin (https://host[:port]); a link is kept only when
                 it lies on it, so other links are warned about

Refused (nothing is written): lines without exactly four fields, CR characters, bad dates,
empty titles, text that is not UTF-8, a feed larger than the launcher reads (512 KiB).
Warned about: links the launcher drops, and more than 10 items (it shows the first 10).
)",
    .required = {"site", "origin", "items"},
};

namespace {

constexpr uint64_t kMaxItemsFile = 16 * 1024 * 1024;

void WarnAboutItems(const std::vector<NewsInputItem>& items, const std::u16string& origin) {
  for (const NewsInputItem& item : items) {
    if (!item.link.empty() && !IsLinkOnOrigin(Utf8ToWide(item.link), origin)) {
      PrintWarning("line " + std::to_string(item.line) + ": the link " + item.link + " is not on " +
                   WideToUtf8(origin) + "; the launcher will drop it");
    }
  }
  if (items.size() > kMaxNewsItems) {
    PrintWarning(std::to_string(items.size()) + " items; the launcher shows only the first " +
                 std::to_string(kMaxNewsItems));
  }
}

// The launcher's reading of feed shows every item as given (links off the origin dropped).
bool ReadsBackAsGiven(const std::string& feed, const std::vector<NewsInputItem>& items,
                      const std::u16string& origin) {
  std::vector<NewsItem> parsed;
  if (!ParseNewsFeed(feed, origin, parsed) ||
      parsed.size() != std::min(items.size(), kMaxNewsItems)) {
    return false;
  }
  for (size_t i = 0; i < parsed.size(); ++i) {
    std::u16string link = Utf8ToWide(items[i].link);
    if (!IsLinkOnOrigin(link, origin)) link.clear();
    const NewsItem expected{Utf8ToWide(items[i].title), Utf8ToWide(items[i].summary), link,
                            items[i].date};
    if (!(parsed[i] == expected)) return false;
  }
  return true;
}

}  // namespace

int RunNews(const Arguments& args) {
  std::u16string origin;
  std::string error;
  for (std::string_view option : {"site", "items"}) {
    error = PathArgumentProblem(option, args.Get(option));
    if (!error.empty()) break;
  }
  if (!error.empty() || !ReadOriginArgument(args.Get("origin"), origin, error)) {
    PrintError(error);
    return kExitUsage;
  }
  std::string text;
  if (!ReadWholeFile(Utf8ToWide(args.Get("items")), text, kMaxItemsFile)) {
    PrintError("cannot read the items file " + args.Get("items"));
    return kExitFailed;
  }
  std::vector<NewsInputItem> items;
  std::vector<std::string> problems;
  ParseNewsInput(text, items, problems);
  if (!problems.empty()) {
    for (const std::string& problem : problems) PrintError(args.Get("items") + ": " + problem);
    PrintError("the feed was not written");
    return kExitFailed;
  }
  WarnAboutItems(items, origin);
  const std::string feed = ComposeNewsFeed(items);
  if (feed.size() > kMaxNewsBody) {
    PrintError("the feed would be " + std::to_string(feed.size()) +
               " bytes; the launcher reads at most 512 KiB; the feed was not written");
    return kExitFailed;
  }
  if (!ReadsBackAsGiven(feed, items, origin)) {
    PrintError("the launcher would read the feed differently from the list; not written");
    return kExitFailed;
  }
  const SiteLayout site(args.Get("site"));
  if (!EnsureServedFolder(site.root()) || !ReplaceFile(site.news(), feed)) {
    PrintError("cannot write " + site.news());
    return kExitFailed;
  }
  std::printf("wrote %zu items to %s\n", items.size(), site.news().c_str());
  return kExitOk;
}

}  // namespace hv::publish
