// Fault documents written for every cause a request can fail with.
#include <gtest/gtest.h>

#include "soap/server/RemotableException.h"
#include "tests/support/ConverterTestUtil.h"
#include "tests/support/TestContract.h"
#include "xml/XMLDoc.h"

using namespace vv;
using namespace vvtest;

namespace {

std::string FaultDoc(const std::string &code, const std::string &text,
                     const std::string &actor = "") {
  return kDecl + EnvelopeStart(true) + "<SOAP-ENV:Body><SOAP-ENV:Fault><faultcode>" + code +
         "</faultcode><faultstring>" + text + "</faultstring>" +
         (actor.empty() ? "<faultactor/>" : "<faultactor>" + actor + "</faultactor>") +
         "</SOAP-ENV:Fault></SOAP-ENV:Body></SOAP-ENV:Envelope>";
}

std::string Env(const std::string &inner) {
  return "<e:Envelope xmlns:e=\"" + kEnvNS + "\">" + inner + "</e:Envelope>";
}

// The fault that a request earns, written as the invoker does it: the
// converter's error, then MakeFault by a fresh converter.
std::string FaultFor(const std::string &request) {
  TIntfMetaData md = GetIntfMetaData(IDepot::StaticTypeInfo());
  TInvContext ctx;
  TMemoryStream req(request);
  int meth = -1;
  try {
    NewConverter()->MsgToInvContext(req, md, meth, ctx, nullptr);
  } catch (const std::exception &e) {
    TMemoryStream out;
    NewConverter()->MakeFault(e, out);
    return out.Data();
  }
  return "no error";
}

struct FaultCase {
  const char *name;
  std::string request;
  std::string expected;
};
void PrintTo(const FaultCase &c, std::ostream *os) { *os << c.name; }

class FaultDocuments : public ::testing::TestWithParam<FaultCase> {
protected:
  static void SetUpTestSuite() { InitTestContract(); }
};

TEST_P(FaultDocuments, ExactBytes) { EXPECT_EQ(FaultFor(GetParam().request), GetParam().expected); }

INSTANTIATE_TEST_SUITE_P(
    Causes, FaultDocuments,
    ::testing::Values(
        FaultCase{"NotAnEnvelope", "<Envelope/>",
                  FaultDoc("SOAP-ENV:Server", "Invalid SOAP request")},
        FaultCase{"EmptyEnvelope", Env(""), FaultDoc("SOAP-ENV:Server", "Invalid SOAP request")},
        FaultCase{"SecondBody", Env("<e:Body/><e:Body/>"),
                  FaultDoc("SOAP-ENV:Server", "Multiple body elements not supported")},
        FaultCase{"ForeignEncodingStyle",
                  Env("<e:Body><m e:encodingStyle=\"urn:a&amp;b\"/></e:Body>"),
                  FaultDoc("SOAP-ENV:Server", "Unsupported SOAP encodingStyle urn:a&amp;b")},
        FaultCase{"UnknownOperation", Env("<e:Body><Foo/></e:Body>"),
                  FaultDoc("SOAP-ENV:Server",
                           "No method named 'Foo' is supported by interface 'IDepot'")},
        FaultCase{"RepeatedId", Env("<e:Body><GetParcelsSoap/><a id=\"1\"/><b id=\"1\"/></e:Body>"),
                  FaultDoc("SOAP-ENV:Server", "Duplicates not allowed")},
        FaultCase{"MustUnderstand",
                  Env("<e:Header><Auth mustUnderstand=\"true\"/></e:Header><e:Body/>"),
                  FaultDoc("SOAP-ENV:MustUnderstand", "Soap header Auth with attribute "
                                                      "'mustUnderstand' set to true was not "
                                                      "handled")}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(FaultDocument, NotWellFormedCarriesTheParserMessage) {
  InitTestContract();
  std::string parseMessage;
  try {
    NewXMLDocument()->LoadFromXML("<a><b></a>");
  } catch (const EDOMParseError &e) {
    parseMessage = e.Message;
  }
  ASSERT_NE(parseMessage.find("Line"), std::string::npos);
  // The serialised message as the DOM escapes text.
  IPtr<IXMLDocument> probe = NewXMLDocument();
  probe->AddChild("faultstring").SetText(parseMessage);
  std::string text = probe->DocumentElement().XML();
  text = text.substr(13, text.size() - 13 - 14);
  EXPECT_EQ(FaultFor("<a><b></a>"), FaultDoc("SOAP-ENV:Server", text));
}

TEST(FaultDocument, ErrorsOfOtherLayers) {
  struct {
    std::function<void()> raise;
    std::string expected;
  } cases[] = {
      {[] { throw Exception("No class registered for invokable interface IDepot"); },
       FaultDoc("SOAP-ENV:Server", "No class registered for invokable interface IDepot")},
      {[] { throw std::runtime_error("foreign <error>"); },
       FaultDoc("SOAP-ENV:Server", "foreign &lt;error&gt;")},
      {[] { throw ERemotableException("denied", "Client", "urn:actor"); },
       FaultDoc("SOAP-ENV:Client", "denied", "urn:actor")},
      {[] { throw ERemotableException("no code"); }, FaultDoc("SOAP-ENV:", "no code")},
  };
  for (auto &c : cases) {
    try {
      c.raise();
    } catch (const std::exception &e) {
      TMemoryStream out;
      out.WriteString("keep:"); // written at the stream's position
      NewConverter()->MakeFault(e, out);
      EXPECT_EQ(out.Data(), "keep:" + c.expected);
    }
  }
}

VV_EXCEPTION(EOwnFault, ERemotableException);

TEST(FaultDocument, DerivedFaultClassAddsDetail) {
  TMemoryStream out;
  NewConverter()->MakeFault(EOwnFault("own", "Server"), out);
  EXPECT_EQ(out.Data(), kDecl + EnvelopeStart(true) +
                            "<SOAP-ENV:Body><SOAP-ENV:Fault><faultcode>SOAP-ENV:Server</faultcode>"
                            "<faultstring>own</faultstring><faultactor/><detail/></SOAP-ENV:Fault>"
                            "</SOAP-ENV:Body></SOAP-ENV:Envelope>");
}

} // namespace
