// Test tool: one HTTPS GET with WinHTTP, printing "status <code> length <body bytes>", or
// "error <code> in <call>" when a call fails. Exits 0 only for status 200, so a test sees at once
// whether this Wine prefix trusts the server's certificate.
//
//   https_probe_win URL [RECEIVE_TIMEOUT_MS]
//
// Redirects are not followed, certificate checks stay on, and only TLS 1.2 and 1.3 are allowed:
// the settings the launcher itself uses.
#include <windows.h>
#include <winhttp.h>

#include <cstdio>
#include <cwchar>
#include <memory>
#include <string>

namespace {

struct InternetCloser {
  void operator()(HINTERNET handle) const { WinHttpCloseHandle(handle); }
};
using Internet = std::unique_ptr<void, InternetCloser>;

int Fail(const char* call) {
  std::printf("error %lu in %s\n", GetLastError(), call);
  return 1;
}

bool SetDword(HINTERNET handle, DWORD option, DWORD value) {
  return WinHttpSetOption(handle, option, &value, sizeof value);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: https_probe_win URL [RECEIVE_TIMEOUT_MS]\n");
    return 2;
  }
  const int timeout_ms = argc == 3 ? static_cast<int>(std::wcstol(argv[2], nullptr, 10)) : 10000;

  URL_COMPONENTS url{};
  url.dwStructSize = sizeof url;
  url.dwHostNameLength = url.dwUrlPathLength = url.dwExtraInfoLength = static_cast<DWORD>(-1);
  if (!WinHttpCrackUrl(argv[1], 0, 0, &url)) return Fail("WinHttpCrackUrl");
  const std::wstring host(url.lpszHostName, url.dwHostNameLength);
  const std::wstring target = std::wstring(url.lpszUrlPath, url.dwUrlPathLength) +
                              std::wstring(url.lpszExtraInfo, url.dwExtraInfoLength);

  const Internet session(WinHttpOpen(L"halvoryn-https-probe/1", WINHTTP_ACCESS_TYPE_NO_PROXY,
                                     WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
  if (!session) return Fail("WinHttpOpen");
  // Wine accepts the protocol choice only on the session handle.
  if (!SetDword(session.get(), WINHTTP_OPTION_SECURE_PROTOCOLS,
                WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2 | WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3) ||
      !SetDword(session.get(), WINHTTP_OPTION_REDIRECT_POLICY,
                WINHTTP_OPTION_REDIRECT_POLICY_NEVER) ||
      !WinHttpSetTimeouts(session.get(), timeout_ms, timeout_ms, timeout_ms, timeout_ms)) {
    return Fail("WinHttpSetOption(session)");
  }
  const Internet connection(WinHttpConnect(session.get(), host.c_str(), url.nPort, 0));
  if (!connection) return Fail("WinHttpConnect");
  const DWORD flags = url.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0;
  const Internet request(WinHttpOpenRequest(connection.get(), L"GET", target.c_str(), nullptr,
                                            WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                            flags));
  if (!request) return Fail("WinHttpOpenRequest");
  // Under Wine the session timeouts do not bound the wait for a server that never answers; this
  // one does.
  if (!SetDword(request.get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT,
                static_cast<DWORD>(timeout_ms))) {
    return Fail("WinHttpSetOption(request)");
  }
  if (!WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA,
                          0, 0, 0)) {
    return Fail("WinHttpSendRequest");
  }
  if (!WinHttpReceiveResponse(request.get(), nullptr)) return Fail("WinHttpReceiveResponse");

  DWORD status = 0;
  DWORD size = sizeof status;
  if (!WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                           WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX)) {
    return Fail("WinHttpQueryHeaders");
  }
  unsigned long long length = 0;
  char buffer[64 * 1024];
  for (DWORD read = 1; read != 0; length += read) {
    if (!WinHttpReadData(request.get(), buffer, sizeof buffer, &read)) {
      std::printf("status %lu length %llu\n", status, length);
      return Fail("WinHttpReadData");
    }
  }
  std::printf("status %lu length %llu\n", status, length);
  return status == 200 ? 0 : 1;
}
