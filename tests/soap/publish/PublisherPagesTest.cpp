// The publisher's answers under "/wsdl", its service page and its
// WS-Inspection document, run in this process against a publisher.
#include <gtest/gtest.h>

#include "tests/support/PublishTestSupport.h"
#include <functional>

#include "soap/publish/WSDLHTMLPublish.h"
#include "soap/server/InvokeRegistry.h"
#include "tests/support/TestContract.h"
#include "xml/XMLDoc.h"

using namespace vv;
using namespace vvtest;

namespace {

const char *kForbidden = "<html><head></head><body><h1>Forbidden (403)</h1><P>Access "
                         "Forbidden</P></body></html>\r\n";

std::string NotFound(const std::string &name) {
  return "<html><head></head><body><h1>Error Encountered</h1><P>Interface " + name +
         " not found</P></body></html>\r\n";
}

std::string Listing(const std::string &linkBase) {
  return Expected("listing.html", {{"TITLE", TestProgramTitle()}, {"LINK", linkBase}});
}

} // namespace

TEST(PublisherEndpoints, AnswersByPath) {
  InitProgramUnits(); // the page title is known from here on
  std::string wsdl = Expected("IDepot.wsdl", {{"PARCELS", kParcelNS}, {"BASE", kBase}});
  struct Case {
    const char *path;
    int status;
    const char *contentType;
    std::string body;
  } cases[] = {
      {"/wsdl", 200, "text/html; charset=utf-8", Listing(std::string(kBase) + "/wsdl")},
      {"/wsdl/", 200, "text/html; charset=utf-8", Listing(std::string(kBase) + "/wsdl")},
      {"/wsdl/wsdl", 200, "text/html; charset=utf-8", Listing(std::string(kBase) + "/wsdl/wsdl")},
      {"/wsdl/IDepot", 200, "text/xml; charset=utf-8", wsdl},
      {"/wsdl/IDepot/", 200, "text/xml; charset=utf-8", wsdl},
      {"/wsdl/NoSuchPort", 200, "text/html; charset=utf-8", NotFound("NoSuchPort")},
      {"/wsdl/admin", 403, "text/html; charset=utf-8", kForbidden},
      {"/wsdl/admin/IDepot", 403, "text/html; charset=utf-8", kForbidden},
      {"/wsdl/x/admin", 403, "text/html; charset=utf-8", kForbidden},
      {"/WSDL/IDepot", 200, "", ""},
      {"/wsdlx", 200, "", ""},
      {"/wsdl/IDepot/more", 200, "", ""},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.path);
    TAnswer a = DispatchInProcess(CGIEnv(c.path));
    EXPECT_EQ(a.Status, c.status);
    EXPECT_EQ(a.ContentType, c.contentType);
    EXPECT_EQ(a.Body, c.body);
  }
}

// The interface name is looked up without regard to case, but the port
// keeps the name as asked.
TEST(PublisherEndpoints, LowerCaseNameKeepsItsCaseInThePort) {
  TAnswer a = DispatchInProcess(CGIEnv("/wsdl/idepot"));
  EXPECT_EQ(a.ContentType, "text/xml; charset=utf-8");
  EXPECT_NE(a.Body.find("<port name=\"idepotPort\" binding=\"tns:IDepotbinding\">"),
            std::string::npos);
  EXPECT_NE(a.Body.find("location=\"" + std::string(kBase) + "/soap/idepot\""), std::string::npos);
}

TEST(PublisherEndpoints, BaseAddress) {
  struct Case {
    std::vector<std::string> extra;
    const char *base;
  } cases[] = {
      {{}, "http://localhost:8080/cgi-bin/VEVUDE"},
      {{"SERVER_PORT=80"}, "http://localhost/cgi-bin/VEVUDE"},
      {{"HTTP_HOST=localhost:9000"}, "http://localhost:9000/cgi-bin/VEVUDE"},
      {{"HTTP_HOST=[::1]:9000", "SERVER_PORT=80"}, "http://[::1]:9000/cgi-bin/VEVUDE"},
      {{"SERVER_PORT"}, "http://localhost:-1/cgi-bin/VEVUDE"},
      {{"SCRIPT_NAME="}, "http://localhost:8080"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.base);
    TAnswer a = DispatchInProcess(CGIEnv("/wsdl/IWSDLPublish", "", c.extra));
    EXPECT_NE(a.Body.find("location=\"" + std::string(c.base) + "/soap/IWSDLPublish\""),
              std::string::npos);
  }
}

// Text taken from the request never reaches a page as markup.
TEST(PublisherEndpoints, RequestTextIsEscaped) {
  TAnswer a = DispatchInProcess(CGIEnv("/wsdl/<b>x\"y"));
  EXPECT_EQ(a.Body, NotFound("&lt;b&gt;x&quot;y"));
  a = DispatchInProcess(CGIEnv("/wsdl", "", {"HTTP_HOST=h\"><script>"}));
  EXPECT_EQ(a.Body.find("<script>"), std::string::npos);
  EXPECT_NE(a.Body.find("<a href=\"http://h&quot;&gt;&lt;script&gt;:8080/cgi-bin/VEVUDE/wsdl/"),
            std::string::npos);
}

// The pages and documents are UTF-8 and say so by default; a publisher
// without poUTF8ContentType names no charset in any of its answers.
TEST(PublisherEndpoints, WithoutUTF8ContentTypeNoAnswerNamesTheCharset) {
  struct Case {
    const char *path;
    bool serviceInfo;
    const char *contentType;
  } cases[] = {
      {"/wsdl", false, "text/html"},
      {"/wsdl/IDepot", false, "text/xml"},
      {"/wsdl/NoSuchPort", false, "text/html"},
      {"/wsdl/admin", false, "text/html"},
      {"/", true, "text/html"},
      {"/inspection.wsil", true, "text/xml"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.path);
    TAnswer a = DispatchInProcess(CGIEnv(c.path), c.serviceInfo, [](TWSDLHTMLPublish &p) {
      p.PublishOptions.Exclude(poUTF8ContentType);
    });
    EXPECT_EQ(a.ContentType, c.contentType);
  }
}

// An error raised while answering becomes the error page; the status stays.
TEST(PublisherEndpoints, ErrorsInsideBecomeTheErrorPage) {
  InitProgramUnits();
  std::string head = Expected("errorhead.part", {});
  struct Case {
    std::function<void()> raise;
    std::string text;
  } cases[] = {
      {[] { throw EReadError("bad <port> file"); }, "Error: bad &lt;port&gt; file/EReadError"},
      {[] { throw 42; }, "Unknown Error"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.text);
    TAnswer a = DispatchInProcess(CGIEnv("/wsdl/IDepot"), false, [&](TWSDLHTMLPublish &p) {
      p.Events.OnBeforePublishingWSDL = [&](const std::string &, std::string &, bool &) {
        c.raise();
      };
    });
    EXPECT_EQ(a.Status, 200);
    EXPECT_EQ(a.ContentType, "text/html; charset=utf-8");
    EXPECT_EQ(a.Body, head + c.text + "</h1></body></html>");
  }
}

TEST(ServiceInfo, Pages) {
  InitProgramUnits(); // the page title is known from here on
  std::map<std::string, std::string> vars = {{"TITLE", TestProgramTitle()}, {"BASE", kBase}};
  std::string full = Expected("service.html", vars);
  std::string idepot = Expected("service_idepot.html", vars);
  struct Case {
    const char *path, *query;
    std::string body;
  } cases[] = {
      {"", "", full},
      {"/", "", full},
      {"/soap", "", full},
      {"/inspection.wsil/", "", full},
      {"/", "intf=IDepot", idepot},
      {"/", "intf=idepot", full},
      {"/", "intf=NoSuchPort", full},
      {"/", "types=2", full},
      // The query does not decode: the types section is dropped, the
      // fields decoded before the failure still count.
      {"/", "intf=IDepot&types=1&bad=%zz", idepot},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string(c.path) + "?" + c.query);
    TAnswer a = DispatchInProcess(CGIEnv(c.path, c.query), true);
    EXPECT_EQ(a.Status, 200);
    EXPECT_EQ(a.ContentType, "text/html; charset=utf-8");
    EXPECT_EQ(a.Body, c.body);
  }
}

TEST(ServiceInfo, TypesSection) {
  TAnswer a = DispatchInProcess(CGIEnv("/", "types=1"), true);
  const std::string head =
      "<a name=\"types\"></a><center><h3>Registered Types</h3><table cellpadding=2 cellspacing=1 "
      "border=0><tr><td class=\"TblHdr\">Type</td><td class=\"TblHdr\">XML Name</td><td "
      "class=\"TblHdr\">Namespace</td><td class=\"TblHdr\">Class</td><td "
      "class=\"TblHdr\">Address</td><td class=\"TblHdr\">ExtName</td></tr>";
  size_t at = a.Body.find(head);
  ASSERT_NE(at, std::string::npos);
  // After the interface section, and last before the end of the page.
  EXPECT_LT(a.Body.find("</table>"), at);
  EXPECT_TRUE(a.Body.ends_with("</table></center></body></html>"));
  // One row per registered type, classes alternating, first row "TblRow1".
  std::string rows = a.Body.substr(at + head.size());
  EXPECT_EQ(rows.rfind("<tr><td class=\"TblRow1\">", 0), 0u);
  size_t count = 0;
  for (size_t p = rows.find("<tr>"); p != std::string::npos; p = rows.find("<tr>", p + 1)) ++count;
  EXPECT_EQ(count, size_t(RemTypeRegistry().GetEntryCount()));
  // A class row: class name and a blank; the record of the contract is there.
  EXPECT_NE(rows.find("\">Parcel </td>"), std::string::npos);
  // Text types and no memory address anywhere.
  EXPECT_NE(rows.find(">string<"), std::string::npos);
  EXPECT_EQ(rows.find("0x"), std::string::npos);
}

TEST(ServiceInfo, WSInspectionInAnyLetterCase) {
  for (const char *path : {"/inspection.wsil", "/INSPECTION.WSIL", "/Inspection.Wsil"}) {
    SCOPED_TRACE(path);
    TAnswer a = DispatchInProcess(CGIEnv(path, "", {"SERVER_PORT=80"}), true);
    EXPECT_EQ(a.Status, 200);
    EXPECT_EQ(a.ContentType, "text/xml; charset=utf-8");
    ASSERT_GE(a.Body.size(), 2u);
    EXPECT_EQ(a.Body.substr(a.Body.size() - 2), "\r\n");
    IPtr<IXMLDocument> doc = NewXMLDocument();
    doc->LoadFromXML(a.Body);
    IXMLNode root = doc->DocumentElement();
    EXPECT_EQ(root.NodeName(), "inspection");
    EXPECT_EQ(root.NamespaceURI(), "http://schemas.xmlsoap.org/ws/2001/10/inspection/");
    std::vector<std::vector<std::string>> services;
    for (IXMLNode s = root.FirstChildElement(); s; s = s.NextSiblingElement()) {
      IXMLNode d = s.ChildElement("description");
      services.push_back({s.ChildElement("abstract").Text(), s.ChildElement("name").Text(),
                          d.GetAttribute("referencedNamespace").value_or("?"),
                          d.GetAttribute("location").value_or("?")});
    }
    std::vector<std::vector<std::string>> expected;
    expected.push_back({"", "IDepot", "http://schemas.xmlsoap.org/wsdl/",
                        "http://localhost/cgi-bin/VEVUDE/wsdl/IDepot"});
    expected.push_back({"Lists all the PortTypes published by this Service", "IWSDLPublish",
                        "http://schemas.xmlsoap.org/wsdl/",
                        "http://localhost/cgi-bin/VEVUDE/wsdl/IWSDLPublish"});
    EXPECT_EQ(services, expected);
    // Exactly: a plain document (no indentation), one line per line of its
    // text, each ended by CR LF.
    EXPECT_EQ(a.Body, Expected("inspection.wsil", {{"BASE", "http://localhost/cgi-bin/VEVUDE"}}));
  }
}
