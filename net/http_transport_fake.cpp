#include "net/http_transport_fake.h"

#include <cstdint>
#include <cstring>

#include "net/http_transport.h"

namespace {

std::vector<FakeResponse> g_script;
std::vector<std::string> g_calls;
int g_sessions = 0;
std::vector<std::size_t> g_nextChunk;

// Handles encode their kind and pass: 's','c','r' and the 1-based pass.
HttpHandle MakeHandle(char kind, int pass) {
  return reinterpret_cast<HttpHandle>(static_cast<std::uintptr_t>(kind) * 1000 + pass);
}
int PassOf(HttpHandle handle) {
  return static_cast<int>(reinterpret_cast<std::uintptr_t>(handle) % 1000);
}
std::string Name(HttpHandle handle) {
  if (!handle) return "null";
  const auto value = reinterpret_cast<std::uintptr_t>(handle);
  return std::string(1, static_cast<char>(value / 1000)) + std::to_string(value % 1000);
}
std::string Narrow(const std::u16string& text) {
  std::string narrow;
  for (char16_t unit : text) narrow.push_back(unit < 0x80 ? static_cast<char>(unit) : '?');
  return narrow;
}
FakeResponse& ResponseOf(HttpHandle handle) { return g_script.at(PassOf(handle) - 1); }

}  // namespace

void FakeHttpReset(std::vector<FakeResponse> script) {
  g_script = std::move(script);
  g_calls.clear();
  g_sessions = 0;
  g_nextChunk.assign(g_script.size(), 0);
}

const std::vector<std::string>& FakeHttpCalls() { return g_calls; }

HttpHandle HttpOpenSession() {
  if (g_sessions >= static_cast<int>(g_script.size())) {
    g_calls.push_back("OpenSession beyond the script");
    return nullptr;
  }
  const int pass = ++g_sessions;
  HttpHandle session = g_script[pass - 1].failAt == "open" ? nullptr : MakeHandle('s', pass);
  g_calls.push_back("OpenSession -> " + Name(session));
  return session;
}

void HttpSetTimeouts(HttpHandle session, int resolveMs, int connectMs, int sendMs, int receiveMs) {
  g_calls.push_back("SetTimeouts " + Name(session) + " " + std::to_string(resolveMs) + " " +
                    std::to_string(connectMs) + " " + std::to_string(sendMs) + " " +
                    std::to_string(receiveMs));
}

HttpHandle HttpConnect(HttpHandle session, const std::u16string& host, std::uint16_t port) {
  HttpHandle connection =
      ResponseOf(session).failAt == "connect" ? nullptr : MakeHandle('c', PassOf(session));
  g_calls.push_back("Connect " + Name(session) + " " + Narrow(host) + " " + std::to_string(port) +
                    " -> " + Name(connection));
  return connection;
}

HttpHandle HttpOpenGetRequest(HttpHandle connection, const std::u16string& path) {
  HttpHandle request =
      ResponseOf(connection).failAt == "request" ? nullptr : MakeHandle('r', PassOf(connection));
  g_calls.push_back("OpenGetRequest " + Name(connection) + " " + Narrow(path) + " -> " +
                    Name(request));
  return request;
}

bool HttpSendRequest(HttpHandle request) {
  g_calls.push_back("Send " + Name(request));
  return ResponseOf(request).failAt != "send";
}

bool HttpReceiveResponse(HttpHandle request) {
  g_calls.push_back("Receive " + Name(request));
  return ResponseOf(request).failAt != "receive";
}

std::uint32_t HttpQueryStatus(HttpHandle request) {
  g_calls.push_back("QueryStatus " + Name(request));
  return ResponseOf(request).status;
}

bool HttpQueryLocation(HttpHandle request, std::string& location) {
  g_calls.push_back("QueryLocation " + Name(request));
  const FakeResponse& response = ResponseOf(request);
  if (!response.hasLocation) return false;
  location = response.location;
  return true;
}

bool HttpQueryContentLength(HttpHandle request, std::uint32_t& length) {
  g_calls.push_back("QueryContentLength " + Name(request));
  const FakeResponse& response = ResponseOf(request);
  length = response.hasLength ? response.length : 0;
  return response.hasLength;
}

bool HttpReadData(HttpHandle request, void* buffer, std::uint32_t size, std::uint32_t& received) {
  g_calls.push_back("Read " + Name(request) + " " + std::to_string(size));
  const FakeResponse& response = ResponseOf(request);
  std::size_t& next = g_nextChunk.at(PassOf(request) - 1);
  received = 0;
  if (next < response.chunks.size()) {
    const std::string& chunk = response.chunks[next++];
    if (chunk.size() > size) return false;
    std::memcpy(buffer, chunk.data(), chunk.size());
    received = static_cast<std::uint32_t>(chunk.size());
    return true;
  }
  return !response.readFailsAfterChunks;
}

void HttpCloseHandle(HttpHandle handle) { g_calls.push_back("Close " + Name(handle)); }
