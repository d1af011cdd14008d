// The downloader over the real WinHTTP layer, without a server: failures
// that happen before any response must leave no save file behind.
#include <gtest/gtest.h>
#include <windows.h>

#include "net/download.h"

namespace {

const char kSavePath[] = "velnor-net-win32-test.bin";

bool SaveFileExists() { return GetFileAttributesA(kSavePath) != INVALID_FILE_ATTRIBUTES; }

TEST(DownloadWin32Test, RefusedUrlsFailBeforeTheNetwork) {
  DeleteFileA(kSavePath);
  for (const char* url : {"http://127.0.0.1/", "https://127.0.0.1:70000/", "https://[::1]/"}) {
    std::string error;
    EXPECT_FALSE(DownloadFile(url, kSavePath, error, ProgressCallback())) << url;
    EXPECT_EQ(error, "URL parse failed");
  }
  EXPECT_FALSE(SaveFileExists());
}

TEST(DownloadWin32Test, ClosedLoopbackPortFailsWithoutSaving) {
  DeleteFileA(kSavePath);
  std::string error;
  int calls = 0;
  EXPECT_FALSE(DownloadFile("https://127.0.0.1:1/x", kSavePath, error,
                            [&calls](std::uint64_t, std::uint64_t) { ++calls; }));
  EXPECT_EQ(error, "WinHttpSendRequest failed");
  EXPECT_EQ(calls, 0);
  EXPECT_FALSE(SaveFileExists());
}

}  // namespace
