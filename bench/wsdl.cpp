// The cost of the published descriptions per request: generating the WSDL
// of the relay interface, and the whole program answering "/wsdl/IDRUX" as
// a CGI process (start-up included, as the web server runs it).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>

#include "relay/uDRUXImpl.h"
#include "relay/uDRUXIntf.h"
#include "relay/uOstrel.h"
#include "soap/publish/PublishConsts.h"
#include "soap/publish/WSDLPublish.h"
#include "soap/publish/WSDLPublishUnit.h"
#include "soap/server/InvokeRegistry.h"

using namespace vv;

static void InitUnits() {
  InitInvokeRegistry();
  InitWSDLPublishUnit();
  InitOstrelUnit();
  InitDRUXIntfUnit();
  InitDRUXImplUnit();
}

static void BM_WSDLForIDRUX(benchmark::State &state) {
  InitUnits();
  for (auto _ : state) {
    TWSDLPublish *p = new TWSDLPublish;
    IPtr<IWSDLPublish> keep(p);
    p->FTargetNamespace = SDefaultTargetNamespace;
    p->PortNames = {"IDRUXPort"};
    p->Locations = {"http://localhost:8080/cgi-bin/VEVUDE/soap/IDRUX"};
    benchmark::DoNotOptimize(p->GetWSDLForPortType("IDRUX"));
  }
}
BENCHMARK(BM_WSDLForIDRUX);

static void BM_ProgramAnswersWSDL(benchmark::State &state) {
  const std::string cmd = std::string("env -i REQUEST_METHOD=GET SERVER_PROTOCOL=HTTP/1.1 "
                                      "HTTP_HOST=localhost SERVER_PORT=8080 "
                                      "SCRIPT_NAME=/cgi-bin/VEVUDE PATH_INFO=/wsdl/IDRUX ") +
                          VEVUDE_BINARY + " > /dev/null";
  for (auto _ : state)
    if (std::system(cmd.c_str()) != 0) state.SkipWithError("the program failed");
}
BENCHMARK(BM_ProgramAnswersWSDL)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
