#pragma once

#include <cstdint>
#include <string>
#include <vector>

// What the fake transport answers to one request (one session). Natively the
// downloader links http_transport_fake.cpp instead of the WinHTTP layer.
struct FakeResponse {
  // The operation that fails in this pass: "open", "connect", "request",
  // "send", "receive", or empty for none.
  std::string failAt;
  std::uint32_t status = 200;
  bool hasLocation = false;
  std::string location;
  bool hasLength = false;
  std::uint32_t length = 0;
  std::vector<std::string> chunks;  // one per read, in order
  bool readFailsAfterChunks = false;
};

// Replaces the script (one response per session opened) and clears the log.
void FakeHttpReset(std::vector<FakeResponse> script);
// Every transport call so far, one line each, e.g. "Connect s1 localhost 443 -> c1".
const std::vector<std::string>& FakeHttpCalls();
