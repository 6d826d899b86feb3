#include "publish/public_key_input.h"

#include "core/file_util.h"
#include "core/text.h"
#include "publish/command_line.h"
#include "publish/signing_key.h"

namespace hv::publish {
namespace {

std::string_view Trimmed(std::string_view text) {
  const size_t begin = text.find_first_not_of(" \t\r\n");
  if (begin == std::string_view::npos) return {};
  return text.substr(begin, text.find_last_not_of(" \t\r\n") - begin + 1);
}

}  // namespace

bool ReadPublicKeyArgument(const std::string& argument, PublicKeyBlob& key, std::string& error) {
  if (ParsePublicKeyHex(argument, key)) return true;
  if (const std::string problem = PathArgumentProblem("public-key", argument); !problem.empty()) {
    error = problem;
    return false;
  }
  std::string text;
  if (!ReadWholeFile(Utf8ToWide(argument), text, kMaxKeyFile)) {
    error =
        "--public-key: '" + argument + "' is neither 128 hex characters nor a readable key file";
    return false;
  }
  if (ParsePublicKeyHex(Trimmed(text), key)) return true;
  PublicPoint point;
  if (text.find("-----BEGIN PUBLIC KEY-----") != std::string::npos && ReadPublicPem(text, point)) {
    key = MakePublicKeyBlob(point);
    return true;
  }
  error = "--public-key: " + argument +
          " holds neither 128 hex characters nor a P-256 public key in PEM";
  return false;
}

}  // namespace hv::publish
