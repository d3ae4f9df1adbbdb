// The relay's own contract on the wire, byte for byte: the rpc/encoded
// answer of IDRUX.GetFlightsOpSoap and the document/literal request of
// FlightsOpSoap.GetFlightsOp. (How the framework writes and reads messages
// in general is tested with the framework's own test contract.)
#include <gtest/gtest.h>

#include <functional>

#include "relay/uDRUXIntf.h"
#include "relay/uOstrel.h"
#include "soap/server/SOAPConvertOptions.h"
#include "tests/support/ConverterTestUtil.h"

using namespace vv;
using namespace vvtest;

namespace {

void InitRelayContract() {
  InitInvokeRegistry();
  InitOstrelUnit();
  InitDRUXIntfUnit();
}

const std::string kUpNS = SUpstreamNameSpace;

std::string Response(const std::string &arrayItems, int n, const std::string &records) {
  return kDecl + EnvelopeStart(true) + "<SOAP-ENV:Body SOAP-ENV:encodingStyle=\"" + kEncNS +
         "\" xmlns:NS1=\"urn:uDRUXIntf-IDRUX\" xmlns:NS2=\"" + kUpNS + "\">" +
         "<NS1:GetFlightsOpSoapResponse><return xsi:type=\"SOAP-ENC:Array\" "
         "SOAP-ENC:arrayType=\"NS2:FlightOp[" +
         std::to_string(n) + "]\"" + (arrayItems.empty() ? "/>" : ">" + arrayItems + "</return>") +
         "</NS1:GetFlightsOpSoapResponse>" + records + "</SOAP-ENV:Body></SOAP-ENV:Envelope>";
}

// The answer written for `records` (null entries stay null).
std::string AnswerFor(const std::vector<FlightOp *> &records) {
  TIntfMetaData md = GetIntfMetaData(IDRUX::StaticTypeInfo());
  int m = GetMethNum(md, "GetFlightsOpSoap");
  TInvContext ctx;
  ctx.SetMethodInfo(md.MDA[size_t(m)]);
  ctx.AllocServerData(md.MDA[size_t(m)]);
  auto &result = *static_cast<ArrayOfFlightOp *>(ctx.GetResultPointer());
  result.assign(records.begin(), records.end());
  TMemoryStream out;
  NewConverter()->MakeResponse(md, m, ctx, out, nullptr);
  return out.Data();
}

TEST(RelayWire, AnswerOfGetFlightsOpSoap) {
  InitRelayContract();
  struct Case {
    const char *Name;
    std::vector<std::function<void(FlightOp &)>> Records; // how each record is filled
    std::string Expected;
  } cases[] = {
      {"none", {}, Response("", 0, "")},
      {"one with nothing specified",
       {[](FlightOp &) {}},
       Response("<item href=\"#1\"/>", 1, "<NS2:FlightOp id=\"1\" xsi:type=\"NS2:FlightOp\"/>")},
      {"only Pax",
       {[](FlightOp &f) { f.SetPax("120"); }},
       Response("<item href=\"#1\"/>", 1,
                "<NS2:FlightOp id=\"1\" xsi:type=\"NS2:FlightOp\">"
                "<Pax xsi:type=\"xsd:string\">120</Pax></NS2:FlightOp>")},
      {"three in order, empty, escaped and non-ASCII",
       {[](FlightOp &f) {
          f.SetPax("7"); // set before Airline: the order written is the declared one
          f.SetAirline("IB");
          f.SetFlight("3100");
        },
        [](FlightOp &f) {
          f.SetDestino("");
          f.SetDestDesc("A & B <C> \"D\" 'E'");
        },
        [](FlightOp &f) {
          f.SetOrigDesc("A Coruña – Zürich 東京");
          f.SetVia("]]>");
        }},
       Response("<item href=\"#1\"/><item href=\"#2\"/><item href=\"#3\"/>", 3,
                "<NS2:FlightOp id=\"1\" xsi:type=\"NS2:FlightOp\">"
                "<Airline xsi:type=\"xsd:string\">IB</Airline>"
                "<Flight xsi:type=\"xsd:string\">3100</Flight>"
                "<Pax xsi:type=\"xsd:string\">7</Pax></NS2:FlightOp>"
                "<NS2:FlightOp id=\"2\" xsi:type=\"NS2:FlightOp\">"
                "<Destino xsi:type=\"xsd:string\"/>"
                "<DestDesc xsi:type=\"xsd:string\">A &amp; B &lt;C&gt; \"D\" 'E'</DestDesc>"
                "</NS2:FlightOp>"
                "<NS2:FlightOp id=\"3\" xsi:type=\"NS2:FlightOp\">"
                "<OrigDesc xsi:type=\"xsd:string\">A Coruña – Zürich 東京</OrigDesc>"
                "<Via xsi:type=\"xsd:string\">]]&gt;</Via></NS2:FlightOp>")},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.Name);
    std::vector<std::unique_ptr<FlightOp>> owned;
    std::vector<FlightOp *> records;
    for (auto &fill : c.Records) {
      owned.push_back(std::make_unique<FlightOp>());
      fill(*owned.back());
      records.push_back(owned.back().get());
    }
    EXPECT_EQ(AnswerFor(records), c.Expected);
  }
}

// The same record twice in one answer is written once and referenced twice.
TEST(RelayWire, RepeatedRecordKeepsItsIdentifier) {
  InitRelayContract();
  FlightOp a;
  EXPECT_EQ(AnswerFor({&a, nullptr, &a}),
            Response("<item href=\"#1\"/><item xsi:nil=\"true\"/><item href=\"#1\"/>", 3,
                     "<NS2:FlightOp id=\"1\" xsi:type=\"NS2:FlightOp\"/>"));
}

TEST(RelayWire, RequestOfGetFlightsOp) {
  InitRelayContract();
  TIntfMetaData md = GetIntfMetaData(FlightsOpSoap::StaticTypeInfo());
  int m = GetMethNum(md, "GetFlightsOp");
  ASSERT_GE(m, 0);
  IPtr<ISoapConvert> conv = NewConverter();
  conv->SetOptions(TSOAPConvertOptions(DefaultSOAPConvertOptions).Include(soDocument));
  for (std::string airport : {"ABC", "", "A&B <\"'>"}) {
    SCOPED_TRACE(airport);
    TInvContext ctx;
    ctx.SetMethodInfo(md.MDA[size_t(m)]);
    ctx.SetParamPointer(0, &airport);
    std::unique_ptr<TStream> req = conv->InvContextToMsg(md, m, ctx, nullptr);
    std::string escaped = airport == "A&B <\"'>" ? "A&amp;B &lt;\"'&gt;" : airport;
    EXPECT_EQ(req->DataString(),
              kDecl + EnvelopeStart(false) + "<SOAP-ENV:Body><GetFlightsOp xmlns=\"" + kUpNS +
                  "\">" + (escaped.empty() ? "<idarpt/>" : "<idarpt>" + escaped + "</idarpt>") +
                  "</GetFlightsOp></SOAP-ENV:Body></SOAP-ENV:Envelope>");
  }
}

} // namespace
