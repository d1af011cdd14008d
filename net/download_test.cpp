// The download loop's rules over scripted fakes of its two seams: the
// transport answers from a list of responses, the save file lives in a map.
#include "net/download.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <optional>
#include <utility>
#include <vector>

#include "common/digest.h"
#include "net/http_transport.h"
#include "setupfile/setup_file.h"

namespace {

struct Response {
  std::uint32_t status = 200;
  std::optional<std::string> location;   // nullopt: none, or longer than it may be
  std::optional<std::uint64_t> length;   // Content-Length, unless `headers` give it
  std::vector<std::string> body;         // one read each
  bool readFails = false;                // the read after the body fails
  HttpOutcome send = HttpOutcome::Done;  // of the send that this answers
  unsigned schemes = 0;                  // what a 407 offers
  std::map<HttpHeader, std::string> headers = {};
};

struct World {
  std::vector<Response> responses;  // answers, in order, one for each send
  // "host:port path[ route][ headers]" of each send, "lookup URL", "tls VERSIONS
  // refused", "logon SCHEME" and "wait SECONDS", in order
  std::vector<std::string> requests;
  std::string route, connected, opened, headers;  // of the last session, connection, request
  ProxySettings settings;
  ProxyRoute machine;                          // the machine-wide proxy, when named
  std::map<std::string, ProxyLookup> lookups;  // by URL; NoAnswer for the others
  unsigned tlsRefused = 0;                     // refused when asked among others
  std::size_t piece = 0, sent = 0;
  int openHttp = 0, openFiles = 0;
  std::optional<std::string> saved;    // what the name holds; nullopt: nothing
  std::optional<std::uint64_t> bound;  // the length of the last 200
  bool writeFails = false, finishFails = false;
};
World w;

const Response& Current() { return w.responses[w.sent - 1]; }

template <typename Handle>
Handle OpenHttp() {
  return ++w.openHttp, reinterpret_cast<Handle>(&w);
}

}  // namespace

struct SetupFileTag {
  bool kept = false;
};

bool HttpReadProxySettings(ProxySettings& settings) { return settings = w.settings, true; }
ProxyLookup HttpFindProxy(const ProxySettings&, const std::wstring& url, int) {
  w.requests.push_back("lookup " + std::string(url.begin(), url.end()));
  return w.lookups[w.requests.back().substr(7)];
}
bool HttpReadMachineProxy(std::wstring& proxy, std::wstring& bypass) {
  proxy = w.machine.proxy, bypass = w.machine.bypass;
  return !proxy.empty();
}
HttpSession HttpOpenSession(const ProxyRoute& r) {
  const std::string proxy(r.proxy.begin(), r.proxy.end());  // bypass lists: under Wine
  w.route = r.kind == RouteKind::Direct  ? " direct"
            : r.kind == RouteKind::Proxy ? " via " + proxy
                                         : "";
  return OpenHttp<HttpSession>();
}
bool HttpSetTlsVersions(HttpSession, unsigned versions) {
  if (versions & w.tlsRefused) w.requests.push_back("tls " + std::to_string(versions) + " refused");
  return !(versions & w.tlsRefused);
}
void HttpSetTimeouts(HttpSession, int resolve, int connect, int send, int receive) {
  EXPECT_EQ(std::vector<int>({resolve, connect, send, receive}), std::vector<int>(4, 30000));
}
HttpConnection HttpConnect(HttpSession, const std::wstring& host, std::uint16_t port) {
  w.connected = std::string(host.begin(), host.end()) + ":" + std::to_string(port);
  return OpenHttp<HttpConnection>();
}
HttpRequest HttpOpenGetRequest(HttpConnection, const std::wstring& path) {
  w.opened = w.connected + " " + std::string(path.begin(), path.end()) + w.route;
  w.headers.clear();
  return OpenHttp<HttpRequest>();
}
bool HttpAddRequestHeaders(HttpRequest, const std::wstring& headers) {
  for (wchar_t c : headers) w.headers += c == '\r' ? ',' : c == '\n' ? ' ' : char(c);
  return true;
}
HttpOutcome HttpSendRequest(HttpRequest) {
  w.requests.push_back(w.opened + (w.headers.empty() ? "" : " " + w.headers));
  w.piece = 0;
  return ++w.sent <= w.responses.size() ? Current().send : HttpOutcome::Failed;
}
HttpOutcome HttpReceiveResponse(HttpRequest) { return HttpOutcome::Done; }
std::uint32_t HttpQueryStatus(HttpRequest) {
  if (Current().status == 200) w.bound = Current().length;
  return Current().status;
}
bool HttpQueryLocation(HttpRequest, std::string& location) {
  location = Current().location.value_or("");
  return Current().location.has_value();
}
bool HttpReadData(HttpRequest, void* buffer, std::uint32_t, std::uint32_t& received) {
  const Response& r = Current();
  received = 0;
  if (w.piece == r.body.size()) return !r.readFails;
  received = static_cast<std::uint32_t>(r.body[w.piece++].copy(static_cast<char*>(buffer), 8192));
  return true;
}
HttpHeaderValue HttpQueryHeader(HttpRequest, HttpHeader header, std::string& value) {
  const Response& r = Current();
  const auto found = r.headers.find(header);
  if (found != r.headers.end())
    value = found->second;
  else if (header == HttpHeader::ContentLength && r.length)
    value = std::to_string(*r.length);
  else
    return HttpHeaderValue::Absent;
  // A value with a byte past ASCII stands for one that cannot be read whole.
  const bool ascii = std::all_of(value.begin(), value.end(), [](char c) { return c >= 0; });
  return ascii ? HttpHeaderValue::Read : HttpHeaderValue::Unreadable;
}
unsigned HttpQueryProxySchemes(HttpRequest) { return Current().schemes; }
bool HttpSetProxyCredentials(HttpRequest, unsigned scheme) {
  w.requests.push_back("logon " + std::to_string(scheme));
  return true;
}
void HttpCloseHandle(HttpRequest) { --w.openHttp; }
void HttpCloseHandle(HttpConnection) { --w.openHttp; }
void HttpCloseHandle(HttpSession) { --w.openHttp; }
void HttpPause(int milliseconds) {
  EXPECT_EQ(milliseconds, 1000);
  if (w.requests.empty() || w.requests.back().rfind("wait ", 0) != 0) w.requests.push_back("wait 0");
  w.requests.back() = "wait " + std::to_string(std::stoi(w.requests.back().substr(5)) + 1);
}

// As the contract says: gone with its last handle until it is kept.
SetupFile CreateSetupFile(const std::string& path) {
  EXPECT_EQ(path, "velnor-setup.exe");
  w.saved = "";
  return ++w.openFiles, new SetupFileTag;
}
bool WriteSetupFile(SetupFile file, const void* bytes, std::uint32_t size) {
  EXPECT_FALSE(file->kept);  // kept only once the whole body is in
  if (w.bound) {
    EXPECT_LE(w.saved->size() + size, *w.bound);  // never past the announced end
  }
  w.saved->append(static_cast<const char*>(bytes), size);
  return !w.writeFails;
}
bool RewindSetupFile(SetupFile) { return w.saved = "", true; }
bool KeepSetupFile(SetupFile file) { return file->kept = !w.finishFails; }
void DeleteSetupFile(SetupFile file) {
  w.saved.reset();
  --w.openFiles;
  delete file;
}
void CloseSetupFile(SetupFile file) {
  if (!file->kept) return DeleteSetupFile(file);
  --w.openFiles;
  delete file;
}

// A stand-in digest: the first 32 bytes themselves, enough for these short contents.
struct RunningDigestTag {
  std::string bytes;
};
RunningDigest BeginDigest() { return new RunningDigestTag; }
bool AddToDigest(RunningDigest digest, const void* bytes, std::uint32_t size) {
  digest->bytes.append(static_cast<const char*>(bytes), size);
  return true;
}
bool FinishDigest(RunningDigest digest, Sha256& value) {
  value = {};
  digest->bytes.copy(reinterpret_cast<char*>(value.data()), value.size());
  delete digest;
  return true;
}

namespace {

const std::string kOld = "the file that was here before", kOk = "untouched";
using Calls = std::vector<std::pair<std::uint64_t, std::uint64_t>>;

Response Status(std::uint32_t status, std::optional<std::string> location = {}) {
  return {status, std::move(location), {}, {}};
}
Response Body(std::optional<std::uint64_t> length, std::vector<std::string> body,
              bool readFails = false) {
  return {200, {}, length, std::move(body), readFails};
}

// Every row starts with kOld in the save file. The error kOk: the whole body
// was saved and the file handed on.
struct Row {
  std::string label;
  std::vector<Response> responses;
  std::string error;
  std::optional<std::string> file;  // nullopt: no file
  Calls progress;
  std::vector<std::string> requests;
  bool writeFails = false, finishFails = false;
  std::string url = "https://h/p";
  ProxySettings settings = {};
  std::map<std::string, ProxyLookup> lookups = {};
  unsigned tlsRefused = 0;
  ProxyRoute machine = {};
  bool anyProgress = false;  // `progress` not looked at
};

// A URL form, as the request it makes (and its body saved), or refused unsent.
Row Form(const std::string& url, const char* request = nullptr) {
  if (request == nullptr) return {url, {}, "URL parse failed", kOld, {}, {}, false, false, url};
  return {url, {Body(1, {"x"})}, kOk, "x", {{1, 1}}, {request}, false, false, url};
}

Response Send(HttpOutcome outcome) { return {200, {}, {}, {}, false, outcome}; }
Response Challenge(unsigned schemes) {
  return {407, {}, {}, {}, false, HttpOutcome::Done, schemes};
}

// The route of each request as the log shows it, with "x" saved or `error`.
Row Routed(const std::string& label, ProxySettings settings,
           std::map<std::string, ProxyLookup> lookups, std::vector<Response> responses,
           const std::string& error, std::vector<std::string> log, unsigned tlsRefused = 0,
           ProxyRoute machine = {}) {
  const bool ok = error == kOk;
  Row row{label, std::move(responses), error, ok ? "x" : kOld, ok ? Calls{{1, 1}} : Calls{}, log};
  row.settings = std::move(settings), row.lookups = std::move(lookups), row.tlsRefused = tlsRefused;
  row.machine = std::move(machine);
  return row;
}

// Runs one row, every save file starting as kOld.
void Check(const Row& row) {
  SCOPED_TRACE(row.label.substr(0, 80));
  w = World{};
  w.responses = row.responses;
  w.saved = kOld;
  w.writeFails = row.writeFails;
  w.finishFails = row.finishFails;
  w.settings = row.settings;
  w.lookups = row.lookups;
  w.tlsRefused = row.tlsRefused;
  w.machine = row.machine;
  std::string error = kOk;
  Calls progress;
  SavedBody saved;
  const DownloadResult result = DownloadFile(
      row.url, "velnor-setup.exe", error, [&](std::uint64_t r, std::uint64_t t) { progress.emplace_back(r, t); },
      saved);
  EXPECT_EQ(result, row.error == kOk ? DownloadResult::Saved : DownloadResult::Failed);
  EXPECT_EQ(error, row.error);
  EXPECT_EQ(saved.file != nullptr, result == DownloadResult::Saved);
  if (saved.file) {
    // The stand-in digest: the first 32 bytes of the file.
    Sha256 digest{};
    row.file->copy(reinterpret_cast<char*>(digest.data()), digest.size());
    EXPECT_EQ(std::make_pair(saved.length, saved.digest), std::make_pair(row.file->size(), digest));
  }
  saved.file.reset();
  EXPECT_EQ(w.saved, row.file);
  if (!row.anyProgress) {
    EXPECT_EQ(progress, row.progress);
  }
  EXPECT_EQ(w.requests, row.requests);
  EXPECT_EQ(w.openHttp + w.openFiles, 0);
}

TEST(DownloadFile, Table) {
  const std::string r8 = "https://h:8/r";
  const std::vector<std::string> one = {"h:443 /p"};
  const auto body = [] { return std::vector<Response>{Body(6, {"abc", "def"})}; };
  const Calls twice = {{3, 6}, {6, 6}};
  // A URL of a megabyte may not cost a recursion per byte.
  const std::string huge(1 << 20, 'a');
  const std::string u = "https://h/", g = "https://g/q", g8 = "https://g:8/q?x";
  const ProxySettings manual{false, L"", L"m:1", L""}, pac{false, L"http://pac/", L"", L""};
  const ProxySettings pacManual{false, L"http://pac/", L"m:1", L""};
  const std::string m = "h:443 /p via m:1", r = "https://h/r";
  const ProxyLookup viaP{ProxyLookup::Proxy, L"p:8", L""}, direct{ProxyLookup::Direct, L"", L""};
  const ProxyLookup late{ProxyLookup::TimedOut, L"", L""};
  const ProxyLookup listed{ProxyLookup::Proxy, L"a:1; b:2", L""};
  const HttpOutcome cut = HttpOutcome::Unreachable;
  const auto x = [] { return Body(1, {"x"}); };
  const std::vector<Row> rows = {
      // clang-format off
      {"length, two reads", body(), kOk, "abcdef", twice, one},
      {"empty body", {Body(0, {})}, kOk, "", {}, one},
      {"only 200 succeeds, the file left alone", {Status(204)}, "HTTP status not OK: 204", kOld, {}, one},
      {"relative Location", {Status(302, "/r")}, "URL parse failed", kOld, {}, one},
      {"not a redirect status", {Status(300, r8)}, "HTTP status not OK: 300", kOld, {}, one},
      {"no length, a read fails", {Body({}, {"abc"}, true)}, "download incomplete", {}, {{3, 0}},
       one},
      {"cannot be written", body(), "failed to write save file", {}, {}, one, true},
      {"cannot be kept", body(), "failed to write save file", {}, twice, one, false, true},
      // The URL forms: the host ends at the first "/" or ":", the port defaults to 443
      // and the path to "/", each byte widens to one unit; anything else (also a port
      // past 65535) is refused unsent.
      Form("https://example.com", "example.com:443 /"),
      Form("https://example.com:8443", "example.com:8443 /"),
      Form("https://localhost:8443/a/b.exe?x=1&y=:2", "localhost:8443 /a/b.exe?x=1&y=:2"),
      Form("https://host?q=1/x", "host?q=1:443 /x"), Form("https://h:065535/", "h:65535 /"),
      Form("https://h\xC3\xA9/\xFF", "h\xC3\xA9:443 /\xFF"), Form("https://h\n/", "h\n:443 /"),
      Form("https://h/" + huge, ("h:443 /" + huge).c_str()),
      Form("http://h/p"), Form("HTTPS://h/p"), Form(" https://h/"), Form("https:///path"),
      Form("https://host:/x"), Form("https://host:8a/"), Form("https://host/a\rb"),
      Form("https://host/\n"), Form("https://host:65536/"),
      Form("https://host:99999999999999999999999/"),
      // The route: the lookup's answer over the manual proxy, each new host asked (its
      // host and port only), a known one keeping its route; a lookup without an
      // answer, or none in time, not made again.
      Routed("per host", pacManual, {{u, direct}, {"https://g:8/", viaP}},
             {Status(302, g8), Status(302, r), x()}, kOk, {"lookup " + u, "h:443 /p direct",
             "lookup https://g:8/", "g:8 /q?x via p:8", "h:443 /r direct"}),
      Routed("timed out", pac, {{u, late}}, {Status(302, g), x()}, kOk,
             {"lookup " + u, one[0], "g:443 /q"}),
      Routed("no answer", pac, {}, {Status(302, g), x()}, kOk, {"lookup " + u, one[0], "g:443 /q"}),
      // The proxies of the answer in turn, each past an unreachable one, then direct.
      Routed("proxy list", pac, {{u, listed}}, {Send(cut), Status(302, r), Send(cut), Send(cut), x()},
             kOk, {"lookup " + u, "h:443 /p via a:1", "h:443 /p via b:2", "h:443 /r via a:1",
             "h:443 /r via b:2", "h:443 /r direct"}),
      // An unreachable proxy: one try direct in each request, which is no redirect.
      Routed("unreachable", manual, {}, {Send(cut), Status(302, g), Send(cut), Status(302, r),
             Send(cut), Send(cut)}, "WinHttpSendRequest failed", {m, "h:443 /p direct",
             "g:443 /q via m:1", "g:443 /q direct", "h:443 /r via m:1", "h:443 /r direct"}),
      // A 407 answered once with the user's logon, Negotiate first; sent again when asked.
      Routed("407 Negotiate", manual, {}, {Challenge(kNtlm | kNegotiate), Send(HttpOutcome::Resend),
             Challenge(kNegotiate)}, "HTTP status not OK: 407", {m, "logon 1", m, m}),
      Routed("407 NTLM", manual, {}, {Challenge(kNtlm), x()}, kOk, {m, "logon 2", m}),
      Routed("407 Basic only", manual, {}, {Challenge(0)}, "HTTP status not OK: 407", {m}),
      // Only through a proxy: never direct, past an unreachable proxy, on the default
      // route without a machine-wide proxy, for a host on its bypass list, or through a
      // proxy for http alone.
      Routed("407 direct", pac, {{u, direct}}, {Challenge(kNtlm)}, "HTTP status not OK: 407",
             {"lookup " + u, "h:443 /p direct"}),
      Routed("407 past an unreachable proxy", manual, {}, {Send(cut), Challenge(kNtlm)},
             "HTTP status not OK: 407", {m, "h:443 /p direct"}),
      Routed("407 default", {}, {}, {Challenge(kNtlm)}, "HTTP status not OK: 407", one),
      Routed("407 machine proxy", {}, {}, {Challenge(kNtlm), Status(302, "https://a.b.corp/q"),
             Challenge(kNtlm)}, "HTTP status not OK: 407", {one[0], "logon 2", one[0],
             "a.b.corp:443 /q"}, 0, {RouteKind::Proxy, L"mp:1", L"*.CORP:8;x"}),
      Routed("407 http proxy", {false, L"", L"http=m:1", L""}, {}, {Challenge(kNtlm)},
             "HTTP status not OK: 407", {"h:443 /p via http=m:1"}),
      // TLS 1.2 and 1.3 asked for; then 1.2 alone; then the defaults.
      Routed("TLS 1.3 refused", {}, {}, {x()}, kOk, {"tls 3 refused", one[0]}, kTls13),
      Routed("both refused", {}, {}, {x()}, kOk, {"tls 3 refused", "tls 1 refused", one[0]}, 3),
      // clang-format on
  };
  for (const Row& row : rows) Check(row);
}

// A 200 of "abcdef" with `headers` that breaks off after "abc" (a failed read,
// or with `closes` an early end), and what a resume may answer.
Response Broken(std::map<HttpHeader, std::string> headers, bool closes = false) {
  Response r = Body(6, {"abc"}, !closes);
  r.headers = std::move(headers);
  return r;
}
// A 206 of `body` with the Content-Range `range` (none when empty), broken off
// after it when `breaks`.
Response Partial(std::string range, std::optional<std::uint64_t> length, std::string body = "def",
                 bool breaks = false) {
  Response r = Body(length, {body}, breaks);
  r.status = 206;
  if (!range.empty()) r.headers[HttpHeader::ContentRange] = range;
  return r;
}
Row Resumed(std::string label, std::vector<Response> responses, std::string error,
            std::vector<std::string> log, std::string file = "abcdef") {
  const auto saved = error == kOk ? std::optional<std::string>(file) : std::nullopt;
  Row row{label, std::move(responses), error, saved, {}, log};
  row.anyProgress = true;
  return row;
}

TEST(DownloadFile, ResumesABodyThatBrokeOff) {
  using H = HttpHeader;
  using std::to_string;
  const std::string first = "h:443 /p", range = first + " Range: bytes=3-, If-Range: ";
  const std::string etag = "\"e\"", monday = "Mon, 07 Dec 2026 10:00:00 GMT";
  const std::string nov30 = "Mon, 30 Nov 2026 23:59:30 GMT",
                    leapDay = "Tue, 29 Feb 2028 23:59:30 GMT";
  const std::map<HttpHeader, std::string> strong = {{H::ETag, etag}};
  // The rest of a file of `total` from byte `from`, and the request for it.
  const auto piece = [](std::uint64_t from, std::uint64_t total, std::string body, bool breaks) {
    const std::string range = "bytes " + to_string(from) + "-" + to_string(total - 1) + "/";
    return Partial(range + to_string(total), total - from, std::move(body), breaks);
  };
  const auto ask = [&](std::uint64_t from, const std::string& validator) {
    return first + " Range: bytes=" + to_string(from) + "-, If-Range: " + validator;
  };
  const auto rest = [&] { return piece(3, 6, "def", false); };
  const Response again = Body(6, {"ABCDEF"});
  // Attempts that each bring a byte and break again: never five in a row
  // without one, and the tenth is the last.
  std::vector<Response> creeping = {Broken(strong)};
  creeping[0].length = 14;
  std::vector<std::string> creepLog = {first};
  for (int n = 3; n < 13; ++n) {
    creeping.push_back(piece(n, 14, "x", true));
    creepLog.insert(creepLog.end(), {"wait 1", ask(n, etag)});
  }
  // Broken at 90 %, then a 200 of a new build, then a break every 15 %: each
  // attempt brings bytes of the body now received.
  const std::string build = "ABCDEFGHIJKLMNOPQRST";
  std::vector<Response> rebuilt = {Body(20, {"0123456789abcdefgh"}, true), Body(20, {"ABC"}, true)};
  rebuilt[0].headers = strong, rebuilt[1].headers = {{H::ETag, "\"f\""}};
  std::vector<std::string> rebuiltLog = {first, "wait 1", ask(18, etag)};
  for (int n = 3; n <= 15; n += 3) {
    rebuilt.push_back(piece(n, 20, build.substr(n, n < 15 ? 3 : 5), n < 15));
    rebuiltLog.insert(rebuiltLog.end(), {"wait 1", ask(n, "\"f\"")});
  }
  Row restarted = Resumed("a 200 starts again: the counts go back", {Broken(strong), again}, kOk,
                          {first, "wait 1", range + etag}, "ABCDEF");
  restarted.progress = {{3, 6}, {3, 6}, {6, 6}}, restarted.anyProgress = false;
  // A 206 that does not fit: the whole body next, whose 200 begins it again.
  std::vector<std::string> misfits = {first};
  for (int i = 0; i < 4; ++i)
    misfits.insert(misfits.end(), {"wait 1", range + etag, "wait 2", first});
  misfits.insert(misfits.end(), {"wait 1", range + etag});
  // Lengths past 4 GiB asked and answered; one of "5x" is none, and a 200
  // without one is not resumed.
  const std::uint64_t huge = 5000000000;
  Response big = Broken(strong), unsized = Body({}, {"x"}, true);
  big.length = huge, unsized.headers = {{H::ContentLength, "5x"}};
  Row large =
      Resumed("past 4 GiB", {big, piece(3, huge, "def", true), unsized}, "download incomplete",
              {first, "wait 1", ask(3, etag), "wait 1", ask(6, etag)});
  large.progress = {{3, huge}, {3, huge}, {6, huge}, {6, huge}, {1, 0}}, large.anyProgress = false;
  // A Content-Length is one run of digits that fits 64 bits, spaces aside.
  const auto sized = [&](const std::string& text, std::uint64_t total) {
    Response r = Body({}, {"x"});
    r.headers = {{H::ContentLength, text}};
    return Row{"Content-Length " + text, {r}, kOk, "x", {{1, total}}, {first}};
  };
  const std::vector<std::string> fiveTries = {first,        "wait 1",  range + etag, "wait 2",
                                              range + etag, "wait 4",  range + etag, "wait 8",
                                              range + etag, "wait 16", range + etag};
  const std::vector<Row> rows = {
      // clang-format off
      Resumed("a failed read, then the rest", {Broken(strong), rest()}, kOk, {first, "wait 1", range + etag}),
      Resumed("a failed read after the whole length", {Body(6, {"abcdef"}, true)}, kOk, {first}),
      Resumed("an early end, then the rest without a length", {Broken(strong, true),
              Partial("bytes 3-5/6", {})}, kOk, {first, "wait 1", range + etag}),
      restarted,
      Resumed("a new build, breaking every 15 %", rebuilt, kOk, rebuiltLog, build),
      // Of another start, total or length, or without a range: nothing written.
      Resumed("206s that do not fit", {Broken(strong), Partial("bytes 2-5/6", 4), Broken(strong),
              Partial("bytes 3-5/7", 3), Broken(strong), Partial("bytes 3-5/6", 4), Broken(strong),
              Partial("", 3), Broken(strong), rest()}, kOk, misfits),
      Resumed("a 416, then the whole body", {Broken(strong), Status(416), again}, kOk,
              {first, "wait 1", range + etag, "wait 2", first}, "ABCDEF"),
      // Five attempts in a row without a new byte: given up, nothing left. Each
      // pause doubles, and these failures keep their Range.
      Resumed("five dry attempts", {Broken(strong), Status(503), Status(302, "https://h/p"),
              Send(HttpOutcome::Unreachable), Send(HttpOutcome::Failed), Status(404), rest()},
              "download incomplete", fiveTries),
      Resumed("ten attempts in all", creeping, "download incomplete", creepLog),
      // A body past its announced end is given up at once, nothing past it written.
      Resumed("a 200 past its end", {Body(6, {"abcdefg"}), rest()}, "download incomplete", {first}),
      Resumed("a chunked 206 past the end", {Broken(strong), Partial("bytes 3-5/6", {}, "defg")},
              "download incomplete", {first, "wait 1", range + etag}),
      large, sized(" 1\t", 1), sized("+1", 0), sized("1x", 0), sized("1 1", 0),
      sized("18446744073709551617", 0),
      // The validator: a strong ETag, else a Last-Modified 60 s older than the Date.
      Resumed("a weak ETag", {Broken({{H::ETag, "W/" + etag}}), again}, kOk, {first, "wait 1", first}, "ABCDEF"),
      Resumed("a weak ETag, Last-Modified", {Broken({{H::ETag, "W/" + etag}, {H::LastModified, monday},
              {H::Date, "Tue, 08 Dec 2026 10:00:01 GMT"}}), again}, kOk, {first, "wait 1", first}, "ABCDEF"),
      Resumed("an unreadable ETag", {Broken({{H::ETag, "\"\xC3\xA9\""}, {H::LastModified, monday},
              {H::Date, "Tue, 08 Dec 2026 10:00:01 GMT"}}), again}, kOk, {first, "wait 1", first}, "ABCDEF"),
      Resumed("Last-Modified 59 s before the Date", {Broken({{H::LastModified, nov30},
              {H::Date, "Tue, 01 Dec 2026 00:00:29 GMT"}}), again}, kOk, {first, "wait 1", first}, "ABCDEF"),
      Resumed("Last-Modified 60 s before the Date", {Broken({{H::LastModified, leapDay},
              {H::Date, "Wed, 01 Mar 2028 00:00:30 GMT"}}), rest()}, kOk, {first, "wait 1", range + leapDay}),
      Resumed("no validator", {Broken({}), again}, kOk, {first, "wait 1", first}, "ABCDEF"),
      // clang-format on
  };
  for (const Row& row : rows) Check(row);
}

}  // namespace
