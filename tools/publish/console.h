// What the tool tells the operator: errors and warnings on stderr, and a progress line for long
// work that appears only when stderr is a terminal (logs and pipes get the final summary alone).
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

namespace hv::publish {

void PrintError(std::string_view message);    // "error: MESSAGE" and a line feed, on stderr
void PrintWarning(std::string_view message);  // "warning: MESSAGE" and a line feed, on stderr

// "1234 bytes", "12.3 MiB": sizes as the progress line and the summaries show them.
std::string FormatBytes(uint64_t bytes);

// One line rewritten in place. Show is cheap to call per chunk: it redraws at most ten times a
// second. The line is erased by Clear and by the destructor, so later messages start clean.
class ProgressLine {
 public:
  ProgressLine();
  ~ProgressLine();
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;

  // False when nothing would be drawn; callers then skip building the text.
  bool Due() const;
  void Show(std::string_view text);
  void Clear();

 private:
  bool enabled_;
  bool shown_ = false;
  std::chrono::steady_clock::time_point last_{};
};

}  // namespace hv::publish
