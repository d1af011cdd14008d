// Reads the resources compiled into velnor-installer.exe, as a data file, and
// checks what the window and the file's properties rely on.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "common/text_win32.h"

namespace {

struct ModuleCloser {
  void operator()(HMODULE m) const { FreeLibrary(m); }
};
using ModuleHolder = std::unique_ptr<std::remove_pointer_t<HMODULE>, ModuleCloser>;

// The installer's path as Wine sees it: CTest hands over the Unix path.
std::wstring InstallerPath() {
  const char* p = std::getenv("VELNOR_INSTALLER");
  if (p == nullptr) return L"";
  std::string path = p;
  if (!path.empty() && path[0] == '/') {
    path = "Z:" + path;
    for (char& c : path)
      if (c == '/') c = '\\';
  }
  std::wstring wide;
  if (!WideFromUtf8(path, wide)) return L"";
  return wide;
}

std::string ResourceBytes(HMODULE module, LPCWSTR name, LPCWSTR type) {
  HRSRC info = FindResourceW(module, name, type);
  if (info == nullptr) return "";
  HGLOBAL data = LoadResource(module, info);
  DWORD size = SizeofResource(module, info);
  const void* bytes = data ? LockResource(data) : nullptr;
  if (bytes == nullptr) return "";
  return std::string(static_cast<const char*>(bytes), size);
}

class InstallerResources : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = InstallerPath();
    ASSERT_FALSE(path_.empty()) << "VELNOR_INSTALLER is not set";
    module_.reset(LoadLibraryExW(path_.c_str(), nullptr,
                                 LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
    ASSERT_NE(module_.get(), nullptr) << "error " << GetLastError();
  }
  std::wstring path_;
  ModuleHolder module_;
};

TEST_F(InstallerResources, PicturesHaveTheirSizesAndFormats) {
  // Bitmap 102: the raw resource is a BITMAPINFOHEADER and the pixels.
  std::string bmp = ResourceBytes(module_.get(), MAKEINTRESOURCEW(102), MAKEINTRESOURCEW(2));
  ASSERT_GE(bmp.size(), sizeof(BITMAPINFOHEADER));
  BITMAPINFOHEADER header;
  std::memcpy(&header, bmp.data(), sizeof header);
  EXPECT_EQ(header.biWidth, 560);
  EXPECT_EQ(header.biHeight, 310);
  EXPECT_EQ(header.biBitCount, 24);
  EXPECT_EQ(header.biCompression, static_cast<DWORD>(BI_RGB));
  EXPECT_GE(bmp.size(), sizeof header + 310u * 1680u);

  for (int id : {201, 202}) {
    std::string png = ResourceBytes(module_.get(), MAKEINTRESOURCEW(id), L"PNG");
    ASSERT_GE(png.size(), 33u) << id;
    EXPECT_EQ(png.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8)) << id;
    // IHDR: width 480, height 8, 8 bits, RGBA.
    EXPECT_EQ(png.substr(16, 10), std::string("\0\0\x01\xe0\0\0\0\x08\x08\x06", 10)) << id;
  }

  // Icon group 101 with its one 128 x 128, 32-bit image.
  std::string group = ResourceBytes(module_.get(), MAKEINTRESOURCEW(101), MAKEINTRESOURCEW(14));
  ASSERT_EQ(group.size(), 6u + 14u);
  EXPECT_EQ(static_cast<unsigned char>(group[4]), 1u);                // one image
  EXPECT_EQ(static_cast<unsigned char>(group[6]), 128u);              // width
  EXPECT_EQ(static_cast<unsigned char>(group[7]), 128u);              // height
  EXPECT_EQ(static_cast<unsigned char>(group[6 + 6]), 32u);           // bits per pixel
}

TEST_F(InstallerResources, ManifestAsksForAdministratorAndNoDpiAwareness) {
  std::string manifest = ResourceBytes(module_.get(), MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
  ASSERT_FALSE(manifest.empty());
  EXPECT_NE(manifest.find("level=\"requireAdministrator\""), std::string::npos);
  EXPECT_EQ(manifest.find("dpiAware"), std::string::npos);
  EXPECT_NE(manifest.find("{35138b9a-5d96-4fbd-8e2d-a2440225f93a}"), std::string::npos);  // Win7
}

TEST_F(InstallerResources, VersionRecordReadsInChinese) {
  DWORD ignored = 0;
  DWORD size = GetFileVersionInfoSizeW(path_.c_str(), &ignored);
  ASSERT_GT(size, 0u);
  std::vector<unsigned char> info(size);
  ASSERT_TRUE(GetFileVersionInfoW(path_.c_str(), 0, size, info.data()));

  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(fixed->dwFileVersionMS, (1u << 16) | 3u);
  EXPECT_EQ(fixed->dwFileVersionLS, 1u << 16);
  EXPECT_EQ(fixed->dwProductVersionMS, (1u << 16) | 3u);
  EXPECT_EQ(fixed->dwProductVersionLS, 1u << 16);

  struct Translation {
    WORD language;
    WORD code_page;
  }* translation = nullptr;
  ASSERT_TRUE(VerQueryValueW(info.data(), L"\\VarFileInfo\\Translation",
                             reinterpret_cast<void**>(&translation), &length));
  ASSERT_GE(length, sizeof(Translation));
  EXPECT_EQ(translation->language, 0x804);
  EXPECT_EQ(translation->code_page, 1200);

  auto value = [&](const wchar_t* name) {
    std::wstring key = std::wstring(L"\\StringFileInfo\\080404b0\\") + name;
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
