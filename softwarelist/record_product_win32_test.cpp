#include "softwarelist/record_product.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
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

class RecordProductTest : public ::testing::Test {
 protected:
  void SetUp() override {
    directory_ = ProfileFolder() + L"\\.velnor";
    file_ = directory_ + L"\\config.toml";
    SetFileAttributesW(directory_.c_str(), FILE_ATTRIBUTE_NORMAL);
    std::error_code ignored;
    std::filesystem::remove_all(std::filesystem::path(directory_), ignored);
  }
  void TearDown() override { SetUp(); }

  void Put(const std::string& bytes) {
    CreateDirectoryW(directory_.c_str(), nullptr);
    std::ofstream(std::filesystem::path(file_), std::ios::binary) << bytes;
  }

  std::wstring directory_;
  std::wstring file_;
};

TEST_F(RecordProductTest, CreatesTheHiddenFolderAndTheProductRecord) {
  RecordProduct();
  EXPECT_EQ(GetFileAttributesW(directory_.c_str()), FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN);
  EXPECT_EQ(Slurp(file_), kProductText);
  EXPECT_EQ(Slurp(file_).size(), 93u);

  // The second start changes nothing, and re-hides a folder made visible.
  SetFileAttributesW(directory_.c_str(), FILE_ATTRIBUTE_NORMAL);
  RecordProduct();
  EXPECT_EQ(GetFileAttributesW(directory_.c_str()), FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN);
  EXPECT_EQ(Slurp(file_), kProductText);
}

TEST_F(RecordProductTest, KeepsOtherProductsInOrder) {
  Put("[[software]]\nname = \"Other\"\nproduct_id = \"4\"\ndistributor_id = \"2\"\n"
      "# note\n[[software]]\nname = \"Old\"\nproduct_id = 9\ndistributor_id = \"3\"\n");
  RecordProduct();
  EXPECT_EQ(Slurp(file_),
            "[[software]]\r\nname = \"Other\"\r\nproduct_id = \"4\"\r\ndistributor_id = \"2\"\r\n"
            "[[software]]\r\nname = \"Old\"\r\nproduct_id = \"9\"\r\ndistributor_id = \"1\"\r\n");
}

TEST_F(RecordProductTest, AFileLockedAgainstReadingIsLeftUntouched) {
  const std::string before = "[[software]]\nproduct_id = \"4\"\n";
  Put(before);
  // Deny reading, but allow the delete or rename that replacing the file takes.
  HANDLE lock = CreateFileW(file_.c_str(), GENERIC_READ, FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(lock, INVALID_HANDLE_VALUE);
  RecordProduct();
  CloseHandle(lock);
  EXPECT_EQ(Slurp(file_), before);
}

TEST_F(RecordProductTest, AFailedReplaceKeepsTheOldFileAndLeavesNoTemporary) {
  // A folder standing where the file goes: the new content cannot be moved in.
  CreateDirectoryW(directory_.c_str(), nullptr);
  ASSERT_TRUE(CreateDirectoryW(file_.c_str(), nullptr));
  RecordProduct();
  EXPECT_TRUE(GetFileAttributesW(file_.c_str()) & FILE_ATTRIBUTE_DIRECTORY);
  std::size_t entries = 0;
  for (auto& entry : std::filesystem::directory_iterator(std::filesystem::path(directory_))) {
    (void)entry;
    ++entries;
  }
  EXPECT_EQ(entries, 1u);
}

// Run in a prefix whose user name is Chinese (see CMakeLists.txt).
TEST_F(RecordProductTest, ProfilePathOutsideAscii) {
  const std::wstring profile = ProfileFolder();
  bool nonAscii = false;
  for (wchar_t ch : profile) nonAscii = nonAscii || ch > 0x7f;
  if (!nonAscii) {
    ASSERT_EQ(std::getenv("VELNOR_EXPECT_NON_ASCII_PROFILE"), nullptr) << "profile is ASCII";
    GTEST_SKIP() << "profile folder is ASCII in this prefix";
  }
  RecordProduct();
  EXPECT_EQ(GetFileAttributesW(directory_.c_str()), FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN);
  EXPECT_EQ(Slurp(file_), kProductText);
}

}  // namespace
