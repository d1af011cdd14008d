#pragma once

#include <cstdint>
#include <string>

#include "net/proxy_route.h"

// The blocking HTTPS operations the downloader is built on: WinHTTP
// (http_transport_win32.cpp), or natively a scripted fake (download_test.cpp).
// Handles are opaque and of one type per kind, so that one cannot be passed
// where another is wanted; a null handle means the operation failed.
struct HttpSessionTag;
struct HttpConnectionTag;
struct HttpRequestTag;
using HttpSession = HttpSessionTag*;
using HttpConnection = HttpConnectionTag*;
using HttpRequest = HttpRequestTag*;

// The user's proxy settings; false when they cannot be read.
bool HttpReadProxySettings(ProxySettings& settings);
// The machine-wide proxy that the default route takes, with its bypass list;
// false when that setting names none.
bool HttpReadMachineProxy(std::wstring& proxy, std::wstring& bypass);
// Asks auto-detection and the PAC script of `settings` (as set) which way
// `url` goes. Waits at most `boundMs`, then answers TimedOut and leaves the
// lookup behind, still running.
ProxyLookup HttpFindProxy(const ProxySettings& settings, const std::wstring& url, int boundMs);
// A session with the user agent "VelnorInstaller/1.0" on `route`.
HttpSession HttpOpenSession(const ProxyRoute& route);
constexpr unsigned kTls12 = 1, kTls13 = 2;  // TLS versions, as bits
// Lets the session speak only the TLS versions of `versions`; false when the
// system refuses that (its defaults then stay).
bool HttpSetTlsVersions(HttpSession session, unsigned versions);
// Resolve, connect, send and receive time-outs of the session; result ignored.
void HttpSetTimeouts(HttpSession session, int resolveMs, int connectMs, int sendMs, int receiveMs);
HttpConnection HttpConnect(HttpSession session, const std::wstring& host, std::uint16_t port);
// A TLS "GET" request for `path` (path and query).
HttpRequest HttpOpenGetRequest(HttpConnection connection, const std::wstring& path);
// Adds `headers` ("Name: value" lines joined by CRLF) to the request, kept
// when it is sent again; false when they are refused.
bool HttpAddRequestHeaders(HttpRequest request, const std::wstring& headers);
enum class HttpOutcome {
  Done,
  Failed,
  Unreachable,  // the peer could not be reached: refused, no such name, time-out
  Resend,       // the transport asks for the request to be sent again
};
HttpOutcome HttpSendRequest(HttpRequest request);
HttpOutcome HttpReceiveResponse(HttpRequest request);
// The numeric status, 0 when it cannot be read.
std::uint32_t HttpQueryStatus(HttpRequest request);
// The Location value as UTF-8; false when it is missing, longer than 2047
// UTF-16 units or not valid UTF-16.
bool HttpQueryLocation(HttpRequest request, std::string& location);
// The answer's headers that the body's length and its resume need, read as
// text: the length is parsed by the downloader.
enum class HttpHeader { ContentLength, ETag, LastModified, Date, ContentRange };
enum class HttpHeaderValue {
  Absent,
  Unreadable,  // present, but not ASCII or too long to be read whole
  Read,
};
// The value of `header` as sent, in `value` when Read.
HttpHeaderValue HttpQueryHeader(HttpRequest request, HttpHeader header, std::string& value);
constexpr unsigned kNegotiate = 1, kNtlm = 2;  // logon schemes, as bits
// Which of the schemes that the user's own logon can answer a proxy's 407
// offers; 0 for none, Basic alone, or another target.
unsigned HttpQueryProxySchemes(HttpRequest request);
// Answers the proxy's challenge in `scheme` (one bit) with the user's own
// logon, no name or password given; false when that is refused.
bool HttpSetProxyCredentials(HttpRequest request, unsigned scheme);
// Up to `size` bytes of the body; true with `received` 0 at its end.
bool HttpReadData(HttpRequest request, void* buffer, std::uint32_t size, std::uint32_t& received);
void HttpCloseHandle(HttpRequest request);
// Blocks the calling thread for `milliseconds` (the pause before a resume).
void HttpPause(int milliseconds);
void HttpCloseHandle(HttpConnection connection);
void HttpCloseHandle(HttpSession session);
