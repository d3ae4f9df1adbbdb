// The server's rpc/encoded response, byte for byte.
#include <gtest/gtest.h>

#include <functional>

#include "tests/support/ConverterTestUtil.h"
#include "tests/support/TestContract.h"

using namespace vv;
using namespace vvtest;

namespace {

// The namespace of the document/literal port type and its types.
const std::string kUpNS = kParcelNS;

std::string BodyStart() {
  return "<SOAP-ENV:Body SOAP-ENV:encodingStyle=\"" + kEncNS +
         "\" xmlns:NS1=\"urn:uDepotIntf-IDepot\" xmlns:NS2=\"" + kUpNS + "\">";
}

std::string Response(const std::string &arrayItems, int n, const std::string &records) {
  return kDecl + EnvelopeStart(true) + BodyStart() +
         "<NS1:GetParcelsSoapResponse><return xsi:type=\"SOAP-ENC:Array\" "
         "SOAP-ENC:arrayType=\"NS2:Parcel[" +
         std::to_string(n) + "]\"" + (arrayItems.empty() ? "/>" : ">" + arrayItems + "</return>") +
         "</NS1:GetParcelsSoapResponse>" + records + "</SOAP-ENV:Body></SOAP-ENV:Envelope>";
}

// A server call to GetParcelsSoap, its result ready to be filled.
struct TParcelsCall {
  TParcelsCall() {
    ctx.SetMethodInfo(md.MDA[size_t(m)]);
    ctx.AllocServerData(md.MDA[size_t(m)]);
  }
  ArrayOfParcel &Result() { return *static_cast<ArrayOfParcel *>(ctx.GetResultPointer()); }

  TIntfMetaData md = (InitTestContract(), GetIntfMetaData(IDepot::StaticTypeInfo()));
  int m = GetMethNum(md, "GetParcelsSoap");
  TInvContext ctx;
};

struct ResponseCase {
  const char *name;
  std::vector<std::function<void(Parcel &)>> records; // how each record is filled
  std::string expected;
};

void PrintTo(const ResponseCase &c, std::ostream *os) { *os << c.name; }

class ConverterResponse : public ::testing::TestWithParam<ResponseCase> {
protected:
  static void SetUpTestSuite() { InitTestContract(); }
};

TEST_P(ConverterResponse, WritesExactDocument) {
  const ResponseCase &c = GetParam();
  TParcelsCall call;
  ASSERT_GE(call.m, 0);
  auto &[md, m, ctx] = call;
  std::vector<std::unique_ptr<Parcel>> owned;
  auto &result = call.Result();
  for (auto &fill : c.records) {
    owned.push_back(std::make_unique<Parcel>());
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
        ResponseCase{
            "OneWithNothingSpecified",
            {[](Parcel &) {}},
            Response("<item href=\"#1\"/>", 1, "<NS2:Parcel id=\"1\" xsi:type=\"NS2:Parcel\"/>")},
        ResponseCase{"OnlyPax",
                     {[](Parcel &f) { f.SetWeight("120"); }},
                     Response("<item href=\"#1\"/>", 1,
                              "<NS2:Parcel id=\"1\" xsi:type=\"NS2:Parcel\">"
                              "<Weight xsi:type=\"xsd:string\">120</Weight></NS2:Parcel>")},
        ResponseCase{
            "ThreeInOrderWithEmptyEscapedAndNonAscii",
            {[](Parcel &f) {
               f.SetWeight("7"); // set before Carrier: the order written is the declared one
               f.SetCarrier("IB");
               f.SetCode("3100");
             },
             [](Parcel &f) {
               f.SetDest("");
               f.SetDestName("A & B <C> \"D\" 'E'");
             },
             [](Parcel &f) {
               f.SetOriginName("A Coruña – Zürich 東京");
               f.SetVia("]]>");
             }},
            Response("<item href=\"#1\"/><item href=\"#2\"/><item href=\"#3\"/>", 3,
                     "<NS2:Parcel id=\"1\" xsi:type=\"NS2:Parcel\">"
                     "<Carrier xsi:type=\"xsd:string\">IB</Carrier>"
                     "<Code xsi:type=\"xsd:string\">3100</Code>"
                     "<Weight xsi:type=\"xsd:string\">7</Weight></NS2:Parcel>"
                     "<NS2:Parcel id=\"2\" xsi:type=\"NS2:Parcel\">"
                     "<Dest xsi:type=\"xsd:string\"/>"
                     "<DestName xsi:type=\"xsd:string\">A &amp; B &lt;C&gt; \"D\" 'E'</DestName>"
                     "</NS2:Parcel>"
                     "<NS2:Parcel id=\"3\" xsi:type=\"NS2:Parcel\">"
                     "<OriginName xsi:type=\"xsd:string\">A Coruña – Zürich 東京</OriginName>"
                     "<Via xsi:type=\"xsd:string\">]]&gt;</Via></NS2:Parcel>")}),
    [](const auto &info) { return std::string(info.param.name); });

// The same record twice in one answer is written once and referenced twice.
TEST(ConverterResponseRefs, RepeatedRecordKeepsItsIdentifier) {
  TParcelsCall call;
  auto &[md, m, ctx] = call;
  Parcel a;
  call.Result() = {&a, nullptr, &a};
  TMemoryStream out;
  NewConverter()->MakeResponse(md, m, ctx, out, nullptr);
  EXPECT_EQ(out.Data(), Response("<item href=\"#1\"/><item xsi:nil=\"true\"/><item href=\"#1\"/>",
                                 3, "<NS2:Parcel id=\"1\" xsi:type=\"NS2:Parcel\"/>"));
}

// An answer that fits the buffer is written once, into the content
// stream's memory; a larger one is measured only, and its bytes are made
// while the stream is sent, the same bytes as in memory.
TEST(ConverterResponseStreamed, SmallAnswerIsWrittenOnce) {
  TParcelsCall call;
  Parcel a;
  a.SetCarrier("c");
  call.Result() = {&a};
  TMemoryStream inMemory;
  NewConverter()->MakeResponse(call.md, call.m, call.ctx, inMemory, nullptr);
  TContentStream content;
  NewConverter()->MakeResponse(call.md, call.m, call.ctx, content, nullptr);
  EXPECT_FALSE(content.HasProducer());
  EXPECT_EQ(content.Data(), inMemory.Data());
  EXPECT_EQ(content.Position(), content.Size());
}

TEST(ConverterResponseStreamed, LargeAnswerIsMadeWhileSent) {
  TParcelsCall call;
  auto &[md, m, ctx] = call;
  std::vector<std::unique_ptr<Parcel>> owned;
  auto &result = call.Result();
  for (int i = 0; i < 40000; ++i) {
    owned.push_back(std::make_unique<Parcel>());
    owned.back()->SetCarrier("CARRIER & <" + std::to_string(i) + ">");
    owned.back()->SetDestName("Z\xC3\xBCrich " + std::string(size_t(i % 40), 'x'));
    result.push_back(owned.back().get());
  }
  IPtr<ISoapConvert> conv = NewConverter();
  TMemoryStream inMemory;
  conv->MakeResponse(md, m, ctx, inMemory, nullptr);
  ASSERT_GT(size_t(inMemory.Size()), kMaxBufferedResponse);

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
