// Cost of the HTTP client's per-request work that does not touch the
// network: parsing the endpoint, resolving a redirect, building a request.
#include <benchmark/benchmark.h>

#include "soap/client/CurlLibrary.h"
#include "soap/client/HTTPClient.h"

using namespace vv;

static void BM_ParseEndpoint(benchmark::State &state) {
  for (auto _ : state) {
    TURI u("https://user:pw@flights.example:8443/svc/FlightsOp.asmx?x=1");
    benchmark::DoNotOptimize(u);
  }
}
BENCHMARK(BM_ParseEndpoint);

static void BM_ParseIDNAHost(benchmark::State &state) {
  for (auto _ : state) {
    TURI u("http://fl\xC3\xBCge.m\xC3\xBCnchen.example/svc");
    benchmark::DoNotOptimize(u);
  }
}
BENCHMARK(BM_ParseIDNAHost);

static void BM_ResolveRedirect(benchmark::State &state) {
  TURI base("http://h/a/b/c/d?q=1");
  for (auto _ : state) benchmark::DoNotOptimize(TURI::Resolve(base, "../../x/./y/../z?n=2"));
}
BENCHMARK(BM_ResolveRedirect);

// Creating a client must stay free of libcurl: only a request loads it.
static void BM_CreateClient(benchmark::State &state) {
  for (auto _ : state) benchmark::DoNotOptimize(THTTPClient::Create());
  state.counters["curl_loaded"] = CurlLoaded() ? 1 : 0;
}
BENCHMARK(BM_CreateClient);

BENCHMARK_MAIN();
