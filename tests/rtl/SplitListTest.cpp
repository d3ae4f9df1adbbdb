#include <gtest/gtest.h>

#include "rtl/StrUtils.h"

using namespace vv;

TEST(SplitList, Items) {
  struct Case {
    const char *name;
    std::string list;
    std::string separators;
    std::vector<std::string> items;
  };
  const Case cases[] = {
      {"empty", "", ";,", {}},
      {"one", "Result", ";,", {"Result"}},
      {"either separator", "a;b,c", ";,", {"a", "b", "c"}},
      {"empty items left out", ";a;;b;", ";", {"a", "b"}},
      {"only separators", ";,;", ";,", {}},
      {"blanks kept", " a ; b", ";", {" a ", " b"}},
      {"separator written first", "|urn:a|urn:b", "|", {"urn:a", "urn:b"}},
  };
  for (const Case &c : cases) EXPECT_EQ(SplitList(c.list, c.separators), c.items) << c.name;
}
