#include "publish/news_input.h"

#include "publish/text_rules.h"

namespace hv::publish {
namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr size_t kFields = 4;
constexpr size_t kMaxSecondsDigits = 15;

std::vector<std::string_view> SplitTabs(std::string_view line) {
  std::vector<std::string_view> fields;
  while (true) {
    const size_t tab = line.find('\t');
    fields.push_back(line.substr(0, tab));
    if (tab == std::string_view::npos) return fields;
    line.remove_prefix(tab + 1);
  }
}

bool ParseDigits(std::string_view text, int64_t& value) {
  if (text.empty()) return false;
  value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  return true;
}

bool IsLeapYear(int64_t year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int64_t DaysInMonth(int64_t year, int64_t month) {
  static constexpr int64_t kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar (year >= 1970).
int64_t DaysSinceEpoch(int64_t year, int64_t month, int64_t day) {
  int64_t days = day - 1;
  for (int64_t y = 1970; y < year; ++y) days += IsLeapYear(y) ? 366 : 365;
  for (int64_t m = 1; m < month; ++m) days += DaysInMonth(year, m);
  return days;
}

// yyyy-mm-dd of a real day from 1970 on, or decimal seconds. False for anything else.
bool ParseNewsDate(std::string_view text, int64_t& seconds) {
  if (text.size() <= kMaxSecondsDigits && ParseDigits(text, seconds)) return true;
  int64_t year = 0, month = 0, day = 0;
  if (text.size() != 10 || text[4] != '-' || text[7] != '-' ||
      !ParseDigits(text.substr(0, 4), year) || !ParseDigits(text.substr(5, 2), month) ||
      !ParseDigits(text.substr(8, 2), day)) {
    return false;
  }
  if (year < 1970 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month)) {
    return false;
  }
  seconds = DaysSinceEpoch(year, month, day) * 86400;
  return true;
}

std::string LineProblem(size_t line, std::string_view what) {
  return "line " + std::to_string(line) + ": " + std::string(what);
}

void ParseLine(std::string_view line, size_t number, std::vector<NewsInputItem>& items,
               std::vector<std::string>& problems) {
  if (line.find('\r') != std::string_view::npos) {
    problems.push_back(LineProblem(number, "holds a CR; save the file with LF line ends"));
    return;
  }
  if (!IsValidUtf8(line)) {
    problems.push_back(LineProblem(number, "is not valid UTF-8"));
    return;
  }
  const std::vector<std::string_view> fields = SplitTabs(line);
  if (fields.size() != kFields) {
    problems.push_back(LineProblem(
        number, "has " + std::to_string(fields.size()) +
                    " TAB-separated fields, not 4 (date, title, summary, link; an empty link "
                    "keeps its TAB; no TAB inside a field)"));
    return;
  }
  NewsInputItem item{0, std::string(fields[1]), std::string(fields[2]), std::string(fields[3]),
                     number};
  if (!ParseNewsDate(fields[0], item.date)) {
    problems.push_back(LineProblem(number, "the date '" + std::string(fields[0]) +
                                               "' is neither yyyy-mm-dd nor seconds since 1970"));
  } else if (item.title.empty()) {
    problems.push_back(LineProblem(number, "the title is empty"));
  } else {
    items.push_back(std::move(item));
  }
}

}  // namespace

void ParseNewsInput(std::string_view text, std::vector<NewsInputItem>& items,
                    std::vector<std::string>& problems) {
  if (text.starts_with(kByteOrderMark)) text.remove_prefix(kByteOrderMark.size());
  size_t number = 0;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    const std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    ++number;
    if (line.empty() || line.front() == '#') continue;
    ParseLine(line, number, items, problems);
  }
}

std::string ComposeNewsFeed(const std::vector<NewsInputItem>& items) {
  std::string feed = "HALVORYN-NEWS 1\n";
  for (size_t i = 0; i < items.size(); ++i) {
    const NewsInputItem& item = items[i];
    feed.append(std::to_string(i + 1)).append("\t").append(std::to_string(item.date));
    feed.append("\t").append(item.title).append("\t").append(item.summary);
    feed.append("\t").append(item.link).append("\n");
  }
  return feed;
}

}  // namespace hv::publish
