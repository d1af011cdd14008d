#include "bench/bare_get_win32.h"

#include <windows.h>
#include <winhttp.h>

#include <memory>
#include <type_traits>

#include "net/url.h"

namespace {

struct InternetCloser {
  void operator()(HINTERNET handle) const { WinHttpCloseHandle(handle); }
};
using Internet = std::unique_ptr<std::remove_pointer_t<HINTERNET>, InternetCloser>;

double Now() {
  LARGE_INTEGER frequency, counter;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&counter);
  return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

}  // namespace

bool BareWinHttpGet(const std::string& url, BareGetResult& result, std::string& error) {
  std::wstring host, path;
  std::int32_t port = 0;
  if (!ParseHttpsUrl(url, host, port, path)) {
    error = "URL parse failed";
    return false;
  }
  const double start = Now();
  // Declared in opening order, so they are closed newest first.
  Internet session(WinHttpOpen(L"VelnorInstaller/1.0", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                               WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
  if (!session) {
    error = "WinHttpOpen failed";
    return false;
  }
  WinHttpSetTimeouts(session.get(), 30000, 30000, 30000, 30000);
  Internet connection(
      WinHttpConnect(session.get(), host.c_str(), static_cast<INTERNET_PORT>(port), 0));
  if (!connection) {
    error = "WinHttpConnect failed";
    return false;
  }
  Internet request(WinHttpOpenRequest(connection.get(), L"GET", path.c_str(), nullptr,
                                      WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                      WINHTTP_FLAG_SECURE));
  if (!request || !WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                                      WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
      !WinHttpReceiveResponse(request.get(), nullptr)) {
    error = "request failed: " + std::to_string(GetLastError());
    return false;
  }
  DWORD status = 0;
  DWORD size = sizeof(status);
  WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                      WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX);
  if (status != 200) {
    error = "HTTP status " + std::to_string(status);
    return false;
  }
  char buffer[8192];
  std::uint64_t bytes = 0;
  for (;;) {
    DWORD count = 0;
    if (!WinHttpReadData(request.get(), buffer, sizeof(buffer), &count)) {
      error = "read failed: " + std::to_string(GetLastError());
      return false;
    }
    if (count == 0) break;
    bytes += count;
  }
  result.bytes = bytes;
  result.seconds = Now() - start;
  return true;
}
