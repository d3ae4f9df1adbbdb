// Cookies kept between the passes of one execution: which ones are taken,
// and which requests they go with.
#include <gtest/gtest.h>

#include "soap/client/ClientLimits.h"
#include "soap/client/CookieManager.h"

using namespace vv;

namespace {

TEST(HTTPCookieTest, TakesOnlyWhatTheAnsweringHostMaySet) {
  TCookieManager m;
  TURI from("http://api.example.org/svc/op");
  m.AddServerCookie("plain=1", from);
  m.AddServerCookie("wide=2; Domain=.example.org; Path=/", from);
  m.AddServerCookie("foreign=3; Domain=evil.example", from);
  m.AddServerCookie("secure=4; Path=/; Secure", from);
  m.AddServerCookie("novalue", from);
  struct {
    const char *URL, *Expected;
  } cases[] = {
      {"http://api.example.org/svc/next", "plain=1; wide=2"},
      {"http://api.example.org/other", "wide=2"},
      {"https://api.example.org/svc/x", "plain=1; wide=2; secure=4"},
      {"http://www.example.org/", "wide=2"},
      {"http://evil.example/", ""},
      {"http://notexample.org/", ""},
  };
  for (auto &c : cases) EXPECT_EQ(m.CookieHeaders(TURI(c.URL)), c.Expected) << c.URL;
}

TEST(HTTPCookieTest, ReplacesRemovesAndStaysBounded) {
  TCookieManager m;
  TURI from("http://h/");
  m.AddServerCookie("a=1", from);
  m.AddServerCookie("a=2", from);
  EXPECT_EQ(m.CookieHeaders(from), "a=2");
  m.AddServerCookie("a=gone; Max-Age=0", from);
  EXPECT_EQ(m.CookieHeaders(from), "");
  for (int i = 0; i < 1000; ++i) m.AddServerCookie("c" + std::to_string(i) + "=v", from);
  EXPECT_EQ(m.Cookies().size(), kMaxCookies);
  m.Clear();
  m.AddServerCookie("big=" + std::string(kMaxCookieSize, 'x'), from);
  EXPECT_TRUE(m.Cookies().empty());
}

} // namespace
