#include <windows.h>

#include <winhttp.h>

#include <memory>

#include "core/path_win.h"
#include "core/scoped_handle_win.h"
#include "net/http_transfer.h"

namespace hv {
namespace {

constexpr DWORD kSecureProtocols =
    WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2 | WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3;
constexpr int kResolveTimeoutMs = 15000;
constexpr int kConnectTimeoutMs = 15000;
constexpr int kSendTimeoutMs = 20000;
constexpr int kReceiveTimeoutMs = 30000;

struct InternetTraits {
  using Handle = HINTERNET;
  static Handle Invalid() { return nullptr; }
  static void Close(Handle handle) { WinHttpCloseHandle(handle); }
};
using ScopedInternet = ScopedHandle<InternetTraits>;

// The three handles of one request. Members are destroyed in reverse order: the request first,
// then the connection, then the root.
struct HttpRequestHandles {
  ScopedInternet root;
  ScopedInternet connection;
  ScopedInternet request;
};

struct CrackedUrl {
  wchar_t host[256] = {};
  wchar_t path[2048] = {};
  wchar_t extra[1024] = {};
  INTERNET_PORT port = 0;
  INTERNET_SCHEME scheme = 0;
};

bool CrackUrl(const std::u16string& url, CrackedUrl& cracked) {
  URL_COMPONENTS parts = {};
  parts.dwStructSize = sizeof parts;
  parts.lpszHostName = cracked.host;
  parts.dwHostNameLength = 255;
  parts.lpszUrlPath = cracked.path;
  parts.dwUrlPathLength = 2047;
  parts.lpszExtraInfo = cracked.extra;
  parts.dwExtraInfoLength = 1023;
  if (!WinHttpCrackUrl(W(url), 0, 0, &parts)) return false;
  cracked.port = parts.nPort;
  cracked.scheme = parts.nScheme;
  return true;
}

HttpResult PlatformFailure() {
  HttpResult result;
  result.error = GetLastError();
  return result;
}

// Crack, open, connect, send, receive the headers. The handles opened so far stay in handles.
HttpResult OpenGetRequest(const EngineConfig& config, const std::u16string& url,
                          HttpRequestHandles& handles) {
  HttpResult result;
  CrackedUrl cracked;
  if (!CrackUrl(url, cracked) || cracked.scheme != INTERNET_SCHEME_HTTPS) {
    result.reason = u"invalid url";
    return result;
  }
  const std::u16string agent = UserAgent(config);
  handles.root.Reset(WinHttpOpen(W(agent), WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                                 WINHTTP_NO_PROXY_BYPASS, 0));
  if (!handles.root.IsValid()) return PlatformFailure();
  DWORD protocols = kSecureProtocols;
  WinHttpSetOption(handles.root.Get(), WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols,
                   sizeof protocols);
  WinHttpSetTimeouts(handles.root.Get(), kResolveTimeoutMs, kConnectTimeoutMs, kSendTimeoutMs,
                     kReceiveTimeoutMs);

  handles.connection.Reset(WinHttpConnect(handles.root.Get(), cracked.host, cracked.port, 0));
  if (!handles.connection.IsValid()) return PlatformFailure();
  const std::wstring object = std::wstring(cracked.path) + cracked.extra;
  handles.request.Reset(WinHttpOpenRequest(handles.connection.Get(), L"GET", object.c_str(),
                                           nullptr, WINHTTP_NO_REFERER,
                                           WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_SECURE));
  if (!handles.request.IsValid()) return PlatformFailure();
  DWORD never = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
  WinHttpSetOption(handles.request.Get(), WINHTTP_OPTION_REDIRECT_POLICY, &never, sizeof never);
  // WinHttpSetTimeouts does not bound the wait for a server that accepts the connection and then
  // stays silent under Wine; this option does, and on Windows it only repeats the receive timeout.
  DWORD receive = kReceiveTimeoutMs;
  WinHttpSetOption(handles.request.Get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &receive,
                   sizeof receive);

  if (!WinHttpSendRequest(handles.request.Get(), L"Cache-Control: no-cache\r\n",
                          static_cast<DWORD>(-1), WINHTTP_NO_REQUEST_DATA, 0, 0, 0)) {
    return PlatformFailure();
  }
  if (!WinHttpReceiveResponse(handles.request.Get(), nullptr)) return PlatformFailure();

  DWORD status = 0, size = sizeof status;
  if (WinHttpQueryHeaders(handles.request.Get(),
                          WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                          WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX)) {
    result.status = static_cast<int32_t>(status);
  }
  result.ok = result.status == 200;
  return result;
}

int64_t ContentLength(HINTERNET request) {
  wchar_t text[32];
  DWORD size = sizeof text;
  if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_CONTENT_LENGTH, WINHTTP_HEADER_NAME_BY_INDEX,
                           text, &size, WINHTTP_NO_HEADER_INDEX)) {
    return -1;
  }
  return _wcstoi64(text, nullptr, 10);
}

}  // namespace

HttpResult HttpTransfer(const EngineConfig& config, const std::u16string& url, size_t piece_size,
                        const CancelFlag* cancel, BodySink& sink) {
  HttpRequestHandles handles;
  HttpResult result = OpenGetRequest(config, url, handles);
  if (!result.ok || !sink.Begin(ContentLength(handles.request.Get()), result)) return result;
  const std::unique_ptr<char[]> buffer(new char[piece_size]);
  while (true) {
    if (IsCancelled(cancel)) {
      result.ok = false;
      result.reason = u"cancelled";
      break;
    }
    DWORD got = 0;
    if (!WinHttpReadData(handles.request.Get(), buffer.get(), static_cast<DWORD>(piece_size),
                         &got)) {
      result.ok = false;
      result.error = GetLastError();
      break;
    }
    if (got == 0 || !sink.Piece(buffer.get(), got, result)) break;
  }
  sink.End(result);
  return result;
}

}  // namespace hv
