// The server's rpc/encoded response, byte for byte.
#include <gtest/gtest.h>

#include <functional>

#include "tests/soap/server/ConverterTestUtil.h"

using namespace vv;
using namespace vv::test;

namespace {

std::string BodyStart() {
  return "<SOAP-ENV:Body SOAP-ENV:encodingStyle=\"" + kEncNS +
         "\" xmlns:NS1=\"urn:uDRUXIntf-IDRUX\" xmlns:NS2=\"" + kUpNS + "\">";
}

std::string Response(const std::string &arrayItems, int n, const std::string &records) {
  return kDecl + EnvelopeStart(true) + BodyStart() +
         "<NS1:GetFlightsOpSoapResponse><return xsi:type=\"SOAP-ENC:Array\" "
         "SOAP-ENC:arrayType=\"NS2:FlightOp[" +
         std::to_string(n) + "]\"" + (arrayItems.empty() ? "/>" : ">" + arrayItems + "</return>") +
         "</NS1:GetFlightsOpSoapResponse>" + records + "</SOAP-ENV:Body></SOAP-ENV:Envelope>";
}

struct ResponseCase {
  const char *name;
  std::vector<std::function<void(FlightOp &)>> records; // how each record is filled
  std::string expected;
};

void PrintTo(const ResponseCase &c, std::ostream *os) { *os << c.name; }

class ConverterResponse : public ::testing::TestWithParam<ResponseCase> {
protected:
  static void SetUpTestSuite() { InitContract(); }
};

TEST_P(ConverterResponse, WritesExactDocument) {
  const ResponseCase &c = GetParam();
  TIntfMetaData md = GetIntfMetaData(IDRUX::StaticTypeInfo());
  int m = GetMethNum(md, "GetFlightsOpSoap");
  ASSERT_GE(m, 0);
  TInvContext ctx;
  ctx.SetMethodInfo(md.MDA[size_t(m)]);
  ctx.AllocServerData(md.MDA[size_t(m)]);
  std::vector<std::unique_ptr<FlightOp>> owned;
  auto &result = *static_cast<ArrayOfFlightOp *>(ctx.GetResultPointer());
  for (auto &fill : c.records) {
    owned.push_back(std::make_unique<FlightOp>());
    fill(*owned.back());
    result.push_back(owned.back().get());
  }
  IPtr<ISoapConvert> conv = NewConverter();
  TMemoryStream out;
  conv->MakeResponse(md, m, ctx, out, nullptr);
  EXPECT_EQ(out.Data(), c.expected);
  // Nothing of one message survives into the next: identifiers restart at 1.
  TMemoryStream again;
  conv->MakeResponse(md, m, ctx, again, nullptr);
  EXPECT_EQ(again.Data(), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Records, ConverterResponse,
    ::testing::Values(
        ResponseCase{"None", {}, Response("", 0, "")},
        ResponseCase{"OneWithNothingSpecified",
                     {[](FlightOp &) {}},
                     Response("<item href=\"#1\"/>", 1,
                              "<NS2:FlightOp id=\"1\" xsi:type=\"NS2:FlightOp\"/>")},
        ResponseCase{"OnlyPax",
                     {[](FlightOp &f) { f.SetPax("120"); }},
                     Response("<item href=\"#1\"/>", 1,
                              "<NS2:FlightOp id=\"1\" xsi:type=\"NS2:FlightOp\">"
                              "<Pax xsi:type=\"xsd:string\">120</Pax></NS2:FlightOp>")},
        ResponseCase{
            "ThreeInOrderWithEmptyEscapedAndNonAscii",
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
                     "<Via xsi:type=\"xsd:string\">]]&gt;</Via></NS2:FlightOp>")}),
    [](const auto &info) { return std::string(info.param.name); });

// The same record twice in one answer is written once and referenced twice.
TEST(ConverterResponseRefs, RepeatedRecordKeepsItsIdentifier) {
  InitContract();
  TIntfMetaData md = GetIntfMetaData(IDRUX::StaticTypeInfo());
  int m = GetMethNum(md, "GetFlightsOpSoap");
  TInvContext ctx;
  ctx.SetMethodInfo(md.MDA[size_t(m)]);
  ctx.AllocServerData(md.MDA[size_t(m)]);
  FlightOp a;
  *static_cast<ArrayOfFlightOp *>(ctx.GetResultPointer()) = {&a, nullptr, &a};
  TMemoryStream out;
  NewConverter()->MakeResponse(md, m, ctx, out, nullptr);
  EXPECT_EQ(out.Data(), Response("<item href=\"#1\"/><item xsi:nil=\"true\"/><item href=\"#1\"/>",
                                 3, "<NS2:FlightOp id=\"1\" xsi:type=\"NS2:FlightOp\"/>"));
}

// A large answer going to a content stream is planned only: its bytes are
// made while the stream is sent, the same bytes as in memory.
TEST(ConverterResponseStreamed, LargeAnswerIsMadeWhileSent) {
  InitContract();
  TIntfMetaData md = GetIntfMetaData(IDRUX::StaticTypeInfo());
  int m = GetMethNum(md, "GetFlightsOpSoap");
  TInvContext ctx;
  ctx.SetMethodInfo(md.MDA[size_t(m)]);
  ctx.AllocServerData(md.MDA[size_t(m)]);
  std::vector<std::unique_ptr<FlightOp>> owned;
  auto &result = *static_cast<ArrayOfFlightOp *>(ctx.GetResultPointer());
  for (int i = 0; i < 3000; ++i) {
    owned.push_back(std::make_unique<FlightOp>());
    owned.back()->SetAirline("AIRLINE & <" + std::to_string(i) + ">");
    owned.back()->SetDestDesc("Z\xC3\xBCrich " + std::string(size_t(i % 40), 'x'));
    result.push_back(owned.back().get());
  }
  IPtr<ISoapConvert> conv = NewConverter();
  TMemoryStream inMemory;
  conv->MakeResponse(md, m, ctx, inMemory, nullptr);
  ASSERT_GE(inMemory.Size(), kMinStreamedResponseSize);

  TContentStream content;
  conv->MakeResponse(md, m, ctx, content, nullptr);
  EXPECT_TRUE(content.HasProducer());
  EXPECT_EQ(content.Size(), inMemory.Size());
  EXPECT_TRUE(content.Data().empty());
  content.SetPosition(0);
  std::string sent;
  size_t largest = 0;
  content.SendTo([&](const char *d, size_t n) {
    sent.append(d, n);
    largest = std::max(largest, n);
  });
  EXPECT_EQ(sent, inMemory.Data());
  EXPECT_LE(largest, 128u * 1024); // handed on in pieces, never whole
}

} // namespace
