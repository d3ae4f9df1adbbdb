// The relay's SOAP endpoint through the executable, run as a CGI process:
// the exact bytes of its answers, bound by action or path, and of the
// faults that name its interface. (How the endpoint binds, faults and
// routes in general is tested against the framework's test service.)
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/CGIRun.h"
#include "tests/support/EndpointAnswers.h"

using namespace vvtest;

namespace {

const std::string kUpstreamNS = VEVUDE_UPSTREAM_NAMESPACE;

const std::string kCall = RequestEnvelope("<NS1:GetFlightsOpSoap xmlns:NS1=\"urn:uDRUXIntf-IDRUX\">"
                                          "<Airport>MAD</Airport></NS1:GetFlightsOpSoap>");

// The answer of GetFlightsOpSoap when the relay has no records to give.
const std::string kEmptyAnswer =
    EmptyArrayAnswer("GetFlightsOpSoap", "urn:uDRUXIntf-IDRUX", kUpstreamNS, "FlightOp");

class RelayEndpointCgi : public ::testing::Test {
protected:
  // A working directory without config.ini: the relay answers no records
  // and never calls upstream.
  void SetUp() override {
    char tmpl[] = "/tmp/vevude-endpoint-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    Dir = tmpl;
  }
  void TearDown() override { std::filesystem::remove_all(Dir); }

  TCGIRunResult Post(const std::string &path, const std::vector<std::string> &extra,
                     const std::string &body = kCall) {
    return RunCGI(TEST_PROGRAM, WithSanitizerOptions(PostEnv(path, body.size(), extra)), body, Dir);
  }

  std::string Dir;
};

TEST_F(RelayEndpointCgi, BindsByActionOrPathAndAnswersExactly) {
  struct Case {
    const char *Path;
    std::vector<std::string> Env;
    std::string Expected;
  } cases[] = {
      {"/soap/IDRUX", {}, kEmptyAnswer},
      {"/soap/idrux", {"CONTENT_TYPE=text/xml"}, kEmptyAnswer},
      {"/SOAP/IDRUX", {}, kEmptyAnswer}, // the route ignores letter case
      {"/soap/IDRUX", {"HTTP_SOAPACTION=\"\""}, kEmptyAnswer},
      {"/soap", {"HTTP_SOAPACTION=urn:uDRUXIntf-IDRUX#GetFlightsOpSoap"}, kEmptyAnswer},
      {"/soapx/anything",
       {"HTTP_SOAPACTION=\"urn:uDRUXIntf-IDRUX#GetFlightsOpSoap\""},
       kEmptyAnswer},
      {"/soap", {"HTTP_SOAPACTION=\"urn:uDRUXIntf-IDRUX\""}, kEmptyAnswer},
      {"/soap", {"HTTP_SOAPACTION=urn:uDRUXIntf-IDRUX#whatever&more"}, kEmptyAnswer},
      {"/soap", {}, FixedFault("No interface  registered for URL '/soap'")},
      {"/soap", {"HTTP_SOAPACTION=\"\""}, FixedFault("No interface  registered for URL '/soap'")},
      // An action that binds nothing is an error even where the path binds.
      {"/soap/IDRUX",
       {"HTTP_SOAPACTION=urn:uDRUXIntf-IDRUX-not"},
       FixedFault("No interface  registered for soap action 'urn:uDRUXIntf-IDRUX-not'")},
      {"/soap",
       {"HTTP_SOAPACTION=\"urn:a&b<c]]>\""},
       FixedFault("No interface  registered for soap action '\"urn:a&amp;b&lt;c]]&gt;\"'")},
      {"/soap",
       {"HTTP_SOAPACTION=" + kUpstreamNS + "GetFlightsOp"},
       FixedFault("No invokable class registered that implements interface "
                  "uOstrel.FlightsOpSoap of (soap action/path) " +
                  kUpstreamNS + "GetFlightsOp")},
      {"/soap/FlightsOpSoap",
       {},
       FixedFault("No invokable class registered that implements interface "
                  "uOstrel.FlightsOpSoap of (soap action/path) /soap/FlightsOpSoap")},
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

TEST_F(RelayEndpointCgi, ErrorsOfTheCallAreFaultsWithStatus200) {
  struct Case {
    const char *Name;
    std::string Body, Expected;
  } cases[] = {
      {"wrong method", RequestEnvelope("<Foo/>"),
       CallFault("No method named 'Foo' is supported by interface 'IDRUX'")},
      {"empty body", RequestEnvelope(""),
       CallFault("The SOAP Body selects no method of interface 'IDRUX'")},
      {"not an envelope", "<?xml version=\"1.0\"?><Envelope/>", CallFault("Invalid SOAP request")},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.Name);
    TCGIRunResult r = Post("/soap/IDRUX", {}, c.Body);
    EXPECT_EQ(r.Out, c.Expected);
    EXPECT_EQ(r.ExitCode, 0); // also: nothing leaked (under the leak checker)
  }
}

} // namespace
