// The client's document/literal request and the reading of its answers.
#include <gtest/gtest.h>

#include "rtl/TypeInfo.h"
#include "soap/server/RemotableException.h"
#include "tests/soap/server/ConverterTestUtil.h"
#include "xml/XMLDoc.h"

using namespace vv;
using namespace vv::test;

namespace {

IPtr<ISoapConvert> ClientConverter() {
  IPtr<ISoapConvert> conv = NewConverter();
  conv->SetOptions(TSOAPConvertOptions(kDefaultSOAPConvertOptions).Include(soDocument));
  return conv;
}

TEST(ClientRequest, DocumentLiteralForAirport) {
  InitContract();
  TIntfMetaData md = GetIntfMetaData(FlightsOpSoap::StaticTypeInfo());
  int m = GetMethNum(md, "GetFlightsOp");
  ASSERT_GE(m, 0);
  for (std::string airport : {"ABC", "", "A&B <\"'>"}) {
    TInvContext ctx;
    ctx.SetMethodInfo(md.MDA[size_t(m)]);
    ctx.SetParamPointer(0, &airport);
    std::unique_ptr<TStream> req = ClientConverter()->InvContextToMsg(md, m, ctx, nullptr);
    std::string escaped = airport == "A&B <\"'>" ? "A&amp;B &lt;\"'&gt;" : airport;
    EXPECT_EQ(req->Position(), req->Size());
    EXPECT_EQ(req->DataString(),
              kDecl + EnvelopeStart(false) + "<SOAP-ENV:Body><GetFlightsOp xmlns=\"" + kUpNS +
                  "\">" + (escaped.empty() ? "<idarpt/>" : "<idarpt>" + escaped + "</idarpt>") +
                  "</GetFlightsOp></SOAP-ENV:Body></SOAP-ENV:Envelope>");
  }
}

// ---- reading answers ----------------------------------------------------------------

std::string Env(const std::string &inner, const std::string &ns = kEnvNS) {
  return "<soap:Envelope xmlns:soap=\"" + ns + "\" xmlns:xsi=\"" + kXsiNS + "\">" + inner +
         "</soap:Envelope>";
}
std::string Body(const std::string &inner) { return "<soap:Body>" + inner + "</soap:Body>"; }
const std::string kRespOpen = "<GetFlightsOpResponse xmlns=\"" + kUpNS + "\">";
const std::string kRespClose = "</GetFlightsOpResponse>";
std::string Resp(const std::string &inner) { return kRespOpen + inner + kRespClose; }
std::string Result(const std::string &items) {
  return Resp("<GetFlightsOpResult>" + items + "</GetFlightsOpResult>");
}

// A record as "Name=value;" for each specified property, in declared order.
std::string Describe(const FlightOp *f) {
  if (!f) return "nil";
  std::string s;
  for (const TPropInfo *p : AllProps(FlightOp::StaticClassInfo())) {
    if (!p->Stored(f)) continue;
    std::string v;
    p->Get(f, &v);
    s += p->Name + "=" + v + ";";
  }
  return s;
}

struct ReadCase {
  ReadCase(const char *n, std::string x, std::vector<std::string> r, std::string e = {},
           std::string m = {})
      : name(n), xml(std::move(x)), records(std::move(r)), error(std::move(e)),
        message(std::move(m)) {}
  const char *name;
  std::string xml;
  std::vector<std::string> records; // described as above
  std::string error;                // class name, or empty
  std::string message;
};
void PrintTo(const ReadCase &c, std::ostream *os) { *os << c.name; }

class ClientResponse : public ::testing::TestWithParam<ReadCase> {
protected:
  static void SetUpTestSuite() { InitContract(); }
};

TEST_P(ClientResponse, Reads) {
  const ReadCase &c = GetParam();
  TIntfMetaData md = GetIntfMetaData(FlightsOpSoap::StaticTypeInfo());
  const TIntfMethEntry &meth = md.MDA[size_t(GetMethNum(md, "GetFlightsOp"))];
  // As during a server call: the records belong to the current context.
  TInvContext call;
  SetCurrentDataContext(&call);
  TInvContext ctx;
  ctx.SetMethodInfo(meth);
  ArrayOfFlightOp result;
  ctx.SetResultPointer(&result);
  std::string error, message;
  try {
    ClientConverter()->ProcessResponse(c.xml, md, meth, ctx, nullptr);
  } catch (const Exception &e) {
    error = e.ClassName();
    message = e.Message;
  }
  SetCurrentDataContext(nullptr);
  EXPECT_EQ(error, c.error);
  EXPECT_EQ(message, c.message);
  std::vector<std::string> got;
  for (FlightOp *f : result) {
    got.push_back(Describe(f));
    if (f) {
      EXPECT_TRUE(call.HasObjectToDestroy(f));
    }
  }
  EXPECT_EQ(got, c.records);
}

const std::string kNotFound =
    "SOAP Response Packet: element matching function return not found, received \"";

INSTANTIATE_TEST_SUITE_P(
    Answers, ClientResponse,
    ::testing::Values(
        ReadCase{"ThreeItemsWhateverTheirNames",
                 Env(Body(Resp("<Anything><FlightOp><Flight>1</Flight></FlightOp>"
                               "<x><Flight>2</Flight></x><y:z xmlns:y=\"urn:y\"/></Anything>"))),
                 {"Flight=1;", "Flight=2;", ""}},
        ReadCase{"AllTwelveInOrder",
                 Env(Body(Result(
                     "<FlightOp><Airline>IB</Airline><Id_Airline>1</Id_Airline><Flight>3</Flight>"
                     "<MovTp>A</MovTp><Destino>MAD</Destino><DestDesc>Madrid</DestDesc>"
                     "<Origen>BCN</Origen><OrigDesc>Barcelona</OrigDesc><Stda>08:00</Stda>"
                     "<Atda>08:05</Atda><Via>VLC</Via><Pax>99</Pax></FlightOp>"))),
                 {"Airline=IB;Id_Airline=1;Flight=3;MovTp=A;Destino=MAD;DestDesc=Madrid;"
                  "Origen=BCN;OrigDesc=Barcelona;Stda=08:00;Atda=08:05;Via=VLC;Pax=99;"}},
        ReadCase{"OutOfOrderAndUnknownChildren",
                 Env(Body(Result("<FlightOp><Pax>1</Pax><Extra>x</Extra><Airline>IB</Airline>"
                                 "</FlightOp>"))),
                 {"Airline=IB;Pax=1;"}},
        ReadCase{"PropertyCaseMatters",
                 Env(Body(Result("<FlightOp><airline>x</airline><AIRLINE>y</AIRLINE>"
                                 "<Pax>2</Pax></FlightOp>"))),
                 {"Pax=2;"}},
        ReadCase{
            "PropertyNamespaceIgnored",
            Env(Body(Result("<FlightOp><q:Airline xmlns:q=\"urn:q\">Q</q:Airline></FlightOp>"))),
            {"Airline=Q;"}},
        ReadCase{"EmptyAndNilAreSpecifiedAndEmpty",
                 Env(Body(Result("<FlightOp><Airline/><Pax xsi:nil=\"true\">7</Pax></FlightOp>"))),
                 {"Airline=;Pax=;"}},
        ReadCase{"FirstOfDuplicates",
                 Env(Body(Result("<FlightOp><Airline>1</Airline><Pax>p</Pax><Airline>2</Airline>"
                                 "</FlightOp>"))),
                 {"Airline=1;Pax=p;"}},
        ReadCase{
            "TextAsSent",
            Env(Body(Result("<FlightOp><Via> a &amp; b </Via><Stda><![CDATA[<t>]]></Stda>"
                            "<Atda>x<b>y</b></Atda><OrigDesc>Zürich 東京</OrigDesc></FlightOp>"))),
            {"OrigDesc=Zürich 東京;Stda=<t>;Atda=x<b>y</b>;Via= a & b ;"}},
        ReadCase{"NilItem",
                 Env(Body(Result("<FlightOp xsi:nil=\"TRUE\"/><FlightOp xsi:nil=\"false\"/>"))),
                 {"nil", ""}},
        ReadCase{"AnnouncedLengthIgnored",
                 Env(Body(Resp("<R xmlns:e=\"" + kEncNS +
                               "\" e:arrayType=\"x:FlightOp[100000000]\"><i/></R>"))),
                 {""}},
        ReadCase{"NoItems", Env(Body(Result(""))), {}},
        ReadCase{"ResultChosenByNameAnyCase",
                 Env(Body(Resp("<other><x/></other><result><a/><b/></result>"))),
                 {"", ""}},
        ReadCase{"ReturnChosenByName", Env(Body(Resp("<x/><RETURN><a/></RETURN>"))), {""}},
        ReadCase{"NoReturnAmongSeveral",
                 Env(Body(Resp("<a/><b/>"))),
                 {},
                 "ESOAPDomConvertError",
                 kNotFound + Resp("<a/><b/>") + "\""},
        ReadCase{"NoReturnInEmptyResponse",
                 Env(Body(Resp(""))),
                 {},
                 "ESOAPDomConvertError",
                 kNotFound + "<GetFlightsOpResponse xmlns=\"" + kUpNS + "\"/>\""},
        ReadCase{"NoBody", Env("<soap:Header/>"), {}},
        ReadCase{"EmptyBody", Env("<soap:Body/>"), {}},
        ReadCase{"BodyOnlyText", Env(Body("text<!--c-->")), {}},
        ReadCase{"Soap12Envelope",
                 Env(Body(Result("<i/>")), "http://www.w3.org/2003/05/soap-envelope"),
                 {""}},
        ReadCase{"NoDocumentElementName",
                 "<Foo xmlns=\"urn:x\"/>",
                 {},
                 "ESOAPDomConvertError",
                 "DocumentElement " + kEnvNS + ":Envelope expected, urn:x:Foo found"},
        ReadCase{
            "EnvelopeWithoutChildren", Env(""), {}, "ESOAPDomConvertError", "Invalid SOAP request"},
        ReadCase{"SecondHeader",
                 Env("<soap:Header/><soap:Header/>" + Body(Result(""))),
                 {},
                 "ESOAPDomConvertError",
                 "Invalid SOAP response"},
        ReadCase{"SecondBody",
                 Env(Body(Result("")) + Body(Result(""))),
                 {},
                 "ESOAPDomConvertError",
                 "Invalid SOAP response"},
        ReadCase{"MustUnderstandHeader",
                 Env("<soap:Header><S mustUnderstand=\"1\"/></soap:Header>" + Body(Result(""))),
                 {},
                 "ERemotableException",
                 "Soap header S with attribute 'mustUnderstand' set to true was not handled"},
        ReadCase{
            "PrefixedMustUnderstandIgnored",
            Env("<soap:Header><S soap:mustUnderstand=\"1\"/></soap:Header>" + Body(Result("<i/>"))),
            {""}},
        ReadCase{"FaultInOtherCaseIsAResponse",
                 Env(Body("<fault><faultcode>c</faultcode><faultstring>s</faultstring></fault>")),
                 {},
                 "ESOAPDomConvertError",
                 kNotFound +
                     "<fault><faultcode>c</faultcode><faultstring>s</faultstring></fault>\""}),
    [](const auto &info) { return std::string(info.param.name); });

// The parse message is the DOM's own; only its class is ours to check.
TEST(ClientResponseParse, Message) {
  InitContract();
  TIntfMetaData md = GetIntfMetaData(FlightsOpSoap::StaticTypeInfo());
  const TIntfMethEntry &meth = md.MDA[size_t(GetMethNum(md, "GetFlightsOp"))];
  TInvContext ctx;
  ctx.SetMethodInfo(meth);
  ArrayOfFlightOp result;
  ctx.SetResultPointer(&result);
  EXPECT_THROW(ClientConverter()->ProcessResponse("<a>", md, meth, ctx, nullptr), EDOMParseError);
}

// ---- received faults ------------------------------------------------------------------

struct FaultCase {
  const char *name;
  std::string fault; // the Fault element
  std::string message, code, actor, detail;
};
void PrintTo(const FaultCase &c, std::ostream *os) { *os << c.name; }

class ClientFault : public ::testing::TestWithParam<FaultCase> {
protected:
  static void SetUpTestSuite() { InitContract(); }
};

TEST_P(ClientFault, RaisesRemotableException) {
  const FaultCase &c = GetParam();
  TIntfMetaData md = GetIntfMetaData(FlightsOpSoap::StaticTypeInfo());
  const TIntfMethEntry &meth = md.MDA[size_t(GetMethNum(md, "GetFlightsOp"))];
  TInvContext ctx;
  ctx.SetMethodInfo(meth);
  ArrayOfFlightOp result;
  ctx.SetResultPointer(&result);
  try {
    ClientConverter()->ProcessResponse(Env(Body(c.fault)), md, meth, ctx, nullptr);
    FAIL() << "no fault raised";
  } catch (const ERemotableException &e) {
    EXPECT_STREQ(e.ClassName(), "ERemotableException");
    EXPECT_EQ(e.Message, c.message);
    EXPECT_EQ(e.FFaultCode, c.code);
    EXPECT_EQ(e.FFaultActor, c.actor);
    EXPECT_EQ(e.FFaultDetail, c.detail);
  }
  EXPECT_TRUE(result.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Faults, ClientFault,
    ::testing::Values(
        FaultCase{"AllFields",
                  "<soap:Fault><faultcode>soap:Server</faultcode><faultstring>boom</faultstring>"
                  "<faultactor>urn:a</faultactor><detail><x>1</x></detail></soap:Fault>",
                  "boom", "soap:Server", "urn:a", "<detail><x>1</x></detail>"},
        FaultCase{"CapitalsAndOtherNamespace",
                  "<soap:Fault><FAULTCODE>c</FAULTCODE><n:FaultString xmlns:n=\"urn:n\">up"
                  "</n:FaultString></soap:Fault>",
                  "up", "c", "", ""},
        FaultCase{"LastOfRepeated",
                  "<soap:Fault><faultstring>1</faultstring><faultstring>2</faultstring>"
                  "</soap:Fault>",
                  "2", "", "", ""},
        FaultCase{"EmptyTextUsesDetail",
                  "<soap:Fault><faultcode>x:Client</faultcode><faultstring/>"
                  "<detail>why</detail></soap:Fault>",
                  "<detail>why</detail>", "x:Client", "", "<detail>why</detail>"},
        FaultCase{"EmptyTextNoDetailUsesFault",
                  "<soap:Fault><faultcode>soap:Server</faultcode><faultstring></faultstring>"
                  "</soap:Fault>",
                  "<soap:Fault><faultcode>soap:Server</faultcode><faultstring/></soap:Fault>",
                  "soap:Server", "", ""}),
    [](const auto &info) { return std::string(info.param.name); });

// Without a current call context the records belong to the caller.
TEST(ClientResponseOwnership, OutsideACallTheCallerOwnsRecords) {
  InitContract();
  TIntfMetaData md = GetIntfMetaData(FlightsOpSoap::StaticTypeInfo());
  const TIntfMethEntry &meth = md.MDA[size_t(GetMethNum(md, "GetFlightsOp"))];
  TInvContext ctx;
  ctx.SetMethodInfo(meth);
  ArrayOfFlightOp result;
  ctx.SetResultPointer(&result);
  ASSERT_EQ(GetCurrentDataContext(), nullptr);
  ClientConverter()->ProcessResponse(Env(Body(Result("<a><Pax>1</Pax></a>"))), md, meth, ctx,
                                     nullptr);
  ASSERT_EQ(result.size(), 1u);
  std::unique_ptr<FlightOp> owned(result[0]);
  EXPECT_EQ(owned->DataContext(), nullptr);
  EXPECT_EQ(owned->Pax(), "1");
}

} // namespace
