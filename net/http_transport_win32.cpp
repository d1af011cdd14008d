#include <windows.h>
#include <winhttp.h>

#include <chrono>
#include <memory>

#include "common/pending_answer.h"
#include "common/text_win32.h"
#include "net/http_transport.h"

// WinHTTP used synchronously. Besides the route, the TLS versions and the
// time-outs only WinHTTP's own redirect following is turned off, so that every
// redirect status reaches the downloader's policy; WinHTTP keeps validating
// server certificates, and its default logon policy stays.

namespace {

// Every handle is an HINTERNET; the types only keep the kinds apart.
template <typename Handle>
HINTERNET Internet(Handle handle) {
  return reinterpret_cast<HINTERNET>(handle);
}

constexpr wchar_t kUserAgent[] = L"VelnorInstaller/1.0";

// Takes a string that WinHTTP allocated for the caller.
std::wstring Take(LPWSTR text) {
  if (text == nullptr) return {};
  std::wstring taken = text;
  GlobalFree(text);
  return taken;
}

// Runs on a thread of its own, with its own copies and session: nothing
// bounds WinHttpGetProxyForUrl (a PAC server that accepts and never answers
// holds it, whatever the time-outs), and WinHttpGetProxyForUrlEx, which can be
// cancelled, needs Windows 8.
ProxyLookup RunLookup(const ProxySettings& settings, const std::wstring& url) {
  ProxyLookup answer;
  WINHTTP_AUTOPROXY_OPTIONS options = {};
  if (settings.autoDetect) {
    options.dwFlags = WINHTTP_AUTOPROXY_AUTO_DETECT;
    options.dwAutoDetectFlags = WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
  }
  if (!settings.autoConfigUrl.empty()) {
    options.dwFlags |= WINHTTP_AUTOPROXY_CONFIG_URL;
    options.lpszAutoConfigUrl = settings.autoConfigUrl.c_str();
  }
  // The script comes from the network. WinHTTP hands it to its proxy service
  // where it can; when the service fails, the system may run it inside this
  // elevated process (Wine always does). The flag that would forbid that,
  // WINHTTP_AUTOPROXY_RUN_OUTPROCESS_ONLY, is documented for Windows Server
  // 2003 alone.
  HINTERNET session = WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                  WINHTTP_NO_PROXY_BYPASS, 0);
  WINHTTP_PROXY_INFO info = {};
  if (session != nullptr && WinHttpGetProxyForUrl(session, url.c_str(), &options, &info)) {
    answer.proxy = Take(info.lpszProxy);
    answer.bypass = Take(info.lpszProxyBypass);
    const bool named =
        info.dwAccessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY && !answer.proxy.empty();
    answer.outcome = named ? ProxyLookup::Proxy : ProxyLookup::Direct;
  }
  if (session != nullptr) WinHttpCloseHandle(session);
  return answer;
}

}  // namespace

bool HttpReadProxySettings(ProxySettings& settings) {
  WINHTTP_CURRENT_USER_IE_PROXY_CONFIG config = {};
  if (!WinHttpGetIEProxyConfigForCurrentUser(&config)) return false;
  settings.autoDetect = config.fAutoDetect != FALSE;
  settings.autoConfigUrl = Take(config.lpszAutoConfigUrl);
  settings.proxy = Take(config.lpszProxy);
  settings.bypass = Take(config.lpszProxyBypass);
  return true;
}

bool HttpReadMachineProxy(std::wstring& proxy, std::wstring& bypass) {
  WINHTTP_PROXY_INFO info = {};
  if (!WinHttpGetDefaultProxyConfiguration(&info)) return false;
  proxy = Take(info.lpszProxy);
  bypass = Take(info.lpszProxyBypass);
  return info.dwAccessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY && !proxy.empty();
}

ProxyLookup HttpFindProxy(const ProxySettings& settings, const std::wstring& url, int boundMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(boundMs);
  auto lookup =
      StartPendingAnswer<ProxyLookup>([settings, url] { return RunLookup(settings, url); });
  if (!lookup) return {};
  return AwaitPendingAnswer(lookup, deadline, ProxyLookup{ProxyLookup::TimedOut, {}, {}});
}

HttpSession HttpOpenSession(const ProxyRoute& route) {
  // A proxy is used only when named to WinHttpOpen: under Wine the automatic
  // access type always goes direct, and WINHTTP_OPTION_PROXY is ignored.
  DWORD access = WINHTTP_ACCESS_TYPE_DEFAULT_PROXY;
  const wchar_t* proxy = WINHTTP_NO_PROXY_NAME;
  const wchar_t* bypass = WINHTTP_NO_PROXY_BYPASS;
  if (route.kind == RouteKind::Direct) access = WINHTTP_ACCESS_TYPE_NO_PROXY;
  if (route.kind == RouteKind::Proxy) {
    access = WINHTTP_ACCESS_TYPE_NAMED_PROXY;
    proxy = route.proxy.c_str();
    if (!route.bypass.empty()) bypass = route.bypass.c_str();
  }
  return reinterpret_cast<HttpSession>(WinHttpOpen(kUserAgent, access, proxy, bypass, 0));
}

bool HttpSetTlsVersions(HttpSession session, unsigned versions) {
  DWORD flags = 0;
  if (versions & kTls12) flags |= WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2;
  if (versions & kTls13) flags |= WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3;
  return WinHttpSetOption(Internet(session), WINHTTP_OPTION_SECURE_PROTOCOLS, &flags,
                          sizeof flags) != FALSE;
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

bool HttpAddRequestHeaders(HttpRequest request, const std::wstring& headers) {
  return WinHttpAddRequestHeaders(Internet(request), headers.c_str(), static_cast<DWORD>(-1),
                                  WINHTTP_ADDREQ_FLAG_ADD | WINHTTP_ADDREQ_FLAG_REPLACE) != FALSE;
}

namespace {

HttpOutcome Outcome(BOOL ok) {
  if (ok) return HttpOutcome::Done;
  switch (GetLastError()) {
    case ERROR_WINHTTP_CANNOT_CONNECT:
    case ERROR_WINHTTP_NAME_NOT_RESOLVED:
    case ERROR_WINHTTP_TIMEOUT:
      return HttpOutcome::Unreachable;
    case ERROR_WINHTTP_RESEND_REQUEST:
      return HttpOutcome::Resend;
    default:
      return HttpOutcome::Failed;
  }
}

}  // namespace

HttpOutcome HttpSendRequest(HttpRequest request) {
  return Outcome(WinHttpSendRequest(Internet(request), WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                                    WINHTTP_NO_REQUEST_DATA, 0, 0, 0));
}

HttpOutcome HttpReceiveResponse(HttpRequest request) {
  return Outcome(WinHttpReceiveResponse(Internet(request), nullptr));
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

HttpHeaderValue HttpQueryHeader(HttpRequest request, HttpHeader header, std::string& value) {
  const DWORD query = header == HttpHeader::ContentLength  ? WINHTTP_QUERY_CONTENT_LENGTH
                      : header == HttpHeader::ETag         ? WINHTTP_QUERY_ETAG
                      : header == HttpHeader::LastModified ? WINHTTP_QUERY_LAST_MODIFIED
                      : header == HttpHeader::Date         ? WINHTTP_QUERY_DATE
                                                           : WINHTTP_QUERY_CONTENT_RANGE;
  // As text, the length too: Wine refuses WINHTTP_QUERY_FLAG_NUMBER64, and its
  // 32-bit number cuts 5,000,000,000 to 2,147,483,647 and takes "+77" and
  // "12abc" for numbers.
  wchar_t buffer[256] = {};
  DWORD size = sizeof buffer - sizeof buffer[0];
  value.clear();
  if (!WinHttpQueryHeaders(Internet(request), query, WINHTTP_HEADER_NAME_BY_INDEX, buffer, &size,
                           WINHTTP_NO_HEADER_INDEX))
    return GetLastError() == ERROR_WINHTTP_HEADER_NOT_FOUND ? HttpHeaderValue::Absent
                                                            : HttpHeaderValue::Unreadable;
  for (const wchar_t* unit = buffer; *unit != 0; ++unit) {
    if (*unit > 0x7E) return HttpHeaderValue::Unreadable;
    value.push_back(static_cast<char>(*unit));
  }
  return HttpHeaderValue::Read;
}

unsigned HttpQueryProxySchemes(HttpRequest request) {
  DWORD supported = 0, first = 0, target = 0;
  if (!WinHttpQueryAuthSchemes(Internet(request), &supported, &first, &target) ||
      target != WINHTTP_AUTH_TARGET_PROXY) {
    return 0;
  }
  return ((supported & WINHTTP_AUTH_SCHEME_NEGOTIATE) ? kNegotiate : 0) |
         ((supported & WINHTTP_AUTH_SCHEME_NTLM) ? kNtlm : 0);
}

bool HttpSetProxyCredentials(HttpRequest request, unsigned scheme) {
  const DWORD winhttpScheme =
      scheme == kNegotiate ? WINHTTP_AUTH_SCHEME_NEGOTIATE : WINHTTP_AUTH_SCHEME_NTLM;
  return WinHttpSetCredentials(Internet(request), WINHTTP_AUTH_TARGET_PROXY, winhttpScheme, nullptr,
                               nullptr, nullptr) != FALSE;
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

void HttpPause(int milliseconds) { Sleep(static_cast<DWORD>(milliseconds)); }
