#include "net/download.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <utility>
#include <vector>

#include "net/http_transport_fake.h"

namespace {

using Calls = std::vector<std::string>;
using Progress = std::vector<std::pair<std::uint64_t, std::uint64_t>>;

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

  bool Run(const std::string& url, std::vector<FakeResponse> script) {
    FakeHttpReset(std::move(script));
    progress_.clear();
    return DownloadFile(url, save_, error_, [this](std::uint64_t received, std::uint64_t total) {
      progress_.emplace_back(received, total);
    });
  }

  bool Exists() const {
    struct stat info;
    return stat(save_.c_str(), &info) == 0;
  }
  std::string Contents() const {
    std::ifstream in(save_, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
  }
  void WriteExisting(const std::string& text) const {
    std::ofstream(save_, std::ios::binary) << text;
  }

  std::string dir_;
  std::string save_;
  std::string error_ = "untouched";
  Progress progress_;
};

FakeResponse Ok(std::vector<std::string> chunks, bool withLength = true) {
  FakeResponse response;
  response.chunks = std::move(chunks);
  if (withLength) {
    response.hasLength = true;
    for (const std::string& chunk : response.chunks) response.length += chunk.size();
  }
  return response;
}

FakeResponse Redirect(std::uint32_t status, const std::string& location) {
  FakeResponse response;
  response.status = status;
  response.hasLocation = true;
  response.location = location;
  return response;
}

FakeResponse Status(std::uint32_t status) {
  FakeResponse response;
  response.status = status;
  return response;
}

// The calls of one pass up to a known status.
Calls PassUpToStatus(int pass, const std::string& host, int port, const std::string& path) {
  const std::string n = std::to_string(pass);
  return {"OpenSession -> s" + n,
          "SetTimeouts s" + n + " 30000 30000 30000 30000",
          "Connect s" + n + " " + host + " " + std::to_string(port) + " -> c" + n,
          "OpenGetRequest c" + n + " " + path + " -> r" + n,
          "Send r" + n,
          "Receive r" + n,
          "QueryStatus r" + n};
}

Calls Concat(std::initializer_list<Calls> parts) {
  Calls all;
  for (const Calls& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

const Calls kClose1 = {"Close r1", "Close c1", "Close s1"};

TEST_F(DownloadTest, SavesTheBodyWithOneProgressCallPerChunk) {
  const std::string x(8192, 'x'), y(100, 'y'), z(1, 'z');
  ASSERT_TRUE(Run("https://localhost:8443/files/setup.exe?v=2", {Ok({x, y, z})}));
  EXPECT_EQ(error_, "untouched");
  EXPECT_EQ(Contents(), x + y + z);
  EXPECT_EQ(progress_, (Progress{{8192, 8293}, {8292, 8293}, {8293, 8293}}));
  EXPECT_EQ(FakeHttpCalls(), Concat({PassUpToStatus(1, "localhost", 8443, "/files/setup.exe?v=2"),
                                     {"QueryContentLength r1", "Read r1 8192", "Read r1 8192",
                                      "Read r1 8192", "Read r1 8192"},
                                     kClose1}));
}

TEST_F(DownloadTest, BodyWithoutLengthReportsTotalZeroAndEmptyBodyTruncates) {
  ASSERT_TRUE(Run("https://h/", {Ok({"ab", "cde"}, false)}));
  EXPECT_EQ(Contents(), "abcde");
  EXPECT_EQ(progress_, (Progress{{2, 0}, {5, 0}}));

  WriteExisting("old contents");
  ASSERT_TRUE(Run("https://h/", {Ok({}, true)}));
  EXPECT_TRUE(Exists());
  EXPECT_EQ(Contents(), "");
  EXPECT_TRUE(progress_.empty());

  FakeHttpReset({Ok({"abc"})});
  EXPECT_TRUE(DownloadFile("https://h", save_, error_, ProgressCallback()));
  EXPECT_EQ(Contents(), "abc");
  EXPECT_EQ(FakeHttpCalls()[2], "Connect s1 h 443 -> c1");
  EXPECT_EQ(FakeHttpCalls()[3], "OpenGetRequest c1 / -> r1");
}

TEST_F(DownloadTest, FollowsUpToTwoRedirectsWithFreshHandlesEachPass) {
  for (std::uint32_t status : {301u, 302u, 303u, 307u, 308u}) {
    ASSERT_TRUE(Run("https://a/1", {Redirect(status, "https://b:444/2"), Ok({"data"})})) << status;
    EXPECT_EQ(Contents(), "data");
    EXPECT_EQ(progress_, (Progress{{4, 4}}));
    EXPECT_EQ(FakeHttpCalls(), Concat({PassUpToStatus(1, "a", 443, "/1"),
                                       {"QueryLocation r1"},
                                       kClose1,
                                       PassUpToStatus(2, "b", 444, "/2"),
                                       {"QueryContentLength r2", "Read r2 8192", "Read r2 8192",
                                        "Close r2", "Close c2", "Close s2"}}));
  }

  ASSERT_TRUE(Run("https://a/1",
                  {Redirect(302, "https://b/2"), Redirect(307, "https://c:9/3"), Ok({"third"})}));
  EXPECT_EQ(error_, "untouched");
  EXPECT_EQ(Contents(), "third");
  EXPECT_EQ(FakeHttpCalls()[24], "Connect s3 c 9 -> c3");
}

TEST_F(DownloadTest, ThirdRedirectFailsAfterThreeRequests) {
  WriteExisting("previous");
  EXPECT_FALSE(Run("https://a/1", {Redirect(301, "https://b/2"), Redirect(301, "https://c/3"),
                                   Redirect(301, "https://d/4"), Ok({"never"})}));
  EXPECT_EQ(error_, "Too many redirects");
  EXPECT_EQ(Contents(), "previous");
  EXPECT_EQ(FakeHttpCalls(), Concat({PassUpToStatus(1, "a", 443, "/1"),
                                     {"QueryLocation r1"},
                                     kClose1,
                                     PassUpToStatus(2, "b", 443, "/2"),
                                     {"QueryLocation r2", "Close r2", "Close c2", "Close s2"},
                                     PassUpToStatus(3, "c", 443, "/3"),
                                     {"QueryLocation r3", "Close r3", "Close c3", "Close s3"}}));
}

TEST_F(DownloadTest, RedirectWithoutLocationIsAFailedStatus) {
  EXPECT_FALSE(Run("https://a/1", {Status(301)}));
  EXPECT_EQ(error_, "HTTP status not OK: 301");
  EXPECT_EQ(FakeHttpCalls(),
            Concat({PassUpToStatus(1, "a", 443, "/1"), {"QueryLocation r1"}, kClose1}));
  EXPECT_FALSE(Exists());
}

TEST_F(DownloadTest, LocationsThatAreNotAbsoluteHttpsFailOnTheNextPass) {
  for (const char* location : {"/relative/path", "other.exe", "http://a/1", "HTTPS://a/1", ""}) {
    error_ = "untouched";
    EXPECT_FALSE(Run("https://a/1", {Redirect(302, location), Ok({"x"})})) << location;
    EXPECT_EQ(error_, "URL parse failed");
    EXPECT_EQ(FakeHttpCalls(),
              Concat({PassUpToStatus(1, "a", 443, "/1"), {"QueryLocation r1"}, kClose1}));
    EXPECT_FALSE(Exists());
  }
}

TEST_F(DownloadTest, EveryStatusButTwoHundredFailsAndLeavesTheFileAlone) {
  WriteExisting("previous");
  for (std::uint32_t status : {404u, 500u, 204u, 206u, 304u, 300u, 0u, 4294967295u}) {
    EXPECT_FALSE(Run("https://a/1", {Status(status)})) << status;
    EXPECT_EQ(error_, "HTTP status not OK: " + std::to_string(status));
    EXPECT_EQ(FakeHttpCalls(), Concat({PassUpToStatus(1, "a", 443, "/1"), kClose1}));
    EXPECT_EQ(Contents(), "previous");
  }
  EXPECT_EQ(error_, "HTTP status not OK: 4294967295");
}

TEST_F(DownloadTest, EachFailingOperationClosesWhatWasOpenedNewestFirst) {
  struct Case {
    const char* failAt;
    const char* error;
    Calls tail;  // the calls after the failing one
  };
  const Case cases[] = {
      {"open", "WinHttpOpen failed", {}},
      {"connect", "WinHttpConnect failed", {"Close s1"}},
      {"request", "WinHttpOpenRequest failed", {"Close c1", "Close s1"}},
      {"send", "WinHttpSendRequest failed", kClose1},
      {"receive", "WinHttpReceiveResponse failed", kClose1},
  };
  WriteExisting("previous");
  for (const Case& c : cases) {
    FakeResponse response = Ok({"x"});
    response.failAt = c.failAt;
    EXPECT_FALSE(Run("https://a/1", {response})) << c.failAt;
    EXPECT_EQ(error_, c.error);
    Calls calls = FakeHttpCalls();
    ASSERT_GE(calls.size(), c.tail.size());
    EXPECT_EQ(Calls(calls.end() - c.tail.size(), calls.end()), c.tail) << c.failAt;
    EXPECT_EQ(Contents(), "previous");
    if (std::string(c.failAt) == "open") {
      EXPECT_EQ(calls, (Calls{"OpenSession -> null"}));
    }
  }
}

TEST_F(DownloadTest, FailuresOnALaterPassCloseOnlyThatPass) {
  FakeResponse second = Ok({"x"});
  second.failAt = "request";
  EXPECT_FALSE(Run("https://a/1", {Redirect(302, "https://b/2"), second}));
  EXPECT_EQ(error_, "WinHttpOpenRequest failed");
  const Calls& calls = FakeHttpCalls();
  EXPECT_EQ(Calls(calls.end() - 3, calls.end()),
            (Calls{"OpenGetRequest c2 /2 -> null", "Close c2", "Close s2"}));
}

TEST_F(DownloadTest, UrlOutsideTheFormFailsBeforeAnyTransportCall) {
  for (const char* url : {"http://a/1", "HTTPS://a/1", "https://a:/1", "https://[::1]/",
                          "https://u:p@a/", "https://a:65536/", "https://a:99999999999/"}) {
    EXPECT_FALSE(Run(url, {Ok({"x"})})) << url;
    EXPECT_EQ(error_, "URL parse failed");
    EXPECT_TRUE(FakeHttpCalls().empty());
  }
}

TEST_F(DownloadTest, SavePathThatCannotBeOpenedFailsAfterTheResponse) {
  FakeHttpReset({Ok({"x"})});
  EXPECT_FALSE(DownloadFile("https://a/1", dir_, error_, ProgressCallback()));
  EXPECT_EQ(error_, "failed to create save file");
  EXPECT_EQ(FakeHttpCalls(),
            Concat({PassUpToStatus(1, "a", 443, "/1"), {"QueryContentLength r1"}, kClose1}));
}

// A body that ended early is never reported as a download: the file is
// removed so nothing runs a truncated program.
TEST_F(DownloadTest, DamagedBodyFailsAndRemovesTheFile) {
  FakeResponse readFails = Ok({"abc", "def"});
  readFails.readFailsAfterChunks = true;
  FakeResponse readFailsNoLength = Ok({"abc"}, false);
  readFailsNoLength.readFailsAfterChunks = true;
  FakeResponse shortBody = Ok({"abc"});
  shortBody.length = 10;
  FakeResponse longBody = Ok({"abcdef"});
  longBody.length = 3;
  FakeResponse missingBody = Ok({});
  missingBody.length = 5;

  for (const FakeResponse& response :
       {readFails, readFailsNoLength, shortBody, longBody, missingBody}) {
    WriteExisting("previous");
    error_ = "untouched";
    EXPECT_FALSE(Run("https://a/1", {response}));
    EXPECT_EQ(error_, "download incomplete");
    EXPECT_FALSE(Exists());
    const Calls& calls = FakeHttpCalls();
    EXPECT_EQ(Calls(calls.end() - 3, calls.end()), kClose1);
  }
  EXPECT_EQ(progress_, (Progress{}));  // missingBody: nothing arrived
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
  EXPECT_FALSE(Exists());
}

}  // namespace
