#include "publish/console.h"

#include <unistd.h>

#include <cstdio>

namespace hv::publish {
namespace {

constexpr auto kRedrawInterval = std::chrono::milliseconds(100);

void PrintLine(std::string_view prefix, std::string_view message) {
  std::fprintf(stderr, "%.*s%.*s\n", static_cast<int>(prefix.size()), prefix.data(),
               static_cast<int>(message.size()), message.data());
}

}  // namespace

void PrintError(std::string_view message) { PrintLine("error: ", message); }
void PrintWarning(std::string_view message) { PrintLine("warning: ", message); }

std::string FormatBytes(uint64_t bytes) {
  if (bytes < 1024) return std::to_string(bytes) + " bytes";
  static constexpr const char* kUnits[] = {"KiB", "MiB", "GiB", "TiB"};
  double value = static_cast<double>(bytes) / 1024;
  size_t unit = 0;
  while (value >= 1024 && unit + 1 < std::size(kUnits)) {
    value /= 1024;
    ++unit;
  }
  char text[32];
  std::snprintf(text, sizeof text, "%.1f %s", value, kUnits[unit]);
  return text;
}

ProgressLine::ProgressLine() : enabled_(::isatty(STDERR_FILENO) == 1) {}

ProgressLine::~ProgressLine() { Clear(); }

bool ProgressLine::Due() const {
  return enabled_ && std::chrono::steady_clock::now() - last_ >= kRedrawInterval;
}

void ProgressLine::Show(std::string_view text) {
  if (!Due()) return;
  last_ = std::chrono::steady_clock::now();
  // "\033[K" erases what a longer earlier text left on the line.
  std::fprintf(stderr, "\r%.*s\033[K", static_cast<int>(text.size()), text.data());
  std::fflush(stderr);
  shown_ = true;
}

void ProgressLine::Clear() {
  if (!shown_) return;
  std::fputs("\r\033[K", stderr);
  std::fflush(stderr);
  shown_ = false;
}

}  // namespace hv::publish
