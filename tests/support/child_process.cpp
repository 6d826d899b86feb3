#include "support/child_process.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#endif

#include "core/file_util.h"
#include "core/text.h"

#ifndef _WIN32
extern char** environ;
#endif

namespace hv::test {

#ifdef _WIN32
bool ChildProcess::Start(const std::u16string& program,
                         const std::vector<std::u16string>& arguments) {
  std::u16string line = u"\"" + program + u"\"";
  for (const std::u16string& argument : arguments) line += u" \"" + argument + u"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  std::wstring command(line.begin(), line.end());
  std::wstring path(program.begin(), program.end());
  if (!CreateProcessW(path.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process)) {
    return false;
  }
  CloseHandle(process.hThread);
  process_ = process.hProcess;
  pid_ = process.dwProcessId;
  return true;
}

void ChildProcess::Stop() {
  if (!process_) return;
  TerminateProcess(process_, 1);
  WaitForSingleObject(process_, 10000);
  CloseHandle(process_);
  process_ = nullptr;
  pid_ = 0;
}

bool CopyProgram(const std::u16string& from, const std::u16string& to) {
  EnsureParentDirectory(to);
  return CopyFileReplacing(from, to);
}
#else
bool ChildProcess::Start(const std::u16string& program,
                         const std::vector<std::u16string>& arguments) {
  std::string native = WideToUtf8(program);
  for (char& c : native) c = c == '\\' ? '/' : c;
  std::vector<std::string> texts{native};
  for (const std::u16string& argument : arguments) texts.push_back(WideToUtf8(argument));
  std::vector<char*> argv;
  for (std::string& text : texts) argv.push_back(text.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawn(&pid, texts[0].c_str(), nullptr, nullptr, argv.data(), environ) != 0)
    return false;
  pid_ = static_cast<uint32_t>(pid);
  return true;
}

void ChildProcess::Stop() {
  if (pid_ == 0) return;
  ::kill(static_cast<pid_t>(pid_), SIGKILL);
  ::waitpid(static_cast<pid_t>(pid_), nullptr, 0);
  pid_ = 0;
}

bool CopyProgram(const std::u16string& from, const std::u16string& to) {
  EnsureParentDirectory(to);
  std::string target = WideToUtf8(to);
  for (char& c : target) c = c == '\\' ? '/' : c;
  return CopyFileReplacing(from, to) && ::chmod(target.c_str(), 0755) == 0;
}
#endif

}  // namespace hv::test
