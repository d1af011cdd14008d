#include "net/download.h"

#include <algorithm>
#include <charconv>
#include <string_view>
#include <utility>

#include "common/digest.h"
#include "common/text.h"
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

// Where a request goes, and the route that carries it.
struct Target {
  std::wstring host;
  std::int32_t port = 0;
  std::wstring path;
  ProxyRoute route;
};

// Opens the session (on the target's route), connection and request into
// `handles`, with `headers`, and sends it; the failing step's text, or null
// once an answer is in.
const char* OpenAndSend(PassHandles& handles, const Target& target, const std::wstring& headers,
                        bool& unreachable) {
  handles.session = HttpOpenSession(target.route);
  if (!handles.session) return "WinHttpOpen failed";
  AskForModernTls(handles.session);
  HttpSetTimeouts(handles.session, kTimeoutMs, kTimeoutMs, kTimeoutMs, kTimeoutMs);
  handles.connection =
      HttpConnect(handles.session, target.host, static_cast<std::uint16_t>(target.port));
  if (!handles.connection) return "WinHttpConnect failed";
  handles.request = HttpOpenGetRequest(handles.connection, target.path);
  if (!handles.request) return "WinHttpOpenRequest failed";
  if (!headers.empty() && !HttpAddRequestHeaders(handles.request, headers))
    return "WinHttpAddRequestHeaders failed";
  return SendAndReceive(handles.request, target.route, target.host, unreachable);
}

// One request for `target` on each of `routes` in turn, the next only when
// one could not be reached: all part of the same request (it is no
// redirect). The target keeps the route that answered.
const char* Request(PassHandles& handles, Target& target, const std::vector<ProxyRoute>& routes,
                    const std::wstring& headers = {}) {
  const char* failed = "WinHttpOpen failed";
  for (const ProxyRoute& route : routes) {
    handles.Close();
    target.route = route;
    bool unreachable = false;
    failed = OpenAndSend(handles, target, headers, unreachable);
    if (failed == nullptr || !unreachable) break;
  }
  return failed;
}

// The body of a 200 as it is saved, across the requests that carry it.
struct BodyCopy {
  SetupFile file = nullptr;
  RunningDigest digest = nullptr;
  bool digestOk = false;
  std::uint64_t written = 0;  // of the current body, in the file now
  std::uint64_t arrived = 0;  // every byte written, across the bodies begun
  bool hasLength = false;
  std::uint64_t total = 0;  // the Content-Length; 0 without one
  std::wstring validator;   // what If-Range sends; empty: a resume asks for the whole body
};

enum class Copied { Whole, Broken, WriteFailed, TooLong };

// A Content-Length is one run of decimal digits that fits 64 bits, spaces
// around it aside. Anything else ("+77", "12abc", a number past 2^64) is no
// length, as no header is: the body is then read to its end.
bool ContentLength(HttpRequest request, std::uint64_t& length) {
  std::string text;
  if (HttpQueryHeader(request, HttpHeader::ContentLength, text) != HttpHeaderValue::Read)
    return false;
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return false;
  const char* const last = text.data() + text.find_last_not_of(" \t") + 1;
  const auto parsed = std::from_chars(text.data() + first, last, length);
  return parsed.ec == std::errc() && parsed.ptr == last;
}

// An HTTP date in its preferred form ("Sun, 06 Nov 1994 08:49:37 GMT") as
// seconds from the start of year 1; false for any other text.
bool HttpDateSeconds(std::string_view text, std::int64_t& seconds) {
  static constexpr char kMonths[] = "JanFebMarAprMayJunJulAugSepOctNovDec";
  static constexpr int kDaysBefore[] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
  if (text.size() != 29 || text.substr(3, 2) != ", " || text.substr(25) != " GMT") return false;
  // The fields at their places: "DD Mon YYYY hh:mm:ss" from the sixth byte.
  const auto number = [&](std::size_t at, std::size_t width, char after) {
    int value = 0;
    for (std::size_t i = at; i < at + width; ++i) {
      if (text[i] < '0' || text[i] > '9') return -1;
      value = value * 10 + (text[i] - '0');
    }
    return text[at + width] == after ? value : -1;
  };
  const int day = number(5, 2, ' '), year = number(12, 4, ' '), hour = number(17, 2, ':');
  const int minute = number(20, 2, ':'), second = number(23, 2, ' ');
  int month = 0;
  while (month < 12 && text.substr(8, 3) != std::string_view(kMonths + 3 * month, 3)) ++month;
  if (month == 12 || text[11] != ' ' || day < 1 || day > 31 || year < 1 || hour < 0 || hour > 23 ||
      minute < 0 || minute > 59 || second < 0 || second > 60)
    return false;
  const bool leap = year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
  const int before = year - 1;
  const std::int64_t days = std::int64_t{before} * 365 + before / 4 - before / 100 + before / 400 +
                            kDaysBefore[month] + (leap && month > 1) + day - 1;
  seconds = ((days * 24 + hour) * 60 + minute) * 60 + second;
  return true;
}

// The validator of a 200 that a resume may send in If-Range, as it was sent:
// a strong ETag; with no ETag at all, a Last-Modified that the server's Date
// shows to be at least 60 s old (only then is it strong: the two may come
// from two clocks, an edge's and the origin's). Anything else, an ETag that
// cannot be read whole included, could splice two versions of the file
// together.
std::wstring ResumeValidator(HttpRequest request) {
  std::string etag, modified, date;
  switch (HttpQueryHeader(request, HttpHeader::ETag, etag)) {
    case HttpHeaderValue::Read:
      return etag.empty() || etag.rfind("W/", 0) == 0 ? L"" : WideFromAscii(etag);
    case HttpHeaderValue::Unreadable:
      return L"";
    case HttpHeaderValue::Absent:
      break;
  }
  std::int64_t modifiedAt = 0, dateAt = 0;
  if (HttpQueryHeader(request, HttpHeader::LastModified, modified) == HttpHeaderValue::Read &&
      HttpQueryHeader(request, HttpHeader::Date, date) == HttpHeaderValue::Read &&
      HttpDateSeconds(modified, modifiedAt) && HttpDateSeconds(date, dateAt) &&
      dateAt - modifiedAt >= 60)
    return WideFromAscii(modified);
  return L"";
}

// Begins the body of a 200 (again) from its first byte: what it says of its
// length and validator holds from now on.
bool StartBody(HttpRequest request, BodyCopy& body) {
  if (body.written > 0 && !RewindSetupFile(body.file)) return false;
  Sha256 discarded;
  if (body.digest != nullptr) FinishDigest(body.digest, discarded);
  body.digest = BeginDigest();
  body.digestOk = body.digest != nullptr;
  body.written = 0;
  body.hasLength = ContentLength(request, body.total);
  if (!body.hasLength) body.total = 0;
  body.validator = ResumeValidator(request);
  return true;
}

// Copies the answer's body into the file until it ends or breaks off. Never
// past the length the 200 announced: a body that brings more is not that file.
Copied CopyBody(HttpRequest request, BodyCopy& body, const ProgressCallback& progress) {
  char buffer[kReadBufferSize];
  for (;;) {
    std::uint32_t count = 0;
    // A transport that overstates its count breaks the body too. A read that
    // fails once every announced byte is in takes nothing away from them.
    if (!HttpReadData(request, buffer, kReadBufferSize, count) || count > kReadBufferSize)
      return body.hasLength && body.written == body.total ? Copied::Whole : Copied::Broken;
    if (count == 0)
      return body.hasLength && body.written != body.total ? Copied::Broken : Copied::Whole;
    if (body.hasLength && count > body.total - body.written) return Copied::TooLong;
    if (!WriteSetupFile(body.file, buffer, count)) return Copied::WriteFailed;
    if (body.digestOk) body.digestOk = AddToDigest(body.digest, buffer, count);
    body.written += count;
    body.arrived += count;
    if (progress) progress(body.written, body.total);
  }
}

// True when a 206 carries exactly the rest of the body: bytes N-(L-1)/L, and
// L-N bytes when it gives a length (without one, the bound at L holds it).
bool IsRestOfBody(HttpRequest request, const BodyCopy& body) {
  const std::string rest = "bytes " + DecimalText(body.written) + "-" +
                           DecimalText(body.total - 1) + "/" + DecimalText(body.total);
  std::string range;
  std::uint64_t length = 0;
  return HttpQueryHeader(request, HttpHeader::ContentRange, range) == HttpHeaderValue::Read &&
         range == rest && (!ContentLength(request, length) || length == body.total - body.written);
}

// One resume request to the URL that answered 200, on its route, following
// no redirect: a 206 of the rest is appended, a 200 starts the body again,
// anything else writes nothing.
Copied Resume(Target& target, BodyCopy& body, const ProgressCallback& progress) {
  std::wstring headers;
  if (!body.validator.empty())
    headers = L"Range: bytes=" + WideFromAscii(DecimalText(body.written)) + L"-\r\nIf-Range: " +
              body.validator;
  PassHandles handles;
  if (Request(handles, target, {target.route}, headers) != nullptr) return Copied::Broken;
  const std::uint32_t status = HttpQueryStatus(handles.request);
  if (status == 200) {
    if (!StartBody(handles.request, body)) return Copied::WriteFailed;
  } else if (status != 206 || headers.empty() || !IsRestOfBody(handles.request, body)) {
    // A 416, or a 206 of another range: the server's file is no longer the one
    // begun (it, or a cache, ignored If-Range): the whole body from now on.
    if (status == 416 || status == 206) body.validator.clear();
    return Copied::Broken;
  }
  return CopyBody(handles.request, body, progress);
}

// A body with a length that broke off is asked for again, after a pause of 1,
// 2, 4, 8, then 16 s, back to 1 s after an attempt that wrote bytes (a 200
// that starts the body again counts from its own first byte). The window
// keeps hearing of the unchanged counts each second, so its speed falls to 0
// meanwhile. Given up after five attempts in a row that wrote nothing, or ten
// in all.
Copied ResumeUntilWhole(Target& target, BodyCopy& body, const ProgressCallback& progress) {
  Copied copied = Copied::Broken;
  for (int attempt = 0, dry = 0, pause = 1; copied == Copied::Broken && body.hasLength &&
                                            body.written < body.total && attempt < 10 && dry < 5;
       ++attempt) {
    for (int second = 0; second < pause; ++second) {
      HttpPause(1000);
      if (progress) progress(body.written, body.total);
    }
    const std::uint64_t arrived = body.arrived;
    copied = Resume(target, body, progress);
    const bool gained = body.arrived > arrived;
    dry = gained ? 0 : dry + 1;
    pause = gained ? 1 : std::min(pause * 2, 16);
  }
  return copied;
}

// Saves the body of the 200 in `handles` into `savePath`, resuming it where
// it broke off. The file is created only here, and kept only once the whole
// body is in: the install worker would run whatever is in it.
DownloadResult SaveBody(PassHandles& handles, Target& target, const std::string& savePath,
                        std::string& error, const ProgressCallback& progress, SavedBody& saved) {
  BodyCopy body;
  body.file = CreateSetupFile(savePath);
  if (body.file == nullptr) {
    error = "failed to create save file";
    return DownloadResult::Failed;
  }
  StartBody(handles.request, body);
  Copied copied = CopyBody(handles.request, body, progress);
  handles.Close();
  if (copied == Copied::Broken) copied = ResumeUntilWhole(target, body, progress);
  Sha256 value{};
  if (body.digest != nullptr) body.digestOk = FinishDigest(body.digest, value) && body.digestOk;
  if (copied != Copied::Whole) {
    DeleteSetupFile(body.file);
    error = copied == Copied::WriteFailed ? "failed to write save file" : "download incomplete";
    return DownloadResult::Failed;
  }
  // Without a digest of the bytes received there is nothing to check the
  // file against. A file that cannot be checked is never left behind under
  // the name, where the user, told to install by hand, might start it.
  if (!body.digestOk) {
    DeleteSetupFile(body.file);
    error = "saved file check failed";
    return DownloadResult::CheckFailed;
  }
  if (!KeepSetupFile(body.file)) {
    CloseSetupFile(body.file);
    error = "failed to write save file";
    return DownloadResult::Failed;
  }
  saved.file.reset(body.file);
  saved.digest = value;
  saved.length = body.written;
  return DownloadResult::Saved;
}

}  // namespace

DownloadResult DownloadFile(const std::string& url, const std::string& savePath, std::string& error,
                            ProgressCallback progress, SavedBody& saved) {
  std::string currentUrl = url;
  RunRoutes routes;
  for (int pass = 0;;) {
    Target target;
    if (!ParseHttpsUrl(currentUrl, target.host, target.port, target.path)) {
      error = "URL parse failed";
      return DownloadResult::Failed;
    }
    // Chosen before anything is saved: the save file comes after a 200.
    PassHandles handles;
    if (const char* failed =
            Request(handles, target, RoutesFor(routes, target.host, target.port))) {
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
      error = "HTTP status not OK: " + DecimalText(status);
      return DownloadResult::Failed;
    }
    return SaveBody(handles, target, savePath, error, progress, saved);
  }
}
