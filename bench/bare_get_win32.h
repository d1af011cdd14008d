#pragma once

#include <cstdint>
#include <string>

// What one bare GET measured: body bytes read and the wall time from opening
// the session to the end of the body.
struct BareGetResult {
  std::uint64_t bytes = 0;
  double seconds = 0;
};

// The least a WinHTTP client can do for `url` (https only): one synchronous
// GET with the downloader's user agent, time-outs and 8192-byte reads, the
// body discarded, redirects left to WinHTTP. Returns false, with `error` set,
// unless a 200 body was read to its end.
bool BareWinHttpGet(const std::string& url, BareGetResult& result, std::string& error);
