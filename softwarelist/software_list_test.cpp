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

TEST(ParseSoftwareList, EmptyAndKeylessInputsGiveNoRecords) {
  EXPECT_TRUE(ParseSoftwareList("").empty());
  EXPECT_TRUE(ParseSoftwareList("[[software]]\n").empty());
  EXPECT_TRUE(ParseSoftwareList("[[software]]\nname = \"a\"\ndistributor_id = \"1\"\n"
                                "[[software]]\nproduct_id = \"\"\n")
                  .empty());
}

TEST(ParseSoftwareList, LineRules) {
  struct Case {
    const char* text;
    SoftwareList expected;
  };
  const Case cases[] = {
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
      // Other tables are ignored lines; their keys keep filling the record.
      {"[[software]]\nproduct_id = 1\n[other]\nname = n", {{"n", "1", ""}}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ParseSoftwareList(c.text), c.expected) << c.text;
  }
}

TEST(ParseSoftwareList, CrLfReadsLikeLf) {
  const std::string lf = "[[software]]\nname = \"a \"\nproduct_id = \"1\"\n[[software]]\nproduct_id = 2";
  std::string crlf;
  for (char ch : lf) {
    if (ch == '\n') crlf += '\r';
    crlf += ch;
  }
  EXPECT_EQ(ParseSoftwareList(crlf), ParseSoftwareList(lf));
  EXPECT_EQ(ParseSoftwareList(crlf)[0].name, "a ");
}

TEST(FormatSoftwareList, FixedFourLineForm) {
  EXPECT_EQ(FormatSoftwareList({}), "");
  EXPECT_EQ(FormatSoftwareList({{"", "", ""}}),
            "[[software]]\r\nname = \"\"\r\nproduct_id = \"\"\r\ndistributor_id = \"\"\r\n");
  EXPECT_TRUE(ParseSoftwareList(FormatSoftwareList({{"", "", ""}})).empty());
}

TEST(FormatSoftwareList, RoundTripsListsThatMeetTheConditions) {
  const SoftwareList list = {{"velnor 视频格式转换器", "9", "1"},
                             {"Other \\ tool  ", "12", ""},
                             {"", "7", "x y"}};
  const std::string first = FormatSoftwareList(list);
  EXPECT_EQ(ParseSoftwareList(first), list);
  EXPECT_EQ(FormatSoftwareList(ParseSoftwareList(first)), first);
}

TEST(FormatSoftwareList, RewritingAnyFileGivesTheFixedForm) {
  const std::string messy =
      "# comment\n[[software]]\nproduct_id=3\n  name = 'x'\nextra = 1\n\n[[software]]\nname = lost\n";
  const std::string fixed = FormatSoftwareList(ParseSoftwareList(messy));
  EXPECT_EQ(fixed, "[[software]]\r\nname = \"'x'\"\r\nproduct_id = \"3\"\r\ndistributor_id = \"\"\r\n");
  EXPECT_EQ(FormatSoftwareList(ParseSoftwareList(fixed)), fixed);
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

  // A socket node exists but cannot be opened as a file.
  static int BindSocketAt(const std::filesystem::path& path) {
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
    EXPECT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    return fd;
  }

  std::filesystem::path dir_;
};

TEST_F(SoftwareListFileTest, MissingAndEmptyFilesReadAsEmpty) {
  SoftwareList list = {{"stale", "1", ""}};
  EXPECT_EQ(ReadSoftwareListFile(dir_ / "none.toml", list), ListReadResult::Missing);
  EXPECT_TRUE(list.empty());
  Put(dir_ / "empty.toml", "");
  EXPECT_EQ(ReadSoftwareListFile(dir_ / "empty.toml", list), ListReadResult::Read);
  EXPECT_TRUE(list.empty());
}

TEST_F(SoftwareListFileTest, SomethingThatCannotBeReadIsUnreadable) {
  SoftwareList list;
  EXPECT_EQ(ReadSoftwareListFile(dir_, list), ListReadResult::Unreadable);
  const int socket = BindSocketAt(dir_ / "config.toml");
  EXPECT_EQ(ReadSoftwareListFile(dir_ / "config.toml", list), ListReadResult::Unreadable);
  EXPECT_TRUE(ReadSoftwareList(dir_ / "config.toml").empty());
  close(socket);
}

TEST_F(SoftwareListFileTest, WriteReplacesTheFileWithTheFixedFormOnly) {
  const std::filesystem::path path = dir_ / "config.toml";
  Put(path, "a much longer old content that must not survive in any byte\n");
  ASSERT_TRUE(WriteSoftwareList(path, {{"n", "1", "2"}}));
  EXPECT_EQ(Slurp(path), FormatSoftwareList({{"n", "1", "2"}}));
  EXPECT_EQ(FileCount(), 1u);

  ASSERT_TRUE(WriteSoftwareList(path, {}));
  EXPECT_EQ(std::filesystem::file_size(path), 0u);
}

TEST_F(SoftwareListFileTest, FailedWriteLeavesTheOldStateAndNoTemporaryFile) {
  // The target is a directory: the final move fails after the content was written.
  const std::filesystem::path target = dir_ / "config.toml";
  std::filesystem::create_directory(target);
  Put(target / "inside", "keep");
  EXPECT_FALSE(WriteSoftwareList(target, {{"n", "1", "2"}}));
  EXPECT_EQ(Slurp(target / "inside"), "keep");
  EXPECT_EQ(FileCount(), 1u);

  // No such folder: nothing is created anywhere.
  EXPECT_FALSE(WriteSoftwareList(dir_ / "absent" / "config.toml", {{"n", "1", "2"}}));
  EXPECT_EQ(FileCount(), 1u);
}

// Recording the product end to end on real files.

const std::string kProductText =
    "[[software]]\r\nname = \"velnor 视频格式转换器\"\r\nproduct_id = \"9\"\r\n"
    "distributor_id = \"1\"\r\n";

TEST_F(SoftwareListFileTest, RecordingCreatesTheProductRecordOnceInTheFixedForm) {
  const std::filesystem::path file = dir_ / "config.toml";
  ASSERT_TRUE(RecordProductInFile(file));
  EXPECT_EQ(Slurp(file), kProductText);
  EXPECT_EQ(kProductText.size(), 93u);
  ASSERT_TRUE(RecordProductInFile(file));
  EXPECT_EQ(Slurp(file), kProductText);

  Put(file, "# mine\n[[software]]\nname = \"A\"\nproduct_id = 9\n\n[[software]]\nproduct_id=\"4\"\n");
  ASSERT_TRUE(RecordProductInFile(file));
  EXPECT_EQ(Slurp(file),
            "[[software]]\r\nname = \"A\"\r\nproduct_id = \"9\"\r\ndistributor_id = \"1\"\r\n"
            "[[software]]\r\nname = \"\"\r\nproduct_id = \"4\"\r\ndistributor_id = \"\"\r\n");
}

TEST_F(SoftwareListFileTest, RecordingLeavesAFileThatCannotBeReadAlone) {
  const int socket = BindSocketAt(dir_ / "config.toml");
  EXPECT_FALSE(RecordProductInFile(dir_ / "config.toml"));
  EXPECT_TRUE(std::filesystem::is_socket(dir_ / "config.toml"));
  close(socket);
}

}  // namespace
