// The program's entry: one CGI request per process.
#include <cstdio>
#include <exception>

#include "relay/uDRUXImpl.h"
#include "relay/uDRUXIntf.h"
#include "relay/uOstrel.h"
#include "relay/uws.h"
#include "soap/publish/WSDLPublishUnit.h"
#include "soap/server/InvokeRegistry.h"
#include "web/CGIApp.h"

using namespace vv;

namespace {

// The application object exists before anything else runs; then every
// unit that registers something, in the one order that matters: the
// registries, the WSDL publisher, the contract, the implementing class.
void InitUnits() {
  InitCGIAppUnit();
  InitInvokeRegistry();
  InitWSDLPublishUnit();
  InitOstrelUnit();
  InitDRUXIntfUnit();
  InitDRUXImplUnit();
}

} // namespace

int main() {
  try {
    InitUnits();
    Application().Initialize();
    Application().CreateForm<TWebModule1>();
    Application().Run();
  } catch (const std::exception &e) {
    std::fprintf(stderr, "%s: %s\n", ErrorClassName(e), ErrorMessage(e).c_str());
    return 1;
  }
  return 0;
}
