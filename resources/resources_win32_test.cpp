// What velnor-installer.exe declares about itself and nothing at run time
// shows under Wine: the manifest's rights and DPI stance, the version record.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "common/text_win32.h"

namespace {

// CTest hands over the Unix path; Wine sees it on drive Z:.
std::wstring InstallerPath() {
  const char* p = std::getenv("VELNOR_INSTALLER");
  std::string path = p != nullptr ? std::string("Z:") + p : "";
  for (char& c : path)
    if (c == '/') c = '\\';
  std::wstring wide;
  return WideFromUtf8(path, wide) ? wide : L"";
}

TEST(InstallerResources, ManifestAsksForAdministratorAndNoDpiAwareness) {
  const std::wstring path = InstallerPath();
  HMODULE module = LoadLibraryExW(path.c_str(), nullptr,
                                  LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  ASSERT_NE(module, nullptr) << "error " << GetLastError();
  HRSRC info = FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
  ASSERT_NE(info, nullptr);
  const std::string manifest(static_cast<const char*>(LockResource(LoadResource(module, info))),
                             SizeofResource(module, info));
  EXPECT_NE(manifest.find("level=\"requireAdministrator\""), std::string::npos);
  EXPECT_EQ(manifest.find("dpiAware"), std::string::npos);
  EXPECT_NE(manifest.find("{35138b9a-5d96-4fbd-8e2d-a2440225f93a}"), std::string::npos);  // Win7
  FreeLibrary(module);
}

TEST(InstallerResources, VersionRecordIsChineseWithVersion131) {
  const std::wstring path = InstallerPath();
  DWORD ignored = 0;
  std::vector<unsigned char> info(GetFileVersionInfoSizeW(path.c_str(), &ignored));
  ASSERT_FALSE(info.empty());
  ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, static_cast<DWORD>(info.size()), info.data()));
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(fixed->dwFileVersionMS, (1u << 16) | 3u);
  EXPECT_EQ(fixed->dwFileVersionLS, 1u << 16);
  EXPECT_EQ(fixed->dwProductVersionMS, (1u << 16) | 3u);
  EXPECT_EQ(fixed->dwProductVersionLS, 1u << 16);
  struct Translation {
    WORD language;
    WORD codePage;
  }* translation = nullptr;
  ASSERT_TRUE(VerQueryValueW(info.data(), L"\\VarFileInfo\\Translation",
                             reinterpret_cast<void**>(&translation), &length));
  ASSERT_GE(length, sizeof(Translation));
  EXPECT_EQ(translation->language, 0x804);
  EXPECT_EQ(translation->codePage, 1200);
  auto value = [&](const wchar_t* name) {
    const std::wstring key = std::wstring(L"\\StringFileInfo\\080404b0\\") + name;
    wchar_t* text = nullptr;
    UINT chars = 0;
    if (!VerQueryValueW(info.data(), key.c_str(), reinterpret_cast<void**>(&text), &chars) ||
        text == nullptr)
      return std::wstring(L"<missing>");
    return std::wstring(text);
  };
  EXPECT_EQ(value(L"ProductName"), L"velnor \u89c6\u9891\u683c\u5f0f\u8f6c\u6362\u5668");
  EXPECT_EQ(value(L"FileVersion"), L"1.3.1");
  EXPECT_EQ(value(L"ProductVersion"), L"1.3.1");
}

}  // namespace
