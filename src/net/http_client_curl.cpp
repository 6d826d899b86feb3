// The transport on POSIX: libcurl with the rules WinHTTP follows on Windows.
//   - HTTPS only, TLS 1.2 or later; certificate and host name always verified (against the
//     configured CA file in tests, the system's store otherwise);
//   - the proxy from the environment (https_proxy, no_proxy...), libcurl's usual variables;
//   - no redirects, HTTP/1.1, no content encoding;
//   - timeouts: WinHTTP's resolve (15 s) and connect (15 s) become one connect timeout of 30 s,
//     which in libcurl covers both; its receive timeout (30 s without an answer) becomes "less than
//     one byte per second over 30 s"; libcurl has no send timeout of its own, and the low-speed
//     rule also ends a request whose tiny header cannot be sent.
// Every request opens its own connection, as on Windows; what the process shares between
// requests is what Windows' TLS layer shares too: the certificate store (libcurl would build it
// from the CA file anew for every connection, which costs more than fetching a small file), the
// TLS sessions (so that a new connection resumes one rather than running a full handshake) and
// the name lookups.
// libcurl pushes the body into a callback; the rules of the shared sinks apply piece by piece
// there. The cancel flag is also read by the progress callback, which libcurl calls about once
// a second while waiting, so a cancel ends a stalled transfer without waiting for data.
#include <curl/curl.h>
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>

#include <map>
#include <mutex>

#include "core/owned.h"
#include "core/text.h"
#include "net/http_transfer.h"

namespace hv {
namespace {

constexpr long kConnectTimeoutMs = 30000;
constexpr long kStallSeconds = 30;
// The sizes of the buffers WinHTTP cracks a URL into, without their terminators.
constexpr size_t kMaxHost = 255, kMaxPath = 2047, kMaxQuery = 1023;

// The TLS session cache and the name cache of the process, for every request of every thread.
class SharedState {
 public:
  static CURLSH* Get() {
    static SharedState state;
    return state.share_;
  }

 private:
  SharedState() {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    share_ = curl_share_init();
    if (!share_) return;
    curl_share_setopt(share_, CURLSHOPT_LOCKFUNC, Lock);
    curl_share_setopt(share_, CURLSHOPT_UNLOCKFUNC, Unlock);
    curl_share_setopt(share_, CURLSHOPT_USERDATA, this);
    curl_share_setopt(share_, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
    curl_share_setopt(share_, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
  }

  static void Lock(CURL*, curl_lock_data data, curl_lock_access, void* user) {
    static_cast<SharedState*>(user)->locks_[LockIndex(data)].lock();
  }
  static void Unlock(CURL*, curl_lock_data data, void* user) {
    static_cast<SharedState*>(user)->locks_[LockIndex(data)].unlock();
  }
  static size_t LockIndex(curl_lock_data data) {
    return static_cast<size_t>(data) < kLocks ? static_cast<size_t>(data) : 0;
  }

  static constexpr size_t kLocks = CURL_LOCK_DATA_LAST;
  std::mutex locks_[kLocks];
  CURLSH* share_ = nullptr;
};

using ScopedCurl = Owned<CURL, curl_easy_cleanup>;
using ScopedUrl = Owned<CURLU, curl_url_cleanup>;
using ScopedHeaders = Owned<curl_slist, curl_slist_free_all>;

size_t PartLength(CURLU* url, CURLUPart part) {
  char* text = nullptr;
  if (curl_url_get(url, part, &text, 0) != CURLUE_OK) return 0;
  const size_t length = std::string_view(text).size();
  curl_free(text);
  return length;
}

// An absolute https URL whose parts fit the limits WinHTTP's cracking has on Windows.
bool IsUsableUrl(const std::string& url) {
  ScopedUrl parsed(curl_url());
  if (!parsed || curl_url_set(parsed.get(), CURLUPART_URL, url.c_str(), 0) != CURLUE_OK) {
    return false;
  }
  char* scheme = nullptr;
  if (curl_url_get(parsed.get(), CURLUPART_SCHEME, &scheme, 0) != CURLUE_OK) return false;
  const bool https = std::string_view(scheme) == "https";
  curl_free(scheme);
  return https && PartLength(parsed.get(), CURLUPART_HOST) <= kMaxHost &&
         PartLength(parsed.get(), CURLUPART_PATH) <= kMaxPath &&
         PartLength(parsed.get(), CURLUPART_QUERY) + 1 <= kMaxQuery;
}

// The store servers are verified against, built once per CA file ("" for the system's store)
// and shared by every connection; OpenSSL keeps a store safe to share between threads.
X509_STORE* CertificateStore(const std::string& ca_file) {
  static std::mutex lock;
  // Never destroyed: connections of other threads may still use the stores while the process
  // ends.
  static auto* stores = new std::map<std::string, X509_STORE*>;
  std::lock_guard<std::mutex> guard(lock);
  X509_STORE*& store = (*stores)[ca_file];
  if (!store) {
    store = X509_STORE_new();
    const bool loaded = store && (ca_file.empty() ? X509_STORE_set_default_paths(store)
                                                  : X509_STORE_load_file(store, ca_file.c_str()));
    if (!loaded) {
      X509_STORE_free(store);
      store = nullptr;
    }
  }
  return store;
}

// libcurl's hook into each new TLS context: the shared store replaces one built per connection.
// Without a store the context keeps none, and every certificate then fails to verify.
CURLcode UseSharedStore(CURL*, void* context, void* user) {
  X509_STORE* store = CertificateStore(*static_cast<const std::string*>(user));
  if (!store) return CURLE_SSL_CACERT_BADFILE;
  SSL_CTX_set1_cert_store(static_cast<SSL_CTX*>(context), store);
  return CURLE_OK;
}

struct Transfer {
  CURL* curl;
  const CancelFlag* cancel;
  BodySink& sink;
  HttpResult& result;
  bool begun = false;    // a 200 arrived and the sink accepted it
  bool stopped = false;  // a callback ended the transfer; result says why
};

void StopCancelled(Transfer& transfer) {
  transfer.result.ok = false;
  transfer.result.reason = u"cancelled";
  transfer.stopped = true;
}

// Called for every header line; the empty line ends them.
size_t OnHeader(char* data, size_t size, size_t count, void* user) {
  auto& transfer = *static_cast<Transfer*>(user);
  const std::string_view line(data, size * count);
  if (line != "\r\n" && line != "\n") return line.size();
  long status = 0;
  curl_easy_getinfo(transfer.curl, CURLINFO_RESPONSE_CODE, &status);
  transfer.result.status = static_cast<int32_t>(status);
  if (status != 200) {
    transfer.stopped = true;  // any other status fails without reading the body
    return 0;
  }
  transfer.result.ok = true;
  curl_off_t announced = -1;
  curl_easy_getinfo(transfer.curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced);
  if (!transfer.sink.Begin(announced, transfer.result)) {
    transfer.stopped = true;
    return 0;
  }
  transfer.begun = true;
  return line.size();
}

size_t OnBody(char* data, size_t size, size_t count, void* user) {
  auto& transfer = *static_cast<Transfer*>(user);
  if (IsCancelled(transfer.cancel)) {
    StopCancelled(transfer);
    return 0;
  }
  if (!transfer.sink.Piece(data, size * count, transfer.result)) {
    transfer.stopped = true;
    return 0;
  }
  return size * count;
}

int OnProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  auto& transfer = *static_cast<Transfer*>(user);
  // Before the headers the request runs on, as on Windows, so that the status is known.
  if (!transfer.begun || !IsCancelled(transfer.cancel)) return 0;
  StopCancelled(transfer);
  return 1;
}

void Configure(CURL* curl, const std::string& url, const std::string& ca_file,
               const std::string& agent, curl_slist* headers, size_t piece_size,
               Transfer& transfer) {
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_SHARE, SharedState::Get());
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "https");
  curl_easy_setopt(curl, CURLOPT_USERAGENT, agent.c_str());
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(curl, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_1);
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(curl, CURLOPT_SSLVERSION, CURL_SSLVERSION_TLSv1_2);
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
  // No file or folder for libcurl to load: the shared store takes their place.
  curl_easy_setopt(curl, CURLOPT_CAINFO, nullptr);
  curl_easy_setopt(curl, CURLOPT_CAPATH, nullptr);
  curl_easy_setopt(curl, CURLOPT_SSL_CTX_FUNCTION, UseSharedStore);
  curl_easy_setopt(curl, CURLOPT_SSL_CTX_DATA, &ca_file);
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, kConnectTimeoutMs);
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, kStallSeconds);
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_BUFFERSIZE, static_cast<long>(piece_size));
  curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, OnHeader);
  curl_easy_setopt(curl, CURLOPT_HEADERDATA, &transfer);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, OnBody);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &transfer);
  curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, OnProgress);
  curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &transfer);
  curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
}

}  // namespace

HttpResult HttpTransfer(const EngineConfig& config, const std::u16string& url, size_t piece_size,
                        const CancelFlag* cancel, BodySink& sink) {
  HttpResult result;
  const std::string url_bytes = WideToUtf8(url);
  SharedState::Get();  // initialises libcurl once, before any handle exists
  if (!IsUsableUrl(url_bytes)) {
    result.reason = u"invalid url";
    return result;
  }
  ScopedCurl curl(curl_easy_init());
  if (!curl) {
    result.error = CURLE_FAILED_INIT;
    return result;
  }
  ScopedHeaders headers(curl_slist_append(nullptr, "Cache-Control: no-cache"));
  const std::string agent = WideToUtf8(UserAgent(config));
  const std::string ca_file = WideToUtf8(config.ca_file);
  Transfer transfer{curl.get(), cancel, sink, result};
  Configure(curl.get(), url_bytes, ca_file, agent, headers.get(), piece_size, transfer);

  const CURLcode code = curl_easy_perform(curl.get());
  if (!transfer.stopped) {
    // A body cut short of its Content-Length ends like any other; the sink judges its size.
    if (code == CURLE_OK || (code == CURLE_PARTIAL_FILE && transfer.begun)) {
      // The check before the read that would find the end of the body.
      if (IsCancelled(cancel)) StopCancelled(transfer);
    } else {
      result.ok = false;
      result.error = static_cast<uint32_t>(code);
    }
  }
  if (transfer.begun) sink.End(result);
  return result;
}

}  // namespace hv
