#include <gtest/gtest.h>

#include "WebTestHost.h"
#include "rtl/Stream.h"
#include "web/CGIRequest.h"
#include "web/CGIResponse.h"
#include "web/HTTPDate.h"

using namespace vv;

namespace {

struct ResponseFixture {
  explicit ResponseFixture(std::vector<std::string> env = {"SERVER_PROTOCOL=HTTP/1.1"})
      : IO(std::make_shared<vvtest::FakeIO>()), Host(vvtest::MakeHost(std::move(env), IO)),
        Request(Host), Response(&Request) {}
  std::shared_ptr<vvtest::FakeIO> IO;
  TCGIHost Host;
  TCGIRequest Request;
  TCGIResponse Response;
};

TEST(CGIResponse, HeaderBlocks) {
  const struct {
    const char *Name;
    std::function<void(TCGIResponse &)> Fill;
    std::string Expected;
  } cases[] = {
      {"untouched", [](TCGIResponse &) {},
       "Status: 200 OK\r\nContent-Type: text/html\r\nContent:\r\n\r\n"},
      {"content", [](TCGIResponse &r) { r.SetContent("caf\xC3\xA9"); },
       "Status: 200 OK\r\nContent-Type: text/html\r\nContent-Length: 5\r\nContent:\r\n\r\n"
       "caf\xC3\xA9"},
      {"every header in order",
       [](TCGIResponse &r) {
         r.SetContentType("text/xml");
         r.SetContentEncoding("gzip");
         r.SetContentVersion("1");
         r.CustomHeaders().Add("X-One=1");
         r.CustomHeaders().Add("X-Two=a=b");
         r.SetWWWAuthenticate("Basic");
         r.SetRealm("relay");
         r.SetTitle("T");
         r.SetLastModified(EncodeDateTime(2025, 12, 9, 14, 3, 5));
         r.SetExpires(EncodeDateTime(2000, 1, 1, 0, 0, 0));
         r.SetDerivedFrom("d");
         r.Cookies().push_back("s=1");
         r.SetAllow("GET, POST");
         r.SetLocation("http://h/x");
         r.SetStatusCode(404);
         r.SetContent("x");
       },
       "Status: 404 Not Found\r\nLocation: http://h/x\r\nAllow: GET, POST\r\nSet-Cookie: s=1\r\n"
       "Derived-From: d\r\nExpires: Sat, 01 Jan 2000 00:00:00 GMT\r\n"
       "Last-Modified: Tue, 09 Dec 2025 14:03:05 GMT\r\nTitle: T\r\n"
       "WWW-Authenticate: Basic Realm=relay\r\nX-One: 1\r\nX-Two: a=b\r\nContent-Version: 1\r\n"
       "Content-Encoding: gzip\r\nContent-Type: text/xml\r\nContent-Length: 1\r\nContent:\r\n\r\n"
       "x"},
      {"authenticate without realm", [](TCGIResponse &r) { r.SetWWWAuthenticate("Basic"); },
       "Status: 200 OK\r\nWWW-Authenticate: Basic\r\nContent-Type: text/html\r\nContent:\r\n\r\n"},
      {"status 0", [](TCGIResponse &r) { r.SetStatusCode(0); },
       "Status: 200 OK\r\nContent-Type: text/html\r\nContent:\r\n\r\n"},
      {"negative status", [](TCGIResponse &r) { r.SetStatusCode(-5); },
       "Status: 200 OK\r\nContent-Type: text/html\r\nContent:\r\n\r\n"},
      {"unknown status", [](TCGIResponse &r) { r.SetStatusCode(299); },
       "Status: 299 \r\nContent-Type: text/html\r\nContent:\r\n\r\n"},
      {"no content type", [](TCGIResponse &r) { r.SetContentType(""); },
       "Status: 200 OK\r\nContent:\r\n\r\n"},
      {"stream after content",
       [](TCGIResponse &r) {
         r.SetContent("ignored");
         r.SetContentStream(new TMemoryStream("<x/>"));
       },
       "Status: 200 OK\r\nContent-Type: text/html\r\nContent-Length: 4\r\nContent:\r\n\r\n<x/>"},
      {"dates at or below 0 are not written",
       [](TCGIResponse &r) {
         r.SetExpires(0);
         r.SetLastModified(-1);
       },
       "Status: 200 OK\r\nContent-Type: text/html\r\nContent:\r\n\r\n"},
  };
  for (const auto &c : cases) {
    ResponseFixture f;
    c.Fill(f.Response);
    f.Response.SendResponse();
    EXPECT_EQ(f.IO->Output, c.Expected) << c.Name;
    EXPECT_TRUE(f.Response.Sent());
  }
}

TEST(CGIResponse, WithoutProtocolOnlyTheBodyIsWritten) {
  ResponseFixture f(std::vector<std::string>{});
  EXPECT_EQ(f.Response.Version(), "1.0");
  f.Response.SetContent("body");
  f.Response.SendResponse();
  EXPECT_EQ(f.IO->Output, "body");
}

TEST(CGIResponse, Defaults) {
  ResponseFixture f;
  EXPECT_EQ(f.Response.StatusCode(), 200);
  EXPECT_EQ(f.Response.ReasonString(), "OK");
  EXPECT_EQ(f.Response.Version(), "");
  EXPECT_EQ(f.Response.ContentType(), "text/html");
  EXPECT_EQ(f.Response.Expires(), -1);
  EXPECT_EQ(f.Response.GetDateField(7), -1);
  EXPECT_FALSE(f.Response.Sent());
  f.Response.SetLogMessage("x");
  EXPECT_EQ(f.Response.LogMessage(), "");
}

TEST(CGIResponse, ReasonPhrases) {
  const struct {
    int Code;
    const char *Phrase;
  } cases[] = {{100, "Continue"},
               {203, "Non-Authoritative Information"},
               {302, "Moved Temporarily"},
               {406, "None Acceptable"},
               {412, "Unless True"},
               {500, "Internal Server Error"},
               {504, "Gateway Timeout"},
               {413, ""},
               {0, ""}};
  for (const auto &c : cases) EXPECT_EQ(StatusReasonPhrase(c.Code), c.Phrase) << c.Code;
}

TEST(CGIResponse, SettingTheSameStatusKeepsTheReason) {
  ResponseFixture f;
  f.Response.SetReasonString("Fine");
  f.Response.SetStatusCode(200);
  EXPECT_EQ(f.Response.ReasonString(), "Fine");
  f.Response.SetStatusCode(500);
  EXPECT_EQ(f.Response.ReasonString(), "Internal Server Error");
}

TEST(CGIResponse, ContentStreamOwnership) {
  ResponseFixture f;
  f.Response.SetContent("abc");
  auto *stream = new TMemoryStream("12345");
  f.Response.SetContentStream(stream);
  EXPECT_EQ(f.Response.ContentLength(), 5);
  f.Response.SetContentStream(nullptr); // frees it; length falls back to the content
  EXPECT_EQ(f.Response.ContentLength(), 3);

  TMemoryStream kept("kept");
  f.Response.SetFreeContentStream(false);
  f.Response.SetContentStream(&kept);
  f.Response.SendResponse();
  EXPECT_EQ(f.Response.ContentStream(), nullptr);
  EXPECT_EQ(kept.Data(), "kept");
}

TEST(CGIResponse, SendStreamCopiesFromThePosition) {
  for (size_t size : {size_t(10), size_t(65536), size_t(65537), size_t(3 * 1048576 + 7)}) {
    ResponseFixture f;
    std::string data(size, 'x');
    data[size - 1] = 'z';
    TMemoryStream stream(data);
    stream.SetPosition(3);
    f.Response.SendStream(stream);
    EXPECT_EQ(f.IO->Output, data.substr(3)) << size;
  }
}

TEST(CGIResponse, SendRedirect) {
  ResponseFixture f;
  f.Response.SendRedirect("http://h/a?b=\"c\"");
  const std::string &out = f.IO->Output;
  EXPECT_EQ(out.rfind("Status: 302 Moved Temporarily\r\nLocation: http://h/a?b=\"c\"\r\n"
                      "Content-Type: text/html\r\nContent-Length: ",
                      0),
            0u)
      << out;
  EXPECT_NE(out.find("<title>Document Moved 302</title>"), std::string::npos);
  EXPECT_NE(out.find("href=\"http://h/a?b=&quot;c&quot;\""), std::string::npos);
}

TEST(HTTPDate, Formats) {
  const struct {
    TDateTime Value;
    const char *Expected;
  } cases[] = {
      {EncodeDateTime(2025, 12, 9, 14, 3, 5), "Tue, 09 Dec 2025 14:03:05 GMT"},
      {EncodeDateTime(1899, 12, 30, 0, 0, 0), "Sat, 30 Dec 1899 00:00:00 GMT"},
      {EncodeDateTime(2000, 2, 29, 23, 59, 59), "Tue, 29 Feb 2000 23:59:59 GMT"},
      {EncodeDateTime(1970, 1, 1, 12, 0, 0), "Thu, 01 Jan 1970 12:00:00 GMT"},
      {EncodeDateTime(2024, 7, 14, 8, 5, 9), "Sun, 14 Jul 2024 08:05:09 GMT"},
      // Fractions of a second are cut, after the value is taken to the
      // millisecond.
      {EncodeDateTime(2025, 12, 9, 14, 3, 5) + 0.7 / 86400, "Tue, 09 Dec 2025 14:03:05 GMT"},
      {EncodeDateTime(2025, 12, 9, 23, 59, 59) + 0.9994 / 86400, "Tue, 09 Dec 2025 23:59:59 GMT"},
      {EncodeDateTime(2025, 12, 9, 23, 59, 59) + 0.9996 / 86400, "Wed, 10 Dec 2025 00:00:00 GMT"},
  };
  for (const auto &c : cases) EXPECT_EQ(DateTimeToHTTPDate(c.Value), c.Expected);
}

TEST(HTTPDate, Parses) {
  TDateTime expected = EncodeDateTime(1994, 11, 6, 8, 49, 37);
  EXPECT_DOUBLE_EQ(HTTPDateToDateTime("Sun, 06 Nov 1994 08:49:37 GMT"), expected);
  EXPECT_DOUBLE_EQ(HTTPDateToDateTime("Sunday, 06-Nov-94 08:49:37 GMT"), expected);
  EXPECT_DOUBLE_EQ(HTTPDateToDateTime("Sun Nov  6 08:49:37 1994"), expected);
  EXPECT_EQ(HTTPDateToDateTime("yesterday"), -1);
}

} // namespace
