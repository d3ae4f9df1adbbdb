// The program's entry: one CGI request per process, or, as a FastCGI
// worker, request after request.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>

#include "relay/uDRUXImpl.h"
#include "relay/uDRUXIntf.h"
#include "relay/uOstrel.h"
#include "relay/uws.h"
#include "soap/publish/WSDLPublishUnit.h"
#include "soap/server/InvokeRegistry.h"
#include "web/CGIApp.h"
#include "web/FastCGIHost.h"

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

// "--fastcgi ADDRESS" makes the worker listen by itself. A CGI request
// never gets there: web servers pass a query without "=" as command-line
// words, so the command line counts only outside a CGI environment.
// Returns 0 for no such request, 2 after a usage error.
int FastCGIAddress(int argc, char **argv, std::string &address) {
  if (argc < 2 || std::strcmp(argv[1], "--fastcgi") != 0 || std::getenv("GATEWAY_INTERFACE"))
    return 0;
  if (argc != 3 || !*argv[2]) {
    std::fprintf(stderr, "usage: VEVUDE --fastcgi ADDRESS (host:port, :port or a socket path)\n");
    return 2;
  }
  address = argv[2];
  return 1;
}

} // namespace

int main(int argc, char **argv) {
  try {
    InitUnits();
    Application().Initialize();
    Application().CreateForm<TWebModule1>();
    TFastCGIOptions fastcgi;
    int asked = FastCGIAddress(argc, argv, fastcgi.Address);
    if (asked == 2) return 2;
    if (asked == 1 || StartedByFastCGIManager()) {
      fastcgi.MaxRequests = MaxRequestsFromEnvironment();
      return RunFastCGI(Application(), fastcgi);
    }
    Application().Run();
  } catch (const std::exception &e) {
    std::fprintf(stderr, "%s: %s\n", ErrorClassName(e), ErrorMessage(e).c_str());
    return 1;
  }
  return 0;
}
