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

using vvtest::RunCGI;
using vvtest::TCGIRunResult;

namespace {

const std::string kEnvNS = "http://schemas.xmlsoap.org/soap/envelope/";
const std::string kUpstreamNS = VEVUDE_UPSTREAM_NAMESPACE;

std::string Envelope(const std::string &body) {
  return "<?xml version=\"1.0\"?><SOAP-ENV:Envelope xmlns:SOAP-ENV=\"" + kEnvNS +
         "\"><SOAP-ENV:Body>" + body + "</SOAP-ENV:Body></SOAP-ENV:Envelope>";
}

const std::string kCall = Envelope("<NS1:GetFlightsOpSoap xmlns:NS1=\"urn:uDRUXIntf-IDRUX\">"
                                   "<Airport>MAD</Airport></NS1:GetFlightsOpSoap>");

std::string Http(const std::string &status, const std::string &body) {
  return "Status: " + status +
         "\r\nContent-Type: text/xml\r\nContent-Length: " + std::to_string(body.size()) +
         "\r\nContent:\r\n\r\n" + body;
}

const std::string kDecls = "xmlns:SOAP-ENV=\"" + kEnvNS +
                           "\" xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\" "
                           "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
                           "xmlns:SOAP-ENC=\"http://schemas.xmlsoap.org/soap/encoding/\"";

// The answer of GetFlightsOpSoap when the relay has no records to give.
const std::string kEmptyAnswer =
    Http("200 OK",
         "<?xml version=\"1.0\"?>\r\n<SOAP-ENV:Envelope " + kDecls +
             "><SOAP-ENV:Body SOAP-ENV:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\" "
             "xmlns:NS1=\"urn:uDRUXIntf-IDRUX\" xmlns:NS2=\"" +
             kUpstreamNS +
             "\"><NS1:GetFlightsOpSoapResponse><return xsi:type=\"SOAP-ENC:Array\" "
             "SOAP-ENC:arrayType=\"NS2:FlightOp[0]\"/></NS1:GetFlightsOpSoapResponse></"
             "SOAP-ENV:Body></SOAP-ENV:Envelope>");

// A fault written by the converter: status 200 like any answer.
std::string CallFault(const std::string &message) {
  return Http("200 OK", "<?xml version=\"1.0\"?>\r\n<SOAP-ENV:Envelope " + kDecls +
                            "><SOAP-ENV:Body><SOAP-ENV:Fault><faultcode>SOAP-ENV:Server</"
                            "faultcode><faultstring>" +
                            message +
                            "</faultstring><faultactor/></SOAP-ENV:Fault></SOAP-ENV:Body></"
                            "SOAP-ENV:Envelope>");
}

// The dispatcher's own fault for errors before the call: status 500.
std::string FixedFault(const std::string &escapedMessage) {
  return Http(
      "500 Internal Server Error",
      "<?xml version=\"1.0\" encoding='UTF-8'?> <SOAP-ENV:Envelope xmlns:SOAP-ENV=\"" + kEnvNS +
          "\" ><SOAP-ENV:Body> <SOAP-ENV:Fault> <faultcode>SOAP-ENV:Server</"
          "faultcode><faultstring>" +
          escapedMessage + "</faultstring></SOAP-ENV:Fault></SOAP-ENV:Body></SOAP-ENV:Envelope>");
}

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
    std::vector<std::string> env = {"REQUEST_METHOD=POST", "SERVER_PROTOCOL=HTTP/1.1",
                                    "PATH_INFO=" + path,
                                    "CONTENT_LENGTH=" + std::to_string(body.size())};
    env.insert(env.end(), extra.begin(), extra.end());
    return RunCGI(TEST_PROGRAM, vvtest::WithSanitizerOptions(env), body, Dir);
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
      {"wrong method", Envelope("<Foo/>"),
       CallFault("No method named 'Foo' is supported by interface 'IDRUX'")},
      {"empty body", Envelope(""),
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
