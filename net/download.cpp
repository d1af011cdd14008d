#include "net/download.h"

#include <utility>

#include "net/http_transport.h"
#include "net/save_file.h"
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

// The digest and length of everything read from `file`, from its start.
bool MeasureSavedFile(FileHandle file, Sha256& digest, std::uint64_t& length) {
  DigestHandle running = BeginDigest();
  if (running == nullptr) return false;
  char buffer[kReadBufferSize];
  bool ok = true;
  length = 0;
  for (std::uint32_t count = 0;; length += count) {
    ok = ReadSavedFile(file, buffer, kReadBufferSize, count) && count <= kReadBufferSize;
    if (!ok || count == 0) break;
    ok = AddToDigest(running, buffer, count);
    if (!ok) break;
  }
  return FinishDigest(running, digest) && ok;
}

// Re-opens the file just written, so that nobody can change it from now on,
// and checks that it holds exactly the bytes received. Null when it cannot be
// opened so or holds anything else: such a file must never be started.
FileHandle HoldCheckedFile(const std::string& savePath, bool digestOk, const Sha256& received,
                           std::uint64_t receivedLength) {
  if (!digestOk) return nullptr;  // nothing to check the file against
  FileHandle held = OpenSavedFile(savePath);
  if (held == nullptr) return nullptr;
  Sha256 found{};
  std::uint64_t foundLength = 0;
  if (MeasureSavedFile(held, found, foundLength) && foundLength == receivedLength &&
      found == received) {
    return held;
  }
  CloseSavedFile(held);
  return nullptr;
}

// Copies the body of a 200 response into `savePath`. The file is created only
// here. A body that ended early or a file that could not be written is not a
// download: the install worker would run whatever is in the file, so such a
// file is deleted and the call fails.
bool SaveBody(HttpHandle request, const std::string& savePath, std::string& error,
              const ProgressCallback& progress, FileHandle& held) {
  std::uint32_t total = 0;
  const bool hasLength = HttpQueryContentLength(request, total);
  if (!hasLength) total = 0;

  FileHandle file = CreateSaveFile(savePath);
  if (file == nullptr) {
    error = "failed to create save file";
    return false;
  }

  DigestHandle digest = BeginDigest();
  bool digestOk = digest != nullptr;
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
    if (!WriteSaveFile(file, buffer, count)) {
      writeFailed = true;
      break;
    }
    if (digestOk) digestOk = AddToDigest(digest, buffer, count);
    received += count;
    if (progress) progress(received, total);
  }
  Sha256 value{};
  if (digest != nullptr) digestOk = FinishDigest(digest, value) && digestOk;

  const bool incomplete = readFailed || (hasLength && received != total);
  if (writeFailed || incomplete) {
    DeleteSavedFile(file);
    error = writeFailed ? "failed to write save file" : "download incomplete";
    return false;
  }
  // Starting a program fails while anyone holds it open for writing, so the
  // write handle goes; the file is opened again at once, before the slower
  // closing of the request.
  CloseSavedFile(file);
  held = HoldCheckedFile(savePath, digestOk, value, received);
  return true;
}

}  // namespace

bool DownloadFile(const std::string& url, const std::string& savePath, std::string& error,
                  ProgressCallback progress, HeldFile* heldFile) {
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
    FileHandle held = nullptr;
    if (!SaveBody(handles.request, savePath, error, progress, held)) return false;
    if (heldFile != nullptr) {
      *heldFile = held;
    } else if (held != nullptr) {
      CloseSavedFile(held);
    }
    return true;
  }
}
