// The publisher as the web server runs it: the program started as a CGI
// process from a private folder, with or without a port file beside it.
#include <gtest/gtest.h>

#include "tests/support/PublishTestSupport.h"
#include "xml/XMLDoc.h"

using namespace vvtest;

namespace {

// The ports of the WSDL, as name and location pairs in document order.
std::vector<std::pair<std::string, std::string>> Ports(const std::string &wsdl) {
  std::vector<std::pair<std::string, std::string>> ports;
  for (size_t p = wsdl.find("<port name=\""); p != std::string::npos;
       p = wsdl.find("<port name=\"", p + 1)) {
    size_t nameEnd = wsdl.find('"', p + 12);
    size_t loc = wsdl.find("location=\"", p);
    size_t locEnd = wsdl.find('"', loc + 10);
    ports.emplace_back(wsdl.substr(p + 12, nameEnd - p - 12),
                       wsdl.substr(loc + 10, locEnd - loc - 10));
  }
  return ports;
}

const std::string kDefaultPort = std::string(kBase) + "/soap/IDepot";

} // namespace

// Which component answers, by method and path.
TEST(PublisherCGI, Routes) {
  TProgramCopy program;
  struct Case {
    const char *method, *path;
    int status;
    const char *contentType;
    const char *bodyStart;
  } cases[] = {
      {"GET", "/wsdl", 200, "text/html; charset=utf-8", "<html><head><title>VEVUDE</title>"},
      {"POST", "/wsdl", 200, "text/html; charset=utf-8", "<html><head><title>VEVUDE</title>"},
      {"PUT", "/wsdl/", 200, "text/html; charset=utf-8", "<html><head><title>VEVUDE</title>"},
      {"GET", "/wsdl/IDepot", 200, "text/xml; charset=utf-8",
       "<?xml version=\"1.0\" encoding=\"utf-8\"?>"},
      {"DELETE", "/wsdl/IWSDLPublish", 200, "text/xml; charset=utf-8",
       "<?xml version=\"1.0\" encoding=\"utf-8\"?>"},
      {"GET", "/wsdl/admin", 403, "text/html; charset=utf-8",
       "<html><head></head><body><h1>Forbidden (403)"},
      {"GET", "/WSDL/IDepot", 200, "", ""},
      {"GET", "/wsdlfoo", 200, "", ""},
      {"GET", "/wsdl/NoSuchPort", 200, "text/html; charset=utf-8",
       "<html><head></head><body><h1>Error Encountered</h1><P>Interface NoSuchPort not "
       "found</P></body></html>\r\n"},
      {"GET", "/soap", 200, "text/html; charset=utf-8",
       "<html><head><META name=\"serviceInspection\""},
      {"GET", "", 200, "text/html; charset=utf-8", "<html><head><META name=\"serviceInspection\""},
      {"GET", "/anything/else", 200, "text/html; charset=utf-8",
       "<html><head><META name=\"serviceInspection\""},
      {"HEAD", "/INSPECTION.wsil", 200, "text/xml; charset=utf-8",
       "<?xml version=\"1.0\"?>\r\n<inspection"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string(c.method) + " " + c.path);
    TAnswer a = program.Run(CGIEnv(c.path, "", {std::string("REQUEST_METHOD=") + c.method}));
    EXPECT_EQ(a.Status, c.status);
    EXPECT_EQ(a.ContentType, c.contentType);
    EXPECT_EQ(a.HasContentType, *c.contentType != 0);
    EXPECT_EQ(a.Body.rfind(c.bodyStart, 0), 0u) << a.Body.substr(0, 200);
  }
}

// The port file beside the program names the ports of an interface's WSDL;
// it is read for every request, only when it is there.
TEST(PublisherCGI, PortFile) {
  struct Case {
    const char *name;
    const char *file; // nullptr: no port file
    std::vector<std::pair<std::string, std::string>> ports;
  } cases[] = {
      {"absent", nullptr, {{"IDepotPort", kDefaultPort}}},
      {"two entries in file order",
       "[IDepot]\r\nSecond=http://b.example/soap\r\nFirst=http://a.example/soap\r\n",
       {{"Second", "http://b.example/soap"}, {"First", "http://a.example/soap"}}},
      {"section name in other case, blanks around",
       "[idepot]\n  P1 = http://p1.example/x  \n",
       {{"P1", "http://p1.example/x"}}},
      {"another interface's section",
       "[IWSDLPublish]\nP=http://x.example/\n",
       {{"IDepotPort", kDefaultPort}}},
      {"section without entries", "[IDepot]\n[Other]\nP=http://x.example/\n", {}},
      {"malformed lines are not entries",
       "junk before any section\n[IDepot\n[IDepot]\nno equals "
       "sign\n;P0=http://comment/\n=nameless\n"
       "P1=http://p1.example/\n\x01\x02garbage\n",
       {{"P1", "http://p1.example/"}}},
      {"markup in a location stays text",
       "[IDepot]\nP=http://x.example/?a=1&b=\"<\n",
       {{"P", "http://x.example/?a=1&amp;b=&quot;&lt;"}}},
      {"empty file", "", {{"IDepotPort", kDefaultPort}}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    TProgramCopy program;
    if (c.file) program.WriteFile("VEVUDE_WSDLADMIN.INI", c.file);
    TAnswer a = program.Run(CGIEnv("/wsdl/IDepot"));
    EXPECT_EQ(a.Status, 200);
    EXPECT_EQ(a.ContentType, "text/xml; charset=utf-8");
    EXPECT_EQ(Ports(a.Body), c.ports);
  }
}

// Addresses come from the port file and the request's Host header: whatever
// bytes they hold, the WSDL is well-formed XML.
TEST(PublisherCGI, WSDLIsWellFormedWhateverTheAddressesHold) {
  const std::string R = "\xEF\xBF\xBD"; // U+FFFD
  struct Case {
    const char *name;
    const char *file;
    std::vector<std::string> env;
    std::vector<std::pair<std::string, std::string>> ports;
  } cases[] = {
      {"control character in a port file address",
       "[IDepot]\nP=http://a.example/\x01x\n",
       {},
       {{"P", "http://a.example/" + R + "x"}}},
      {"invalid UTF-8 in a port file address",
       "[IDepot]\nP=http://a.example/\xFFx\n",
       {},
       {{"P", "http://a.example/" + R + "x"}}},
      {"control character in the Host header",
       nullptr,
       {"HTTP_HOST=evil\x01host"},
       {{"IDepotPort", "http://evil" + R + "host:8080/cgi-bin/VEVUDE/soap/IDepot"}}},
      {"invalid UTF-8 in the Host header",
       nullptr,
       {"HTTP_HOST=h\xC3"},
       {{"IDepotPort", "http://h" + R + ":8080/cgi-bin/VEVUDE/soap/IDepot"}}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    TProgramCopy program;
    if (c.file) program.WriteFile("VEVUDE_WSDLADMIN.INI", c.file);
    TAnswer a = program.Run(CGIEnv("/wsdl/IDepot", "", c.env));
    EXPECT_EQ(a.Status, 200);
    EXPECT_EQ(a.ContentType, "text/xml; charset=utf-8");
    EXPECT_EQ(Ports(a.Body), c.ports);
    auto doc = vv::NewXMLDocument();
    EXPECT_NO_THROW(doc->LoadFromXML(a.Body)) << a.Body.substr(0, 300);
  }
}

// A port file far larger than a port list is refused with the error page,
// not read.
TEST(PublisherCGI, OversizedPortFileGivesTheErrorPage) {
  TProgramCopy program;
  program.WriteFile("VEVUDE_WSDLADMIN.INI", "[IDepot]\n" + std::string(200000, ';') + "\n");
  TAnswer a = program.Run(CGIEnv("/wsdl/IDepot"));
  EXPECT_EQ(a.Status, 200);
  EXPECT_EQ(a.ContentType, "text/html; charset=utf-8");
  EXPECT_EQ(a.Body,
            Expected("errorhead.part", {}) +
                "Error: Port file is larger than 65536 bytes/EReadError</h1></body></html>");
  // Other pages do not read it.
  EXPECT_EQ(program.Run(CGIEnv("/wsdl")).Status, 200);
}

// The page title and the port file's name come from the program's own file
// name without its extension.
TEST(PublisherCGI, NamesFromTheProgramFile) {
  TProgramCopy program("VEVUDE.cgi");
  program.WriteFile("VEVUDE_WSDLADMIN.INI", "[IDepot]\nOnly=http://only.example/\n");
  TAnswer a = program.Run(CGIEnv("/wsdl/IDepot"));
  EXPECT_EQ(Ports(a.Body),
            (std::vector<std::pair<std::string, std::string>>{{"Only", "http://only.example/"}}));
  a = program.Run(CGIEnv("/wsdl"));
  EXPECT_EQ(a.Body.rfind("<html><head><title>VEVUDE</title>", 0), 0u);
}
