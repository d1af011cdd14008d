#include "softwarelist/software_list.h"

#include "softwarelist/record_product.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

void PrintTo(const SoftwareEntry& e, std::ostream* os) {
  *os << "{" << e.name << "|" << e.product_id << "|" << e.distributor_id << "}";
}

// The file seam as a map of path to contents; kUnreadable exists but cannot be read.
namespace {
std::map<std::string, std::string> gFiles;
const std::string kUnreadable = "unreadable.toml";
}  // namespace

FileReadResult ReadWholeFile(ListFolder, const std::string& path, std::size_t limit,
                             std::string& bytes) {
  bytes.clear();
  if (path == kUnreadable) return FileReadResult::Failed;
  if (gFiles.count(path) == 0) return FileReadResult::Missing;
  bytes = gFiles[path].substr(0, limit + 1);
  return FileReadResult::Read;
}

bool ReplaceFileContents(ListFolder, const std::string& path, const std::string& bytes) {
  gFiles[path] = bytes;
  return true;
}

namespace {

TEST(ParseSoftwareList, LineRules) {
  const struct {
    const char* text;
    SoftwareList expected;
  } rows[] = {
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
  EXPECT_EQ(FormatSoftwareList({{"", "", ""}}),
            "[[software]]\r\nname = \"\"\r\nproduct_id = \"\"\r\ndistributor_id = \"\"\r\n");

  // A list that meets the conditions reads back as itself.
  const SoftwareList list = {
      {"velnor 视频格式转换器", "9", "1"}, {"Other \\ tool  ", "12", ""}, {"", "7", "x y"}};
  EXPECT_EQ(ParseSoftwareList(FormatSoftwareList(list)), list);
}

// The first record whose product_id is exactly "9" becomes ours (its name kept);
// without one the product record is appended; other records stay as they are. A
// list that exists but cannot be read whole (an error, or longer than the bound)
// is never rewritten: that would drop its records.
TEST(RecordProductInFile, FirstExactNineOnly) {
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
  for (const auto& row : rows) {
    gFiles = {{"config.toml", FormatSoftwareList(row.before)}};
    EXPECT_TRUE(RecordProductInFile(nullptr, "config.toml"));
    EXPECT_EQ(gFiles["config.toml"], FormatSoftwareList(row.after));
  }
  const std::string full(kMaxSoftwareListBytes, '\n');
  const struct {
    std::string path, before;  // no file when empty
    bool recorded;
  } files[] = {{"new.toml", "", true},
               {kUnreadable, "x", false},
               {"full.toml", full, true},
               {"over.toml", full + "\n", false}};
  for (const auto& row : files) {
    gFiles.clear();
    if (!row.before.empty()) gFiles[row.path] = row.before;
    EXPECT_EQ(RecordProductInFile(nullptr, row.path), row.recorded) << row.path;
    // Not EXPECT_EQ: a failure would print 16 MiB.
    EXPECT_TRUE(gFiles[row.path] == (row.recorded ? FormatSoftwareList({product}) : row.before))
        << row.path;
  }
}

}  // namespace
