#include "publish/command_line.h"

#include <algorithm>

#include "core/text.h"
#include "publish/text_rules.h"

namespace hv::publish {
namespace {

bool Lists(const std::vector<std::string_view>& names, std::string_view name) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

ParseOutcome Fail(std::string error) { return {.ok = false, .help = false, .error = error}; }

std::string PositionalNames(const CommandInfo& info) {
  std::string names;
  for (std::string_view name : info.positional) {
    if (!names.empty()) names += ' ';
    names += name;
  }
  return names;
}

}  // namespace

const std::string& Arguments::Get(std::string_view name) const {
  static const std::string kAbsent;
  const auto found = options_.find(name);
  return found == options_.end() ? kAbsent : found->second;
}

ParseOutcome ParseArguments(const CommandInfo& info, const std::vector<std::string>& words,
                            Arguments& out) {
  for (size_t i = 0; i < words.size(); ++i) {
    const std::string& word = words[i];
    if (word == "--help" || word == "-h") return {.ok = false, .help = true, .error = {}};
    if (!word.starts_with("--")) {
      out.positional_.push_back(word);
      continue;
    }
    std::string name = word.substr(2);
    std::string value;
    if (const size_t equals = name.find('='); equals != std::string::npos) {
      value = name.substr(equals + 1);
      name.resize(equals);
    } else if (Lists(info.required, name) || Lists(info.optional, name)) {
      if (i + 1 == words.size()) return Fail("option --" + name + " needs a value");
      value = words[++i];
    }
    if (!Lists(info.required, name) && !Lists(info.optional, name)) {
      return Fail("unknown option --" + name + " for " + std::string(info.name));
    }
    if (!out.options_.emplace(name, value).second) {
      return Fail("option --" + name + " given twice");
    }
  }
  for (std::string_view name : info.required) {
    if (!out.Has(name)) return Fail("missing option --" + std::string(name));
  }
  if (out.positional_.size() != info.positional.size()) {
    if (info.positional.empty()) return Fail("unexpected argument '" + out.positional_[0] + "'");
    return Fail(std::string(info.name) + " takes " + std::to_string(info.positional.size()) +
                " argument(s): " + PositionalNames(info) + "; got " +
                std::to_string(out.positional_.size()));
  }
  return {.ok = true, .help = false, .error = {}};
}

std::string PathArgumentProblem(std::string_view option, const std::string& value) {
  const std::string what = "--" + std::string(option);
  if (value.empty()) return what + " is empty";
  if (!IsValidUtf8(value)) return what + " is not valid UTF-8";
  if (value.find('\\') != std::string::npos) {
    return what + " holds a backslash, which this tool reads as a folder separator";
  }
  return {};
}

bool ReadOriginArgument(const std::string& argument, std::u16string& origin, std::string& error) {
  std::string text = argument;
  while (text.ends_with('/')) text.pop_back();
  if (!text.starts_with("https://") || text.size() == 8 || !IsValidUtf8(text) ||
      text.find_first_of(" \t\r\n") != std::string::npos) {
    error = "--origin must be an https:// address such as https://downloads.example.org, got '" +
            argument + "'";
    return false;
  }
  origin = Utf8ToWide(text);
  return true;
}

}  // namespace hv::publish
