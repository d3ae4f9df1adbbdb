// The SOAP endpoint through the executable, run as a CGI process with a given
// environment and standard input: the exact bytes of answers, binding by
// action and path, the fixed fault, content types, and routing by method.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "xml/XMLDoc.h"

using namespace std::string_literals;

namespace {

struct TCgiResult {
  std::string Out;
  int ExitCode = -1;
};

// Runs the executable once with exactly `env`, `input` on standard input and
// `dir` as working directory.
TCgiResult RunCgi(const std::vector<std::string> &env, const std::string &input,
                  const std::string &dir) {
  int in[2], out[2];
  if (pipe(in) != 0 || pipe(out) != 0) return {};
  pid_t pid = fork();
  if (pid == 0) {
    dup2(in[0], 0);
    dup2(out[1], 1);
    close(in[1]);
    close(out[0]);
    if (chdir(dir.c_str()) != 0) _exit(127);
    std::vector<char *> envp;
    for (const std::string &e : env) envp.push_back(const_cast<char *>(e.c_str()));
    // The sanitizer settings of the test run reach the child too.
    std::string asan = "ASAN_OPTIONS="s + (getenv("ASAN_OPTIONS") ? getenv("ASAN_OPTIONS") : "");
    envp.push_back(asan.data());
    envp.push_back(nullptr);
    char *argv[] = {const_cast<char *>(VEVUDE_BINARY), nullptr};
    execve(VEVUDE_BINARY, argv, envp.data());
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  // The executable reads its whole body before it answers, so writing first
  // cannot block against a full output pipe.
  for (size_t done = 0; done < input.size();) {
    ssize_t n = write(in[1], input.data() + done, input.size() - done);
    if (n <= 0) break;
    done += size_t(n);
  }
  close(in[1]);
  TCgiResult r;
  char buf[65536];
  for (ssize_t n; (n = read(out[0], buf, sizeof buf)) > 0;) r.Out.append(buf, size_t(n));
  close(out[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  r.ExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

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

class DispatcherCgiTest : public ::testing::Test {
protected:
  // A working directory without config.ini: the relay answers no records
  // and never calls upstream.
  void SetUp() override {
    char tmpl[] = "/tmp/vevude-endpoint-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    Dir = tmpl;
  }
  void TearDown() override { std::filesystem::remove_all(Dir); }

  TCgiResult Post(const std::string &path, const std::vector<std::string> &extra,
                  const std::string &body = kCall) {
    std::vector<std::string> env = {"REQUEST_METHOD=POST", "SERVER_PROTOCOL=HTTP/1.1",
                                    "PATH_INFO=" + path,
                                    "CONTENT_LENGTH=" + std::to_string(body.size())};
    env.insert(env.end(), extra.begin(), extra.end());
    return RunCgi(env, body, Dir);
  }

  std::string Dir;
};

TEST_F(DispatcherCgiTest, BindsByActionOrPathAndAnswersExactly) {
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
    TCgiResult r = Post(c.Path, c.Env);
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
    TCgiResult r = Post("/soap", {"HTTP_SOAPACTION=" + c.Action});
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
      {"wrong method", Envelope("<Foo/>"),
       CallFault("No method named 'Foo' is supported by interface 'IDRUX'")},
      {"empty body", Envelope(""),
       CallFault("The SOAP Body selects no method of interface 'IDRUX'")},
      {"not an envelope", "<?xml version=\"1.0\"?><Envelope/>", CallFault("Invalid SOAP request")},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.Name);
    TCgiResult r = Post("/soap/IDRUX", {}, c.Body);
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
    EXPECT_EQ(Post("/soap/IDRUX", c.Env).Out, c.Expected);
  }
}

TEST_F(DispatcherCgiTest, OnlyPostReachesTheEndpoint) {
  for (const char *method : {"GET", "HEAD", "post"}) {
    SCOPED_TRACE(method);
    TCgiResult r =
        RunCgi({"REQUEST_METHOD="s + method, "SERVER_PROTOCOL=HTTP/1.1", "PATH_INFO=/soap/IDRUX",
                "CONTENT_LENGTH=" + std::to_string(kCall.size())},
               kCall, Dir);
    EXPECT_EQ(r.Out.rfind("Status: 200 OK\r\nContent-Type: text/html\r\n", 0), 0u) << r.Out;
    EXPECT_EQ(r.Out.find("SOAP-ENV"), std::string::npos) << r.Out;
  }
}

} // namespace
