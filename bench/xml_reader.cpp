// Reading an upstream answer: the pull reader (check, then walk every
// record's children and read their values) against the DOM loader doing the
// same through its tree, on answers of n records of twelve short text fields,
// and of one field (the shape where a tree costs most per byte).
//
// Counters: bytes_per_second is answer bytes read; peak_heap_x is the most
// heap memory held at once during one read, as a multiple of the answer's
// size (malloc is counted here, pugixml's included).
#include <benchmark/benchmark.h>

#include <malloc.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <string>

#include "xml/XMLDoc.h"
#include "xml/XMLReader.h"

using namespace vv;

// ---- heap accounting: every malloc of the process passes here -----------------

extern "C" void *__libc_malloc(size_t);
extern "C" void *__libc_calloc(size_t, size_t);
extern "C" void *__libc_realloc(void *, size_t);
extern "C" void __libc_free(void *);

namespace {
std::atomic<size_t> gHeap{0}, gPeak{0};

void Count(void *p, bool add) {
  if (!p) return;
  size_t n = malloc_usable_size(p);
  if (!add) {
    gHeap -= n;
    return;
  }
  size_t now = gHeap += n;
  size_t peak = gPeak.load();
  while (now > peak && !gPeak.compare_exchange_weak(peak, now)) {
  }
}
} // namespace

extern "C" void *malloc(size_t n) {
  void *p = __libc_malloc(n);
  Count(p, true);
  return p;
}
extern "C" void *calloc(size_t n, size_t m) {
  void *p = __libc_calloc(n, m);
  Count(p, true);
  return p;
}
extern "C" void *realloc(void *old, size_t n) {
  Count(old, false);
  void *p = __libc_realloc(old, n);
  Count(p ? p : old, true);
  return p;
}
extern "C" void free(void *p) {
  Count(p, false);
  __libc_free(p);
}

namespace {

const char *const kFields[] = {"Airline", "Id_Airline", "Flight", "MovTp", "Destino", "DestDesc",
                               "Origen",  "OrigDesc",   "Stda",   "Atda",  "Via",     "Pax"};

// An upstream answer as a document/literal service sends it; with
// `declaring`, every field declares a namespace of its own, as some services
// write nil values (the shape where the reader keeps most).
std::string Answer(int records, int fields, bool declaring) {
  std::string s = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><soap11env:Envelope "
                  "xmlns:soap11env=\"http://schemas.xmlsoap.org/soap/envelope/\">"
                  "<soap11env:Body><GetFlightsOpResponse "
                  "xmlns=\"https://www.ostrel.example/webservices/\"><GetFlightsOpResult>";
  for (int i = 0; i < records; ++i) {
    s += "<FlightOp>";
    for (int f = 0; f < fields; ++f) {
      std::string name = fields == 1 ? "Flight" : kFields[f];
      s += "<" + name +
           (declaring ? " xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">" : ">") +
           (fields == 1 ? "F1" : name.substr(0, 3) + std::to_string(i)) + "</" + name + ">";
    }
    s += "</FlightOp>";
  }
  return s + "</GetFlightsOpResult></GetFlightsOpResponse></soap11env:Body></soap11env:Envelope>";
}

size_t ReadWithReader(const std::string &answer) {
  TXMLReader reader(answer);
  TXMLCursor result = reader.DocumentElement()
                          .FirstChildElement()  // Body
                          .FirstChildElement()  // GetFlightsOpResponse
                          .FirstChildElement(); // GetFlightsOpResult
  size_t sum = 0;
  std::string scratch;
  for (TXMLCursor rec = result.FirstChildElement(); rec; rec = rec.NextSiblingElement())
    for (TXMLCursor f = rec.FirstChildElement(); f; f = f.NextSiblingElement())
      sum += f.LocalName().size() + f.NamespaceURI().size() + f.ValueText(scratch).size();
  return sum;
}

size_t ReadWithDom(const std::string &answer) {
  IPtr<IXMLDocument> doc = NewXMLDocument();
  doc->LoadFromXML(answer);
  IXMLNode result =
      doc->DocumentElement().FirstChildElement().FirstChildElement().FirstChildElement();
  size_t sum = 0;
  for (IXMLNode rec = result.FirstChildElement(); rec; rec = rec.NextSiblingElement())
    for (IXMLNode f = rec.FirstChildElement(); f; f = f.NextSiblingElement())
      sum += f.LocalName().size() + f.NamespaceURI().size() + f.Text().size();
  return sum;
}

template <size_t (*Read)(const std::string &)> void BM_Read(benchmark::State &state) {
  std::string answer = Answer(int(state.range(0)), int(state.range(1)), state.range(2) != 0);
  size_t base = gHeap;
  gPeak = base;
  for (auto _ : state) benchmark::DoNotOptimize(Read(answer));
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(answer.size()));
  state.counters["answer_MiB"] = double(answer.size()) / (1 << 20);
  state.counters["peak_heap_x"] = double(gPeak - base) / double(answer.size());
}

// An answer cut short (the connection dropped): refused either way; the
// reader words the fault itself, without building the DOM's tree first.
template <size_t (*Read)(const std::string &)> void BM_Truncated(benchmark::State &state) {
  std::string answer = Answer(int(state.range(0)), int(state.range(1)), state.range(2) != 0);
  answer.resize(answer.size() * 3 / 4);
  size_t base = gHeap;
  gPeak = base;
  for (auto _ : state) try {
      benchmark::DoNotOptimize(Read(answer));
      state.SkipWithError("a truncated answer was accepted");
    } catch (const EDOMParseError &) {
    }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(answer.size()));
  state.counters["peak_heap_x"] = double(gPeak - base) / double(answer.size());
}

// Only the check: the reader's constructor.
void BM_ReaderCheck(benchmark::State &state) {
  std::string answer = Answer(int(state.range(0)), int(state.range(1)), state.range(2) != 0);
  for (auto _ : state) {
    TXMLReader reader(answer);
    benchmark::DoNotOptimize(reader.DocumentElement());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(answer.size()));
}

// Records, fields per record, whether every field declares a namespace.
void Sizes(benchmark::internal::Benchmark *b) {
  b->Args({1000, 12, 0})->Args({100000, 12, 0})->Args({1000000, 1, 0})->Args({100000, 12, 1});
  b->Unit(benchmark::kMillisecond);
}

} // namespace

BENCHMARK(BM_ReaderCheck)->Apply(Sizes);
BENCHMARK(BM_Read<ReadWithReader>)->Name("BM_Reader")->Apply(Sizes);
BENCHMARK(BM_Read<ReadWithDom>)->Name("BM_Dom")->Apply(Sizes);
BENCHMARK(BM_Truncated<ReadWithReader>)
    ->Name("BM_ReaderTruncated")
    ->Args({1000000, 1, 0})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Truncated<ReadWithDom>)
    ->Name("BM_DomTruncated")
    ->Args({1000000, 1, 0})
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
