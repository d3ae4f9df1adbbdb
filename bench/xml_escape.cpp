// The escaping of XML output on its own, per kind of text: plain ASCII (the
// common case), ASCII with markup characters, and non-ASCII UTF-8.
#include <benchmark/benchmark.h>

#include <string>

#include "xml/XMLText.h"

using namespace vv;

namespace {

std::string Repeat(const std::string &piece, size_t bytes) {
  std::string s;
  while (s.size() < bytes) s += piece;
  return s;
}

void Run(benchmark::State &state, const std::string &text, bool attr) {
  std::string out;
  for (auto _ : state) {
    out.clear();
    if (attr)
      xmltext::EscapeAttr(out, text);
    else
      xmltext::EscapeText(out, text);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.size()));
}

constexpr size_t kBytes = 1 << 20;

} // namespace

static void BM_EscapePlainAscii(benchmark::State &state) {
  Run(state, Repeat("IB3170 Paris Charles de Gaulle 2026-12-10T08:00:00 ", kBytes), false);
}
BENCHMARK(BM_EscapePlainAscii);

static void BM_EscapeMarkup(benchmark::State &state) {
  Run(state, Repeat("a < b & \"c\" > d; ", kBytes), true);
}
BENCHMARK(BM_EscapeMarkup);

static void BM_EscapeNonAscii(benchmark::State &state) {
  Run(state, Repeat("Par\xC3\xADs M\xC3\xBCnchen \xE6\x9D\xB1\xE4\xBA\xAC ", kBytes), false);
}
BENCHMARK(BM_EscapeNonAscii);

BENCHMARK_MAIN();
