#include "publish/launcher_checks.h"

#include <sys/stat.h>

#include <cstdio>

#include "core/file_util.h"
#include "core/text.h"
#include "net/signature.h"
#include "news/news_feed.h"
#include "publish/console.h"
#include "publish/public_key_input.h"
#include "publish/site_layout.h"
#include "update/manifest.h"

namespace hv::publish {

const CommandInfo kCheckManifestCommand = {
    .name = "check-manifest",
    .summary = "parse a manifest with the launcher's parser",
    .help = R"(usage: halvoryn-publish check-manifest FILE

Parses FILE as the launcher parses manifest.txt and prints "ok", or the parser's reason for
refusing it ("header", "file line N", "invalid entry line N", "duplicate path", "incomplete",
"exe not listed", or "too large" beyond the launcher's 16 MiB). Exits with 0 only for "ok".
)",
    .positional = {"FILE"},
};

const CommandInfo kVerifySignatureCommand = {
    .name = "verify-signature",
    .summary = "check a manifest signature with the launcher's verifier",
    .help = R"(usage: halvoryn-publish verify-signature --public-key HEX|FILE MANIFEST SIG

Prints "valid" when SIG is a signature of the exact bytes of MANIFEST for the public key, as the
launcher checks it, else "invalid". Exits with 0 only for "valid".
  --public-key   128 hex characters, a file holding them (public.hex), or a public.pem
)",
    .required = {"public-key"},
    .positional = {"MANIFEST", "SIG"},
};

const CommandInfo kCompareVersionsCommand = {
    .name = "compare-versions",
    .summary = "compare two versions as the launcher does",
    .help = R"(usage: halvoryn-publish compare-versions A B

Prints -1 when A is older than B, 0 when the launcher sees them as equal, 1 when A is newer.
Versions are compared component by component (split at '.'), by the number their digits make.
)",
    .positional = {"A", "B"},
};

const CommandInfo kCheckNewsCommand = {
    .name = "check-news",
    .summary = "parse a news feed with the launcher's parser",
    .help = R"(usage: halvoryn-publish check-news --origin URL FILE

Parses FILE as the launcher parses launcher_news.php from URL. Prints "loaded N" and then one
line per item the launcher keeps (at most 10): date in seconds, title, summary and link,
TAB-separated, a link off the origin shown empty; or "failed" (exit status 1).
)",
    .required = {"origin"},
    .positional = {"FILE"},
};

namespace {

// Reads path, which may exceed the launcher's limit; too_large tells that case apart.
bool ReadInput(const std::string& path, uint64_t limit, std::string& bytes, bool& too_large) {
  struct stat info;
  too_large = ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
              static_cast<uint64_t>(info.st_size) > limit;
  if (too_large) return true;
  if (ReadWholeFile(Utf8ToWide(path), bytes, limit)) return true;
  PrintError("cannot read " + path);
  return false;
}

}  // namespace

int RunCheckManifest(const Arguments& args) {
  std::string text;
  bool too_large = false;
  if (!ReadInput(args.positional()[0], kMaxManifestText, text, too_large)) return kExitFailed;
  Manifest manifest;
  std::u16string reason = u"too large";
  if (!too_large && ParseManifest(text, RepresentativeClientDir(), manifest, reason)) {
    std::puts("ok");
    return kExitOk;
  }
  std::puts(WideToUtf8(reason).c_str());
  return kExitFailed;
}

int RunVerifySignature(const Arguments& args) {
  PublicKeyBlob key;
  std::string error, text, signature;
  if (!ReadPublicKeyArgument(args.Get("public-key"), key, error)) {
    PrintError(error);
    return kExitFailed;
  }
  bool text_too_large = false, signature_too_large = false;
  if (!ReadInput(args.positional()[0], kMaxManifestText, text, text_too_large) ||
      !ReadInput(args.positional()[1], kMaxManifestSignature, signature, signature_too_large)) {
    return kExitFailed;
  }
  // Beyond its limits the launcher never reads the files, so it never finds them valid.
  const bool valid =
      !text_too_large && !signature_too_large && VerifyManifestSignature(text, signature, key);
  std::puts(valid ? "valid" : "invalid");
  return valid ? kExitOk : kExitFailed;
}

int RunCompareVersions(const Arguments& args) {
  std::printf("%d\n", CompareVersions(args.positional()[0], args.positional()[1]));
  return kExitOk;
}

int RunCheckNews(const Arguments& args) {
  std::u16string origin;
  std::string error, body;
  if (!ReadOriginArgument(args.Get("origin"), origin, error)) {
    PrintError(error);
    return kExitUsage;
  }
  bool too_large = false;
  if (!ReadInput(args.positional()[0], kMaxNewsBody, body, too_large)) return kExitFailed;
  std::vector<NewsItem> items;
  if (too_large || !ParseNewsFeed(body, origin, items)) {
    std::puts("failed");
    return kExitFailed;
  }
  // Written as bytes: a field may hold any character, NUL included.
  std::string out = "loaded " + std::to_string(items.size()) + "\n";
  for (const NewsItem& item : items) {
    out += std::to_string(item.date) + "\t" + WideToUtf8(item.title) + "\t" +
           WideToUtf8(item.summary) + "\t" + WideToUtf8(item.link) + "\n";
  }
  std::fwrite(out.data(), 1, out.size(), stdout);
  return kExitOk;
}

}  // namespace hv::publish
