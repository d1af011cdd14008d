// The downloader over WinHTTP against real TLS servers on 127.0.0.1, started
// by download_tls_test.py, which passes their ports and request log in
// VELNOR_TLS_* variables (the cases are skipped without them). Bodies are the
// bytes i % 251, as tests/tls/tls_server.py serves them.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "net/download.h"

namespace {

const char kSavePath[] = "velnor-tls-test.bin";
const char kOldContent[] = "the file that was here before";
// download_tls_test.py links this name to /dev/full, where every write fails.
const char kFullDevicePath[] = "velnor-tls-full.bin";

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

std::string Base(const char* portVariable) { return "https://localhost:" + Env(portVariable); }

std::string Url(const std::string& path) { return Base("VELNOR_TLS_PORT") + path; }

std::string Body(std::size_t n) {
  std::string data(n, '\0');
  for (std::size_t i = 0; i < n; ++i) data[i] = static_cast<char>(i % 251);
  return data;
}

bool Exists(const char* path) { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteOldFile() { std::ofstream(kSavePath, std::ios::binary | std::ios::trunc) << kOldContent; }

// Request log lines ("<request line>\t<User-Agent>") from line `from` on
// that contain `part`.
std::vector<std::string> LoggedRequests(std::size_t from, const std::string& part) {
  std::istringstream lines(ReadAll(Env("VELNOR_TLS_LOG")));
  std::vector<std::string> found;
  std::size_t index = 0;
  for (std::string line; std::getline(lines, line); ++index) {
    if (index >= from && line.find(part) != std::string::npos) found.push_back(line);
  }
  return found;
}

struct Outcome {
  bool ok = false;
  std::string error;
  std::vector<std::pair<std::uint64_t, std::uint64_t>> progress;
};

Outcome Download(const std::string& url) {
  Outcome outcome;
  outcome.error = "untouched";
  outcome.ok = DownloadFile(url, kSavePath, outcome.error,
                            [&outcome](std::uint64_t received, std::uint64_t total) {
                              outcome.progress.emplace_back(received, total);
                            });
  return outcome;
}

class DownloadTlsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (Env("VELNOR_TLS_PORT").empty()) GTEST_SKIP() << "run by download_tls_test.py";
    DeleteFileA(kSavePath);
  }
};

// Progress is reported once per chunk, rising to the body's size, with the
// Content-Length (or 0) as the total in every call.
void ExpectProgress(const Outcome& outcome, std::uint64_t size, std::uint64_t total) {
  ASSERT_FALSE(outcome.progress.empty());
  std::uint64_t last = 0;
  for (const auto& call : outcome.progress) {
    EXPECT_GT(call.first, last);
    EXPECT_LE(call.first - last, 8192u);
    EXPECT_EQ(call.second, total);
    last = call.first;
  }
  EXPECT_EQ(last, size);
}

const std::string kAgent = " HTTP/1.1\tVelnorInstaller/1.0";

// Every row starts with kOldContent in the save file. Only a 200 with its
// whole body replaces it; a body cut short deletes it.
TEST_F(DownloadTlsTest, Table) {
  enum class Progress { None, Whole, Cut };  // Cut: rising, ending short of the length
  struct Row {
    std::string path;
    std::string error;                    // "untouched": the download succeeds
    std::optional<std::string> contents;  // nullopt: no file
    Progress progress;
    std::uint64_t total;     // in every progress call: the Content-Length, or 0
    std::string hop;         // in the request line of every request made
    std::size_t requests;    // how many; the first is exactly the GET of `path`
    std::string base = Base("VELNOR_TLS_PORT");
  };
  const std::string other = Base("VELNOR_TLS_OTHER_PORT");
  const std::string ok = "untouched";
  const std::vector<Row> rows = {
      {"/file/100000", ok, Body(100000), Progress::Whole, 100000, "/file/100000", 1},
      {"/chunked/50000", ok, Body(50000), Progress::Whole, 0, "/chunked/50000", 1},
      {"/empty", ok, "", Progress::None, 0, "/empty", 1},
      // WinHTTP follows redirects itself (nothing turns that off), up to ten
      // in a row, resolving relative and long Location values: such redirect
      // statuses never reach the downloader's own policy. The last answer is
      // the one saved.
      {"/redirect/302?to=" + other + "/file/16%3Fhop%3Done", ok, Body(16), Progress::Whole, 16,
       "one", 2},
      {"/chain/10?base=" + other, ok, Body(16), Progress::Whole, 16, "/chain/", 11},
      {"/redirect/301?hop=rel&to=/file/16%3Fhop%3Drel", ok, Body(16), Progress::Whole, 16, "rel",
       2},
      {"/redirect/303?hop=see&to=" + other + "/file/16%3Fhop%3Dsee", ok, Body(16), Progress::Whole,
       16, "see", 2},
      {"/redirect/307?hop=tmp&to=" + other + "/file/16%3Fhop%3Dtmp", ok, Body(16), Progress::Whole,
       16, "tmp", 2},
      {"/redirect/308?hop=perm&to=" + other + "/file/16%3Fhop%3Dperm", ok, Body(16),
       Progress::Whole, 16, "perm", 2},
      // Longer than the 2047 units the downloader itself would read.
      {"/longlocation/2048?base=" + other, ok, Body(16), Progress::Whole, 16, "/longlocation/", 1},
      {"/status/404", "HTTP status not OK: 404", kOldContent, Progress::None, 0, "", 0},
      {"/status/204", "HTTP status not OK: 204", kOldContent, Progress::None, 0, "", 0},
      {"/status/304", "HTTP status not OK: 304", kOldContent, Progress::None, 0, "", 0},
      // Not a redirect status, so WinHTTP leaves it alone.
      {"/redirect/300?to=" + other + "/file/16", "HTTP status not OK: 300", kOldContent,
       Progress::None, 0, "", 0},
      // Redirects WinHTTP will not follow end inside WinHttpReceiveResponse,
      // before the downloader sees a status: more than ten in a row, one from
      // https to http, one without Location, one to a port where nothing
      // listens.
      {"/chain/11?base=" + other, "WinHttpReceiveResponse failed", kOldContent, Progress::None, 0,
       "", 0},
      {"/redirect/302?to=http://localhost:" + Env("VELNOR_TLS_OTHER_PORT") + "/file/16",
       "WinHttpReceiveResponse failed", kOldContent, Progress::None, 0, "", 0},
      {"/status/301", "WinHttpReceiveResponse failed", kOldContent, Progress::None, 0, "", 0},
      {"/longlocation/2047", "WinHttpReceiveResponse failed", kOldContent, Progress::None, 0, "",
       0},
      // A body cut short is not a download: the half-written file is deleted.
      {"/closeearly/100000", "download incomplete", std::nullopt, Progress::Cut, 100000, "", 0},
      // WinHTTP validates the server's certificate: the handshake fails and
      // no request reaches the server (checked below).
      {"/file/16", "WinHttpSendRequest failed", kOldContent, Progress::None, 0, "", 0,
       Base("VELNOR_TLS_SELFSIGNED_PORT")},
      {"/file/16", "WinHttpSendRequest failed", kOldContent, Progress::None, 0, "", 0,
       Base("VELNOR_TLS_WRONGHOST_PORT")},
      {"/file/16", "WinHttpSendRequest failed", kOldContent, Progress::None, 0, "", 0,
       Base("VELNOR_TLS_EXPIRED_PORT")},
      // Nothing listens on port 1.
      {"/file/16", "WinHttpSendRequest failed", kOldContent, Progress::None, 0, "", 0,
       "https://127.0.0.1:1"},
      // Only https: refused before any connection, though the server would answer.
      {"/file/16", "URL parse failed", kOldContent, Progress::None, 0, "", 0,
       "http://localhost:" + Env("VELNOR_TLS_PORT")},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.base + row.path);
    const std::size_t logged = LoggedRequests(0, "").size();
    WriteOldFile();
    const Outcome outcome = Download(row.base + row.path);
    EXPECT_EQ(outcome.ok, row.error == ok);
    EXPECT_EQ(outcome.error, row.error);
    if (row.contents) {
      EXPECT_EQ(ReadAll(kSavePath), *row.contents);
    } else {
      EXPECT_FALSE(Exists(kSavePath));
    }
    if (row.progress == Progress::None) {
      EXPECT_TRUE(outcome.progress.empty());
    }
    if (row.progress == Progress::Whole) ExpectProgress(outcome, row.contents->size(), row.total);
    if (row.progress == Progress::Cut) {
      ASSERT_FALSE(outcome.progress.empty());
      EXPECT_LT(outcome.progress.back().first, row.total);
      ExpectProgress(outcome, outcome.progress.back().first, row.total);
    }
    if (row.requests == 0) continue;
    const std::vector<std::string> hops = LoggedRequests(logged, row.hop);
    EXPECT_EQ(hops.size(), row.requests);
    if (!hops.empty()) {
      EXPECT_EQ(hops[0], "GET " + row.path + kAgent);
    }
    for (const std::string& hop : hops) EXPECT_NE(hop.find(kAgent), std::string::npos) << hop;
  }
  EXPECT_EQ(ReadAll(Env("VELNOR_TLS_BAD_CERT_LOG")), "");
}

// The server sends half the body and then nothing for longer than the 30 s
// receive time-out.
TEST_F(DownloadTlsTest, StalledBodyTimesOutAndDeletesTheFile) {
  const Outcome outcome = Download(Url("/stall/100000?seconds=45"));
  EXPECT_FALSE(outcome.ok);
  EXPECT_EQ(outcome.error, "download incomplete");
  EXPECT_FALSE(Exists(kSavePath));
  EXPECT_FALSE(outcome.progress.empty());
}

// A save file that cannot be made or written is no download either, and
// the progress callback may be empty.
TEST_F(DownloadTlsTest, SaveFile) {
  std::string error;
  EXPECT_TRUE(DownloadFile(Url("/file/20000"), kSavePath, error, ProgressCallback()));
  EXPECT_EQ(ReadAll(kSavePath), Body(20000));

  CreateDirectoryA("velnor-tls-folder", nullptr);
  EXPECT_FALSE(DownloadFile(Url("/file/16"), "velnor-tls-folder", error, ProgressCallback()));
  EXPECT_EQ(error, "failed to create save file");

  EXPECT_FALSE(DownloadFile(Url("/file/100000"), kFullDevicePath, error, ProgressCallback()));
  // (Wine cannot delete a device, so the file's removal is not seen here.)
  EXPECT_EQ(error, "failed to write save file");
}

}  // namespace
