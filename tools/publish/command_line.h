// The words after the command name: "--name value" or "--name=value" options, each given at most
// once, and a fixed number of positional arguments. "--help" (or "-h") where an option may stand
// asks for the command's help instead.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace hv::publish {

// Exit codes of every command.
enum ExitCode : int { kExitOk = 0, kExitFailed = 1, kExitUsage = 2 };

struct CommandInfo {
  std::string_view name;
  std::string_view summary;                     // one line for the tool's overview
  std::string_view help;                        // the whole text --help prints
  std::vector<std::string_view> required = {};  // option names without "--"
  std::vector<std::string_view> optional = {};
  std::vector<std::string_view> positional = {};  // names of the positional arguments, all required
};

struct ParseOutcome {
  bool ok = false;
  bool help = false;  // --help was asked for; nothing else was checked after it
  std::string error;  // when neither ok nor help
};

class Arguments {
 public:
  bool Has(std::string_view name) const { return options_.contains(name); }
  // The option's value; empty when it was not given.
  const std::string& Get(std::string_view name) const;
  const std::vector<std::string>& positional() const { return positional_; }

 private:
  friend ParseOutcome ParseArguments(const CommandInfo& info, const std::vector<std::string>& words,
                                     Arguments& out);
  std::map<std::string, std::string, std::less<>> options_;
  std::vector<std::string> positional_;
};

ParseOutcome ParseArguments(const CommandInfo& info, const std::vector<std::string>& words,
                            Arguments& out);

// Empty when value can name a file for the tool; otherwise why not. The launcher's file toolkit
// reads a backslash as a separator, and it works in UTF-8, so neither may appear in a name.
std::string PathArgumentProblem(std::string_view option, const std::string& value);

// The --origin argument as an engine origin: an https:// address, its trailing '/' dropped. It
// may hold a path (test servers serve several sites below one host).
bool ReadOriginArgument(const std::string& argument, std::u16string& origin, std::string& error);

}  // namespace hv::publish
