#include <gtest/gtest.h>

#include "rtl/Utf8.h"

using namespace vv;

TEST(Utf8, DecodeOneSequence) {
  struct Case {
    const char *name;
    std::string bytes;
    size_t length; // 0: not UTF-8
    char32_t cp;
  };
  const Case cases[] = {
      {"ascii", "A", 1, 0x41},
      {"two bytes", "\xC3\xA9", 2, 0xE9},
      {"three bytes", "\xE2\x82\xAC", 3, 0x20AC},
      {"four bytes", "\xF0\x9F\x98\x80", 4, 0x1F600},
      {"highest", "\xF4\x8F\xBF\xBF", 4, 0x10FFFF},
      {"above U+10FFFF", "\xF4\x90\x80\x80", 0, 0},
      {"overlong", "\xC0\xAF", 0, 0},
      {"overlong three", "\xE0\x80\xAF", 0, 0},
      {"surrogate", "\xED\xA0\x80", 0, 0},
      {"stray continuation", "\x80", 0, 0},
      {"cut short", "\xE2\x82", 0, 0},
      {"bad continuation", "\xE2\x28\xA1", 0, 0},
      {"five-byte lead", "\xF8\x88\x80\x80\x80", 0, 0},
  };
  for (const Case &c : cases) {
    char32_t cp = 0;
    EXPECT_EQ(DecodeUtf8(c.bytes, 0, cp), c.length) << c.name;
    if (c.length) {
      EXPECT_EQ(cp, c.cp) << c.name;
    }
    EXPECT_EQ(ValidUtf8Sequence(c.bytes), c.length) << c.name;
  }
  EXPECT_EQ(ValidUtf8Sequence(""), 0u);
}

TEST(Utf8, EncodeAndLatin1) {
  std::string out;
  for (char32_t cp : {char32_t(0x41), char32_t(0xE9), char32_t(0x20AC), char32_t(0x1F600)})
    AppendUtf8(out, cp);
  EXPECT_EQ(out, "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
  EXPECT_EQ(Latin1ToUtf8("a\xE9\xFF\x80"), "a\xC3\xA9\xC3\xBF\xC2\x80");
}

TEST(Utf8, FromUtf16) {
  struct Case {
    const char *name;
    std::string bytes;
    bool bigEndian;
    std::string replaced; // TUtf16Errors::Replace
    TUtf16Fault fault;    // TUtf16Errors::Stop
    std::string stopped;
  };
  const std::string le("a\0\xE9\0", 4), be("\0a\0\xE9", 4);
  const Case cases[] = {
      {"little endian", le, false, "a\xC3\xA9", TUtf16Fault::None, "a\xC3\xA9"},
      {"big endian", be, true, "a\xC3\xA9", TUtf16Fault::None, "a\xC3\xA9"},
      {"pair", std::string("\x3D\xD8\x00\xDE", 4), false, "\xF0\x9F\x98\x80", TUtf16Fault::None,
       "\xF0\x9F\x98\x80"},
      {"lone high",
       std::string("a\0\x3D\xD8"
                   "b\0",
                   6),
       false,
       "a\xEF\xBF\xBD"
       "b",
       TUtf16Fault::UnpairedSurrogate, "a"},
      {"lone low",
       std::string("\x00\xDE"
                   "c\0",
                   4),
       false,
       "\xEF\xBF\xBD"
       "c",
       TUtf16Fault::UnpairedSurrogate, ""},
      {"high at the end", std::string("a\0\x3D\xD8", 4), false, "a\xEF\xBF\xBD",
       TUtf16Fault::UnpairedSurrogate, "a"},
      {"odd length", std::string("a\0b", 3), false, "a", TUtf16Fault::OddLength, "a"},
  };
  for (const Case &c : cases) {
    std::string out = "old";
    EXPECT_EQ(Utf16ToUtf8(c.bytes, c.bigEndian, TUtf16Errors::Replace, out), TUtf16Fault::None)
        << c.name;
    EXPECT_EQ(out, c.replaced) << c.name;
    EXPECT_EQ(Utf16ToUtf8(c.bytes, c.bigEndian, TUtf16Errors::Stop, out), c.fault) << c.name;
    EXPECT_EQ(out, c.stopped) << c.name;
  }
}
