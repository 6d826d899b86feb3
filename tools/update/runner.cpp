#include "runner.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <mutex>

#include "build_config.h"
#include "core/file_util.h"
#include "core/settings.h"
#include "core/storage_layout.h"
#include "core/text.h"
#include "terminal.h"
#include "update/status_text.h"
#include "update/update_engine.h"

namespace hv::runner {
namespace {

constexpr char16_t kUsage[] =
    u"usage: halvoryn-update --root DIR [--origin URL] [--public-key HEX|FILE] [--ca-file FILE]\n"
    u"                       [--restore | --back-to-latest] [--lang pt|en]\n"
    u"\n"
    u"Runs one update of the game client kept in DIR (DIR\\client, with DIR\\state and\n"
    u"DIR\\backup beside it), as the launcher does at start, and shows its progress.\n"
    u"  --origin URL        the update server (default: the one built in)\n"
    u"  --public-key KEY    the manifest signing key: 128 hex characters of X and Y, or a file\n"
    u"                      holding them (default: the one built in)\n"
    u"  --ca-file FILE      a certificate authority to trust besides the system's (POSIX)\n"
    u"  --restore           bring back the previous version first, and keep it\n"
    u"  --back-to-latest    stop keeping a restored version, then update\n"
    u"  --lang pt|en        the language of the status line (default: the launcher's setting)\n"
    u"Exit status: 0 when the client ends ready to play, 1 when not, 2 for a bad command line.\n";

struct Options {
  std::u16string root;
  std::u16string origin = build_config::kServerOrigin;
  PublicKeyBlob key = build_config::kPublicKeyBlob;
  std::u16string ca_file;
  WorkerMode mode = WorkerMode::UpdateRun;
  bool back_to_latest = false;
  std::u16string lang;
};

int Usage(const std::u16string& problem) {
  if (!problem.empty()) WriteError(u"halvoryn-update: " + problem + u"\n\n");
  WriteError(kUsage);
  return 2;
}

bool ReadKey(const std::u16string& value, PublicKeyBlob& key) {
  if (ParsePublicKeyHex(WideToUtf8(value), key)) return true;
  std::string text;
  if (!ReadWholeFile(value, text, 4096)) return false;
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
    text.pop_back();
  }
  return ParsePublicKeyHex(text, key);
}

// Empty when the arguments are usable; the problem otherwise.
std::u16string ParseOptions(const std::vector<std::u16string>& arguments, Options& options) {
  for (size_t i = 0; i < arguments.size(); ++i) {
    const std::u16string& name = arguments[i];
    auto value = [&](std::u16string& out) {
      if (i + 1 >= arguments.size()) return false;
      out = arguments[++i];
      return true;
    };
    std::u16string text;
    if (name == u"--root") {
      if (!value(options.root)) return u"--root needs a folder";
    } else if (name == u"--origin") {
      if (!value(options.origin) || !options.origin.starts_with(u"https://")) {
        return u"--origin needs an https:// address";
      }
      while (options.origin.ends_with(u"/")) options.origin.pop_back();
    } else if (name == u"--public-key") {
      if (!value(text) || !ReadKey(text, options.key)) {
        return u"--public-key needs 128 hex characters, or a file holding them";
      }
    } else if (name == u"--ca-file") {
      if (!value(options.ca_file) || !FileExists(options.ca_file)) {
        return u"--ca-file needs an existing file";
      }
    } else if (name == u"--restore") {
      options.mode = WorkerMode::RestoreRun;
    } else if (name == u"--back-to-latest") {
      options.back_to_latest = true;
    } else if (name == u"--lang") {
      if (!value(options.lang) || (options.lang != u"pt" && options.lang != u"en")) {
        return u"--lang takes pt or en";
      }
    } else {
      return u"unknown argument " + name;
    }
  }
  if (options.root.empty()) return u"--root is required";
  if (options.mode == WorkerMode::RestoreRun && options.back_to_latest) {
    return u"--restore and --back-to-latest exclude each other";
  }
  return u"";
}

// A portable layout rooted at root: the program is taken to live there.
StorageLayout LayoutAt(const std::u16string& root) {
  std::error_code error;
  const std::u16string absolute =
      std::filesystem::absolute(std::filesystem::path(root), error).u16string();
  std::u16string folder = error ? root : absolute;
  while (folder.size() > 1 && IsPathSeparator(folder.back())) folder.pop_back();
  return InitStorageLayout({[folder](std::u16string& path) {
                              path = JoinPath(folder, u"halvoryn-update");
                              return true;
                            },
                            [](std::u16string&) { return false; }});
}

std::u16string ProgressBar(double fraction) {
  constexpr int kWidth = 24;
  const int filled = static_cast<int>(fraction * kWidth + 0.5);
  std::u16string bar = u"[";
  for (int i = 0; i < kWidth; ++i) bar += i < filled ? u'#' : u'.';
  bar += u"] ";
  char percent[16];
  std::snprintf(percent, sizeof percent, "%3d%% ", static_cast<int>(fraction * 100 + 0.5));
  return bar + Utf8ToWide(percent);
}

// Shows the status as it changes: on a terminal one line redrawn with a bar and the rate, on a
// pipe or file one plain line per new text.
class StatusPrinter {
 public:
  StatusPrinter(UiLanguage language, bool terminal) : language_(language), terminal_(terminal) {}

  void Show(const UpdateStatus& status, bool final_line) {
    const StatusLine line = DescribeStatus(status, language_);
    if (!terminal_) {
      if (line.text != last_text_) {
        WriteOut(line.text + u"\n");
        last_text_ = line.text;
      }
      return;
    }
    std::u16string shown = line.text;
    const bool busy = status.phase == UpdatePhase::Verifying ||
                      status.phase == UpdatePhase::Downloading ||
                      status.phase == UpdatePhase::Installing;
    if (busy && !final_line) shown = ProgressBar(status.progress) + shown + Rate(status);
    WriteOut(u"\r" + shown + u"\x1b[K" + (final_line ? u"\n" : u""));
  }

 private:
  std::u16string Rate(const UpdateStatus& status) {
    const auto now = std::chrono::steady_clock::now();
    if (status.phase != UpdatePhase::Downloading) return u"";
    if (rate_phase_start_bytes_ > status.bytes_done ||
        rate_start_ == std::chrono::steady_clock::time_point{}) {
      rate_start_ = now;
      rate_phase_start_bytes_ = status.bytes_done;
      return u"";
    }
    const double seconds = std::chrono::duration<double>(now - rate_start_).count();
    if (seconds < 0.5) return u"";
    const double rate = static_cast<double>(status.bytes_done - rate_phase_start_bytes_) / seconds;
    return u" (" + FormatSize(static_cast<uint64_t>(rate)) + u"/s)";
  }

  UiLanguage language_;
  bool terminal_;
  std::u16string last_text_;
  std::chrono::steady_clock::time_point rate_start_{};
  uint64_t rate_phase_start_bytes_ = 0;
};

}  // namespace

int RunTool(const std::vector<std::u16string>& arguments) {
  for (const std::u16string& argument : arguments) {
    if (argument == u"--help" || argument == u"-h") {
      WriteOut(kUsage);
      return 0;
    }
  }
  Options options;
  if (const std::u16string problem = ParseOptions(arguments, options); !problem.empty()) {
    return Usage(problem);
  }

  EngineConfig config;
  config.origin = options.origin;
  config.public_key = options.key;
  config.launcher_version = build_config::kLauncherVersion;
  config.ca_file = options.ca_file;
  UpdateEngine engine(config, LayoutAt(options.root));
  if (options.back_to_latest) engine.settings().WriteSetting(u"pin_version", u"");
  const UiLanguage language = options.lang.empty()
                                  ? LanguageFromSetting(engine.settings().ReadSetting(u"lang", u""))
                                  : LanguageFromSetting(options.lang);

  std::mutex lock;
  std::condition_variable changed;
  bool notified = false;
  auto notify = [&] {
    std::lock_guard<std::mutex> guard(lock);
    notified = true;
    changed.notify_all();
  };
  StatusPrinter printer(language, OutputIsTerminal());
  engine.worker().Start(notify, options.mode);
  while (engine.worker().IsRunning()) {
    {
      std::unique_lock<std::mutex> guard(lock);
      changed.wait_for(guard, std::chrono::milliseconds(250), [&] { return notified; });
      notified = false;
    }
    printer.Show(engine.board().Snapshot(), false);
  }
  engine.worker().Wait();  // the run's last post uses this function's notifier
  const UpdateStatus status = engine.board().Snapshot();
  printer.Show(status, true);
  return status.ready ? 0 : 1;
}

}  // namespace hv::runner
