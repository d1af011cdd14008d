#include "softwarelist/software_list.h"

#include "softwarelist/record_product.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

void PrintTo(const SoftwareEntry& e, std::ostream* os) {
  *os << "{" << e.name << "|" << e.product_id << "|" << e.distributor_id << "}";
}

namespace {

TEST(ParseSoftwareList, LineRules) {
  const struct {
    const char* text;
    SoftwareList expected;
  } rows[] = {
      {"", {}},
      {"[[software]]\n", {}},
      // Records without a product_id are dropped.
      {"[[software]]\nname = \"a\"\ndistributor_id = \"1\"\n[[software]]\nproduct_id = \"\"\n", {}},
      // Keys without a header fill the first record.
      {"product_id = \"9\"\nname = \"x\"", {{"x", "9", ""}}},
      // A header inside a comment or after other text still separates records.
      {"product_id = 1\n# old [[software]] entry\nproduct_id = 2\nfoo [[software]]\nproduct_id = 3\n",
       {{"", "1", ""}, {"", "2", ""}, {"", "3", ""}}},
      // Leading blanks and every quote go; trailing blanks and comments stay.
      {"product_id = \t \" \t7  \" # c", {{"", "7   # c", ""}}},
      // No '=' keeps the old value; several '=' keep all after the first.
      {"product_id = 5\nproduct_id\nname = a=b=c", {{"a=b=c", "5", ""}}},
      // Only blanks and quotes read as empty.
      {"product_id = 4\nname = \" \t\"\"", {{"", "4", ""}}},
      // "name" anywhere makes a name line, before product_id is tested.
      {"product_id = 4\nusername = bob\nproduct_id_name = 8", {{"8", "4", ""}}},
      // A comment with "name" and no '=' changes nothing.
      {"product_id = 4\nname = a\n# the name of it", {{"a", "4", ""}}},
      // distributor_id whose value holds "product_id" sets product_id.
      {"product_id = 4\ndistributor_id = product_id", {{"", "product_id", ""}}},
      // Later values win; keys in any order; single quotes are kept.
      {"distributor_id = 1\nproduct_id = 2\nproduct_id = '3'", {{"", "'3'", "1"}}},
      // A backslash is a plain byte; a lone CR stays; CR LF is a line end.
      {"product_id = a\\\"b\r\nname = c\rd\r\n", {{"c\rd", "a\\b", ""}}},
      {"[[software]]\r\nname = \"a \"\r\nproduct_id = \"1\"\r\n[[software]]\r\nproduct_id = 2",
       {{"a ", "1", ""}, {"", "2", ""}}},
      // Other tables are ignored lines; their keys keep filling the record.
      {"[[software]]\nproduct_id = 1\n[other]\nname = n", {{"n", "1", ""}}},
      // Blanks around keys and '=' are optional; other keys are ignored.
      {"[[software]]\nproduct_id=3\n  name = 'x'\nextra = 1\n", {{"'x'", "3", ""}}},
  };
  for (const auto& row : rows) EXPECT_EQ(ParseSoftwareList(row.text), row.expected) << row.text;
}

TEST(FormatSoftwareList, FixedFourLineFormThatReadsBack) {
  EXPECT_EQ(FormatSoftwareList({}), "");
  EXPECT_EQ(FormatSoftwareList({{"", "", ""}}),
            "[[software]]\r\nname = \"\"\r\nproduct_id = \"\"\r\ndistributor_id = \"\"\r\n");

  // A list that meets the conditions reads back as itself.
  const SoftwareList list = {
      {"velnor 视频格式转换器", "9", "1"}, {"Other \\ tool  ", "12", ""}, {"", "7", "x y"}};
  EXPECT_EQ(ParseSoftwareList(FormatSoftwareList(list)), list);
}

// The first record whose product_id is exactly "9" becomes ours (its name
// kept); without one the product record is appended. Others stay as they are.
TEST(MergeProductRecord, FirstExactNineOnly) {
  const SoftwareEntry product = ProductRecord();
  const struct {
    SoftwareList before, after;
  } rows[] = {
      {{}, {product}},
      {{{"old name", "9", "7"}, {"b", "3", "3"}}, {{"old name", "9", "1"}, {"b", "3", "3"}}},
      {{{"a", "3", "3"}, {"b", "4", ""}}, {{"a", "3", "3"}, {"b", "4", ""}, product}},
      {{{"a", "9", "5"}, {"b", "9", "6"}}, {{"a", "9", "1"}, {"b", "9", "6"}}},
      {{{"a", "9 ", "5"}, {"b", "09", "6"}, {"c", "9 # x", ""}},
       {{"a", "9 ", "5"}, {"b", "09", "6"}, {"c", "9 # x", ""}, product}},
  };
  EXPECT_EQ(product, (SoftwareEntry{"velnor 视频格式转换器", "9", "1"}));
  for (const auto& row : rows) {
    SoftwareList list = row.before;
    MergeProductRecord(list);
    EXPECT_EQ(list, row.after);
  }
}

class SoftwareListFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/softwarelist-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  static std::string Slurp(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  static void Put(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
  }
  std::size_t FileCount() const {
    return std::distance(std::filesystem::directory_iterator(dir_), {});
  }

  std::filesystem::path dir_;
};

TEST_F(SoftwareListFileTest, MissingEmptyAndUnreadableFiles) {
  SoftwareList list = {{"stale", "1", ""}};
  EXPECT_EQ(ReadSoftwareListFile(dir_ / "none.toml", list), FileReadResult::Missing);
  EXPECT_TRUE(list.empty());
  Put(dir_ / "empty.toml", "");
  EXPECT_EQ(ReadSoftwareListFile(dir_ / "empty.toml", list), FileReadResult::Read);
  EXPECT_TRUE(list.empty());
  EXPECT_EQ(ReadSoftwareListFile(dir_, list), FileReadResult::Failed);

  // A socket node exists but cannot be opened as a file; recording the
  // product leaves it alone.
  const std::filesystem::path socketPath = dir_ / "config.toml";
  const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::snprintf(address.sun_path, sizeof address.sun_path, "%s", socketPath.c_str());
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  EXPECT_EQ(ReadSoftwareListFile(socketPath, list), FileReadResult::Failed);
  EXPECT_TRUE(list.empty());
  EXPECT_FALSE(RecordProductInFile(socketPath));
  EXPECT_TRUE(std::filesystem::is_socket(socketPath));
  close(fd);
}

// The new file is moved in whole; a failed write leaves the old state and no
// temporary file.
TEST_F(SoftwareListFileTest, WriteReplacesInOneStep) {
  const std::filesystem::path path = dir_ / "config.toml";
  const std::string old = "a much longer old content that must not survive in any byte\n";
  Put(path, old);
  // A second name of the old file keeps its bytes: the file was replaced, not
  // rewritten in place.
  std::filesystem::create_hard_link(path, dir_ / "old.toml");
  ASSERT_TRUE(WriteSoftwareList(path, {{"n", "1", "2"}}));
  EXPECT_EQ(Slurp(path), FormatSoftwareList({{"n", "1", "2"}}));
  EXPECT_EQ(Slurp(dir_ / "old.toml"), old);
  std::filesystem::remove(dir_ / "old.toml");
  ASSERT_TRUE(WriteSoftwareList(path, {}));
  EXPECT_EQ(std::filesystem::file_size(path), 0u);
  EXPECT_EQ(FileCount(), 1u);

  // The target is a directory: the final move fails after the content was written.
  const std::filesystem::path folder = dir_ / "folder.toml";
  std::filesystem::create_directory(folder);
  Put(folder / "inside", "keep");
  EXPECT_FALSE(WriteSoftwareList(folder, {{"n", "1", "2"}}));
  EXPECT_EQ(Slurp(folder / "inside"), "keep");
  // No such folder: nothing is created anywhere.
  EXPECT_FALSE(WriteSoftwareList(dir_ / "absent" / "config.toml", {{"n", "1", "2"}}));
  EXPECT_EQ(FileCount(), 2u);
}

}  // namespace
