#include "update/manifest_copies.h"

#include "core/file_util.h"
#include "net/http_client.h"
#include "net/signature.h"

namespace hv {

bool AcceptManifest(const EngineContext& context, const std::string& text,
                    const std::string& signature, Manifest& manifest) {
  if (!VerifyManifestSignature(text, signature, context.config.public_key)) return false;
  std::u16string ignored_reason;
  return ParseManifest(text, context.layout.client_dir, manifest, ignored_reason);
}

bool LoadStoredManifest(const EngineContext& context, const std::u16string& folder,
                        ManifestCopy& copy) {
  return ReadWholeFile(JoinPath(folder, u"manifest.txt"), copy.text, kMaxManifestText) &&
         ReadWholeFile(JoinPath(folder, u"manifest.sig"), copy.signature, kMaxManifestSignature) &&
         AcceptManifest(context, copy.text, copy.signature, copy.manifest);
}

bool FetchRemoteManifest(const EngineContext& context, std::string& text, std::string& signature) {
  const std::u16string base = context.config.origin + u"/downloads/launcher/";
  return HttpGetToMemory(context.config, base + u"manifest.txt", text, kMaxManifestText,
                         &context.cancel)
             .ok &&
         HttpGetToMemory(context.config, base + u"manifest.sig", signature, kMaxManifestSignature,
                         &context.cancel)
             .ok;
}

PreviousVersion FindPreviousVersion(const EngineContext& context) {
  std::vector<DirectoryEntry> entries;
  if (!ListDirectory(context.layout.backup_dir, entries)) return {};
  for (const DirectoryEntry& entry : entries) {
    if (!entry.is_directory) continue;
    const std::u16string folder = JoinPath(context.layout.backup_dir, entry.name);
    ManifestCopy copy;
    if (LoadStoredManifest(context, folder, copy)) return {folder, copy.manifest.version};
  }
  return {};
}

}  // namespace hv
