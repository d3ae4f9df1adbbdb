#include <gtest/gtest.h>

#include "WebTestHost.h"
#include "web/CGIRequest.h"
#include "web/FieldExtract.h"

using namespace vv;

namespace {

std::vector<std::string> Extract(std::string_view seps, std::string_view ws, std::string_view s) {
  TStringList list;
  ExtractHTTPFields(seps, ws, s, list);
  return list.Items();
}

using Fields = std::vector<std::string>;

TEST(FieldExtract, QueryFieldQuirks) {
  const struct {
    std::string Text;
    Fields Expected;
  } cases[] = {
      {"", {}},
      {"intf=IDepot&types=1", {"intf=IDepot", "types=1"}},
      {"a=1&", {"a=1"}},                // a trailing "&" adds nothing
      {"&a=1", {"", "a=1"}},            // a leading one adds an empty entry
      {"a=1&&b=2", {"a=1", "", "b=2"}}, // so do two adjacent ones
      {"&", {""}},
      {"a=x+y%20z", {"a=x y z"}},
      {"a=%41%62%%", {"a=Ab%"}},
      {"n%3Dv=w", {"n=v=w"}},                              // decoding comes before the name split
      {"\"quoted & kept\"&b", {"quoted & kept", "", "b"}}, // a leading quote is dropped
      {"a=\"x&y\"&b", {"a=\"x&y\"", "b"}},                 // an inner quote keeps its quotes
      {"a=\"x&y\"z&b", {"a=\"x&y\"", "", "b"}},            // the character after it is skipped
      {"\"open&b", {"open&b"}},                            // an unclosed quote runs to the end
      {"a b=1", {"a b=1"}},                                // no extra white space for queries
      {"\r\na=1\r\nb=2", {"a=1", "b=2"}},    // CR and LF are white space and separators
      {std::string("a=1\0b=2", 7), {"a=1"}}, // NUL ends the text
      {"caf\xC3\xA9=1", {"caf\xC3\xA9=1"}},
  };
  for (const auto &c : cases) EXPECT_EQ(Extract("&", "", c.Text), c.Expected) << c.Text;
}

TEST(FieldExtract, CookieFields) {
  EXPECT_EQ(Extract(",;", " ", "a=1; b=2, c=3"), (Fields{"a=1", "b=2", "c=3"}));
  EXPECT_EQ(Extract(",;", " ", "  a=1;"), (Fields{"a=1"}));
}

TEST(FieldExtract, DecodingErrorsNameTheCharacterAndPosition) {
  const struct {
    std::string Field;
    std::string Message;
  } cases[] = {
      {"a=%G1", "Invalid URL encoded character (%G1) at position 3"},
      {"%1z", "Invalid URL encoded character (%1z) at position 1"},
      {"ab%4", "Error decoding URL style (%XX) encoded string at position 3"},
      {"ab%", "Error decoding URL style (%XX) encoded string at position 3"},
      // Positions count characters, not bytes.
      {"\xC3\xA9%zz", "Invalid URL encoded character (%zz) at position 2"},
      {"%\xC3\xA9x", "Invalid URL encoded character (%\xC3\xA9x) at position 1"},
      {"%FF", "No mapping for the Unicode character exists in the target multi-byte code page"},
      {"%C3%28", "No mapping for the Unicode character exists in the target multi-byte code page"},
      {"%ED%A0%80",
       "No mapping for the Unicode character exists in the target multi-byte code page"},
  };
  for (const auto &c : cases) {
    try {
      URLDecodeField(c.Field);
      ADD_FAILURE() << "no error for " << c.Field;
    } catch (const Exception &e) {
      EXPECT_EQ(e.Message, c.Message) << c.Field;
    }
  }
  EXPECT_EQ(URLDecodeField("%c3%a9"), "\xC3\xA9");
}

TEST(FieldExtract, QueryFieldsOfARequestAreKeptAfterAnError) {
  auto io = std::make_shared<vvtest::FakeIO>();
  TCGIHost host = vvtest::MakeHost({"QUERY_STRING=intf=IDepot&types=1&bad=%zz&late=1"}, io);
  TCGIRequest request(host);
  EXPECT_THROW(request.QueryFields(), EURLDecodeError);
  TStringList &fields = request.QueryFields(); // no second error
  EXPECT_EQ(fields.Items(), (Fields{"intf=IDepot", "types=1"}));
  EXPECT_EQ(fields.Values("INTF"), "IDepot");
  EXPECT_EQ(fields.Values("missing"), "");
}

TEST(FieldExtract, CookieAndContentFieldsOfARequest) {
  auto io = std::make_shared<vvtest::FakeIO>();
  io->Input = "x=1&y=%41";
  TCGIHost host = vvtest::MakeHost({"HTTP_COOKIE=s=1; t=2", "CONTENT_LENGTH=9"}, io);
  TCGIRequest request(host);
  EXPECT_EQ(request.CookieFields().Items(), (Fields{"s=1", "t=2"}));
  EXPECT_EQ(request.ContentFields().Items(), (Fields{"x=1", "y=A"}));
}

} // namespace
