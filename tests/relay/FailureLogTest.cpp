// The relay's failure line: the password is masked in every form a message
// may carry it, before anything else changes the text, and the line stays
// one line.
#include <gtest/gtest.h>

#include <new>

#include "relay/FailureLog.h"
#include "rtl/Base64.h"
#include "rtl/Exception.h"
#include "rtl/StrUtils.h"

using namespace vv;

namespace {

// A message with the password in the middle of other text.
std::string Around(const std::string &inner) {
  return "Unauthorized (401) - fault said [" + inner + "] for user relay";
}

std::string Lf(std::string s) { return StringReplace(StringReplace(s, "\r\n", "\n"), "\r", "\n"); }
std::string Blanks(std::string s) {
  for (char &c : s)
    if (c == '\r' || c == '\n' || c == '\t') c = ' ';
  return s;
}
std::string XmlText(const std::string &s) {
  return StringReplace(StringReplace(StringReplace(s, "&", "&amp;"), "<", "&lt;"), ">", "&gt;");
}

} // namespace

TEST(FailureLog, EveryFormOfThePasswordIsMasked) {
  const std::string passwords[] = {
      "ab\rcd-secret",     // CR, as in the fault found
      "ab\ncd-secret",     // LF
      "ab\r\ncd-secret",   // CR LF
      "tab\tsecret",       // TAB
      "  blanks inside  ", // blanks, leading and trailing
      "qu\"ote's<&>",      // quotes and XML specials
      "\xC3\xB1"
      "and\xC3\xBA-\xE5\xAF\x86\xE7\xA0\x81", // non-ASCII
  };
  for (const std::string &pw : passwords) {
    // The password as a message may carry it: as written, as an XML parser
    // reads it back in text and in attributes, escaped for XML, for a URL,
    // with backslashes, and inside Basic credentials.
    std::string percent;
    for (unsigned char c : pw) {
      static const char *hex = "0123456789ABCDEF";
      if (isalnum(c)) {
        percent += char(c);
      } else {
        percent += '%';
        percent += hex[c >> 4];
        percent += hex[c & 15];
      }
    }
    const std::string carried[] = {
        pw,
        Lf(pw),
        Blanks(pw),
        XmlText(pw),
        percent,
        Base64Encode("relay:" + pw),
        StringReplace(StringReplace(pw, "\r", "\\r"), "\n", "\\n"),
    };
    for (const std::string &form : carried) {
      SCOPED_TRACE(::testing::PrintToString(pw) + " carried as " + ::testing::PrintToString(form));
      Exception e(Around(form));
      std::string line = FailureLine(e, "http://h/svc", "relay", pw);
      EXPECT_EQ(line.rfind("VEVUDE relay: Exception: Unauthorized (401) - fault said [", 0), 0u)
          << line;
      EXPECT_NE(line.find("] for user relay (upstream http://h/svc)\n"), std::string::npos) << line;
      EXPECT_NE(line.find(PasswordMask), std::string::npos) << line;
      EXPECT_EQ(std::count(line.begin(), line.end(), '\n'), 1) << line;
      // Neither the password nor any line of it remains, in any spelling.
      for (const std::string &leak : {pw, Lf(pw), Blanks(pw), Trim(pw)}) {
        EXPECT_EQ(line.find(leak), std::string::npos) << line;
        EXPECT_EQ(line.find(Blanks(leak)), std::string::npos) << line;
      }
      for (const std::string &part : {std::string("cd-secret"), std::string("secret")}) {
        if (pw.find(part) != std::string::npos) {
          EXPECT_EQ(line.find(part), std::string::npos);
        }
      }
    }
  }
}

TEST(FailureLog, MaskingLeavesOtherTextAlone) {
  struct {
    const char *Text, *Password, *Expected;
  } cases[] = {
      {"no secret here", "pw", "no secret here"},
      {"pwpw and pw", "pw", "******** and ********"},
      {"empty password changes nothing", "", "empty password changes nothing"},
      {"a=ab\ncd b=ab c=cd", "ab\ncd", "a=******** b=******** c=********"},
  };
  for (auto &c : cases) EXPECT_EQ(MaskPassword(c.Text, "u", c.Password), c.Expected) << c.Text;
}

TEST(FailureLog, OneBoundedLineWithoutUserInformation) {
  Exception e("first\r\nsecond\x1b[31m " + std::string(10000, 'x'));
  std::string line = FailureLine(e, "http://who:pw@h:1/svc", "who", "other");
  EXPECT_EQ(std::count(line.begin(), line.end(), '\n'), 1);
  EXPECT_EQ(line.find('\x1b'), std::string::npos);
  EXPECT_NE(line.find("first  second [31m xxx"), std::string::npos) << line.substr(0, 80);
  EXPECT_LT(line.size(), MaxFailureMessage + 100);
  EXPECT_NE(line.find("(upstream http://***@h:1/svc)"), std::string::npos) << line;
}

TEST(FailureLog, OutOfMemoryIsAFailureLikeAnyOther) {
  std::bad_alloc e;
  EXPECT_EQ(FailureLine(e, "http://h/", "u", "s3cret"),
            "VEVUDE relay: EOutOfMemory: Out of memory (upstream http://h/)\n");
}
