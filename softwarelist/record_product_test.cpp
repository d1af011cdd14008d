#include "softwarelist/record_product.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

const std::string kProductText =
    "[[software]]\r\nname = \"velnor 视频格式转换器\"\r\nproduct_id = \"9\"\r\n"
    "distributor_id = \"1\"\r\n";

std::string Ids(const SoftwareList& list) {
  std::string out;
  for (const SoftwareEntry& e : list) out += e.name + "/" + e.product_id + "/" + e.distributor_id + ";";
  return out;
}

TEST(MergeProductRecord, MatchesTheFirstExactNineOnly) {
  struct Case {
    SoftwareList before;
    std::string after;
  };
  const Case cases[] = {
      {{}, "velnor 视频格式转换器/9/1;"},
      {{{"old name", "9", "7"}, {"b", "3", "3"}}, "old name/9/1;b/3/3;"},
      {{{"a", "3", "3"}, {"b", "4", ""}}, "a/3/3;b/4/;velnor 视频格式转换器/9/1;"},
      {{{"a", "9", "5"}, {"b", "9", "6"}}, "a/9/1;b/9/6;"},
      {{{"a", "9 ", "5"}, {"b", "09", "6"}, {"c", "9 # x", ""}},
       "a/9 /5;b/09/6;c/9 # x/;velnor 视频格式转换器/9/1;"},
  };
  for (const Case& c : cases) {
    SoftwareList list = c.before;
    MergeProductRecord(list);
    EXPECT_EQ(Ids(list), c.after);
  }
}

class RecordProductInFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/record-product-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    file_ = dir_ / "config.toml";
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::string Slurp() const {
    std::ifstream in(file_, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  void Put(const std::string& bytes) const { std::ofstream(file_, std::ios::binary) << bytes; }

  std::filesystem::path dir_;
  std::filesystem::path file_;
};

TEST_F(RecordProductInFileTest, NewFileHoldsTheProductRecordAndStaysTheSame) {
  ASSERT_TRUE(RecordProductInFile(file_));
  EXPECT_EQ(Slurp(), kProductText);
  EXPECT_EQ(kProductText.size(), 93u);
  ASSERT_TRUE(RecordProductInFile(file_));
  EXPECT_EQ(Slurp(), kProductText);
}

TEST_F(RecordProductInFileTest, OtherProductsKeepTheirOrderInTheFixedForm) {
  Put("# mine\n[[software]]\nname = \"A\"\nproduct_id = 9\n\n[[software]]\nproduct_id=\"4\"\n");
  ASSERT_TRUE(RecordProductInFile(file_));
  EXPECT_EQ(Slurp(),
            "[[software]]\r\nname = \"A\"\r\nproduct_id = \"9\"\r\ndistributor_id = \"1\"\r\n"
            "[[software]]\r\nname = \"\"\r\nproduct_id = \"4\"\r\ndistributor_id = \"\"\r\n");
}

TEST_F(RecordProductInFileTest, AFileThatCannotBeReadIsLeftAlone) {
  const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::snprintf(address.sun_path, sizeof address.sun_path, "%s", file_.c_str());
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  EXPECT_FALSE(RecordProductInFile(file_));
  EXPECT_TRUE(std::filesystem::is_socket(file_));
  close(fd);
}

}  // namespace
