#include "publish/verify_command.h"

#include <stdlib.h>

#include <cstdio>
#include <map>

#include "build_config.h"
#include "core/file.h"
#include "core/file_util.h"
#include "core/text.h"
#include "net/http_client.h"
#include "net/signature.h"
#include "publish/console.h"
#include "publish/content_store.h"
#include "publish/public_key_input.h"
#include "publish/site_layout.h"
#include "update/manifest.h"

namespace hv::publish {

const CommandInfo kVerifyCommand = {
    .name = "verify",
    .summary = "check the served release: signature, manifest and every content",
    .help = R"(usage: halvoryn-publish verify --site DIR --public-key HEX|FILE
       halvoryn-publish verify --origin URL --public-key HEX|FILE [--ca-file FILE]

Checks the release as the launcher would: the signature of manifest.txt against the public key,
the manifest with the launcher's own parser, and every content it names (present, exact size,
SHA-256). With --site the files are read from the site folder; with --origin they are fetched
from the web server, with the launcher's HTTP rules and limits, into a temporary folder that is
removed afterwards.

  --public-key   the 128 hex characters the launcher is built with, or a file holding them
                 (public.hex), or a public.pem
  --ca-file      a CA certificate file to trust for --origin instead of the system's store
Exits with 0 only when everything holds.
)",
    .required = {"public-key"},
    .optional = {"site", "origin", "ca-file"},
};

namespace {

// Where the release is read from: the site folder or the web server.
class ReleaseSource {
 public:
  virtual ~ReleaseSource() = default;
  // The bytes of a file of the launcher folder ("manifest.txt"), at most max_size of them.
  virtual bool Read(const std::string& name, uint64_t max_size, std::string& bytes,
                    std::string& error) = 0;
  // Empty when the content is there with this size and digest; otherwise what is wrong.
  virtual std::string CheckContent(const ManifestEntry& entry) = 0;
};

class SiteSource : public ReleaseSource {
 public:
  explicit SiteSource(const std::string& root) : site_(root) {}

  bool Read(const std::string& name, uint64_t max_size, std::string& bytes,
            std::string& error) override {
    const std::string path = site_.launcher_dir() + "/" + name;
    if (ReadWholeFile(Utf8ToWide(path), bytes, max_size)) return true;
    error = "cannot read " + path + " (missing, unreadable or over " + std::to_string(max_size) +
            " bytes)";
    return false;
  }

  std::string CheckContent(const ManifestEntry& entry) override {
    const std::string path = site_.content(entry.sha256);
    uint64_t size = 0, write_time = 0;
    if (!GetFileSizeAndTime(Utf8ToWide(path), size, write_time)) return "missing";
    if (size != entry.size) {
      return std::to_string(size) + " bytes where the manifest says " + std::to_string(entry.size);
    }
    if (!ContentIsIntact(path, entry.size, entry.sha256)) return "wrong digest";
    return {};
  }

 private:
  SiteLayout site_;
};

std::string DescribeFailure(const HttpResult& result) {
  if (result.status != 0 && result.status != 200) {
    return "status " + std::to_string(result.status);
  }
  if (!result.reason.empty()) return WideToUtf8(result.reason);
  return "connection failed (libcurl error " + std::to_string(result.error) + ")";
}

class OriginSource : public ReleaseSource {
 public:
  OriginSource(EngineConfig config, std::string temporary_dir)
      : config_(std::move(config)), temporary_dir_(std::move(temporary_dir)) {}
  ~OriginSource() override { RemoveTree(Utf8ToWide(temporary_dir_)); }

  bool Read(const std::string& name, uint64_t max_size, std::string& bytes,
            std::string& error) override {
    const std::u16string url = config_.origin + u"/downloads/launcher/" + Utf8ToWide(name);
    const HttpResult result = HttpGetToMemory(config_, url, bytes, max_size, nullptr);
    if (result.ok) return true;
    error = "GET " + WideToUtf8(url) + ": " + DescribeFailure(result);
    return false;
  }

  std::string CheckContent(const ManifestEntry& entry) override {
    const std::u16string url = config_.origin + u"/downloads/launcher/files/" + entry.sha256;
    const std::u16string destination = Utf8ToWide(temporary_dir_ + "/") + entry.sha256;
    std::u16string digest;
    const HttpResult result =
        HttpGetToFile(config_, url, destination, entry.size, digest, nullptr, nullptr, nullptr);
    DeleteFilePath(destination);
    if (!result.ok) return DescribeFailure(result);
    if (digest != entry.sha256) return "wrong digest";
    return {};
  }

 private:
  EngineConfig config_;
  std::string temporary_dir_;
};

// One check per distinct content; entries naming one digest with two sizes are a fault of
// their own (a digest has one size).
bool CheckContents(ReleaseSource& source, const Manifest& manifest, size_t& distinct,
                   uint64_t& bytes) {
  std::map<std::u16string, const ManifestEntry*> contents;
  bool ok = true;
  for (const ManifestEntry& entry : manifest.entries) {
    const auto [where, added] = contents.emplace(entry.sha256, &entry);
    if (!added && where->second->size != entry.size) {
      PrintError("the manifest lists " + WideToUtf8(entry.sha256) + " with two sizes");
      ok = false;
    }
  }
  ProgressLine line;
  size_t checked = 0;
  for (const auto& [sha256, entry] : contents) {
    if (line.Due()) {
      line.Show("checking: " + std::to_string(checked) + "/" + std::to_string(contents.size()) +
                " contents, " + FormatBytes(bytes));
    }
    if (const std::string problem = source.CheckContent(*entry); !problem.empty()) {
      line.Clear();
      PrintError("content " + WideToUtf8(sha256) + " (" + WideToUtf8(entry->path) +
                 "): " + problem);
      ok = false;
    }
    bytes += entry->size;
    ++checked;
  }
  distinct = contents.size();
  return ok;
}

int VerifyRelease(ReleaseSource& source, const PublicKeyBlob& key) {
  std::string text, signature, error;
  if (!source.Read("manifest.txt", kMaxManifestText, text, error) ||
      !source.Read("manifest.sig", kMaxManifestSignature, signature, error)) {
    PrintError(error);
    return kExitFailed;
  }
  if (!VerifyManifestSignature(text, signature, key)) {
    PrintError("manifest.sig is not a valid signature of manifest.txt for this public key");
    return kExitFailed;
  }
  Manifest manifest;
  std::u16string reason;
  if (!ParseManifest(text, RepresentativeClientDir(), manifest, reason)) {
    PrintError("the launcher refuses manifest.txt: " + WideToUtf8(reason));
    return kExitFailed;
  }
  size_t distinct = 0;
  uint64_t bytes = 0;
  if (!CheckContents(source, manifest, distinct, bytes)) {
    PrintError("version " + manifest.version + " does not verify");
    return kExitFailed;
  }
  std::printf("ok: version %s (min_version %s), %zu files, %zu contents, %llu bytes\n",
              manifest.version.c_str(), manifest.min_version.c_str(), manifest.entries.size(),
              distinct, static_cast<unsigned long long>(bytes));
  return kExitOk;
}

bool MakeTemporaryFolder(std::string& folder) {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/halvoryn-verify-XXXXXX";
  if (!::mkdtemp(pattern.data())) return false;
  folder = pattern;
  return true;
}

}  // namespace

int RunVerify(const Arguments& args) {
  if (args.Has("site") == args.Has("origin")) {
    PrintError("give either --site or --origin");
    return kExitUsage;
  }
  if (args.Has("ca-file") && !args.Has("origin")) {
    PrintError("--ca-file goes with --origin");
    return kExitUsage;
  }
  PublicKeyBlob key;
  std::string error;
  if (!ReadPublicKeyArgument(args.Get("public-key"), key, error)) {
    PrintError(error);
    return kExitFailed;
  }
  if (args.Has("site")) {
    if (error = PathArgumentProblem("site", args.Get("site")); !error.empty()) {
      PrintError(error);
      return kExitUsage;
    }
    SiteSource source(args.Get("site"));
    return VerifyRelease(source, key);
  }
  EngineConfig config{.origin = {},
                      .public_key = key,
                      .launcher_version = hv::build_config::kLauncherVersion,
                      .ca_file = Utf8ToWide(args.Get("ca-file"))};
  if (!ReadOriginArgument(args.Get("origin"), config.origin, error)) {
    PrintError(error);
    return kExitUsage;
  }
  if (args.Has("ca-file") && !FileExists(config.ca_file)) {
    PrintError("cannot read the --ca-file " + args.Get("ca-file"));
    return kExitFailed;
  }
  std::string temporary;
  if (!MakeTemporaryFolder(temporary)) {
    PrintError("cannot create a temporary folder");
    return kExitFailed;
  }
  OriginSource source(config, temporary);
  return VerifyRelease(source, key);
}

}  // namespace hv::publish
