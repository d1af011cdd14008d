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
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "net/download.h"

namespace {

const char kSavePath[] = "velnor-tls-test.bin";
const char kOldContent[] = "the file that was here before";

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

std::string Url(const char* portVariable, const std::string& path) {
  return "https://localhost:" + Env(portVariable) + path;
}

std::string Url(const std::string& path) { return Url("VELNOR_TLS_PORT", path); }

std::string OtherBase() { return "https://localhost:" + Env("VELNOR_TLS_OTHER_PORT"); }

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

// Request log lines ("<request line>\t<User-Agent>") that contain `tag`.
std::vector<std::string> LoggedRequests(const std::string& log, const std::string& tag) {
  std::istringstream lines(ReadAll(log));
  std::vector<std::string> found;
  for (std::string line; std::getline(lines, line);) {
    if (line.find(tag) != std::string::npos) found.push_back(line);
  }
  return found;
}

std::vector<std::string> LoggedRequests(const std::string& tag) {
  return LoggedRequests(Env("VELNOR_TLS_LOG"), tag);
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

TEST_F(DownloadTlsTest, SavesTheBodyOfA200) {
  struct Case {
    std::string path;
    std::size_t size;
    bool hasLength;
  };
  for (const Case& c : {Case{"/file/100000", 100000, true}, Case{"/chunked/50000", 50000, false},
                        Case{"/file/1", 1, true}}) {
    SCOPED_TRACE(c.path);
    WriteOldFile();
    const Outcome outcome = Download(Url(c.path));
    EXPECT_TRUE(outcome.ok) << outcome.error;
    EXPECT_EQ(outcome.error, "untouched");
    EXPECT_EQ(ReadAll(kSavePath), Body(c.size));
    ExpectProgress(outcome, c.size, c.hasLength ? c.size : 0);
  }
}

TEST_F(DownloadTlsTest, EmptyBodyTruncatesTheFileWithoutProgress) {
  WriteOldFile();
  const Outcome outcome = Download(Url("/empty"));
  EXPECT_TRUE(outcome.ok) << outcome.error;
  EXPECT_TRUE(Exists(kSavePath));
  EXPECT_EQ(ReadAll(kSavePath), "");
  EXPECT_TRUE(outcome.progress.empty());
}

TEST_F(DownloadTlsTest, SendsTheRequestLineAndUserAgent) {
  ASSERT_TRUE(Download(Url("/file/16?tag=agent")).ok);
  EXPECT_EQ(LoggedRequests("tag=agent"),
            std::vector<std::string>{"GET /file/16?tag=agent HTTP/1.1\tVelnorInstaller/1.0"});
}

TEST_F(DownloadTlsTest, StatusesOtherThan200LeaveTheFileAlone) {
  struct Case {
    std::string path;
    std::string error;
  };
  for (const Case& c :
       {Case{"/status/404", "HTTP status not OK: 404"},
        Case{"/status/204", "HTTP status not OK: 204"},
        Case{"/status/304", "HTTP status not OK: 304"},
        Case{"/status/500", "HTTP status not OK: 500"},
        // Not a redirect status, so WinHTTP leaves it alone.
        Case{"/redirect/300?to=" + OtherBase() + "/file/16", "HTTP status not OK: 300"}}) {
    SCOPED_TRACE(c.path);
    WriteOldFile();
    const Outcome outcome = Download(Url(c.path));
    EXPECT_FALSE(outcome.ok);
    EXPECT_EQ(outcome.error, c.error);
    EXPECT_EQ(ReadAll(kSavePath), kOldContent);
    EXPECT_TRUE(outcome.progress.empty());
  }
}

// Lines of the request log from `from` on that contain `part`.
std::vector<std::string> NewRequests(std::size_t from, const std::string& part) {
  std::vector<std::string> lines = LoggedRequests("");
  std::vector<std::string> found;
  for (std::size_t i = from; i < lines.size(); ++i) {
    if (lines[i].find(part) != std::string::npos) found.push_back(lines[i]);
  }
  return found;
}

// WinHTTP follows redirects itself (nothing turns that off), up to ten in a
// row, resolving relative and long Location values: such redirect statuses
// never reach the downloader's own policy. Every hop is requested with the
// downloader's user agent, and the last answer is the one saved.
TEST_F(DownloadTlsTest, WinHttpFollowsRedirectChainsAcrossPorts) {
  const std::string other = OtherBase();
  struct Case {
    std::string path;
    std::string hop;  // in the request line of every hop
    std::size_t requests;
  };
  for (const Case& c : {
           Case{"/redirect/302?to=" + other + "/file/16%3Fhop%3Done", "one", 2},
           Case{"/chain/2?base=" + other, "/chain/", 3},
           Case{"/chain/3?base=" + other, "/chain/", 4},
           Case{"/chain/10?base=" + other, "/chain/", 11},
           Case{"/redirect/301?hop=rel&to=/file/16%3Fhop%3Drel", "rel", 2},
           Case{"/redirect/303?hop=see&to=" + other + "/file/16%3Fhop%3Dsee", "see", 2},
           Case{"/redirect/307?hop=tmp&to=" + other + "/file/16%3Fhop%3Dtmp", "tmp", 2},
           Case{"/redirect/308?hop=perm&to=" + other + "/file/16%3Fhop%3Dperm", "perm", 2},
           // Longer than the 2047 units the downloader itself would read.
           Case{"/longlocation/2048?base=" + other, "/longlocation/", 1},
           Case{"/longlocation/5000?base=" + other, "/longlocation/", 1},
       }) {
    SCOPED_TRACE(c.path);
    const std::size_t logged = LoggedRequests("").size();
    WriteOldFile();
    const Outcome outcome = Download(Url(c.path));
    EXPECT_TRUE(outcome.ok) << outcome.error;
    EXPECT_EQ(outcome.error, "untouched");
    EXPECT_EQ(ReadAll(kSavePath), Body(16));
    const std::vector<std::string> hops = NewRequests(logged, c.hop);
    EXPECT_EQ(hops.size(), c.requests);
    for (const std::string& hop : hops) {
      EXPECT_NE(hop.find(" HTTP/1.1\tVelnorInstaller/1.0"), std::string::npos) << hop;
    }
  }
}

// Redirects that WinHTTP will not follow end inside WinHttpReceiveResponse,
// before the downloader sees a status: more than ten in a row, one from
// https to http, one without Location, one to a port where nothing listens.
TEST_F(DownloadTlsTest, RedirectsWinHttpRefusesFailWithoutSaving) {
  const std::string other = OtherBase();
  for (const std::string& path :
       {"/chain/11?base=" + other,
        "/redirect/302?to=http://localhost:" + Env("VELNOR_TLS_OTHER_PORT") + "/file/16",
        std::string("/status/301"), std::string("/longlocation/2047")}) {
    SCOPED_TRACE(path);
    WriteOldFile();
    const Outcome outcome = Download(Url(path));
    EXPECT_FALSE(outcome.ok);
    EXPECT_EQ(outcome.error, "WinHttpReceiveResponse failed");
    EXPECT_EQ(ReadAll(kSavePath), kOldContent);
    EXPECT_TRUE(outcome.progress.empty());
  }
}

// WinHTTP validates the server's certificate: the handshake fails, no
// request reaches the server and the file is left as it was.
TEST_F(DownloadTlsTest, BadCertificatesFailBeforeAnyRequest) {
  for (const char* port :
       {"VELNOR_TLS_SELFSIGNED_PORT", "VELNOR_TLS_WRONGHOST_PORT", "VELNOR_TLS_EXPIRED_PORT"}) {
    SCOPED_TRACE(port);
    WriteOldFile();
    const Outcome outcome = Download(Url(port, "/file/16"));
    EXPECT_FALSE(outcome.ok);
    EXPECT_EQ(outcome.error, "WinHttpSendRequest failed");
    EXPECT_EQ(ReadAll(kSavePath), kOldContent);
    EXPECT_TRUE(outcome.progress.empty());
  }
  EXPECT_EQ(ReadAll(Env("VELNOR_TLS_BAD_CERT_LOG")), "");
}

// A body cut short is not a download: the half-written file is deleted.
TEST_F(DownloadTlsTest, ConnectionClosedEarlyDeletesTheFile) {
  WriteOldFile();
  const Outcome outcome = Download(Url("/closeearly/100000"));
  EXPECT_FALSE(outcome.ok);
  EXPECT_EQ(outcome.error, "download incomplete");
  EXPECT_FALSE(Exists(kSavePath));
  ASSERT_FALSE(outcome.progress.empty());
  EXPECT_LT(outcome.progress.back().first, 100000u);
  EXPECT_EQ(outcome.progress.back().second, 100000u);
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

}  // namespace
