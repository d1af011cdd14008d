// The Win32 layer against the real system under Wine: the version test, the
// WebView2 probe against real keys, and the worker's launch, wait and
// deletion of a fixture setup program.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "install/download_channel.h"
#include "install/install_platform.h"
#include "install/install_worker.h"

namespace {

const wchar_t kKey1[] =
    L"SOFTWARE\\WOW6432Node\\Microsoft\\EdgeUpdate\\Clients\\{F3017226-FE2A-4295-8BDF-"
    L"00C3A9A7E4C5}";
const wchar_t kKey2[] =
    L"Software\\Microsoft\\EdgeUpdate\\Clients\\{F3017226-FE2A-4295-8BDF-00C3A9A7E4C5}";

std::wstring gFixturePath;  // full path of the fixture setup program
int gDownloads = 0;

void RemoveKey(HKEY root, const wchar_t* path) { RegDeleteKeyW(root, path); }

void WriteKey(HKEY root, const wchar_t* path, const void* data, DWORD bytes, DWORD type = REG_SZ) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(root, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  if (data)
    ASSERT_EQ(RegSetValueExW(key, L"pv", 0, type, static_cast<const BYTE*>(data), bytes),
              ERROR_SUCCESS);
  RegCloseKey(key);
}

void WriteText(HKEY root, const wchar_t* path, const std::wstring& text) {
  WriteKey(root, path, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

class ProbeTest : public ::testing::Test {
 protected:
  void SetUp() override { Clear(); }
  void TearDown() override { Clear(); }
  static void Clear() {
    RemoveKey(HKEY_LOCAL_MACHINE, kKey1);
    RemoveKey(HKEY_CURRENT_USER, kKey2);
  }
};

}  // namespace

// Stand-in downloader: "downloads" the fixture by copying it.
bool DownloadFile(const std::string& url, const std::string& savePath, std::string& error,
                  ProgressCallback progress) {
  ++gDownloads;
  EXPECT_NE(url.find("/velnor-video/"), std::string::npos);
  EXPECT_TRUE(error.empty());
  if (progress) progress(1, 1);
  return CopyFileW(gFixturePath.c_str(), std::wstring(savePath.begin(), savePath.end()).c_str(),
                   FALSE) != 0;
}

void OnDownloadProgress(WindowHandle, std::uint64_t, std::uint64_t) {}

TEST(VersionTest, OrdersMajorMinorServicePack) {
  EXPECT_TRUE(IsOsVersionAtLeast(5, 1, 0));
  EXPECT_TRUE(IsOsVersionAtLeast(6, 0, 0));
  EXPECT_FALSE(IsOsVersionAtLeast(99, 0, 0));
  const bool at61 = IsOsVersionAtLeast(6, 1, 0);
  const bool at62 = IsOsVersionAtLeast(6, 2, 0);
  EXPECT_TRUE(!at62 || at61);  // 6.2 implies 6.1
  std::printf("version test: >=6.1 %d, >=6.2 %d, >=10.0 %d\n", at61, at62,
              IsOsVersionAtLeast(10, 0, 0));

  // Set by version_under_wine.sh after telling Wine which version to report.
  const char* expected = std::getenv("VELNOR_EXPECT_VERSION");
  if (!expected) return;
  const std::string version = expected;
  const bool at10 = IsOsVersionAtLeast(10, 0, 0);
  if (version == "vista") {
    EXPECT_TRUE(IsOsVersionAtLeast(6, 0, 0));
    EXPECT_FALSE(at61);
  } else if (version == "win7") {
    EXPECT_TRUE(at61);
    EXPECT_FALSE(at62);
    EXPECT_TRUE(IsOsVersionAtLeast(6, 1, 1));  // Wine's win7 reports service pack 1
    EXPECT_EQ(ChooseDownloadChannel(), DownloadChannel::Win7);
  } else if (version == "win8") {
    EXPECT_TRUE(at62);
    EXPECT_FALSE(IsOsVersionAtLeast(6, 3, 0));
  } else if (version == "win10") {
    // A program without a manifest naming the newer systems is told 6.2 at
    // most, as on Windows itself; either way it is past 6.1.
    EXPECT_TRUE(at62);
    EXPECT_FALSE(IsOsVersionAtLeast(10, 1, 0));
  } else {
    ADD_FAILURE() << "unknown version " << version;
  }
}

TEST_F(ProbeTest, RealKeys) {
  EXPECT_FALSE(IsWebView2Registered());  // both missing

  WriteKey(HKEY_LOCAL_MACHINE, kKey1, nullptr, 0);  // key without "pv"
  EXPECT_FALSE(IsWebView2Registered());
  WriteText(HKEY_CURRENT_USER, kKey2, L"1.2.3.4");  // key 2 is still tried
  EXPECT_TRUE(IsWebView2Registered());
  RemoveKey(HKEY_CURRENT_USER, kKey2);

  WriteText(HKEY_LOCAL_MACHINE, kKey1, L"");
  EXPECT_FALSE(IsWebView2Registered());
  WriteText(HKEY_LOCAL_MACHINE, kKey1, L"0.0.0.0");
  EXPECT_FALSE(IsWebView2Registered());
  WriteText(HKEY_LOCAL_MACHINE, kKey1, L"0.0.0.0 ");
  EXPECT_TRUE(IsWebView2Registered());
  WriteText(HKEY_LOCAL_MACHINE, kKey1, L"0.0.0.0.1");
  EXPECT_TRUE(IsWebView2Registered());
  WriteText(HKEY_LOCAL_MACHINE, kKey1, L"120.0.2210.91");
  EXPECT_TRUE(IsWebView2Registered());
  WriteText(HKEY_LOCAL_MACHINE, kKey1, std::wstring(300, L'1'));  // 602 bytes: too large
  EXPECT_FALSE(IsWebView2Registered());
  WriteText(HKEY_LOCAL_MACHINE, kKey1, std::wstring(255, L'1'));  // 512 bytes with the zero
  EXPECT_TRUE(IsWebView2Registered());
  const std::wstring full(256, L'2');  // exactly 512 bytes, no zero unit
  WriteKey(HKEY_LOCAL_MACHINE, kKey1, full.data(), 512, REG_BINARY);
  EXPECT_TRUE(IsWebView2Registered());

  WriteText(HKEY_LOCAL_MACHINE, kKey1, L"0.0.0.0");
  WriteText(HKEY_CURRENT_USER, kKey2, L"0.0.0.0");
  EXPECT_FALSE(IsWebView2Registered());
  WriteText(HKEY_CURRENT_USER, kKey2, L"9");
  EXPECT_TRUE(IsWebView2Registered());
}

TEST(WorkerTest, StartsWaitsDeletesAndPostsClose) {
  wchar_t directory[MAX_PATH] = {};
  GetCurrentDirectoryW(MAX_PATH, directory);
  DeleteFileW(L"setup-fixture.log");
  SetEnvironmentVariableW(L"VELNOR_FIXTURE_EXIT", L"3");  // a failing setup: still cleaned up
  HWND window =
      CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
  ASSERT_NE(window, nullptr);

  InstallWorker(window);

  EXPECT_EQ(gDownloads, 1);
  EXPECT_EQ(GetFileAttributesW(L"velnor-setup.exe"), INVALID_FILE_ATTRIBUTES);
  std::wifstream log("setup-fixture.log");
  std::wstring commandLine, started;
  std::getline(log, commandLine);
  std::getline(log, started);
  log.close();
  EXPECT_NE(commandLine.find(L"velnor-setup.exe"), std::wstring::npos);
  EXPECT_EQ(commandLine.find(L' ', commandLine.find(L"velnor-setup.exe")), std::wstring::npos)
      << "no arguments expected";
  EXPECT_EQ(started, directory);
  MSG msg = {};
  ASSERT_TRUE(PeekMessageW(&msg, window, WM_CLOSE, WM_CLOSE, PM_REMOVE));
  EXPECT_EQ(msg.wParam, 0u);
  EXPECT_EQ(msg.lParam, 0);
  DestroyWindow(window);
  DeleteFileW(L"setup-fixture.log");
}

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  wchar_t self[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  gFixturePath = self;
  gFixturePath =
      gFixturePath.substr(0, gFixturePath.find_last_of(L'\\') + 1) + L"install_setup_fixture.exe";
  return RUN_ALL_TESTS();
}
