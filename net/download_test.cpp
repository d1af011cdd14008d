#include "net/download.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <optional>
#include <sstream>
#include <utility>
#include <vector>

#include "net/http_transport_fake.h"

namespace {

using Calls = std::vector<std::string>;
using Progress = std::vector<std::pair<std::uint64_t, std::uint64_t>>;

const char kUntouched[] = "untouched";
const char kPrevious[] = "previous";

FakeResponse Ok(std::vector<std::string> chunks, bool withLength = true) {
  FakeResponse response;
  response.chunks = std::move(chunks);
  response.hasLength = withLength;
  if (withLength)
    for (const std::string& chunk : response.chunks) response.length += chunk.size();
  return response;
}

// A 200 whose body does not match: a read that fails after the chunks, or a
// length (0: none) other than the bytes sent.
FakeResponse Damaged(std::vector<std::string> chunks, std::uint32_t length, bool readFails) {
  FakeResponse response = Ok(std::move(chunks), length != 0);
  if (length) response.length = length;
  response.readFailsAfterChunks = readFails;
  return response;
}

FakeResponse FailAt(const char* operation) {
  FakeResponse response = Ok({"x"});
  response.failAt = operation;
  return response;
}

FakeResponse Status(std::uint32_t status) {
  FakeResponse response;
  response.status = status;
  return response;
}

FakeResponse Redirect(std::uint32_t status, const std::string& location) {
  FakeResponse response = Status(status);
  response.hasLocation = true;
  response.location = location;
  return response;
}

Calls Concat(std::initializer_list<Calls> parts) {
  Calls all;
  for (const Calls& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

// The calls of one pass up to a known status.
Calls Pass(int pass, const std::string& host, int port, const std::string& path) {
  const std::string n = std::to_string(pass);
  return {"OpenSession -> s" + n,
          "SetTimeouts s" + n + " 30000 30000 30000 30000",
          "Connect s" + n + " " + host + " " + std::to_string(port) + " -> c" + n,
          "OpenGetRequest c" + n + " " + path + " -> r" + n,
          "Send r" + n,
          "Receive r" + n,
          "QueryStatus r" + n};
}

Calls Closes(int pass) {
  const std::string n = std::to_string(pass);
  return {"Close r" + n, "Close c" + n, "Close s" + n};
}

// A pass that ends in a followed redirect.
Calls Redirected(int pass, const std::string& host, int port, const std::string& path) {
  return Concat({Pass(pass, host, port, path), {"QueryLocation r" + std::to_string(pass)},
                 Closes(pass)});
}

// A pass that saves a body in `reads` reads, the last one empty or failing.
Calls Saved(int pass, const std::string& host, int port, const std::string& path, int reads) {
  const std::string r = "r" + std::to_string(pass);
  Calls calls = Pass(pass, host, port, path);
  calls.push_back("QueryContentLength " + r);
  for (int i = 0; i < reads; ++i) calls.push_back("Read " + r + " 8192");
  return Concat({calls, Closes(pass)});
}

class DownloadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char dirTemplate[] = "/tmp/velnor-net-test-XXXXXX";
    ASSERT_NE(mkdtemp(dirTemplate), nullptr);
    dir_ = dirTemplate;
    save_ = dir_ + "/velnor-setup.exe";
  }
  void TearDown() override {
    unlink(save_.c_str());
    rmdir(dir_.c_str());
  }

  bool Run(const std::string& url, std::vector<FakeResponse> script, bool withCallback = true) {
    FakeHttpReset(std::move(script));
    progress_.clear();
    error_ = kUntouched;
    ProgressCallback progress;
    if (withCallback)
      progress = [this](std::uint64_t received, std::uint64_t total) {
        progress_.emplace_back(received, total);
      };
    return DownloadFile(url, save_, error_, progress);
  }

  // The save file's contents; nullopt when there is none.
  std::optional<std::string> Contents() const {
    struct stat info;
    if (stat(save_.c_str(), &info) != 0) return std::nullopt;
    std::ifstream in(save_, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
  }

  std::string dir_;
  std::string save_;
  std::string error_;
  Progress progress_;
};

struct Row {
  std::string label;
  std::string url;
  std::vector<FakeResponse> script;
  std::string error;  // kUntouched: the download succeeds
  std::optional<std::string> contents;  // the save file afterwards; it held kPrevious before
  Progress progress;
  Calls calls;
  bool withCallback = true;
};

// Every row starts with a save file holding kPrevious: a failure never
// leaves a partial body, and only a whole 200 body replaces the file.
TEST_F(DownloadTest, Table) {
  const std::string x(8192, 'x'), y(100, 'y');
  std::vector<Row> rows = {
      {"one progress call per chunk", "https://localhost:8443/files/setup.exe?v=2",
       {Ok({x, y, "z"})}, kUntouched, x + y + "z", {{8192, 8293}, {8292, 8293}, {8293, 8293}},
       Saved(1, "localhost", 8443, "/files/setup.exe?v=2", 4)},
      {"no length: total 0", "https://h/", {Ok({"ab", "cde"}, false)}, kUntouched, "abcde",
       {{2, 0}, {5, 0}}, Saved(1, "h", 443, "/", 3)},
      {"empty body truncates", "https://h/", {Ok({})}, kUntouched, "", {},
       Saved(1, "h", 443, "/", 1)},
      {"no callback, no path", "https://h", {Ok({"abc"})}, kUntouched, "abc", {},
       Saved(1, "h", 443, "/", 2), false},
      {"two redirects", "https://a/1",
       {Redirect(302, "https://b/2"), Redirect(307, "https://c:9/3"), Ok({"third"})}, kUntouched,
       "third", {{5, 5}},
       Concat({Redirected(1, "a", 443, "/1"), Redirected(2, "b", 443, "/2"),
               Saved(3, "c", 9, "/3", 2)})},
      {"third redirect", "https://a/1",
       {Redirect(301, "https://b/2"), Redirect(301, "https://c/3"), Redirect(301, "https://d/4"),
        Ok({"never"})},
       "Too many redirects", kPrevious, {},
       Concat({Redirected(1, "a", 443, "/1"), Redirected(2, "b", 443, "/2"),
               Redirected(3, "c", 443, "/3")})},
      {"redirect without Location", "https://a/1", {Status(301)}, "HTTP status not OK: 301",
       kPrevious, {}, Redirected(1, "a", 443, "/1")},
      {"later pass fails", "https://a/1", {Redirect(302, "https://b/2"), FailAt("request")},
       "WinHttpOpenRequest failed", kPrevious, {},
       Concat({Redirected(1, "a", 443, "/1"),
               {"OpenSession -> s2", "SetTimeouts s2 30000 30000 30000 30000",
                "Connect s2 b 443 -> c2", "OpenGetRequest c2 /2 -> null", "Close c2",
                "Close s2"}})},
      // Refused before any transport call (the forms themselves: url_test.cpp).
      {"http URL", "http://a/1", {Ok({"x"})}, "URL parse failed", kPrevious, {}, {}},
      {"port past 16 bits", "https://a:65536/", {Ok({"x"})}, "URL parse failed", kPrevious, {}, {}},
  };
  for (std::uint32_t status : {301u, 302u, 303u, 307u, 308u})
    rows.push_back({"redirect " + std::to_string(status), "https://a/1",
                    {Redirect(status, "https://b:444/2"), Ok({"data"})}, kUntouched, "data",
                    {{4, 4}},
                    Concat({Redirected(1, "a", 443, "/1"), Saved(2, "b", 444, "/2", 2)})});
  for (const char* location : {"/relative/path", "other.exe", "http://a/1", "HTTPS://a/1", ""})
    rows.push_back({std::string("Location ") + location, "https://a/1",
                    {Redirect(302, location), Ok({"x"})}, "URL parse failed", kPrevious, {},
                    Redirected(1, "a", 443, "/1")});
  for (std::uint32_t status : {404u, 500u, 204u, 206u, 304u, 300u, 0u, 4294967295u})
    rows.push_back({"status " + std::to_string(status), "https://a/1", {Status(status)},
                    "HTTP status not OK: " + std::to_string(status), kPrevious, {},
                    Concat({Pass(1, "a", 443, "/1"), Closes(1)})});
  // Each failing operation closes what was opened, newest first.
  const Calls p = Pass(1, "a", 443, "/1");
  const struct {
    const char* operation;
    const char* error;
    Calls calls;
  } failing[] = {
      {"open", "WinHttpOpen failed", {"OpenSession -> null"}},
      {"connect", "WinHttpConnect failed", {p[0], p[1], "Connect s1 a 443 -> null", "Close s1"}},
      {"request", "WinHttpOpenRequest failed",
       {p[0], p[1], p[2], "OpenGetRequest c1 /1 -> null", "Close c1", "Close s1"}},
      {"send", "WinHttpSendRequest failed", Concat({Calls(p.begin(), p.begin() + 5), Closes(1)})},
      {"receive", "WinHttpReceiveResponse failed",
       Concat({Calls(p.begin(), p.end() - 1), Closes(1)})},
  };
  for (const auto& f : failing)
    rows.push_back({std::string("fails at ") + f.operation, "https://a/1", {FailAt(f.operation)},
                    f.error, kPrevious, {}, f.calls});
  // A body that ended early is never reported as a download: the file is
  // removed so nothing runs a truncated program.
  const struct {
    const char* label;
    FakeResponse response;
    Progress progress;
    int reads;
  } damaged[] = {
      {"read fails", Damaged({"abc", "def"}, 6, true), {{3, 6}, {6, 6}}, 3},
      {"read fails, no length", Damaged({"abc"}, 0, true), {{3, 0}}, 2},
      {"short body", Damaged({"abc"}, 10, false), {{3, 10}}, 2},
      {"long body", Damaged({"abcdef"}, 3, false), {{6, 3}}, 2},
      {"missing body", Damaged({}, 5, false), {}, 1},
  };
  for (const auto& d : damaged)
    rows.push_back({d.label, "https://a/1", {d.response}, "download incomplete", std::nullopt,
                    d.progress, Saved(1, "a", 443, "/1", d.reads)});

  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    std::ofstream(save_, std::ios::binary | std::ios::trunc) << kPrevious;
    EXPECT_EQ(Run(row.url, row.script, row.withCallback), row.error == kUntouched);
    EXPECT_EQ(error_, row.error);
    EXPECT_EQ(Contents(), row.contents);
    EXPECT_EQ(progress_, row.progress);
    EXPECT_EQ(FakeHttpCalls(), row.calls);
  }
}

TEST_F(DownloadTest, SavePathThatCannotBeOpenedFailsAfterTheResponse) {
  FakeHttpReset({Ok({"x"})});
  EXPECT_FALSE(DownloadFile("https://a/1", dir_, error_, ProgressCallback()));
  EXPECT_EQ(error_, "failed to create save file");
  EXPECT_EQ(FakeHttpCalls(),
            Concat({Pass(1, "a", 443, "/1"), {"QueryContentLength r1"}, Closes(1)}));
}

TEST_F(DownloadTest, WriteFailureFailsAndRemovesTheFile) {
  // A file size limit makes the writes fail (EFBIG) once 4096 bytes are in.
  struct rlimit saved;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  auto* previousHandler = signal(SIGXFSZ, SIG_IGN);
  struct rlimit limited = saved;
  limited.rlim_cur = 4096;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
  const bool ok = Run("https://a/1", {Ok({std::string(8192, 'a'), std::string(8192, 'b')})});
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, previousHandler);

  EXPECT_FALSE(ok);
  EXPECT_EQ(error_, "failed to write save file");
  EXPECT_EQ(Contents(), std::nullopt);
}

}  // namespace
