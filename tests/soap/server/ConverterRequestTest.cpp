// Reading the server's rpc/encoded request into a call.
#include <gtest/gtest.h>

#include "soap/server/RemotableException.h"
#include "tests/support/ConverterTestUtil.h"
#include "tests/support/TestContract.h"
#include "xml/XMLDoc.h"

using namespace vv;
using namespace vvtest;

namespace {

const std::string kEnv12NS = "http://www.w3.org/2003/05/soap-envelope";

// A request envelope around `inner` (Header and Body elements).
std::string Env(const std::string &inner, const std::string &ns = kEnvNS,
                const std::string &envAttrs = "") {
  return "<?xml version=\"1.0\"?><soap:Envelope xmlns:soap=\"" + ns + "\" xmlns:xsi=\"" + kXsiNS +
         "\" xmlns:xsd=\"" + kXsdNS + "\"" + envAttrs + ">" + inner + "</soap:Envelope>";
}
std::string Body(const std::string &inner) { return "<soap:Body>" + inner + "</soap:Body>"; }
std::string Call(const std::string &params, const std::string &name = "NS1:GetParcelsSoap",
                 const std::string &attrs = " xmlns:NS1=\"urn:uDepotIntf-IDepot\"") {
  return "<" + name + attrs + ">" + params + "</" + name + ">";
}

constexpr int kCalled = 1, kNotCalled = 0;

struct RequestCase {
  const char *name;
  std::string xml;
  int called;          // whether a method is selected
  std::string depot;   // the parameter read
  std::string error;   // class name of the expected error, or empty
  std::string message; // its exact message
};
void PrintTo(const RequestCase &c, std::ostream *os) { *os << c.name; }

class ConverterRequest : public ::testing::TestWithParam<RequestCase> {
protected:
  static void SetUpTestSuite() { InitTestContract(); }
};

TEST_P(ConverterRequest, Reads) {
  const RequestCase &c = GetParam();
  TIntfMetaData md = GetIntfMetaData(IDepot::StaticTypeInfo());
  IPtr<ISoapConvert> conv = NewConverter();
  TInvContext ctx;
  THeaderList headers;
  TMemoryStream req(c.xml);
  req.SetPosition(req.Size()); // the converter reads from the start whatever the position
  int meth = -1;
  try {
    conv->MsgToInvContext(req, md, meth, ctx, &headers);
  } catch (const Exception &e) {
    ASSERT_EQ(e.ClassName(), c.error) << e.Message;
    EXPECT_EQ(e.Message, c.message);
    if (c.error == "ERemotableException") {
      EXPECT_EQ(dynamic_cast<const ERemotableException &>(e).FFaultCode, "MustUnderstand");
    }
    return;
  }
  ASSERT_EQ(c.error, "") << "no error raised";
  if (c.called == kNotCalled) {
    EXPECT_EQ(meth, -1);
    EXPECT_EQ(ctx.MethodInfo(), nullptr);
    return;
  }
  ASSERT_EQ(meth, GetMethNum(md, "GetParcelsSoap"));
  ASSERT_NE(ctx.MethodInfo(), nullptr);
  EXPECT_EQ(*static_cast<std::string *>(ctx.GetParamPointer(0)), c.depot);
  EXPECT_EQ(headers.Count(), 0);
}

const std::string kDepot = "<Depot xsi:type=\"xsd:string\">MAD</Depot>";
std::string Auth(const std::string &value, const std::string &attr = "mustUnderstand") {
  return "<soap:Header><Auth xmlns=\"urn:a\" " + attr + "=\"" + value + "\">x</Auth></soap:Header>";
}
const std::string kMustMsg =
    "Soap header Auth with attribute 'mustUnderstand' set to true was not handled";

INSTANTIATE_TEST_SUITE_P(
    Methods, ConverterRequest,
    ::testing::Values(
        RequestCase{"Plain", Env(Body(Call(kDepot))), kCalled, "MAD", "", ""},
        RequestCase{"LowerCaseNameWrongNamespace",
                    Env(Body(Call(kDepot, "x:getparcelssoap", " xmlns:x=\"urn:wrong\""))), kCalled,
                    "MAD", "", ""},
        RequestCase{
            "UpperCaseNameNoNamespace",
            Env(Body(Call("<q:DEPOT xmlns:q=\"urn:q\">BCN</q:DEPOT>", "GETPARCELSSOAP", ""))),
            kCalled, "BCN", "", ""},
        RequestCase{"ParameterMissing", Env(Body(Call("<Other>x</Other>"))), kCalled, "", "", ""},
        RequestCase{"FirstOfTwoParameters", Env(Body(Call("<depot>ONE</depot><Depot>TWO</Depot>"))),
                    kCalled, "ONE", "", ""},
        RequestCase{"WhitespaceKept", Env(Body(Call("<Depot> M A D </Depot>"))), kCalled, " M A D ",
                    "", ""},
        RequestCase{"CData", Env(Body(Call("<Depot><![CDATA[<MAD>]]></Depot>"))), kCalled, "<MAD>",
                    "", ""},
        RequestCase{"MixedContentGivesChildrenXml",
                    Env(Body(Call("<Depot>a<b>c &amp; d</b>e</Depot>"))), kCalled,
                    "a<b>c &amp; d</b>e", "", ""},
        RequestCase{"NilGivesEmpty", Env(Body(Call("<Depot xsi:nil=\"true\"/>"))), kCalled, "", "",
                    ""},
        RequestCase{"NilWithTextKeepsText", Env(Body(Call("<Depot xsi:nil=\"1\">X</Depot>"))),
                    kCalled, "X", "", ""},
        RequestCase{"HrefElsewhere",
                    Env(Body(Call("<Depot href=\"#a\"/>") + "<v id=\"a\">LIS</v>")), kCalled, "LIS",
                    "", ""},
        RequestCase{"HrefToNothingReadsElement", Env(Body(Call("<Depot href=\"#zz\">OWN</Depot>"))),
                    kCalled, "OWN", "", ""},
        RequestCase{"HrefToItselfReadOnce",
                    Env(Body(Call("<Depot id=\"s\" href=\"#s\">SELF</Depot>"))), kCalled, "SELF",
                    "", ""},
        RequestCase{"HrefChainLoopReadOnce",
                    Env(Body(Call("<Depot href=\"#a\"/>") + "<v id=\"a\" href=\"#b\">A</v>" +
                             "<v id=\"b\" href=\"#a\">B</v>")),
                    kCalled, "A", "", ""},
        RequestCase{"DuplicateIds", Env(Body(Call(kDepot) + "<v id=\"a\">1</v><v id=\"a\">2</v>")),
                    kNotCalled, "", "EListError", "Duplicates not allowed"},
        RequestCase{"Soap12Envelope", Env(Body(Call(kDepot)), kEnv12NS), kCalled, "MAD", "", ""},
        RequestCase{"EncodingStyleSoap11Accepted",
                    Env(Body(Call(kDepot, "NS1:GetParcelsSoap",
                                  " xmlns:NS1=\"urn:x\" soap:encodingStyle=\"" + kEncNS + "\"")),
                        kEnvNS, " soap:encodingStyle=\"" + kEncNS + "\""),
                    kCalled, "MAD", "", ""},
        RequestCase{"EncodingStyleOnMethod",
                    Env(Body(Call(kDepot, "m:GetParcelsSoap",
                                  " xmlns:m=\"urn:x\" soap:encodingStyle=\"urn:other\""))),
                    kNotCalled, "", "ESOAPDomConvertError",
                    "Unsupported SOAP encodingStyle urn:other"},
        RequestCase{"EncodingStyleOnEnvelope",
                    Env(Body(Call(kDepot)), kEnvNS, " soap:encodingStyle=\"urn:env\""), kNotCalled,
                    "", "ESOAPDomConvertError", "Unsupported SOAP encodingStyle urn:env"},
        RequestCase{"EncodingStyleOnParameter",
                    Env(Body(Call("<Depot soap:encodingStyle=\"\">X</Depot>"))), kNotCalled, "",
                    "ESOAPDomConvertError", "Unsupported SOAP encodingStyle "},
        RequestCase{"UnknownMethod", Env(Body("<Foo/>")), kNotCalled, "", "ESOAPDomConvertError",
                    "No method named 'Foo' is supported by interface 'IDepot'"},
        RequestCase{"SecondBody", Env(Body(Call(kDepot)) + Body(Call(kDepot))), kNotCalled, "",
                    "ESOAPDomConvertError", "Multiple body elements not supported"},
        RequestCase{"BodyWithoutElement", Env(Body("<!-- nothing -->text")), kNotCalled, "",
                    "ESOAPDomConvertError", "Invalid SOAP request"},
        RequestCase{"EmptyBody", Env("<soap:Body/>"), kNotCalled, "", "", ""},
        RequestCase{"NoBody", Env("<soap:Header/>"), kNotCalled, "", "", ""},
        RequestCase{"OtherElementsIgnored", Env("<x/>" + Body(Call(kDepot)) + "<y/>"), kCalled,
                    "MAD", "", ""},
        RequestCase{"NotAnEnvelope", "<Envelope/>", kNotCalled, "", "ESOAPDomConvertError",
                    "Invalid SOAP request"},
        RequestCase{"EnvelopeInOtherNamespace", Env(Body(Call(kDepot)), "urn:not-soap"), kNotCalled,
                    "", "ESOAPDomConvertError", "Invalid SOAP request"},
        RequestCase{"EmptyEnvelope", Env(""), kNotCalled, "", "ESOAPDomConvertError",
                    "Invalid SOAP request"},
        RequestCase{"MustUnderstandOne", Env(Auth("1") + Body(Call(kDepot))), kNotCalled, "",
                    "ERemotableException", kMustMsg},
        RequestCase{"MustUnderstandTrueAnyCase", Env(Auth("TRUE") + Body(Call(kDepot))), kNotCalled,
                    "", "ERemotableException", kMustMsg},
        RequestCase{"MustUnderstandInSecondHeader",
                    Env("<soap:Header/>" + Body(Call(kDepot)) + Auth("true")), kNotCalled, "",
                    "ERemotableException", kMustMsg},
        RequestCase{"MustUnderstandZeroIgnored", Env(Auth("0") + Body(Call(kDepot))), kCalled,
                    "MAD", "", ""},
        RequestCase{"PrefixedMustUnderstandIgnored",
                    Env(Auth("1", "soap:mustUnderstand") + Body(Call(kDepot))), kCalled, "MAD", "",
                    ""}),
    [](const auto &info) { return std::string(info.param.name); });

// Input the DOM refuses reaches the caller as its parse error.
TEST(ConverterRequestParse, RefusedDocuments) {
  InitTestContract();
  TIntfMetaData md = GetIntfMetaData(IDepot::StaticTypeInfo());
  for (std::string xml :
       {std::string("<soap:Envelope"), std::string(""),
        "<!DOCTYPE x [<!ENTITY e \"v\">]>" + Env(Body(Call("<Depot>&e;</Depot>")))}) {
    TInvContext ctx;
    TMemoryStream req(xml);
    int meth = -1;
    EXPECT_THROW(NewConverter()->MsgToInvContext(req, md, meth, ctx, nullptr), EDOMParseError)
        << xml;
    EXPECT_EQ(meth, -1);
  }
}

// After a failed request the next one on the same converter reads cleanly:
// no href or identifier of the first survives.
TEST(ConverterRequestState, NothingSurvivesAnError) {
  InitTestContract();
  TIntfMetaData md = GetIntfMetaData(IDepot::StaticTypeInfo());
  IPtr<ISoapConvert> conv = NewConverter();
  {
    TInvContext ctx;
    int meth = -1;
    TMemoryStream bad(Env(Body(Call("<Depot href=\"#a\"/>") + "<v id=\"a\">1</v><v id=\"a\"/>")));
    EXPECT_THROW(conv->MsgToInvContext(bad, md, meth, ctx, nullptr), EListError);
  }
  TInvContext ctx;
  int meth = -1;
  TMemoryStream good(Env(Body(Call("<Depot href=\"#a\"/>") + "<v id=\"a\">OK</v>")));
  conv->MsgToInvContext(good, md, meth, ctx, nullptr);
  EXPECT_EQ(*static_cast<std::string *>(ctx.GetParamPointer(0)), "OK");
}

} // namespace
