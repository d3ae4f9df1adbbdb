#include <gtest/gtest.h>

#include "rtl/Exception.h"
#include "rtl/Format.h"
#include "rtl/StrUtils.h"

using namespace vv;

TEST(Format, Placeholders) {
  struct Case {
    std::string fmt;
    std::string expected;
  };
  const Case cases[] = {
      {"Invalid URL: \"%s\"", "Invalid URL: \"x\""},
      {"%d%%", "7%"},
      {"%1:s-%0:s", "7-x"},
  };
  for (auto &c : cases) {
    if (c.fmt == "%d%%")
      EXPECT_EQ(Format(c.fmt, {7}), c.expected);
    else if (c.fmt.find("%1") != std::string::npos)
      EXPECT_EQ(Format(c.fmt, {"x", "7"}), c.expected);
    else
      EXPECT_EQ(Format(c.fmt, {"x"}), c.expected);
  }
  EXPECT_THROW(Format("%s %s", {"only one"}), EConvertError);
  EXPECT_THROW(Format("%d", {"text"}), EConvertError);
}

TEST(StrToInt, Forms) {
  struct Case {
    const char *text;
    int32_t expected;
  };
  const Case cases[] = {{"8080", 8080},
                        {"$1F90", 8080},
                        {"0x1F90", 8080},
                        {"  8080", 8080},
                        {"80a", 0},
                        {"", 0},
                        {"2147483648", 0},
                        {"2147483647", 2147483647},
                        {"-2147483648", INT32_MIN},
                        {"-1", -1},
                        {"x1f", 31},
                        {"+5", 5},
                        {"0x", 0},
                        {"5 ", 0}};
  for (auto &c : cases) EXPECT_EQ(StrToIntDef(c.text, 0), c.expected) << c.text;
}

TEST(Utf16, Counting) {
  EXPECT_EQ(Utf16Length("abc"), 3u);
  EXPECT_EQ(Utf16Length("\xC3\xA9"), 1u);         // é
  EXPECT_EQ(Utf16Length("\xF0\x9F\x98\x80"), 2u); // an emoji takes a surrogate pair
  EXPECT_EQ(Utf16Left("a\xF0\x9F\x98\x80"
                      "b",
                      2),
            "a");
  EXPECT_EQ(Utf16Left("a\xF0\x9F\x98\x80"
                      "b",
                      3),
            "a\xF0\x9F\x98\x80");
}

TEST(Exception, ClassNames) {
  try {
    throw EReadError("Stream read error");
  } catch (const Exception &e) {
    EXPECT_STREQ(e.ClassName(), "EReadError");
    EXPECT_TRUE(e.InheritsFrom("EStreamError"));
    EXPECT_TRUE(e.InheritsFrom("Exception"));
    EXPECT_FALSE(e.InheritsFrom("EListError"));
  }
}
