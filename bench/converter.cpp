// The message converter against bare pugixml: reading an upstream answer of
// n records into FlightOp records, writing the server's multi-reference
// response for them, both in a row, and every conversion of a relay call.
// Time per record should stay flat as n grows (the converter is linear in
// the size of the message).
#include <benchmark/benchmark.h>
#include <pugixml.hpp>

#include <sys/resource.h>

#include <cstring>
#include <string>
#include <vector>

#include "relay/uDRUXIntf.h"
#include "relay/uOstrel.h"
#include "soap/server/DataContext.h"
#include "soap/server/IntfMetaData.h"
#include "soap/server/InvokeRegistry.h"
#include "soap/server/SoapConverter.h"

using namespace vv;

namespace {

const char *const kProps[] = {"Airline", "Id_Airline", "Flight", "MovTp", "Destino", "DestDesc",
                              "Origen",  "OrigDesc",   "Stda",   "Atda",  "Via",     "Pax"};

// An upstream answer as a document/literal service sends it.
std::string UpstreamAnswer(int n) {
  std::string s = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><soap11env:Envelope "
                  "xmlns:soap11env=\"http://schemas.xmlsoap.org/soap/envelope/\">"
                  "<soap11env:Body><GetFlightsOpResponse xmlns=\"";
  s += SUpstreamNameSpace;
  s += "\"><GetFlightsOpResult>";
  for (int i = 0; i < n; ++i) {
    s += "<FlightOp>";
    for (const char *p : kProps) {
      s += "<";
      s += p;
      s += ">";
      s += p[0] == 'P' ? std::to_string(i % 300) : std::string(p) + "-" + std::to_string(i);
      s += "</";
      s += p;
      s += ">";
    }
    s += "</FlightOp>";
  }
  return s + "</GetFlightsOpResult></GetFlightsOpResponse></soap11env:Body></soap11env:Envelope>";
}

long PeakRssKiB() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss;
}

struct TSetup {
  TSetup() {
    InitInvokeRegistry();
    InitOstrelUnit();
    InitDRUXIntfUnit();
    Client = GetIntfMetaData(FlightsOpSoap::StaticTypeInfo());
    Server = GetIntfMetaData(IDRUX::StaticTypeInfo());
    ClientMeth = GetMethNum(Client, "GetFlightsOp");
    ServerMeth = GetMethNum(Server, "GetFlightsOpSoap");
  }
  TIntfMetaData Client, Server;
  int ClientMeth, ServerMeth;
};
const TSetup &Setup() {
  static const TSetup s;
  return s;
}

IPtr<ISoapConvert> NewConverter(bool document) {
  IPtr<ISoapConvert> c(static_cast<ISoapConvert *>(new TSoapConverter()));
  if (document) c->SetOptions(TSOAPConvertOptions(kDefaultSOAPConvertOptions).Include(soDocument));
  return c;
}

// Reads the answer into records owned by `call`; returns the server's
// response for them when `respond` is set.
std::string ConverterRoundTrip(const std::string &answer, bool read, bool respond,
                               ISoapConvert &client, ISoapConvert &server,
                               ArrayOfFlightOp *prepared) {
  const TSetup &s = Setup();
  TInvContext call;
  call.SetMethodInfo(s.Server.MDA[size_t(s.ServerMeth)]);
  call.AllocServerData(s.Server.MDA[size_t(s.ServerMeth)]);
  SetCurrentDataContext(&call);
  auto &result = *static_cast<ArrayOfFlightOp *>(call.GetResultPointer());
  if (read) {
    TInvContext ctx;
    const TIntfMethEntry &m = s.Client.MDA[size_t(s.ClientMeth)];
    ctx.SetMethodInfo(m);
    ctx.SetResultPointer(&result);
    client.ProcessResponse(answer, s.Client, m, ctx, nullptr);
  } else
    result = *prepared;
  std::string out;
  if (respond) {
    TMemoryStream stream;
    server.MakeResponse(s.Server, s.ServerMeth, call, stream, nullptr);
    out = std::move(stream.Data());
  }
  if (!read) result.clear(); // the prepared records are not the call's
  SetCurrentDataContext(nullptr);
  return out;
}

void Report(benchmark::State &state, int n) {
  state.SetItemsProcessed(int64_t(state.iterations()) * n);
  state.counters["peak_rss_MiB"] = double(PeakRssKiB()) / 1024.0;
}

void BM_ProcessResponse(benchmark::State &state) {
  int n = int(state.range(0));
  std::string answer = UpstreamAnswer(n);
  IPtr<ISoapConvert> client = NewConverter(true), server = NewConverter(false);
  for (auto _ : state)
    ConverterRoundTrip(answer, true, false, *client.Get(), *server.Get(), nullptr);
  Report(state, n);
}

void BM_MakeResponse(benchmark::State &state) {
  int n = int(state.range(0));
  std::vector<std::unique_ptr<FlightOp>> records;
  ArrayOfFlightOp prepared;
  for (int i = 0; i < n; ++i) {
    records.push_back(std::make_unique<FlightOp>());
    for (const TPropInfo *p : AllProps(FlightOp::StaticClassInfo())) {
      std::string v = p->Name + "-" + std::to_string(i);
      p->Set(records.back().get(), &v);
    }
    prepared.push_back(records.back().get());
  }
  IPtr<ISoapConvert> client = NewConverter(true), server = NewConverter(false);
  for (auto _ : state)
    benchmark::DoNotOptimize(
        ConverterRoundTrip({}, false, true, *client.Get(), *server.Get(), &prepared));
  Report(state, n);
}

void BM_ConverterRoundTrip(benchmark::State &state) {
  int n = int(state.range(0));
  std::string answer = UpstreamAnswer(n);
  IPtr<ISoapConvert> client = NewConverter(true), server = NewConverter(false);
  for (auto _ : state)
    benchmark::DoNotOptimize(
        ConverterRoundTrip(answer, true, true, *client.Get(), *server.Get(), nullptr));
  Report(state, n);
}

// ---- one relay call's conversions ---------------------------------------------------

// A client's request as a legacy rpc/encoded client sends it.
const char *const kRequest =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?><SOAP-ENV:Envelope "
    "xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\" "
    "xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\" "
    "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
    "xmlns:SOAP-ENC=\"http://schemas.xmlsoap.org/soap/encoding/\" "
    "SOAP-ENV:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\"><SOAP-ENV:Body>"
    "<NS1:GetFlightsOpSoap xmlns:NS1=\"urn:uDRUXIntf-IDRUX\"><Airport "
    "xsi:type=\"xsd:string\">MAD</Airport></NS1:GetFlightsOpSoap></SOAP-ENV:Body>"
    "</SOAP-ENV:Envelope>";

// Every conversion of one relay call, as a worker makes them: the client's
// request read, the upstream request written (by a converter of its own,
// made per call as the upstream binding is), the upstream answer read, and
// the response written into the answer's content stream by the endpoint's
// converter, which serves call after call.
void BM_CallConversions(benchmark::State &state) {
  int n = int(state.range(0));
  const TSetup &s = Setup();
  std::string answer = UpstreamAnswer(n);
  IPtr<ISoapConvert> server = NewConverter(false);
  server->SetOptions(TSOAPConvertOptions(server->GetOptions()).Include(soUTF8InHeader));
  size_t bytes = 0;
  for (auto _ : state) {
    TInvContext call;
    SetCurrentDataContext(&call);
    TMemoryStream request{std::string(kRequest)};
    int meth = -1;
    server->MsgToInvContext(request, s.Server, meth, call, nullptr);
    {
      IPtr<ISoapConvert> client = NewConverter(true);
      const TIntfMethEntry &m = s.Client.MDA[size_t(s.ClientMeth)];
      TInvContext ctx;
      ctx.SetMethodInfo(m);
      ctx.SetParamPointer(0, call.GetParamPointer(0));
      ctx.SetResultPointer(call.GetResultPointer());
      std::unique_ptr<TStream> out = client->InvContextToMsg(s.Client, s.ClientMeth, ctx, nullptr);
      bytes += size_t(out->Size());
      client->ProcessResponse(answer, s.Client, m, ctx, nullptr);
    }
    TContentStream response;
    server->MakeResponse(s.Server, meth, call, response, nullptr);
    bytes += size_t(response.Size());
    SetCurrentDataContext(nullptr);
  }
  benchmark::DoNotOptimize(bytes);
  Report(state, n);
}

// ---- the same round trip with bare pugixml calls ---------------------------------------

struct TBareRecord {
  std::string Values[12];
  bool Specified[12] = {};
};

struct TStringWriter : pugi::xml_writer {
  std::string Out;
  void write(const void *data, size_t size) override {
    Out.append(static_cast<const char *>(data), size);
  }
};

std::string BareRoundTrip(const std::string &answer) {
  pugi::xml_document in;
  in.load_buffer(answer.data(), answer.size());
  std::vector<TBareRecord> records;
  pugi::xml_node result =
      in.first_child().first_child().first_child().first_child(); // Envelope/Body/Response/Result
  for (pugi::xml_node item : result.children()) {
    TBareRecord &r = records.emplace_back();
    for (pugi::xml_node c : item.children())
      for (int k = 0; k < 12; ++k)
        if (!r.Specified[k] && std::strcmp(c.name(), kProps[k]) == 0) {
          r.Values[k] = c.child_value();
          r.Specified[k] = true;
          break;
        }
  }
  pugi::xml_document out;
  pugi::xml_node env = out.append_child("SOAP-ENV:Envelope");
  env.append_attribute("xmlns:SOAP-ENV") = "http://schemas.xmlsoap.org/soap/envelope/";
  env.append_attribute("xmlns:xsd") = "http://www.w3.org/2001/XMLSchema";
  env.append_attribute("xmlns:xsi") = "http://www.w3.org/2001/XMLSchema-instance";
  env.append_attribute("xmlns:SOAP-ENC") = "http://schemas.xmlsoap.org/soap/encoding/";
  pugi::xml_node body = env.append_child("SOAP-ENV:Body");
  body.append_attribute("SOAP-ENV:encodingStyle") = "http://schemas.xmlsoap.org/soap/encoding/";
  body.append_attribute("xmlns:NS1") = "urn:uDRUXIntf-IDRUX";
  body.append_attribute("xmlns:NS2") = SUpstreamNameSpace;
  pugi::xml_node ret = body.append_child("NS1:GetFlightsOpSoapResponse").append_child("return");
  ret.append_attribute("xsi:type") = "SOAP-ENC:Array";
  ret.append_attribute("SOAP-ENC:arrayType") =
      ("NS2:FlightOp[" + std::to_string(records.size()) + "]").c_str();
  for (size_t i = 0; i < records.size(); ++i) {
    std::string id = std::to_string(i + 1);
    ret.append_child("item").append_attribute("href") = ("#" + id).c_str();
    pugi::xml_node rec = body.append_child("NS2:FlightOp");
    rec.append_attribute("id") = id.c_str();
    rec.append_attribute("xsi:type") = "NS2:FlightOp";
    for (int k = 0; k < 12; ++k) {
      if (!records[i].Specified[k]) continue;
      pugi::xml_node p = rec.append_child(kProps[k]);
      p.append_attribute("xsi:type") = "xsd:string";
      p.text().set(records[i].Values[k].c_str());
    }
  }
  TStringWriter w;
  out.save(w, "", pugi::format_raw);
  return std::move(w.Out);
}

void BM_PugiBaselineRoundTrip(benchmark::State &state) {
  int n = int(state.range(0));
  std::string answer = UpstreamAnswer(n);
  for (auto _ : state) benchmark::DoNotOptimize(BareRoundTrip(answer));
  Report(state, n);
}

void Sizes(benchmark::internal::Benchmark *b) {
  for (int n : {1, 10, 100, 1000, 10000, 100000}) b->Arg(n);
  b->Unit(benchmark::kMicrosecond);
}

BENCHMARK(BM_ProcessResponse)->Apply(Sizes);
BENCHMARK(BM_MakeResponse)->Apply(Sizes);
BENCHMARK(BM_ConverterRoundTrip)->Apply(Sizes);
BENCHMARK(BM_CallConversions)->Apply(Sizes);
BENCHMARK(BM_PugiBaselineRoundTrip)->Apply(Sizes);

} // namespace

BENCHMARK_MAIN();
