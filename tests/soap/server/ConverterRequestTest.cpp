// Reading the server's rpc/encoded request into a call.
#include <gtest/gtest.h>

#include "soap/server/RemotableException.h"
#include "tests/soap/server/ConverterTestUtil.h"
#include "xml/XMLDoc.h"

using namespace vv;
using namespace vv::test;

namespace {

const std::string kEnv12NS = "http://www.w3.org/2003/05/soap-envelope";

// A request envelope around `inner` (Header and Body elements).
std::string Env(const std::string &inner, const std::string &ns = kEnvNS,
                const std::string &envAttrs = "") {
  return "<?xml version=\"1.0\"?><soap:Envelope xmlns:soap=\"" + ns + "\" xmlns:xsi=\"" + kXsiNS +
         "\" xmlns:xsd=\"" + kXsdNS + "\"" + envAttrs + ">" + inner + "</soap:Envelope>";
}
std::string Body(const std::string &inner) { return "<soap:Body>" + inner + "</soap:Body>"; }
std::string Call(const std::string &params, const std::string &name = "NS1:GetFlightsOpSoap",
                 const std::string &attrs = " xmlns:NS1=\"urn:uDRUXIntf-IDRUX\"") {
  return "<" + name + attrs + ">" + params + "</" + name + ">";
}

constexpr int kCalled = 1, kNotCalled = 0;

struct RequestCase {
  const char *name;
  std::string xml;
  int called;          // whether a method is selected
  std::string airport; // the parameter read
  std::string error;   // class name of the expected error, or empty
  std::string message; // its exact message
};
void PrintTo(const RequestCase &c, std::ostream *os) { *os << c.name; }

class ConverterRequest : public ::testing::TestWithParam<RequestCase> {
protected:
  static void SetUpTestSuite() { InitContract(); }
};

TEST_P(ConverterRequest, Reads) {
  const RequestCase &c = GetParam();
  TIntfMetaData md = GetIntfMetaData(IDRUX::StaticTypeInfo());
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
  ASSERT_EQ(meth, GetMethNum(md, "GetFlightsOpSoap"));
  ASSERT_NE(ctx.MethodInfo(), nullptr);
  EXPECT_EQ(*static_cast<std::string *>(ctx.GetParamPointer(0)), c.airport);
  EXPECT_EQ(headers.Count(), 0);
}

const std::string kAirport = "<Airport xsi:type=\"xsd:string\">MAD</Airport>";
std::string Auth(const std::string &value, const std::string &attr = "mustUnderstand") {
  return "<soap:Header><Auth xmlns=\"urn:a\" " + attr + "=\"" + value + "\">x</Auth></soap:Header>";
}
const std::string kMustMsg =
    "Soap header Auth with attribute 'mustUnderstand' set to true was not handled";

INSTANTIATE_TEST_SUITE_P(
    Methods, ConverterRequest,
    ::testing::Values(
        RequestCase{"Plain", Env(Body(Call(kAirport))), kCalled, "MAD", "", ""},
        RequestCase{"LowerCaseNameWrongNamespace",
                    Env(Body(Call(kAirport, "x:getflightsopsoap", " xmlns:x=\"urn:wrong\""))),
                    kCalled, "MAD", "", ""},
        RequestCase{
            "UpperCaseNameNoNamespace",
            Env(Body(Call("<q:AIRPORT xmlns:q=\"urn:q\">BCN</q:AIRPORT>", "GETFLIGHTSOPSOAP", ""))),
            kCalled, "BCN", "", ""},
        RequestCase{"ParameterMissing", Env(Body(Call("<Other>x</Other>"))), kCalled, "", "", ""},
        RequestCase{"FirstOfTwoParameters",
                    Env(Body(Call("<airport>ONE</airport><Airport>TWO</Airport>"))), kCalled, "ONE",
                    "", ""},
        RequestCase{"WhitespaceKept", Env(Body(Call("<Airport> M A D </Airport>"))), kCalled,
                    " M A D ", "", ""},
        RequestCase{"CData", Env(Body(Call("<Airport><![CDATA[<MAD>]]></Airport>"))), kCalled,
                    "<MAD>", "", ""},
        RequestCase{"MixedContentGivesChildrenXml",
                    Env(Body(Call("<Airport>a<b>c &amp; d</b>e</Airport>"))), kCalled,
                    "a<b>c &amp; d</b>e", "", ""},
        RequestCase{"NilGivesEmpty", Env(Body(Call("<Airport xsi:nil=\"true\"/>"))), kCalled, "",
                    "", ""},
        RequestCase{"NilWithTextKeepsText", Env(Body(Call("<Airport xsi:nil=\"1\">X</Airport>"))),
                    kCalled, "X", "", ""},
        RequestCase{"HrefElsewhere",
                    Env(Body(Call("<Airport href=\"#a\"/>") + "<v id=\"a\">LIS</v>")), kCalled,
                    "LIS", "", ""},
        RequestCase{"HrefToNothingReadsElement",
                    Env(Body(Call("<Airport href=\"#zz\">OWN</Airport>"))), kCalled, "OWN", "", ""},
        RequestCase{"HrefToItselfReadOnce",
                    Env(Body(Call("<Airport id=\"s\" href=\"#s\">SELF</Airport>"))), kCalled,
                    "SELF", "", ""},
        RequestCase{"HrefChainLoopReadOnce",
                    Env(Body(Call("<Airport href=\"#a\"/>") + "<v id=\"a\" href=\"#b\">A</v>" +
                             "<v id=\"b\" href=\"#a\">B</v>")),
                    kCalled, "A", "", ""},
        RequestCase{"DuplicateIds",
                    Env(Body(Call(kAirport) + "<v id=\"a\">1</v><v id=\"a\">2</v>")), kNotCalled,
                    "", "EListError", "Duplicates not allowed"},
        RequestCase{"Soap12Envelope", Env(Body(Call(kAirport)), kEnv12NS), kCalled, "MAD", "", ""},
        RequestCase{"EncodingStyleSoap11Accepted",
                    Env(Body(Call(kAirport, "NS1:GetFlightsOpSoap",
                                  " xmlns:NS1=\"urn:x\" soap:encodingStyle=\"" + kEncNS + "\"")),
                        kEnvNS, " soap:encodingStyle=\"" + kEncNS + "\""),
                    kCalled, "MAD", "", ""},
        RequestCase{"EncodingStyleOnMethod",
                    Env(Body(Call(kAirport, "m:GetFlightsOpSoap",
                                  " xmlns:m=\"urn:x\" soap:encodingStyle=\"urn:other\""))),
                    kNotCalled, "", "ESOAPDomConvertError",
                    "Unsupported SOAP encodingStyle urn:other"},
        RequestCase{"EncodingStyleOnEnvelope",
                    Env(Body(Call(kAirport)), kEnvNS, " soap:encodingStyle=\"urn:env\""),
                    kNotCalled, "", "ESOAPDomConvertError",
                    "Unsupported SOAP encodingStyle urn:env"},
        RequestCase{"EncodingStyleOnParameter",
                    Env(Body(Call("<Airport soap:encodingStyle=\"\">X</Airport>"))), kNotCalled, "",
                    "ESOAPDomConvertError", "Unsupported SOAP encodingStyle "},
        RequestCase{"UnknownMethod", Env(Body("<Foo/>")), kNotCalled, "", "ESOAPDomConvertError",
                    "No method named 'Foo' is supported by interface 'IDRUX'"},
        RequestCase{"SecondBody", Env(Body(Call(kAirport)) + Body(Call(kAirport))), kNotCalled, "",
                    "ESOAPDomConvertError", "Multiple body elements not supported"},
        RequestCase{"BodyWithoutElement", Env(Body("<!-- nothing -->text")), kNotCalled, "",
                    "ESOAPDomConvertError", "Invalid SOAP request"},
        RequestCase{"EmptyBody", Env("<soap:Body/>"), kNotCalled, "", "", ""},
        RequestCase{"NoBody", Env("<soap:Header/>"), kNotCalled, "", "", ""},
        RequestCase{"OtherElementsIgnored", Env("<x/>" + Body(Call(kAirport)) + "<y/>"), kCalled,
                    "MAD", "", ""},
        RequestCase{"NotAnEnvelope", "<Envelope/>", kNotCalled, "", "ESOAPDomConvertError",
                    "Invalid SOAP request"},
        RequestCase{"EnvelopeInOtherNamespace", Env(Body(Call(kAirport)), "urn:not-soap"),
                    kNotCalled, "", "ESOAPDomConvertError", "Invalid SOAP request"},
        RequestCase{"EmptyEnvelope", Env(""), kNotCalled, "", "ESOAPDomConvertError",
                    "Invalid SOAP request"},
        RequestCase{"MustUnderstandOne", Env(Auth("1") + Body(Call(kAirport))), kNotCalled, "",
                    "ERemotableException", kMustMsg},
        RequestCase{"MustUnderstandTrueAnyCase", Env(Auth("TRUE") + Body(Call(kAirport))),
                    kNotCalled, "", "ERemotableException", kMustMsg},
        RequestCase{"MustUnderstandInSecondHeader",
                    Env("<soap:Header/>" + Body(Call(kAirport)) + Auth("true")), kNotCalled, "",
                    "ERemotableException", kMustMsg},
        RequestCase{"MustUnderstandZeroIgnored", Env(Auth("0") + Body(Call(kAirport))), kCalled,
                    "MAD", "", ""},
        RequestCase{"PrefixedMustUnderstandIgnored",
                    Env(Auth("1", "soap:mustUnderstand") + Body(Call(kAirport))), kCalled, "MAD",
                    "", ""}),
    [](const auto &info) { return std::string(info.param.name); });

// Input the DOM refuses reaches the caller as its parse error.
TEST(ConverterRequestParse, RefusedDocuments) {
  InitContract();
  TIntfMetaData md = GetIntfMetaData(IDRUX::StaticTypeInfo());
  for (std::string xml :
       {std::string("<soap:Envelope"), std::string(""),
        "<!DOCTYPE x [<!ENTITY e \"v\">]>" + Env(Body(Call("<Airport>&e;</Airport>")))}) {
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
  InitContract();
  TIntfMetaData md = GetIntfMetaData(IDRUX::StaticTypeInfo());
  IPtr<ISoapConvert> conv = NewConverter();
  {
    TInvContext ctx;
    int meth = -1;
    TMemoryStream bad(Env(Body(Call("<Airport href=\"#a\"/>") + "<v id=\"a\">1</v><v id=\"a\"/>")));
    EXPECT_THROW(conv->MsgToInvContext(bad, md, meth, ctx, nullptr), EListError);
  }
  TInvContext ctx;
  int meth = -1;
  TMemoryStream good(Env(Body(Call("<Airport href=\"#a\"/>") + "<v id=\"a\">OK</v>")));
  conv->MsgToInvContext(good, md, meth, ctx, nullptr);
  EXPECT_EQ(*static_cast<std::string *>(ctx.GetParamPointer(0)), "OK");
}

} // namespace
