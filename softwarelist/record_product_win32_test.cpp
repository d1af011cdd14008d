#include "softwarelist/record_product.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

namespace {

const std::string kProductText =
    "[[software]]\r\nname = \"velnor 视频格式转换器\"\r\nproduct_id = \"9\"\r\n"
    "distributor_id = \"1\"\r\n";

std::wstring ProfileFolder() {
  wchar_t profile[MAX_PATH] = {};
  EXPECT_TRUE(SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_PROFILE, nullptr, SHGFP_TYPE_CURRENT, profile)));
  return profile;
}

std::string Slurp(const std::wstring& path) {
  std::ifstream in(std::filesystem::path(path), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void RemoveAll(const std::wstring& directory) {
  SetFileAttributesW(directory.c_str(), FILE_ATTRIBUTE_NORMAL);
  std::error_code ignored;
  std::filesystem::remove_all(std::filesystem::path(directory), ignored);
}

// The whole program also runs in a prefix whose user, and so profile
// folder, has a Chinese name (see CMakeLists.txt).
TEST(RecordProductTest, ProfileFolderOutsideAsciiWhenExpected) {
  const std::wstring profile = ProfileFolder();
  bool nonAscii = false;
  for (wchar_t ch : profile) nonAscii = nonAscii || ch > 0x7f;
  if (std::getenv("VELNOR_EXPECT_NON_ASCII_PROFILE")) {
    EXPECT_TRUE(nonAscii);
  }
}

// What the end-to-end suite does not see: the folder is hidden on every
// start (also one made visible), a list locked against reading is left as
// it is, and a failed replace leaves no temporary file beside config.toml.
TEST(RecordProductTest, Table) {
  enum class Before { Nothing, File, LockedFile, FolderAtFile };
  const struct {
    const char* label;
    Before before;
    std::string bytes;
    std::optional<std::string> after;  // nullopt: the folder at the file's place stays
  } rows[] = {
      {"first start", Before::Nothing, "", kProductText},
      {"next start, folder visible", Before::File, kProductText, kProductText},
      {"file locked against reading", Before::LockedFile, "[[software]]\nproduct_id = \"4\"\n",
       "[[software]]\nproduct_id = \"4\"\n"},
      // The new content cannot be moved in.
      {"folder where the file goes", Before::FolderAtFile, "", std::nullopt},
  };
  EXPECT_EQ(kProductText.size(), 93u);
  const std::wstring directory = ProfileFolder() + L"\\.velnor";
  const std::wstring file = directory + L"\\config.toml";
  for (const auto& row : rows) {
    SCOPED_TRACE(row.label);
    RemoveAll(directory);
    if (row.before != Before::Nothing) {
      ASSERT_TRUE(CreateDirectoryW(directory.c_str(), nullptr));
    }
    if (row.before == Before::FolderAtFile) {
      ASSERT_TRUE(CreateDirectoryW(file.c_str(), nullptr));
    }
    if (row.before == Before::File || row.before == Before::LockedFile)
      std::ofstream(std::filesystem::path(file), std::ios::binary) << row.bytes;
    // Deny reading, but allow the delete or rename that replacing the file takes.
    HANDLE lock = INVALID_HANDLE_VALUE;
    if (row.before == Before::LockedFile) {
      lock = CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
      ASSERT_NE(lock, INVALID_HANDLE_VALUE);
    }

    RecordProduct();

    if (lock != INVALID_HANDLE_VALUE) CloseHandle(lock);
    EXPECT_EQ(GetFileAttributesW(directory.c_str()),
              FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN);
    if (row.after) {
      EXPECT_EQ(Slurp(file), *row.after);
    } else {
      EXPECT_TRUE(GetFileAttributesW(file.c_str()) & FILE_ATTRIBUTE_DIRECTORY);
    }
    const auto entries = std::distance(
        std::filesystem::directory_iterator(std::filesystem::path(directory)), {});
    EXPECT_EQ(entries, 1);
  }
  RemoveAll(directory);
}

}  // namespace
