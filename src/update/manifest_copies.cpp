#include "update/manifest_copies.h"

#include "core/fault_point.h"
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

bool StoreManifest(const std::u16string& folder, const ManifestCopy& copy, bool signature_first) {
  const std::u16string text = JoinPath(folder, u"manifest.txt");
  const std::u16string signature = JoinPath(folder, u"manifest.sig");
  if (signature_first) {
    if (!WriteFileAtomic(signature, copy.signature)) return false;
    FaultPoint("between-manifest-writes");
    return WriteFileAtomic(text, copy.text);
  }
  return WriteFileAtomic(text, copy.text) && WriteFileAtomic(signature, copy.signature);
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
    PreviousVersion previous{folder, {}};
    if (LoadStoredManifest(context, folder, previous.copy)) return previous;
  }
  return {};
}

}  // namespace hv
