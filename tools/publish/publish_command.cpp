#include "publish/publish_command.h"

#include <unistd.h>

#include <cstdio>
#include <set>

#include "core/file_util.h"
#include "core/text.h"
#include "net/signature.h"
#include "publish/client_tree.h"
#include "publish/console.h"
#include "publish/content_store.h"
#include "publish/manifest_text.h"
#include "publish/publish_record.h"
#include "publish/signing_key.h"
#include "publish/site_layout.h"
#include "publish/staged_file.h"
#include "publish/text_rules.h"
#include "publish/windows_names.h"

namespace hv::publish {

const CommandInfo kPublishCommand = {
    .name = "publish",
    .summary = "sign a client folder as a release and make a site serve it",
    .help = R"(usage: halvoryn-publish publish --client DIR --site DIR --key private.pem
                                --version V --exe PATH [--min-version V] [--launcher-min V]
                                [--notes-pt TEXT] [--notes-en TEXT] [--privacy-url URL]

Lists every file of the client folder in a new manifest, signs it with the key, copies each new
content to SITE/downloads/launcher/files/, then replaces manifest.sig and manifest.txt (each
written completely under a temporary name first, then renamed into place, back to back).

  --client DIR         the client as players get it: regular files only (no links)
  --site DIR           the site folder the web server serves (created when missing)
  --key FILE           the private key from 'halvoryn-publish keygen'
  --version V          the release's version; the launcher names a backup folder after it, so it
                       must be a valid Windows folder name
  --exe PATH           the program the launcher starts, one of the client files (/ or \)
  --min-version V      players whose installed version is older are updated at their next
                       check; a player who restored the previous version keeps it only while it
                       is at or above this; default: the version itself
  --launcher-min V     the oldest launcher that may install this release
  --notes-pt TEXT      release notes in Portuguese; line feeds become line breaks
  --notes-en TEXT      release notes in English
  --privacy-url URL    an https:// address the launcher links to

Nothing is written to the site when any check fails: names the launcher or Windows would refuse,
an --exe that is not a client file, a version that cannot name a folder, an unreadable key, a
site that cannot be written, or a manifest the launcher's own parser refuses. Nothing is ever
deleted from the site (see 'halvoryn-publish prune').
)",
    .required = {"client", "site", "key", "version", "exe"},
    .optional = {"min-version", "launcher-min", "notes-pt", "notes-en", "privacy-url"},
};

namespace {

// Everything decided before the site is touched.
struct Plan {
  Release release;
  std::vector<ClientFile> files;
  std::string text;
  std::string signature;
};

struct StoreTotals {
  size_t added = 0;
  uint64_t added_bytes = 0;
};

// A value written on one manifest line: UTF-8, no line break, not empty when given.
void CheckLineValue(const Arguments& args, std::string_view option,
                    std::vector<std::string>& problems) {
  if (!args.Has(option)) return;
  const std::string& value = args.Get(option);
  const std::string name = "--" + std::string(option);
  if (value.empty()) {
    problems.push_back(name + " is empty; leave it out instead");
  } else if (!IsValidUtf8(value)) {
    problems.push_back(name + " is not valid UTF-8");
  } else if (HasLineBreak(value)) {
    problems.push_back(name + " holds a line break");
  }
}

// The version names a backup folder on the players' machines; min_version above it would have
// the launcher update players to a version below the minimum at every check.
void ReadVersions(const Arguments& args, Release& release, std::vector<std::string>& problems) {
  release.version = args.Get("version");
  if (!IsValidUtf8(release.version)) {
    problems.push_back("--version is not valid UTF-8");
  } else if (const std::string problem = FolderNameProblem(Utf8ToWide(release.version));
             !problem.empty()) {
    problems.push_back("--version '" + release.version +
                       "' cannot name the launcher's backup folder: it " + problem);
  }
  CheckLineValue(args, "min-version", problems);
  CheckLineValue(args, "launcher-min", problems);
  release.min_version = args.Get("min-version");
  release.launcher_min = args.Get("launcher-min");
  if (!release.min_version.empty() && CompareVersions(release.min_version, release.version) > 0) {
    problems.push_back("--min-version " + release.min_version + " is newer than --version " +
                       release.version +
                       ": players would be updated to a version below the minimum at every check");
  }
}

void ReadTexts(const Arguments& args, Release& release, std::vector<std::string>& problems) {
  CheckLineValue(args, "privacy-url", problems);
  release.privacy_url = args.Get("privacy-url");
  if (args.Has("privacy-url") &&
      (!release.privacy_url.starts_with("https://") || release.privacy_url.size() == 8)) {
    problems.push_back("--privacy-url must be an https:// address (the launcher drops others)");
  }
  release.notes_pt = args.Get("notes-pt");
  release.notes_en = args.Get("notes-en");
  for (const auto& [option, notes] :
       {std::pair{"--notes-pt", &release.notes_pt}, std::pair{"--notes-en", &release.notes_en}}) {
    if (const std::string problem = NotesProblem(*notes); !problem.empty()) {
      problems.push_back(std::string(option) + " " + problem);
    }
  }
}

void LoadKey(const std::string& path, SigningKey& key, std::vector<std::string>& problems) {
  std::string pem, error;
  if (!ReadWholeFile(Utf8ToWide(path), pem, kMaxKeyFile)) {
    problems.push_back("cannot read the key file " + path);
  } else if (!SigningKey::LoadPrivatePem(pem, key, error)) {
    problems.push_back("the key file " + path + " is " + error);
  }
}

// The exe as the manifest writes it: the matching file's own path. Names that differ only in
// letter case are refused elsewhere, so at most one file matches.
void ResolveExe(const std::string& given, const std::vector<ClientFile>& files, Release& release,
                std::vector<std::string>& problems) {
  std::u16string exe = Utf8ToWide(given);
  for (char16_t& c : exe) c = c == u'/' ? u'\\' : c;
  for (const ClientFile& file : files) {
    if (EqualsIgnoringAsciiCase(file.entry.path, exe)) {
      release.exe = file.entry.path;
      return;
    }
  }
  problems.push_back("--exe " + given + " is not one of the files of the client folder");
}

// The manifest text and its signature, checked with the launcher's own parser and verifier.
bool SealManifest(const SigningKey& key, Plan& plan, std::string& error) {
  std::vector<ManifestEntry> entries;
  for (const ClientFile& file : plan.files) entries.push_back(file.entry);
  plan.text = ComposeManifest(plan.release, entries);
  if (plan.text.size() > kMaxManifestText) {
    error = "the manifest would be " + std::to_string(plan.text.size()) +
            " bytes; the launcher reads at most 16 MiB";
    return false;
  }
  Manifest parsed;
  std::u16string reason;
  if (!ParseManifest(plan.text, RepresentativeClientDir(), parsed, reason)) {
    error = "the launcher would refuse this manifest: " + WideToUtf8(reason);
    return false;
  }
  if (const std::string field = ReadBackProblem(parsed, plan.release, entries); !field.empty()) {
    error = "the launcher would read the manifest's " + field + " differently from what was given";
    return false;
  }
  PublicPoint point;
  if (!key.Sign(plan.text, plan.signature) || !key.Public(point)) {
    error = "OpenSSL could not sign the manifest";
    return false;
  }
  if (plan.signature.size() > kMaxManifestSignature ||
      !VerifyManifestSignature(plan.text, plan.signature, MakePublicKeyBlob(point))) {
    error = "the new signature does not verify with the launcher's verifier";
    return false;
  }
  return true;
}

void WarnAboutServedVersion(const SiteLayout& site, const std::string& version) {
  std::string text;
  Manifest served;
  std::u16string reason;
  if (!ReadWholeFile(Utf8ToWide(site.manifest()), text, kMaxManifestText) ||
      !ParseManifest(text, RepresentativeClientDir(), served, reason)) {
    return;
  }
  if (CompareVersions(version, served.version) <= 0) {
    PrintWarning("version " + version + " is not newer than the served version " + served.version);
  }
}

bool StoreContents(const SiteLayout& site, const std::vector<ClientFile>& files,
                   StoreTotals& totals, std::string& error) {
  std::set<std::u16string> done;
  for (const ClientFile& file : files) done.insert(file.entry.sha256);
  const size_t distinct = done.size();
  done.clear();
  ProgressLine line;
  uint64_t copied = 0;
  const auto progress = [&](uint64_t bytes) {
    copied += bytes;
    if (line.Due()) {
      line.Show("storing: " + std::to_string(done.size()) + "/" + std::to_string(distinct) +
                " contents, " + FormatBytes(copied) + " copied");
    }
  };
  for (const ClientFile& file : files) {
    if (!done.insert(file.entry.sha256).second) continue;
    const StoreResult stored = StoreContent(site, file, progress);
    if (!stored.ok) {
      error = stored.error;
      return false;
    }
    if (stored.added) {
      ++totals.added;
      totals.added_bytes += file.entry.size;
    }
  }
  return true;
}

// Replaces the served pair: both new files complete under temporary names, then the signature
// and the text renamed into place back to back.
bool SwitchManifest(const SiteLayout& site, const Plan& plan, std::string& error) {
  if (!StageFile(site.manifest(), plan.text) || !StageFile(site.signature(), plan.signature)) {
    DiscardStagedFile(site.manifest());
    DiscardStagedFile(site.signature());
    error = "cannot write the new manifest files in " + site.launcher_dir();
    return false;
  }
  std::string old_signature;
  const bool had_signature =
      ReadWholeFile(Utf8ToWide(site.signature()), old_signature, kMaxManifestSignature);
  if (!CommitStagedFile(site.signature())) {
    DiscardStagedFile(site.manifest());
    DiscardStagedFile(site.signature());
    error = "cannot rename the new manifest.sig into place; the served release is unchanged";
    return false;
  }
  if (!CommitStagedFile(site.manifest())) {
    DiscardStagedFile(site.manifest());
    // The served text must keep its own signature.
    const bool restored = had_signature ? ReplaceFile(site.signature(), old_signature)
                                        : ::unlink(site.signature().c_str()) == 0;
    error = restored ? "cannot rename the new manifest.txt into place; the served release is "
                       "unchanged"
                     : "cannot rename the new manifest.txt into place, nor restore the old "
                       "manifest.sig: launchers refuse updates until a publish succeeds";
    return false;
  }
  SyncFolder(site.launcher_dir());
  return true;
}

int PublishToSite(const SiteLayout& site, const Plan& plan) {
  SiteLock lock;
  std::string error;
  if (!lock.Acquire(site, error)) {
    PrintError(error + "; nothing was published");
    return kExitFailed;
  }
  if (!EnsureServedFolder(site.files_dir()) || !CanCreateFileIn(site.files_dir()) ||
      !CanCreateFileIn(site.launcher_dir())) {
    PrintError("cannot write to " + site.launcher_dir() + "; nothing was published");
    return kExitFailed;
  }
  WarnAboutServedVersion(site, plan.release.version);
  StoreTotals totals;
  if (!StoreContents(site, plan.files, totals, error)) {
    PrintError(error + "; the served release is unchanged");
    return kExitFailed;
  }
  RecordEntry record;
  if (!AppendToRecord(site, plan.text, record)) {
    PrintError("cannot add to the record in " + site.record_dir() +
               "; the served release is unchanged");
    return kExitFailed;
  }
  if (!SwitchManifest(site, plan, error)) {
    ::unlink(record.path.c_str());
    PrintError(error);
    return kExitFailed;
  }
  uint64_t bytes = 0;
  for (const ClientFile& file : plan.files) bytes += file.entry.size;
  std::printf("published %s: %zu files, %llu bytes, %zu new contents stored (%llu bytes)\n",
              plan.release.version.c_str(), plan.files.size(),
              static_cast<unsigned long long>(bytes), totals.added,
              static_cast<unsigned long long>(totals.added_bytes));
  return kExitOk;
}

}  // namespace

int RunPublish(const Arguments& args) {
  for (std::string_view option : {"client", "site", "key"}) {
    if (const std::string problem = PathArgumentProblem(option, args.Get(option));
        !problem.empty()) {
      PrintError(problem);
      return kExitUsage;
    }
  }
  std::vector<std::string> problems;
  Plan plan;
  ReadVersions(args, plan.release, problems);
  ReadTexts(args, plan.release, problems);
  SigningKey key;
  LoadKey(args.Get("key"), key, problems);
  for (const auto& [option, what] : {std::pair{"key", "the key"}, std::pair{"site", "the site"}}) {
    if (LiesInside(args.Get(option), args.Get("client"))) {
      problems.push_back(std::string("--") + option + " lies inside the client folder: " + what +
                         " would be published as part of the client");
    }
  }
  // The names are checked even after a walk with problems, so that one run lists them all.
  const bool walked = WalkClientFolder(args.Get("client"), plan.files, problems);
  CheckClientNames(plan.files, problems);
  if (walked) ResolveExe(args.Get("exe"), plan.files, plan.release, problems);
  if (problems.empty()) {
    std::string error;
    if (!HashClientFiles(plan.files, error) || !SealManifest(key, plan, error)) {
      problems.push_back(error);
    }
  }
  if (!problems.empty()) {
    for (const std::string& problem : problems) PrintError(problem);
    PrintError("nothing was published");
    return kExitFailed;
  }
  return PublishToSite(SiteLayout(args.Get("site")), plan);
}

}  // namespace hv::publish
