#include <gtest/gtest.h>

#include <string>

#include "rtl/Base64.h"

using namespace vv;

// Every padding case, NUL and bytes above 127, and a Basic credential.
TEST(Base64, Encode) {
  struct Case {
    const char *name;
    std::string bytes;
    const char *expected;
  };
  const Case cases[] = {
      {"empty", "", ""},
      {"one byte, two pads", "f", "Zg=="},
      {"two bytes, one pad", "fo", "Zm8="},
      {"three bytes, no pad", "foo", "Zm9v"},
      {"four bytes", "foob", "Zm9vYg=="},
      {"five bytes", "fooba", "Zm9vYmE="},
      {"six bytes", "foobar", "Zm9vYmFy"},
      {"NUL bytes", std::string("\0\0\0\0", 4), "AAAAAA=="},
      {"high bytes use + and /", "\xfb\xff\xbf", "+/+/"},
      {"all ones", "\xff\xff\xff\xff", "/////w=="},
      {"a Basic credential", "relay:p\xc3\xa4ss:w", "cmVsYXk6cMOkc3M6dw=="},
  };
  for (const Case &c : cases) EXPECT_EQ(Base64Encode(c.bytes), c.expected) << c.name;
}
