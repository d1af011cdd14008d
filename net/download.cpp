#include "net/download.h"

#include <utility>

#include "net/digest.h"
#include "net/http_transport.h"
#include "net/proxy_route.h"
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
  HttpSession session = nullptr;
  HttpConnection connection = nullptr;
  HttpRequest request = nullptr;

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
// file is deleted and the call fails. It is finished (kept) only once the
// whole body is in.
DownloadResult SaveBody(HttpRequest request, const std::string& savePath, std::string& error,
                        const ProgressCallback& progress, SavedBody& saved) {
  std::uint32_t total = 0;
  const bool hasLength = HttpQueryContentLength(request, total);
  if (!hasLength) total = 0;

  SavedFile file = CreateSaveFile(savePath);
  if (file == nullptr) {
    error = "failed to create save file";
    return DownloadResult::Failed;
  }

  RunningDigest digest = BeginDigest();
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
    return DownloadResult::Failed;
  }
  // Without a digest of the bytes received there is nothing to check the
  // file against. A file that cannot be checked is never left behind under
  // the name, where the user, told to install by hand, might start it.
  if (!digestOk) {
    DeleteSavedFile(file);
    error = "saved file check failed";
    return DownloadResult::CheckFailed;
  }
  if (!FinishSaveFile(file)) {
    CloseSavedFile(file);
    error = "failed to write save file";
    return DownloadResult::Failed;
  }
  saved.file.reset(file);
  saved.digest = value;
  saved.length = received;
  return DownloadResult::Saved;
}

// TLS 1.2 or newer on every session: unless asked, Windows 7 offers only
// SSL 3.0 and TLS 1.0, and download servers require TLS 1.2. Before Windows 11
// the TLS 1.3 flag is refused; where TLS 1.2 is refused too, the system's
// defaults stay. TLS 1.1 and older are refused where this is accepted: RFC
// 8996 retired them.
void AskForModernTls(HttpSession session) {
  if (!HttpSetTlsVersions(session, kTls12 | kTls13)) HttpSetTlsVersions(session, kTls12);
}

// Sends the request until it has an answer: again when the transport asks,
// and once more with the user's own logon when a proxy's 407 offers Negotiate
// or NTLM (WinHTTP's default logon policy has already failed to answer it, and
// stays: lowered, it would hand the logon to every server). A second 407, or
// one offering neither, is the answer. Returns the failing step's text, or
// null with `unreachable` telling whether the peer could not be reached.
const char* SendAndReceive(HttpRequest request, const ProxyRoute& route, const std::wstring& host,
                           bool& unreachable) {
  bool answeredProxy = false;
  const char* failed = "WinHttpSendRequest failed";
  for (int send = 0; send < 3; ++send) {
    HttpOutcome outcome = HttpSendRequest(request);
    failed = "WinHttpSendRequest failed";
    if (outcome == HttpOutcome::Done) {
      outcome = HttpReceiveResponse(request);
      failed = "WinHttpReceiveResponse failed";
    }
    if (outcome == HttpOutcome::Resend) continue;
    unreachable = outcome == HttpOutcome::Unreachable;
    if (outcome != HttpOutcome::Done) return failed;
    if (HttpQueryStatus(request) != 407 || answeredProxy) return nullptr;
    // Only a request that went through a proxy has one to answer: on any other
    // route the 407 comes from the server, any host a redirect leads to, and
    // the logon is not handed to it. A 407 from the server at the far end of a
    // proxy's tunnel cannot be told from the proxy's own, so this narrows who
    // may ask for the logon; it does not close that.
    if (!ThroughProxy(route, host)) return nullptr;
    const unsigned offered = HttpQueryProxySchemes(request);
    const unsigned scheme = (offered & kNegotiate) ? kNegotiate : offered & kNtlm;
    if (scheme == 0 || !HttpSetProxyCredentials(request, scheme)) return nullptr;
    answeredProxy = true;
  }
  return failed;
}

// Opens the session (on `route`), connection and request into `handles` and
// sends it; the failing step's text, or null once an answer is in.
const char* OpenAndSend(PassHandles& handles, const ProxyRoute& route, const std::wstring& host,
                        std::int32_t port, const std::wstring& path, bool& unreachable) {
  handles.session = HttpOpenSession(route);
  if (!handles.session) return "WinHttpOpen failed";
  AskForModernTls(handles.session);
  HttpSetTimeouts(handles.session, kTimeoutMs, kTimeoutMs, kTimeoutMs, kTimeoutMs);
  handles.connection = HttpConnect(handles.session, host, static_cast<std::uint16_t>(port));
  if (!handles.connection) return "WinHttpConnect failed";
  handles.request = HttpOpenGetRequest(handles.connection, path);
  if (!handles.request) return "WinHttpOpenRequest failed";
  return SendAndReceive(handles.request, route, host, unreachable);
}

}  // namespace

DownloadResult DownloadFile(const std::string& url, const std::string& savePath, std::string& error,
                            ProgressCallback progress, SavedBody& saved) {
  std::string currentUrl = url;
  RunRoutes routes;
  for (int pass = 0;;) {
    std::wstring host;
    std::int32_t port = 0;
    std::wstring path;
    if (!ParseHttpsUrl(currentUrl, host, port, path)) {
      error = "URL parse failed";
      return DownloadResult::Failed;
    }

    // Chosen before anything is saved: the save file comes after a 200. Each
    // next route is tried only when the one before could not be reached, as
    // part of the same request (it is no redirect).
    PassHandles handles;
    const char* failed = nullptr;
    for (const ProxyRoute& route : RoutesFor(routes, host, port)) {
      handles.Close();
      bool unreachable = false;
      failed = OpenAndSend(handles, route, host, port, path, unreachable);
      if (failed == nullptr || !unreachable) break;
    }
    if (failed != nullptr) {
      error = failed;
      return DownloadResult::Failed;
    }

    const std::uint32_t status = HttpQueryStatus(handles.request);
    std::string location;
    if (IsRedirect(status) && HttpQueryLocation(handles.request, location)) {
      currentUrl = location;
      handles.Close();
      if (++pass < kMaxRequests) continue;
      error = "Too many redirects";
      return DownloadResult::Failed;
    }
    if (status != 200) {
      error = "HTTP status not OK: " + std::to_string(status);
      return DownloadResult::Failed;
    }
    return SaveBody(handles.request, savePath, error, progress, saved);
  }
}
