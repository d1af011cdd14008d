#include <windows.h>
#include <winhttp.h>

#include "common/text_win32.h"
#include "net/http_transport.h"

// WinHTTP used synchronously. Besides the time-outs only WinHTTP's own
// redirect following is turned off, so that every redirect status reaches the
// downloader's policy; WinHTTP keeps validating server certificates.

namespace {

// Every handle is an HINTERNET; the types only keep the kinds apart.
template <typename Handle>
HINTERNET Internet(Handle handle) {
  return reinterpret_cast<HINTERNET>(handle);
}

}  // namespace

HttpSession HttpOpenSession() {
  return reinterpret_cast<HttpSession>(
      WinHttpOpen(L"VelnorInstaller/1.0", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                  WINHTTP_NO_PROXY_BYPASS, 0));
}

void HttpSetTimeouts(HttpSession session, int resolveMs, int connectMs, int sendMs, int receiveMs) {
  WinHttpSetTimeouts(Internet(session), resolveMs, connectMs, sendMs, receiveMs);
}

HttpConnection HttpConnect(HttpSession session, const std::wstring& host, std::uint16_t port) {
  return reinterpret_cast<HttpConnection>(
      WinHttpConnect(Internet(session), host.c_str(), static_cast<INTERNET_PORT>(port), 0));
}

HttpRequest HttpOpenGetRequest(HttpConnection connection, const std::wstring& path) {
  HINTERNET request =
      WinHttpOpenRequest(Internet(connection), L"GET", path.c_str(), nullptr, WINHTTP_NO_REFERER,
                         WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_SECURE);
  if (request == nullptr) return nullptr;
  // Left on, WinHTTP would follow up to ten redirects, relative ones included,
  // before the downloader saw any of them.
  DWORD feature = WINHTTP_DISABLE_REDIRECTS;
  if (!WinHttpSetOption(request, WINHTTP_OPTION_DISABLE_FEATURE, &feature, sizeof feature)) {
    WinHttpCloseHandle(request);
    return nullptr;
  }
  return reinterpret_cast<HttpRequest>(request);
}

bool HttpSendRequest(HttpRequest request) {
  return WinHttpSendRequest(Internet(request), WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                            WINHTTP_NO_REQUEST_DATA, 0, 0, 0) != FALSE;
}

bool HttpReceiveResponse(HttpRequest request) {
  return WinHttpReceiveResponse(Internet(request), nullptr) != FALSE;
}

std::uint32_t HttpQueryStatus(HttpRequest request) {
  DWORD status = 0;
  DWORD size = sizeof(status);
  WinHttpQueryHeaders(Internet(request), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                      WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX);
  return status;
}

bool HttpQueryLocation(HttpRequest request, std::string& location) {
  // 2048 units: a value of up to 2047 units and its terminator; a longer one
  // makes the query fail.
  wchar_t buffer[2048] = {};
  DWORD size = sizeof(buffer);
  if (!WinHttpQueryHeaders(Internet(request), WINHTTP_QUERY_LOCATION, WINHTTP_HEADER_NAME_BY_INDEX,
                           buffer, &size, WINHTTP_NO_HEADER_INDEX)) {
    return false;
  }
  buffer[2047] = L'\0';
  return Utf8FromWide(buffer, location);
}

bool HttpQueryContentLength(HttpRequest request, std::uint32_t& length) {
  DWORD value = 0;
  DWORD size = sizeof(value);
  const BOOL found = WinHttpQueryHeaders(
      Internet(request), WINHTTP_QUERY_CONTENT_LENGTH | WINHTTP_QUERY_FLAG_NUMBER,
      WINHTTP_HEADER_NAME_BY_INDEX, &value, &size, WINHTTP_NO_HEADER_INDEX);
  length = found ? value : 0;
  return found != FALSE;
}

bool HttpReadData(HttpRequest request, void* buffer, std::uint32_t size, std::uint32_t& received) {
  DWORD count = 0;
  const BOOL ok = WinHttpReadData(Internet(request), buffer, size, &count);
  received = ok ? count : 0;
  return ok != FALSE;
}

void HttpCloseHandle(HttpRequest request) { WinHttpCloseHandle(Internet(request)); }
void HttpCloseHandle(HttpConnection connection) { WinHttpCloseHandle(Internet(connection)); }
void HttpCloseHandle(HttpSession session) { WinHttpCloseHandle(Internet(session)); }
