#pragma once

#include <cstdint>
#include <string>

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

// A session with the user agent "VelnorInstaller/1.0" and the default proxy.
HttpSession HttpOpenSession();
// Resolve, connect, send and receive time-outs of the session; result ignored.
void HttpSetTimeouts(HttpSession session, int resolveMs, int connectMs, int sendMs, int receiveMs);
HttpConnection HttpConnect(HttpSession session, const std::wstring& host, std::uint16_t port);
// A TLS "GET" request for `path` (path and query).
HttpRequest HttpOpenGetRequest(HttpConnection connection, const std::wstring& path);
bool HttpSendRequest(HttpRequest request);
bool HttpReceiveResponse(HttpRequest request);
// The numeric status, 0 when it cannot be read.
std::uint32_t HttpQueryStatus(HttpRequest request);
// The Location value as UTF-8; false when it is missing, longer than 2047
// UTF-16 units or not valid UTF-16.
bool HttpQueryLocation(HttpRequest request, std::string& location);
// The numeric Content-Length; false (length left 0) when there is none.
bool HttpQueryContentLength(HttpRequest request, std::uint32_t& length);
// Up to `size` bytes of the body; true with `received` 0 at its end.
bool HttpReadData(HttpRequest request, void* buffer, std::uint32_t size, std::uint32_t& received);
void HttpCloseHandle(HttpRequest request);
void HttpCloseHandle(HttpConnection connection);
void HttpCloseHandle(HttpSession session);
