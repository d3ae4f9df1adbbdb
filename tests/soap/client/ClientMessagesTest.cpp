// The client's document/literal request and the reading of its answers.
#include <gtest/gtest.h>

#include "rtl/TypeInfo.h"
#include "soap/server/RemotableException.h"
#include "tests/support/ConverterTestUtil.h"
#include "tests/support/TestContract.h"
#include "xml/XMLDoc.h"

using namespace vv;
using namespace vvtest;

namespace {

// The namespace of the document/literal port type and its types.
const std::string kUpNS = kParcelNS;

IPtr<ISoapConvert> ClientConverter() {
  IPtr<ISoapConvert> conv = NewConverter();
  conv->SetOptions(TSOAPConvertOptions(DefaultSOAPConvertOptions).Include(soDocument));
  return conv;
}

TEST(ClientRequest, DocumentLiteralForAirport) {
  InitTestContract();
  TIntfMetaData md = GetIntfMetaData(ParcelsSoap::StaticTypeInfo());
  int m = GetMethNum(md, "GetParcels");
  ASSERT_GE(m, 0);
  for (std::string depot : {"ABC", "", "A&B <\"'>"}) {
    TInvContext ctx;
    ctx.SetMethodInfo(md.MDA[size_t(m)]);
    ctx.SetParamPointer(0, &depot);
    std::unique_ptr<TStream> req = ClientConverter()->InvContextToMsg(md, m, ctx, nullptr);
    std::string escaped = depot == "A&B <\"'>" ? "A&amp;B &lt;\"'&gt;" : depot;
    EXPECT_EQ(req->Position(), req->Size());
    EXPECT_EQ(req->DataString(),
              kDecl + EnvelopeStart(false) + "<SOAP-ENV:Body><GetParcels xmlns=\"" + kUpNS + "\">" +
                  (escaped.empty() ? "<depot/>" : "<depot>" + escaped + "</depot>") +
                  "</GetParcels></SOAP-ENV:Body></SOAP-ENV:Envelope>");
  }
}

// ---- reading answers ----------------------------------------------------------------

std::string Env(const std::string &inner, const std::string &ns = kEnvNS) {
  return "<soap:Envelope xmlns:soap=\"" + ns + "\" xmlns:xsi=\"" + kXsiNS + "\">" + inner +
         "</soap:Envelope>";
}
std::string Body(const std::string &inner) { return "<soap:Body>" + inner + "</soap:Body>"; }
const std::string kRespOpen = "<GetParcelsResponse xmlns=\"" + kUpNS + "\">";
const std::string kRespClose = "</GetParcelsResponse>";
std::string Resp(const std::string &inner) { return kRespOpen + inner + kRespClose; }
std::string Result(const std::string &items) {
  return Resp("<GetParcelsResult>" + items + "</GetParcelsResult>");
}

// A record as "Name=value;" for each specified property, in declared order.
std::string Describe(const Parcel *f) {
  if (!f) return "nil";
  std::string s;
  for (const TPropInfo *p : AllProps(Parcel::StaticClassInfo())) {
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
  static void SetUpTestSuite() { InitTestContract(); }
};

TEST_P(ClientResponse, Reads) {
  const ReadCase &c = GetParam();
  TIntfMetaData md = GetIntfMetaData(ParcelsSoap::StaticTypeInfo());
  const TIntfMethEntry &meth = md.MDA[size_t(GetMethNum(md, "GetParcels"))];
  // As during a server call: the records belong to the current context.
  TInvContext call;
  SetCurrentDataContext(&call);
  TInvContext ctx;
  ctx.SetMethodInfo(meth);
  ArrayOfParcel result;
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
  for (Parcel *f : result) {
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
                 Env(Body(Resp("<Anything><Parcel><Code>1</Code></Parcel>"
                               "<x><Code>2</Code></x><y:z xmlns:y=\"urn:y\"/></Anything>"))),
                 {"Code=1;", "Code=2;", ""}},
        ReadCase{"AllTwelveInOrder",
                 Env(Body(Result(
                     "<Parcel><Carrier>IB</Carrier><Id_Carrier>1</Id_Carrier><Code>3</Code>"
                     "<Kind>A</Kind><Dest>MAD</Dest><DestName>Madrid</DestName>"
                     "<Origin>BCN</Origin><OriginName>Barcelona</OriginName><Sent>08:00</Sent>"
                     "<Arrived>08:05</Arrived><Via>VLC</Via><Weight>99</Weight></Parcel>"))),
                 {"Carrier=IB;Id_Carrier=1;Code=3;Kind=A;Dest=MAD;DestName=Madrid;"
                  "Origin=BCN;OriginName=Barcelona;Sent=08:00;Arrived=08:05;Via=VLC;Weight=99;"}},
        ReadCase{"OutOfOrderAndUnknownChildren",
                 Env(Body(Result("<Parcel><Weight>1</Weight><Extra>x</Extra><Carrier>IB</Carrier>"
                                 "</Parcel>"))),
                 {"Carrier=IB;Weight=1;"}},
        ReadCase{"PropertyCaseMatters",
                 Env(Body(Result("<Parcel><carrier>x</carrier><CARRIER>y</CARRIER>"
                                 "<Weight>2</Weight></Parcel>"))),
                 {"Weight=2;"}},
        ReadCase{"PropertyNamespaceIgnored",
                 Env(Body(Result("<Parcel><q:Carrier xmlns:q=\"urn:q\">Q</q:Carrier></Parcel>"))),
                 {"Carrier=Q;"}},
        ReadCase{
            "EmptyAndNilAreSpecifiedAndEmpty",
            Env(Body(Result("<Parcel><Carrier/><Weight xsi:nil=\"true\">7</Weight></Parcel>"))),
            {"Carrier=;Weight=;"}},
        ReadCase{
            "FirstOfDuplicates",
            Env(Body(Result("<Parcel><Carrier>1</Carrier><Weight>p</Weight><Carrier>2</Carrier>"
                            "</Parcel>"))),
            {"Carrier=1;Weight=p;"}},
        ReadCase{"TextAsSent",
                 Env(Body(Result(
                     "<Parcel><Via> a &amp; b </Via><Sent><![CDATA[<t>]]></Sent>"
                     "<Arrived>x<b>y</b></Arrived><OriginName>Zürich 東京</OriginName></Parcel>"))),
                 {"OriginName=Zürich 東京;Sent=<t>;Arrived=x<b>y</b>;Via= a & b ;"}},
        ReadCase{"NilItem",
                 Env(Body(Result("<Parcel xsi:nil=\"TRUE\"/><Parcel xsi:nil=\"false\"/>"))),
                 {"nil", ""}},
        ReadCase{"AnnouncedLengthIgnored",
                 Env(Body(Resp("<R xmlns:e=\"" + kEncNS +
                               "\" e:arrayType=\"x:Parcel[100000000]\"><i/></R>"))),
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
                 kNotFound + "<GetParcelsResponse xmlns=\"" + kUpNS + "\"/>\""},
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
  InitTestContract();
  TIntfMetaData md = GetIntfMetaData(ParcelsSoap::StaticTypeInfo());
  const TIntfMethEntry &meth = md.MDA[size_t(GetMethNum(md, "GetParcels"))];
  TInvContext ctx;
  ctx.SetMethodInfo(meth);
  ArrayOfParcel result;
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
  static void SetUpTestSuite() { InitTestContract(); }
};

TEST_P(ClientFault, RaisesRemotableException) {
  const FaultCase &c = GetParam();
  TIntfMetaData md = GetIntfMetaData(ParcelsSoap::StaticTypeInfo());
  const TIntfMethEntry &meth = md.MDA[size_t(GetMethNum(md, "GetParcels"))];
  TInvContext ctx;
  ctx.SetMethodInfo(meth);
  ArrayOfParcel result;
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
  InitTestContract();
  TIntfMetaData md = GetIntfMetaData(ParcelsSoap::StaticTypeInfo());
  const TIntfMethEntry &meth = md.MDA[size_t(GetMethNum(md, "GetParcels"))];
  TInvContext ctx;
  ctx.SetMethodInfo(meth);
  ArrayOfParcel result;
  ctx.SetResultPointer(&result);
  ASSERT_EQ(GetCurrentDataContext(), nullptr);
  ClientConverter()->ProcessResponse(Env(Body(Result("<a><Weight>1</Weight></a>"))), md, meth, ctx,
                                     nullptr);
  ASSERT_EQ(result.size(), 1u);
  std::unique_ptr<Parcel> owned(result[0]);
  EXPECT_EQ(owned->DataContext(), nullptr);
  EXPECT_EQ(owned->Weight(), "1");
}

} // namespace
