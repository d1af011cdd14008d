#include "net/download.h"

#include <cstdio>
#include <fstream>
#include <utility>

#include "net/http_transport.h"
#include "net/url.h"

namespace {

constexpr int kTimeoutMs = 30000;
constexpr int kMaxRequests = 3;
constexpr std::uint32_t kReadBufferSize = 8192;

bool IsRedirect(std::uint32_t status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// The three handles of one request, closed newest first however the pass ends.
struct PassHandles {
  HttpHandle session = nullptr;
  HttpHandle connection = nullptr;
  HttpHandle request = nullptr;

  PassHandles() = default;
  PassHandles(const PassHandles&) = delete;
  PassHandles& operator=(const PassHandles&) = delete;
  ~PassHandles() { Close(); }

  void Close() {
    if (request) HttpCloseHandle(std::exchange(request, nullptr));
    if (connection) HttpCloseHandle(std::exchange(connection, nullptr));
    if (session) HttpCloseHandle(std::exchange(session, nullptr));
  }
};

// Copies the body of a 200 response into `savePath`. The file is created only
// here. A body that ended early or a file that could not be written is not a
// download: the install worker would run whatever is in the file, so such a
// file is deleted and the call fails.
bool SaveBody(HttpHandle request, const std::string& savePath, std::string& error,
              const ProgressCallback& progress) {
  std::uint32_t total = 0;
  const bool hasLength = HttpQueryContentLength(request, total);
  if (!hasLength) total = 0;

  std::ofstream file(savePath, std::ios::out | std::ios::binary | std::ios::trunc);
  if (!file) {
    error = "failed to create save file";
    return false;
  }

  char buffer[kReadBufferSize];
  std::uint64_t received = 0;
  bool readFailed = false;
  bool writeFailed = false;
  for (;;) {
    std::uint32_t count = 0;
    if (!HttpReadData(request, buffer, kReadBufferSize, count)) {
      readFailed = true;
      break;
    }
    if (count == 0) break;
    if (count > kReadBufferSize) {  // a transport that overstates its count
      readFailed = true;
      break;
    }
    if (!file.write(buffer, count)) {
      writeFailed = true;
      break;
    }
    received += count;
    if (progress) progress(received, total);
  }
  if (!writeFailed && !file.flush()) writeFailed = true;
  file.close();
  if (file.fail()) writeFailed = true;

  const bool incomplete = readFailed || (hasLength && received != total);
  if (writeFailed || incomplete) {
    std::remove(savePath.c_str());
    error = writeFailed ? "failed to write save file" : "download incomplete";
    return false;
  }
  return true;
}

}  // namespace

bool DownloadFile(const std::string& url, const std::string& savePath, std::string& error,
                  ProgressCallback progress) {
  std::string currentUrl = url;
  for (int pass = 0;;) {
    std::wstring host;
    std::int32_t port = 0;
    std::wstring path;
    if (!ParseHttpsUrl(currentUrl, host, port, path)) {
      error = "URL parse failed";
      return false;
    }

    PassHandles handles;
    handles.session = HttpOpenSession();
    if (!handles.session) {
      error = "WinHttpOpen failed";
      return false;
    }
    HttpSetTimeouts(handles.session, kTimeoutMs, kTimeoutMs, kTimeoutMs, kTimeoutMs);
    handles.connection = HttpConnect(handles.session, host, static_cast<std::uint16_t>(port));
    if (!handles.connection) {
      error = "WinHttpConnect failed";
      return false;
    }
    handles.request = HttpOpenGetRequest(handles.connection, path);
    if (!handles.request) {
      error = "WinHttpOpenRequest failed";
      return false;
    }
    if (!HttpSendRequest(handles.request)) {
      error = "WinHttpSendRequest failed";
      return false;
    }
    if (!HttpReceiveResponse(handles.request)) {
      error = "WinHttpReceiveResponse failed";
      return false;
    }

    const std::uint32_t status = HttpQueryStatus(handles.request);
    std::string location;
    if (IsRedirect(status) && HttpQueryLocation(handles.request, location)) {
      currentUrl = location;
      handles.Close();
      if (++pass < kMaxRequests) continue;
      error = "Too many redirects";
      return false;
    }
    if (status != 200) {
      error = "HTTP status not OK: " + std::to_string(status);
      return false;
    }
    return SaveBody(handles.request, savePath, error, progress);
  }
}
