// The Win32 layer against the real system under Wine: the version test, the
// WebView2 probe against real keys, and the worker's launch, wait and
// deletion of a fixture setup program.
#include <gtest/gtest.h>
#include <windows.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

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

// A client key as a row plants it: absent, without "pv", or with a "pv" value.
struct ClientKey {
  bool present = false;
  bool hasPv = false;
  std::wstring pv;
  DWORD type = REG_SZ;  // REG_SZ values are written with their terminating zero
};
const ClientKey kNoKey{}, kNoPv{true};
ClientKey Text(const std::wstring& pv) { return {true, true, pv}; }

void PlantKey(HKEY root, const wchar_t* path, const ClientKey& planted) {
  RegDeleteKeyW(root, path);
  if (!planted.present) return;
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(root, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  const DWORD bytes = static_cast<DWORD>((planted.pv.size() + (planted.type == REG_SZ)) * 2);
  if (planted.hasPv)
    EXPECT_EQ(RegSetValueExW(key, L"pv", 0, planted.type,
                             reinterpret_cast<const BYTE*>(planted.pv.c_str()), bytes),
              ERROR_SUCCESS);
  RegCloseKey(key);
}

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
  const struct {
    const char* version;
    std::vector<std::array<int, 4>> checks;  // major, minor, service pack, at least
  } rows[] = {
      {"vista", {{6, 0, 0, true}, {6, 1, 0, false}}},
      // Wine's win7 reports service pack 1.
      {"win7", {{6, 1, 0, true}, {6, 1, 1, true}, {6, 2, 0, false}}},
      {"win8", {{6, 2, 0, true}, {6, 3, 0, false}}},
      // A program without a manifest naming the newer systems is told 6.2 at
      // most, as on Windows itself; either way it is past 6.1.
      {"win10", {{6, 2, 0, true}, {10, 1, 0, false}}},
  };
  for (const auto& row : rows) {
    if (std::string(expected) != row.version) continue;
    for (const auto& [major, minor, servicePack, atLeast] : row.checks)
      EXPECT_EQ(IsOsVersionAtLeast(major, minor, servicePack), atLeast != 0)
          << major << "." << minor << "." << servicePack;
    if (std::string(expected) == "win7") EXPECT_EQ(ChooseDownloadChannel(), DownloadChannel::Win7);
    return;
  }
  ADD_FAILURE() << "unknown version " << expected;
}

// The probe against Wine's real registry, one pair of planted keys a row.
TEST(ProbeTest, RealKeys) {
  const struct {
    const char* label;
    ClientKey key1, key2;
    bool registered;
  } rows[] = {
      {"both missing", kNoKey, kNoKey, false},
      {"key without pv", kNoPv, kNoKey, false},
      {"key 2 is still tried", kNoPv, Text(L"1.2.3.4"), true},
      {"empty", Text(L""), kNoKey, false},
      {"absent", Text(L"0.0.0.0"), kNoKey, false},
      {"trailing blank", Text(L"0.0.0.0 "), kNoKey, true},
      {"five parts", Text(L"0.0.0.0.1"), kNoKey, true},
      {"a version", Text(L"120.0.2210.91"), kNoKey, true},
      {"602 bytes: too large", Text(std::wstring(300, L'1')), kNoKey, false},
      {"512 bytes with the zero", Text(std::wstring(255, L'1')), kNoKey, true},
      {"512 bytes, no zero unit", {true, true, std::wstring(256, L'2'), REG_BINARY}, kNoKey, true},
      {"both absent", Text(L"0.0.0.0"), Text(L"0.0.0.0"), false},
      {"absent, then a version", Text(L"0.0.0.0"), Text(L"9"), true},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.label);
    PlantKey(HKEY_LOCAL_MACHINE, kKey1, row.key1);
    PlantKey(HKEY_CURRENT_USER, kKey2, row.key2);
    EXPECT_EQ(IsWebView2Registered(), row.registered);
  }
  PlantKey(HKEY_LOCAL_MACHINE, kKey1, kNoKey);
  PlantKey(HKEY_CURRENT_USER, kKey2, kNoKey);
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
