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

#include "net/http_transport.h"
#include "net/save_file.h"

namespace {

struct Response {
  std::uint32_t status = 200;
  std::optional<std::string> location;  // nullopt: none, or longer than it may be
  std::optional<std::uint32_t> length;  // Content-Length
  std::vector<std::string> body;        // one read each
  bool readFails = false;               // the read after the body fails
};

struct FakeFile {
  std::string path;
  std::size_t readAt = 0;
};

struct World {
  std::vector<Response> responses;  // answers, in order
  std::vector<std::string> requests;  // "host:port path" of each request sent
  Response* current = nullptr;
  std::size_t piece = 0;
  int openHttp = 0;
  std::map<std::string, std::string> disk;
  bool createFails = false, writeFails = false;
  std::function<void(World&)> afterWrite;  // another process, once the write handle is closed
  std::vector<FakeFile*> openFiles;
  std::wstring host;
  std::uint16_t port = 0;
  std::vector<int> timeouts;  // resolve, connect, send, receive
};
World world;

std::string Narrow(const std::wstring& wide) { return std::string(wide.begin(), wide.end()); }

}  // namespace

namespace {
HttpHandle OpenHttp() {
  ++world.openHttp;
  return &world;
}
}  // namespace

HttpHandle HttpOpenSession() { return OpenHttp(); }
void HttpSetTimeouts(HttpHandle, int resolve, int connect, int send, int receive) {
  world.timeouts = {resolve, connect, send, receive};
}
HttpHandle HttpConnect(HttpHandle, const std::wstring& host, std::uint16_t port) {
  world.host = host;
  world.port = port;
  return OpenHttp();
}
HttpHandle HttpOpenGetRequest(HttpHandle, const std::wstring& path) {
  world.requests.push_back(Narrow(world.host) + ":" + std::to_string(world.port) + " " + Narrow(path));
  return OpenHttp();
}
bool HttpSendRequest(HttpHandle) {
  if (world.requests.size() > world.responses.size()) return false;  // nobody answers
  world.current = &world.responses[world.requests.size() - 1];
  world.piece = 0;
  return true;
}
bool HttpReceiveResponse(HttpHandle) { return true; }
std::uint32_t HttpQueryStatus(HttpHandle) { return world.current->status; }
bool HttpQueryLocation(HttpHandle, std::string& location) {
  if (!world.current->location) return false;
  location = *world.current->location;
  return true;
}
bool HttpQueryContentLength(HttpHandle, std::uint32_t& length) {
  length = world.current->length.value_or(0);
  return world.current->length.has_value();
}
bool HttpReadData(HttpHandle, void* buffer, std::uint32_t size, std::uint32_t& received) {
  const Response& r = *world.current;
  received = 0;
  if (world.piece == r.body.size()) return !r.readFails;
  const std::string& piece = r.body[world.piece++];
  EXPECT_LE(piece.size(), size);
  piece.copy(static_cast<char*>(buffer), piece.size());
  received = static_cast<std::uint32_t>(piece.size());
  return true;
}
void HttpCloseHandle(HttpHandle) { --world.openHttp; }

FileHandle CreateSaveFile(const std::string& path) {
  if (world.createFails) return nullptr;
  world.disk[path].clear();
  world.openFiles.push_back(new FakeFile{path});
  return world.openFiles.back();
}
bool WriteSaveFile(FileHandle file, const void* bytes, std::uint32_t size) {
  if (world.writeFails) return false;
  world.disk[static_cast<FakeFile*>(file)->path].append(static_cast<const char*>(bytes), size);
  return true;
}
FileHandle OpenSavedFile(const std::string& path) {
  if (world.afterWrite) world.afterWrite(world);
  if (!world.disk.count(path)) return nullptr;
  world.openFiles.push_back(new FakeFile{path});
  return world.openFiles.back();
}
bool ReadSavedFile(FileHandle handle, void* buffer, std::uint32_t size, std::uint32_t& got) {
  auto* file = static_cast<FakeFile*>(handle);
  got = static_cast<std::uint32_t>(world.disk[file->path].copy(static_cast<char*>(buffer), size, file->readAt));
  file->readAt += got;
  return true;
}
void CloseSavedFile(FileHandle handle) {
  auto& open = world.openFiles;
  open.erase(std::find(open.begin(), open.end(), handle));
  delete static_cast<FakeFile*>(handle);
}
void DeleteSavedFile(FileHandle handle) {
  world.disk.erase(static_cast<FakeFile*>(handle)->path);
  CloseSavedFile(handle);
}

// A stand-in digest: FNV-1a, enough to tell any two test contents apart.
DigestHandle BeginDigest() { return new std::uint64_t(14695981039346656037ull); }
bool AddToDigest(DigestHandle digest, const void* bytes, std::uint32_t size) {
  auto& h = *static_cast<std::uint64_t*>(digest);
  for (std::uint32_t i = 0; i < size; ++i)
    h = (h ^ static_cast<const unsigned char*>(bytes)[i]) * 1099511628211ull;
  return true;
}
bool FinishDigest(DigestHandle digest, Sha256& value) {
  value = {};
  std::uint64_t* h = static_cast<std::uint64_t*>(digest);
  for (int i = 0; i < 8; ++i) value[i] = static_cast<unsigned char>(*h >> (8 * i));
  delete h;
  return true;
}

namespace {

const std::string kOld = "the file that was here before";
const std::string kUrl = "https://h/p";
const std::string kOk = "untouched";
using Calls = std::vector<std::pair<std::uint64_t, std::uint64_t>>;

Response Status(std::uint32_t status) {
  Response r;
  r.status = status;
  return r;
}
Response Redirect(std::uint32_t status, std::optional<std::string> to) { return {status, to, {}, {}}; }
Response Body(std::optional<std::uint32_t> length, std::vector<std::string> body, bool readFails = false) {
  return {200, {}, length, std::move(body), readFails};
}

struct Row {
  const char* label;
  std::vector<Response> responses;
  std::string error;                  // kOk: the download succeeds
  std::optional<std::string> file;    // nullopt: no file
  Calls progress;
  std::vector<std::string> requests;  // "host:port path" of each request
  std::string url = kUrl;
};

TEST(DownloadFile, StatusRedirectsBodyAndSaveFile) {
  const std::string r8 = "https://h:8/r", r9 = "https://g:9/q?x=1";
  const std::vector<Row> rows = {
      {"200 with length, three reads", {Body(6, {"ab", "c", "def"})}, kOk, "abcdef",
       {{2, 6}, {3, 6}, {6, 6}}, {"h:443 /p"}},
      {"200 without length", {Body({}, {"ab", "c"})}, kOk, "abc", {{2, 0}, {3, 0}}, {"h:443 /p"}},
      {"200, empty body", {Body(0, {})}, kOk, "", {}, {"h:443 /p"}},
      {"404 leaves the file alone", {Status(404)}, "HTTP status not OK: 404", kOld, {}, {"h:443 /p"}},
      {"only 200 succeeds", {Status(204)}, "HTTP status not OK: 204", kOld, {}, {"h:443 /p"}},
      {"two redirects", {Redirect(302, r8), Redirect(308, r9), Body(1, {"x"})}, kOk, "x",
       {{1, 1}}, {"h:443 /p", "h:8 /r", "g:9 /q?x=1"}},
      {"a third redirect", {Redirect(301, r8), Redirect(303, r8), Redirect(307, r8)},
       "Too many redirects", kOld, {}, {"h:443 /p", "h:8 /r", "h:8 /r"}},
      {"relative Location", {Redirect(302, "/r")}, "URL parse failed", kOld, {}, {"h:443 /p"}},
      {"http Location", {Redirect(302, "http://h/r")}, "URL parse failed", kOld, {}, {"h:443 /p"}},
      {"empty Location", {Redirect(302, "")}, "URL parse failed", kOld, {}, {"h:443 /p"}},
      {"redirect without (usable) Location", {Redirect(301, {})}, "HTTP status not OK: 301", kOld,
       {}, {"h:443 /p"}},
      {"not a redirect status", {Redirect(300, r8)}, "HTTP status not OK: 300", kOld, {}, {"h:443 /p"}},
      {"no answer", {}, "WinHttpSendRequest failed", kOld, {}, {"h:443 /p"}},
      {"only https", {Body(1, {"x"})}, "URL parse failed", kOld, {}, {}, "http://h/p"},
      {"body shorter than its length", {Body(9, {"abc"})}, "download incomplete", std::nullopt,
       {{3, 9}}, {"h:443 /p"}},
      {"a read fails (or stalls past the time-out)", {Body({}, {"abc"}, true)},
       "download incomplete", std::nullopt, {{3, 0}}, {"h:443 /p"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    world = World{};
    world.responses = row.responses;
    world.disk["save"] = kOld;
    std::string error = kOk;
    Calls progress;
    HeldFile held = nullptr;
    const bool ok = DownloadFile(row.url, "save", error,
                                 [&](std::uint64_t r, std::uint64_t t) { progress.emplace_back(r, t); },
                                 &held);
    EXPECT_EQ(ok, row.error == kOk);
    EXPECT_EQ(error, row.error);
    EXPECT_EQ(world.disk.count("save") ? std::optional<std::string>(world.disk["save"]) : std::nullopt,
              row.file);
    EXPECT_EQ(progress, row.progress);
    EXPECT_EQ(world.requests, row.requests);
    if (!row.requests.empty()) {
      EXPECT_EQ(world.timeouts, std::vector<int>(4, 30000));
    }
    EXPECT_EQ(world.openHttp, 0);
    EXPECT_EQ(held != nullptr, ok);  // held after every download, and only then
    if (held != nullptr) CloseSavedFile(held);
    EXPECT_TRUE(world.openFiles.empty());
  }
}

// The save file: made only after a 200, deleted when it cannot be written,
// and never handed on when it changed between the write and the check.
TEST(DownloadFile, SaveFileFailuresAndTheCheckedFile) {
  const struct {
    const char* label;
    bool createFails, writeFails;
    std::function<void(World&)> afterWrite;
    bool ok;
    std::string error;
    bool held;
  } rows[] = {
      {"cannot be created", true, false, {}, false, "failed to create save file", false},
      {"cannot be written", false, true, {}, false, "failed to write save file", false},
      {"untouched", false, false, {}, true, kOk, true},
      {"rewritten", false, false, [](World& w) { w.disk["save"] = "evil!!"; }, true, kOk, false},
      {"one byte changed", false, false, [](World& w) { w.disk["save"][0] = 'X'; }, true, kOk, false},
      {"grown", false, false, [](World& w) { w.disk["save"] += "x"; }, true, kOk, false},
      {"gone", false, false, [](World& w) { w.disk.erase("save"); }, true, kOk, false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.label);
    world = World{};
    world.responses = {Body(6, {"abc", "def"})};
    world.createFails = row.createFails;
    world.writeFails = row.writeFails;
    world.afterWrite = row.afterWrite;
    std::string error = kOk;
    HeldFile held = nullptr;
    EXPECT_EQ(DownloadFile(kUrl, "save", error, ProgressCallback(), &held), row.ok);
    EXPECT_EQ(error, row.error);
    EXPECT_EQ(held != nullptr, row.held);
    if (!row.ok) {
      EXPECT_EQ(world.disk.count("save"), 0u);
    }
    if (held != nullptr) CloseSavedFile(held);
    EXPECT_TRUE(world.openFiles.empty());
  }
}

}  // namespace
