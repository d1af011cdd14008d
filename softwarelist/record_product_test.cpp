#include "softwarelist/record_product.h"

#include <gtest/gtest.h>

namespace {

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

}  // namespace
