// The three copies of a manifest: the server's, the installed one ("manifest.txt" and
// "manifest.sig" in the state folder), and the previous version's (the same two files in a
// version folder inside the backup folder). A copy counts only as a whole: both files present,
// both within their limits, the signature valid for the exact text bytes, the text a valid
// manifest. No other property is checked: a server manifest older than the installed one is
// accepted like any other.
#pragma once

#include <string>

#include "update/engine_context.h"
#include "update/manifest.h"

namespace hv {

constexpr uint64_t kMaxManifestText = 16 * 1024 * 1024;
constexpr uint64_t kMaxManifestSignature = 1024;

// A manifest with the exact bytes it came from, which are written unchanged elsewhere and
// compared byte for byte.
struct ManifestCopy {
  Manifest manifest;
  std::string text;
  std::string signature;
};

// The signature verifies against the built-in key, then the text parses.
bool AcceptManifest(const EngineContext& context, const std::string& text,
                    const std::string& signature, Manifest& manifest);

// The copy in folder ("manifest.txt" and "manifest.sig").
bool LoadStoredManifest(const EngineContext& context, const std::u16string& folder,
                        ManifestCopy& copy);

// Writes the copy into folder. signature_first: the signature, then the text, as the installed
// copy is written (a text without its signature is never left as the newer file); otherwise the
// text first.
bool StoreManifest(const std::u16string& folder, const ManifestCopy& copy, bool signature_first);

// The server's text, then (only when the text arrived) its signature. True when both arrived;
// nothing is checked here and nothing retried.
bool FetchRemoteManifest(const EngineContext& context, std::string& text, std::string& signature);

struct PreviousVersion {
  std::u16string folder;  // empty when there is none
  ManifestCopy copy;      // its manifest, accepted
};

// The first folder of the backup folder, in listing order, that holds an acceptable copy.
PreviousVersion FindPreviousVersion(const EngineContext& context);

}  // namespace hv
