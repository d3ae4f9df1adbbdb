#include <gtest/gtest.h>

#include "WebTestHost.h"
#include <unistd.h>

#include "rtl/Exception.h"
#include "web/CGIRequest.h"
#include "web/FieldExtract.h"
#include "web/WebLimits.h"

using namespace vv;
using vvtest::FakeIO;
using vvtest::MakeHost;

namespace {

struct RequestFixture {
  explicit RequestFixture(std::vector<std::string> env, std::string input = "")
      : IO(std::make_shared<FakeIO>()) {
    IO->Input = std::move(input);
    Host = MakeHost(std::move(env), IO);
    Request = std::make_unique<TCGIRequest>(Host);
  }
  std::shared_ptr<FakeIO> IO;
  TCGIHost Host;
  std::unique_ptr<TCGIRequest> Request;
};

struct LookupCase {
  std::vector<std::string> Env;
  std::string Name;
  std::string Expected;
};

TEST(CGIRequest, GetFieldByNameFallsBackAndIgnoresCase) {
  const LookupCase cases[] = {
      // The server upper-cases header names; callers ask in mixed case.
      {{"HTTP_SOAPACTION=\"urn:x#Op\""}, "SOAPAction", "\"urn:x#Op\""},
      {{"HTTP_SOAPACTION=a"}, "HTTP_SOAPACTION", "a"},
      {{"soapaction=direct"}, "SOAPAction", "direct"},
      // Empty counts as missing, so the fallback is tried.
      {{"SOAPAction=", "HTTP_SOAPACTION=b"}, "SOAPAction", "b"},
      // "HTTP_" names fall back to the name without the prefix.
      {{"CONTENT_TYPE=text/xml"}, "HTTP_CONTENT_TYPE", "text/xml"},
      {{"HTTP_CONTENT_TYPE=a/b", "CONTENT_TYPE=text/xml"}, "HTTP_CONTENT_TYPE", "a/b"},
      // The prefix test is exact: "http_" is not stripped but prefixed.
      {{"CONTENT_TYPE=text/xml"}, "http_CONTENT_TYPE", ""},
      // No other rewriting: hyphens stay hyphens.
      {{"HTTP_X_TOKEN=t"}, "X-Token", ""},
      {{"HTTP_X-TOKEN=t"}, "X-Token", "t"},
      // An exact match wins over a case-insensitive one.
      {{"Path_Info=/lower", "PATH_INFO=/exact"}, "PATH_INFO", "/exact"},
      {{}, "REQUEST_METHOD", ""},
      {{"NOEQUALS"}, "NOEQUALS", ""},
      {{"A==b"}, "A", "=b"},
  };
  for (const auto &c : cases) {
    RequestFixture f(c.Env);
    EXPECT_EQ(f.Request->GetFieldByName(c.Name), c.Expected) << c.Name;
  }
}

TEST(CGIRequest, FieldTableReadsTheStandardVariables) {
  RequestFixture f({"REQUEST_METHOD=POST", "SERVER_PROTOCOL=HTTP/1.1", "QUERY_STRING=a=1",
                    "PATH_INFO=/soap/IDX", "SCRIPT_NAME=/VEVUDE", "SERVER_PORT=8080",
                    "HTTP_HOST=localhost:8080", "CONTENT_TYPE=text/xml", "CONTENT_LENGTH=0",
                    "REMOTE_ADDR=127.0.0.1", "HTTP_USER_AGENT=ua", "HTTP_COOKIE=c=1"});
  TCGIRequest &r = *f.Request;
  EXPECT_EQ(r.Method(), "POST");
  EXPECT_EQ(r.ProtocolVersion(), "HTTP/1.1");
  EXPECT_EQ(r.Query(), "a=1");
  EXPECT_EQ(r.PathInfo(), "/soap/IDX");
  EXPECT_EQ(r.InternalPathInfo(), "/soap/IDX");
  EXPECT_EQ(r.RawPathInfo(), "/soap/IDX");
  EXPECT_EQ(r.ScriptName(), "/VEVUDE");
  EXPECT_EQ(r.InternalScriptName(), "/VEVUDE");
  EXPECT_EQ(r.ServerPort(), 8080);
  EXPECT_EQ(r.Host(), "localhost:8080");
  EXPECT_EQ(r.ContentType(), "text/xml");
  EXPECT_EQ(r.ContentLength(), 0);
  EXPECT_EQ(r.RemoteAddr(), "127.0.0.1");
  EXPECT_EQ(r.RemoteIP(), "");
  EXPECT_EQ(r.UserAgent(), "ua");
  EXPECT_EQ(r.Cookie(), "c=1");
  EXPECT_EQ(r.Date(), -1);
  EXPECT_EQ(r.GetStringField(99), "");
}

TEST(CGIRequest, IntegerFields) {
  const struct {
    std::vector<std::string> Env;
    int64_t Expected;
  } cases[] = {
      {{"CONTENT_LENGTH=42"}, 42},
      {{"HTTP_CONTENT_LENGTH=7", "CONTENT_LENGTH=42"}, 7},
      {{}, -1},
      {{"CONTENT_LENGTH="}, -1},
      {{"CONTENT_LENGTH=12abc"}, -1},
      {{"CONTENT_LENGTH=5000000000"}, 5000000000},
      {{"CONTENT_LENGTH=99999999999999999999"}, -1},
  };
  for (const auto &c : cases) {
    RequestFixture f(c.Env);
    EXPECT_EQ(f.Request->ContentLength(), c.Expected) << (c.Env.empty() ? "" : c.Env[0]);
  }
}

TEST(CGIRequest, MethodTypeIsExactAndCaseSensitive) {
  const struct {
    std::vector<std::string> Env;
    TMethodType Expected;
  } cases[] = {
      {{"REQUEST_METHOD=GET"}, mtGet},
      {{"REQUEST_METHOD=PUT"}, mtPut},
      {{"REQUEST_METHOD=POST"}, mtPost},
      {{"REQUEST_METHOD=HEAD"}, mtHead},
      {{"REQUEST_METHOD=DELETE"}, mtDelete},
      {{"REQUEST_METHOD=PATCH"}, mtPatch},
      {{"REQUEST_METHOD=post"}, mtAny},
      {{"REQUEST_METHOD=OPTIONS"}, mtAny},
      {{"REQUEST_METHOD=POST "}, mtAny},
      {{}, mtAny},
      // An empty REQUEST_METHOD falls back to HTTP_REQUEST_METHOD.
      {{"REQUEST_METHOD=", "HTTP_REQUEST_METHOD=PUT"}, mtPut},
  };
  for (const auto &c : cases) {
    RequestFixture f(c.Env);
    EXPECT_EQ(f.Request->MethodType(), c.Expected) << (c.Env.empty() ? "" : c.Env[0]);
  }
  EXPECT_EQ(int(mtAny), 0);
  EXPECT_EQ(int(mtPatch), 6);
}

TEST(CGIRequest, BodyIsBoundedByContentLength) {
  const struct {
    const char *Length;
    std::string Input;
    int64_t MaxRead;
    std::string Expected;
  } cases[] = {
      {"5", "hello world", 0, "hello"},
      {"11", "hello world", 3, "hello world"}, // the rest arrives in several reads
      {"10", "abcd", 0, std::string("abcd\0\0\0\0\0\0", 10)},
      {"0", "ignored", 0, ""},
      {"-3", "ignored", 0, ""},
      {"", "ignored", 0, ""},
  };
  for (const auto &c : cases) {
    RequestFixture f({std::string("CONTENT_LENGTH=") + c.Length}, c.Input);
    f.IO->MaxRead = c.MaxRead;
    if (f.Request->ContentLength() > 0) f.Request->ReadString(-1);
    EXPECT_EQ(f.Request->RawContent(), c.Expected) << c.Length;
    EXPECT_EQ(f.Request->RawContent(), c.Expected) << "second read of " << c.Length;
    if (f.Request->ContentLength() <= 0) {
      EXPECT_EQ(f.IO->Reads, 0) << c.Length;
    }
  }
}

TEST(CGIRequest, FirstReadIsOneCallAndTheRestFollowsOnUse) {
  RequestFixture f({"CONTENT_LENGTH=6"}, "abcdef");
  f.IO->MaxRead = 4;
  f.Request->ReadString(-1);
  EXPECT_EQ(f.IO->Reads, 1);
  EXPECT_EQ(f.Request->RawContent(), "abcdef");
  EXPECT_EQ(f.IO->Reads, 2);
}

TEST(CGIRequest, OversizedBodyIsNeitherAllocatedNorRead) {
  RequestFixture f({"CONTENT_LENGTH=" + std::to_string(kMaxContentLength + 1)}, "abc");
  f.Request->ReadString(-1);
  EXPECT_THROW(f.Request->RawContent(), Exception);
  EXPECT_EQ(f.IO->Reads, 0);
}

TEST(CGIRequest, ReadStringWithACountReadsOneBlock) {
  RequestFixture f({"CONTENT_LENGTH=3"}, "xyz");
  EXPECT_EQ(f.Request->ReadString(2), "xy");
  EXPECT_EQ(f.Request->ReadString(0), "");
}

TEST(CGIRequest, ContentDecodesByCharset) {
  const struct {
    const char *Type;
    std::string Body;
    std::string Expected;
  } cases[] = {
      {"text/plain; charset=utf-8", "caf\xC3\xA9", "caf\xC3\xA9"},
      {"text/plain; charset=ISO-8859-1", "caf\xE9", "caf\xC3\xA9"},
      {"text/plain; charset=us-ascii", "caf\xE9", "caf?"},
      {"text/plain", "caf\xC3\xA9", "caf\xC3\xA9"},
      {"text/plain", "bad\xFF", "bad\xEF\xBF\xBD"},
  };
  for (const auto &c : cases) {
    RequestFixture f(
        {std::string("CONTENT_TYPE=") + c.Type, "CONTENT_LENGTH=" + std::to_string(c.Body.size())},
        c.Body);
    EXPECT_EQ(f.Request->Content(), c.Expected) << c.Type;
  }
}

TEST(CGIRequest, TranslateURI) {
  RequestFixture f({"PATH_TRANSLATED=/srv/www/wsdl/X", "PATH_INFO=/wsdl/X"});
  EXPECT_EQ(f.Request->TranslateURI("/a.css"), "/srv/www/a.css");
  RequestFixture g({"PATH_TRANSLATED=/srv/www/other", "PATH_INFO=/wsdl/X"});
  EXPECT_EQ(g.Request->TranslateURI("/a.css"), "/a.css");
}

TEST(CGIRequest, WriteHeadersWritesOneBlockWithoutControlCharacters) {
  RequestFixture f({});
  EXPECT_TRUE(f.Request->WriteHeaders(200, "200 OK\r\nSet-Cookie: x=1", "A: b\r\n\r\n"));
  EXPECT_EQ(f.IO->Output, "Status: 200 OK  Set-Cookie: x=1\r\nA: b\r\n\r\n");
  EXPECT_EQ(f.IO->Writes, 1);
  EXPECT_FALSE(f.Request->WriteString(""));
}

} // namespace

namespace {

TEST(CGIHost, FileDescriptorsAndProcessEnvironment) {
  int in[2], out[2];
  ASSERT_EQ(pipe(in), 0);
  ASSERT_EQ(pipe(out), 0);
  ASSERT_EQ(write(in[1], "abcdef", 6), 6);
  close(in[1]);
  TCGIHost host = TCGIHost::FromFds(TCGIEnvironment({"CONTENT_LENGTH=4"}), in[0], out[1]);
  TCGIRequest request(host);
  request.ReadString(-1);
  EXPECT_EQ(request.RawContent(), "abcd");
  EXPECT_TRUE(request.WriteString("out"));
  close(out[1]);
  char buf[16] = {};
  EXPECT_EQ(read(out[0], buf, sizeof buf), 3);
  EXPECT_STREQ(buf, "out");
  close(in[0]);
  close(out[0]);

  setenv("VEVUDE_TEST_VAR", "v1", 1);
  EXPECT_EQ(TCGIEnvironment::FromProcess().Lookup("vevude_test_var"), "v1");
  unsetenv("VEVUDE_TEST_VAR");
}

} // namespace
