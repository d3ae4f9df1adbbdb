// The SOAP endpoint through a service program, run as a CGI process with a given
// environment and standard input: the exact bytes of answers, binding by
// action and path, the fixed fault, content types, and routing by method.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/CGIRun.h"
#include "tests/support/EndpointAnswers.h"
#include "tests/support/TestContract.h"
#include "xml/XMLDoc.h"

using namespace std::string_literals;
using namespace vvtest;

namespace {

// Runs the test service once with `env` (and the sanitizer settings),
// `input` on standard input and `dir` as working directory.
TCGIRunResult RunCgi(const std::vector<std::string> &env, const std::string &input,
                     const std::string &dir) {
  return RunCGI(TEST_PROGRAM, WithSanitizerOptions(env), input, dir);
}

const std::string kCall = RequestEnvelope("<NS1:GetParcelsSoap xmlns:NS1=\"urn:uDepotIntf-IDepot\">"
                                          "<Depot>MAD</Depot></NS1:GetParcelsSoap>");

// The answer of GetParcelsSoap: the test depot has no parcels.
const std::string kEmptyAnswer =
    EmptyArrayAnswer("GetParcelsSoap", "urn:uDepotIntf-IDepot", kParcelNS, "Parcel");

class DispatcherCgiTest : public ::testing::Test {
protected:
  // A working directory of its own.
  void SetUp() override {
    char tmpl[] = "/tmp/vevude-endpoint-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    Dir = tmpl;
  }
  void TearDown() override { std::filesystem::remove_all(Dir); }

  TCGIRunResult Post(const std::string &path, const std::vector<std::string> &extra,
                     const std::string &body = kCall) {
    return RunCgi(PostEnv(path, body.size(), extra), body, Dir);
  }

  std::string Dir;
};

TEST_F(DispatcherCgiTest, BindsByActionOrPathAndAnswersExactly) {
  struct Case {
    const char *Path;
    std::vector<std::string> Env;
    std::string Expected;
  } cases[] = {
      {"/soap/IDepot", {}, kEmptyAnswer},
      {"/soap/idepot", {"CONTENT_TYPE=text/xml"}, kEmptyAnswer},
      {"/SOAP/IDepot", {}, kEmptyAnswer}, // the route ignores letter case
      {"/soap/IDepot", {"HTTP_SOAPACTION=\"\""}, kEmptyAnswer},
      {"/soap", {"HTTP_SOAPACTION=urn:uDepotIntf-IDepot#GetParcelsSoap"}, kEmptyAnswer},
      {"/soapx/anything",
       {"HTTP_SOAPACTION=\"urn:uDepotIntf-IDepot#GetParcelsSoap\""},
       kEmptyAnswer},
      {"/soap", {"HTTP_SOAPACTION=\"urn:uDepotIntf-IDepot\""}, kEmptyAnswer},
      {"/soap", {"HTTP_SOAPACTION=urn:uDepotIntf-IDepot#whatever&more"}, kEmptyAnswer},
      {"/soap", {}, FixedFault("No interface  registered for URL '/soap'")},
      {"/soap", {"HTTP_SOAPACTION=\"\""}, FixedFault("No interface  registered for URL '/soap'")},
      // An action that binds nothing is an error even where the path binds.
      {"/soap/IDepot",
       {"HTTP_SOAPACTION=urn:uDepotIntf-IDepot-not"},
       FixedFault("No interface  registered for soap action 'urn:uDepotIntf-IDepot-not'")},
      {"/soap",
       {"HTTP_SOAPACTION=\"urn:a&b<c]]>\""},
       FixedFault("No interface  registered for soap action '\"urn:a&amp;b&lt;c]]&gt;\"'")},
      {"/soap",
       {"HTTP_SOAPACTION="s + kParcelNS + "GetParcels"},
       FixedFault("No invokable class registered that implements interface "
                  "uParcels.ParcelsSoap of (soap action/path) "s +
                  kParcelNS + "GetParcels")},
      {"/soap/ParcelsSoap",
       {},
       FixedFault("No invokable class registered that implements interface "
                  "uParcels.ParcelsSoap of (soap action/path) /soap/ParcelsSoap")},
  };
  for (const Case &c : cases) {
    std::string trace = c.Path;
    for (const std::string &e : c.Env) trace += " " + e;
    SCOPED_TRACE(trace);
    TCGIRunResult r = Post(c.Path, c.Env);
    EXPECT_EQ(r.Out, c.Expected);
    EXPECT_EQ(r.ExitCode, 0);
  }
}

// The fixed fault quotes the SOAPAction as received: whatever bytes it
// holds, the fault is well-formed XML.
TEST_F(DispatcherCgiTest, FixedFaultIsWellFormedWhateverTheActionHolds) {
  const std::string R = "\xEF\xBF\xBD"; // U+FFFD
  struct Case {
    const char *Name;
    std::string Action, Quoted;
  } cases[] = {
      {"control characters",
       "urn:a\x01\x1F"
       "b\tc",
       "urn:a" + R + R + "b\tc"},
      {"invalid UTF-8", "urn:\xFF\xC3(\xE2\x82", "urn:" + R + R + "(" + R + R},
      {"U+FFFF", "urn:\xEF\xBF\xBF", "urn:" + R},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.Name);
    TCGIRunResult r = Post("/soap", {"HTTP_SOAPACTION=" + c.Action});
    EXPECT_EQ(r.Out, FixedFault("No interface  registered for soap action '" + c.Quoted + "'"));
    EXPECT_EQ(r.ExitCode, 0);
    auto doc = vv::NewXMLDocument();
    EXPECT_NO_THROW(doc->LoadFromXML(r.Out.substr(r.Out.find("\r\n\r\n") + 4)));
  }
}

TEST_F(DispatcherCgiTest, ErrorsOfTheCallAreFaultsWithStatus200) {
  struct Case {
    const char *Name;
    std::string Body, Expected;
  } cases[] = {
      {"wrong method", RequestEnvelope("<Foo/>"),
       CallFault("No method named 'Foo' is supported by interface 'IDepot'")},
      {"empty body", RequestEnvelope(""),
       CallFault("The SOAP Body selects no method of interface 'IDepot'")},
      {"not an envelope", "<?xml version=\"1.0\"?><Envelope/>", CallFault("Invalid SOAP request")},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.Name);
    TCGIRunResult r = Post("/soap/IDepot", {}, c.Body);
    EXPECT_EQ(r.Out, c.Expected);
    EXPECT_EQ(r.ExitCode, 0); // also: nothing leaked (under the leak checker)
  }
}

// Only a content type that names a multipart message is one; an empty or
// missing type, or a mere prefix of the multipart one, is a plain message.
TEST_F(DispatcherCgiTest, OnlyARealMultipartContentTypeIsRefused) {
  const std::string refused =
      FixedFault("Multipart SOAP messages with attachments are not supported");
  struct Case {
    std::vector<std::string> Env;
    const std::string &Expected;
  } cases[] = {
      {{}, kEmptyAnswer},
      {{"CONTENT_TYPE="}, kEmptyAnswer},
      {{"CONTENT_TYPE=multipart/"}, kEmptyAnswer},
      {{"CONTENT_TYPE=text/xml; charset=utf-8"}, kEmptyAnswer},
      {{"CONTENT_TYPE=multipart/related; boundary=xyz"}, refused},
      {{"CONTENT_TYPE=Multipart/Related; type=\"text/xml\""}, refused},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.Env.empty() ? "(none)" : c.Env[0]);
    EXPECT_EQ(Post("/soap/IDepot", c.Env).Out, c.Expected);
  }
}

TEST_F(DispatcherCgiTest, OnlyPostReachesTheEndpoint) {
  for (const char *method : {"GET", "HEAD", "post"}) {
    SCOPED_TRACE(method);
    TCGIRunResult r =
        RunCgi({"REQUEST_METHOD="s + method, "SERVER_PROTOCOL=HTTP/1.1", "PATH_INFO=/soap/IDepot",
                "CONTENT_LENGTH=" + std::to_string(kCall.size())},
               kCall, Dir);
    EXPECT_EQ(r.Out.rfind("Status: 200 OK\r\nContent-Type: text/html; charset=utf-8\r\n", 0), 0u)
        << r.Out;
    EXPECT_EQ(r.Out.find("SOAP-ENV"), std::string::npos) << r.Out;
  }
}

} // namespace
