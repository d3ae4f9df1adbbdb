// The XML layer on a relay-sized answer: 1,000 records of 12 short text
// elements, built and written as the server writes its response, and parsed
// and read back as the client reads the upstream answer.
#include <benchmark/benchmark.h>

#include "xml/XMLDoc.h"

using namespace vv;

namespace {

constexpr int kRecords = 1000;
constexpr const char *kEnv = "http://schemas.xmlsoap.org/soap/envelope/";
constexpr const char *kEnc = "http://schemas.xmlsoap.org/soap/encoding/";
constexpr const char *kXsd = "http://www.w3.org/2001/XMLSchema";
constexpr const char *kXsi = "http://www.w3.org/2001/XMLSchema-instance";
constexpr const char *kFields[12] = {"Airline", "Id_Airline", "Flight", "MovTp",
                                     "Destino", "DestDesc",   "Origen", "OrigDesc",
                                     "Stda",    "Atda",       "Via",    "Pax"};

std::string BuildAnswer() {
  auto doc = NewXMLDocument("1.0");
  IXMLNode env = doc->AddChild("SOAP-ENV:Envelope", kEnv);
  env.DeclareNamespace("xsd", kXsd);
  env.DeclareNamespace("xsi", kXsi);
  env.DeclareNamespace("SOAP-ENC", kEnc);
  IXMLNode body = env.AddChild("SOAP-ENV:Body", kEnv);
  body.SetAttributeNS("encodingStyle", kEnv, kEnc);
  std::string ns1 = doc->GeneratePrefix(body);
  body.DeclareNamespace(ns1, "urn:uDRUXIntf-IDRUX");
  IXMLNode resp = body.AddChild(ns1 + ":GetFlightsOpSoapResponse");
  IXMLNode ret = resp.AddChild("return", "");
  ret.SetAttributeNS("type", kXsi, "SOAP-ENC:Array");
  std::string ns2 = doc->GeneratePrefix(body);
  body.DeclareNamespace(ns2, "https://www.ostrel.example/webservices/");
  ret.SetAttributeNS("arrayType", kEnc, ns2 + ":FlightOp[" + std::to_string(kRecords) + "]");
  for (int i = 1; i <= kRecords; ++i) {
    std::string id = std::to_string(i);
    ret.AddChild("item", "").SetAttribute("href", "#" + id);
    IXMLNode rec = body.AddChild(ns2 + ":FlightOp", "https://www.ostrel.example/webservices/");
    rec.SetAttribute("id", id);
    rec.SetAttributeNS("type", kXsi, ns2 + ":FlightOp");
    for (const char *f : kFields) {
      IXMLNode e = rec.AddChild(f, "");
      e.SetAttributeNS("type", kXsi, "xsd:string");
      e.SetText("V" + id);
    }
  }
  return doc->XML();
}

void BM_BuildAndWrite(benchmark::State &state) {
  size_t bytes = 0;
  for (auto _ : state) {
    std::string xml = BuildAnswer();
    bytes = xml.size();
    benchmark::DoNotOptimize(xml.data());
  }
  state.counters["bytes"] = double(bytes);
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes));
}
BENCHMARK(BM_BuildAndWrite)->Unit(benchmark::kMillisecond);

void BM_Parse(benchmark::State &state) {
  std::string xml = BuildAnswer();
  for (auto _ : state) {
    auto doc = NewXMLDocument();
    doc->LoadFromXML(xml);
    benchmark::DoNotOptimize(doc->DocumentElement());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(xml.size()));
}
BENCHMARK(BM_Parse)->Unit(benchmark::kMillisecond);

// Parse, then read every record the way the client converter does: local
// names, the xsi:type of each record, the text of each field.
void BM_ParseAndRead(benchmark::State &state) {
  std::string xml = BuildAnswer();
  for (auto _ : state) {
    auto doc = NewXMLDocument();
    doc->LoadFromXML(xml);
    IXMLNode body = doc->DocumentElement().FirstChildElement();
    size_t chars = 0;
    for (IXMLNode rec = body.FirstChildElement(); rec; rec = rec.NextSiblingElement()) {
      if (rec.LocalName() != "FlightOp") continue;
      chars += rec.GetAttributeNS("type", kXsi)->size();
      for (IXMLNode f = rec.FirstChildElement(); f; f = f.NextSiblingElement())
        chars += f.LocalName().size() + f.Text().size();
    }
    benchmark::DoNotOptimize(chars);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(xml.size()));
}
BENCHMARK(BM_ParseAndRead)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
