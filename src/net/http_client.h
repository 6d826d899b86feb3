// The launcher's only way to the network: blocking HTTPS GET requests to the server, into memory
// (manifest, signature, news) or into a file (client files, hashed while written). Every call
// opens and closes its own connection: no reuse, no retry, no resumption.
//
// The rules: HTTPS only, TLS 1.2 or 1.3, the system's proxy, fixed timeouts (resolve 15 s,
// connect 15 s, send 20 s, receive 30 s), no redirects, only status 200 accepted, the header
// "Cache-Control: no-cache", hard byte limits, and the cancel flag read before every read.
#pragma once

#include <cstdint>
#include <string>

#include "core/cancel_flag.h"
#include "net/engine_config.h"
#include "net/sha256.h"

namespace hv {

struct HttpResult {
  bool ok = false;     // answered with 200 and the body taken completely within its limits
  int32_t status = 0;  // the response's status; 0 when none arrived
  // The platform's code of the call that failed (WinHTTP's GetLastError on Windows, the libcurl
  // code elsewhere; for file writes the OS error); 0 for failures detected here.
  uint32_t error = 0;
  // Set only for failures detected here: "invalid url", "too large", "cancelled", "write",
  // "disk", "size".
  std::u16string reason;
};

// The body into memory, in 16 KiB reads, at most max_size bytes (a body of exactly max_size is
// accepted). On failure body holds whatever arrived; callers ignore it.
HttpResult HttpGetToMemory(const EngineConfig& config, const std::u16string& url, std::string& body,
                           uint64_t max_size, const CancelFlag* cancel);

// The body into a new file at destination (created only once a 200 arrived), in 64 KiB reads,
// hashed on the way; it must be exactly expected_size bytes ("size" otherwise). On success
// digest_hex is the SHA-256 of the bytes written (empty if the hash failed); on failure the file
// is deleted and digest_hex untouched. progress gets each written piece's size.
HttpResult HttpGetToFile(const EngineConfig& config, const std::u16string& url,
                         const std::u16string& destination, uint64_t expected_size,
                         std::u16string& digest_hex, const CancelFlag* cancel,
                         ProgressCallback progress, void* user);

// "HalvorynLauncher/" and the launcher's version.
std::u16string UserAgent(const EngineConfig& config);

}  // namespace hv
