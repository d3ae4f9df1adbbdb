// Reading a response's raw status line and header block.
#include <gtest/gtest.h>

#include "soap/client/HTTPHeaderBlock.h"

using namespace vv;

namespace {

TEST(HTTPHeaderBlock, LinesNamesAndValues) {
  struct {
    const char *Name;
    std::string Raw;
    TNetHeaders Headers;
    std::vector<std::string> Cookies;
  } cases[] = {
      {"CR LF lines",
       "HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nX:  a b  \r\n\r\n",
       {{"Content-Type", "text/xml"}, {"X", "a b"}},
       {}},
      {"LF alone ends a line too", "HTTP/1.0 200 OK\nA: 1\nB: 2\n\n", {{"A", "1"}, {"B", "2"}}, {}},
      {"a CR within a line is a blank", "A: 1\rB: 2\r\n", {{"A", "1 B: 2"}}, {}},
      {"repeated names join, cookies stand apart",
       "Warning: one\r\nSet-Cookie: a=1\r\nwarning: two\r\nset-cookie: b=2\r\n",
       {{"Warning", "one, two"}},
       {"a=1", "b=2"}},
      {"status, request lines and lines without a colon are skipped",
       "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 302 Found\r\nGET /x: y\r\nno colon\r\nL: /z\r\n",
       {{"L", "/z"}},
       {}},
  };
  for (auto &c : cases) {
    TNetHeaders headers;
    std::vector<std::string> cookies;
    ParseHeaderBlock(c.Raw, headers, cookies);
    ASSERT_EQ(headers.size(), c.Headers.size()) << c.Name;
    for (size_t i = 0; i < headers.size(); ++i) {
      EXPECT_EQ(headers[i].Name, c.Headers[i].Name) << c.Name;
      EXPECT_EQ(headers[i].Value, c.Headers[i].Value) << c.Name;
    }
    EXPECT_EQ(cookies, c.Cookies) << c.Name;
  }
}

TEST(HTTPHeaderBlock, StatusLines) {
  struct {
    const char *Line;
    int32_t Code;
    const char *Text;
    THTTPProtocolVersion Version;
  } cases[] = {
      {"HTTP/1.1 404 Not Found", 404, "Not Found", THTTPProtocolVersion::HTTP_1_1},
      {"HTTP/2 200", 200, "", THTTPProtocolVersion::HTTP_2_0},
      {"HTTP/1.0 2000 Odd", 200, "0 Odd", THTTPProtocolVersion::HTTP_1_0},
      {"garbage", 0, "", THTTPProtocolVersion::UNKNOWN_HTTP},
  };
  for (auto &c : cases) {
    int32_t code = -1;
    std::string text = "x";
    THTTPProtocolVersion version;
    ParseStatusLine(c.Line, code, text, version);
    EXPECT_EQ(code, c.Code) << c.Line;
    EXPECT_EQ(text, c.Text) << c.Line;
    EXPECT_EQ(version, c.Version) << c.Line;
  }
}

// A request's method must be a token: anything else could change the
// request line.
TEST(HTTPHeaderBlock, Tokens) {
  struct {
    const char *Text;
    bool Expected;
  } cases[] = {
      {"POST", true},      {"M-SEARCH", true},     {"", false},     {"GET /", false},
      {"PO\r\nST", false}, {"GET\t", false},       {"A(B)", false}, {"x\"y", false},
      {"\x7f", false},     {"caf\xc3\xa9", false},
  };
  for (auto &c : cases) EXPECT_EQ(IsHTTPToken(c.Text), c.Expected) << c.Text;
}

} // namespace
