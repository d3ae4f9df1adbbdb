// The program's entry. Started by a web server it serves one CGI request,
// or, started by a FastCGI process manager, request after request; started
// from a shell it also takes the operator's options (--check, --help,
// --version, --fastcgi). A web server's arguments are never read as options.
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "relay/RelayCheck.h"
#include "relay/uDRUXImpl.h"
#include "relay/uDRUXIntf.h"
#include "relay/uOstrel.h"
#include "relay/uws.h"
#include "soap/client/CurlConnectionPool.h"
#include "soap/publish/WSDLPublishUnit.h"
#include "soap/server/InvokeRegistry.h"
#include "web/CGIApp.h"
#include "web/FastCGIHost.h"
#include "web/ServerLaunch.h"

#ifndef VEVUDE_VERSION
#define VEVUDE_VERSION "unknown"
#endif

using namespace vv;

namespace {

using TArgs = std::vector<std::string>;

// The whole command line: a FastCGI worker that starts afresh runs it again.
TArgs GCommandLine;

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

// Exit status of a command line that names no option correctly.
constexpr int UsageStatus = 2;

// Serves one CGI request, or, as a FastCGI worker (a process manager's
// listening socket on standard input, or `address` to listen on), request
// after request until it is told to stop.
int Serve(const std::string &address) {
  try {
    InitUnits();
    Application().Initialize();
    Application().CreateForm<TWebModule1>();
    if (!address.empty() || StartedByFastCGIManager()) {
      TFastCGIOptions options;
      options.Address = address;
      options.MaxRequests = MaxRequestsFromEnvironment();
      options.TimeoutMs = TimeoutFromEnvironment();
      options.Arguments = GCommandLine;
      // Upstream connections are not handed to the fresh image.
      options.BeforeRestart = CloseKeptConnections;
      // A worker's next call may go out over the connection of this one
      // (only to the same upstream with the same settings).
      SetKeepConnections(true);
      int status = RunFastCGI(Application(), options);
      CloseKeptConnections();
      return status;
    }
    Application().Run();
  } catch (const std::exception &e) {
    std::fprintf(stderr, "%s: %s\n", ErrorClassName(e), ErrorMessage(e).c_str());
    return 1;
  }
  return 0;
}

int FastCGI(const TArgs &args) {
  if (args[0].empty()) {
    std::fprintf(stderr, "VEVUDE: --fastcgi needs an address; see VEVUDE --help\n");
    return UsageStatus;
  }
  return Serve(args[0]);
}

int Check(const TArgs &args) {
  InitUnits();
  return TRelayCheck::Run(args.empty() ? std::string() : args[0], stdout);
}

int Help(const TArgs &);

int Version(const TArgs &) {
  std::printf("VEVUDE %s\nupstream namespace: %s\n", VEVUDE_VERSION, SUpstreamNameSpace);
  return 0;
}

// The operator's options: each with its arguments (MinArgs to MaxArgs
// words after it) and the line --help shows.
struct TOption {
  const char *Name;
  const char *Arguments;
  size_t MinArgs, MaxArgs;
  int (*Run)(const TArgs &args);
  const char *Help;
};

const TOption Options[] = {
    {"--check", "[AIRPORT]", 0, 1, Check,
     "show the settings of ./config.ini (never the\n"
     "password), call the upstream service once for AIRPORT\n"
     "(default: empty) and print the number of records or\n"
     "the error; exit status 0 when the upstream answered,\n"
     "1 otherwise"},
    {"--fastcgi", "ADDRESS", 1, 1, FastCGI,
     "serve FastCGI requests on ADDRESS (host:port, :port\n"
     "or a Unix socket path) until SIGTERM; config.ini is\n"
     "read from the current folder on every call"},
    {"--help", "", 0, 0, Help, "show this text"},
    {"--version", "", 0, 0, Version, "show the version and the upstream namespace"},
};

int Help(const TArgs &) {
  std::printf("Usage: VEVUDE [OPTION]\n\n"
              "Without options VEVUDE serves one CGI request. Started by a web server\n"
              "(GATEWAY_INTERFACE set, or a FastCGI socket as standard input) it ignores\n"
              "its arguments. From a shell, in the folder that holds config.ini:\n\n");
  for (const TOption &o : Options) {
    std::string head = std::string(o.Name) + (*o.Arguments ? " " : "") + o.Arguments;
    std::string help = o.Help;
    for (size_t p = help.find('\n'); p != std::string::npos; p = help.find('\n', p + 1))
      help.insert(p + 1, 22, ' ');
    std::printf("  %-19s %s\n", head.c_str(), help.c_str());
  }
  return 0;
}

int RunOption(int argc, char **argv) {
  for (const TOption &o : Options) {
    if (std::strcmp(argv[1], o.Name) != 0) continue;
    TArgs args(argv + 2, argv + argc);
    if (args.size() >= o.MinArgs && args.size() <= o.MaxArgs) return o.Run(args);
    std::fprintf(stderr, "VEVUDE: wrong number of arguments for %s; see VEVUDE --help\n", o.Name);
    return UsageStatus;
  }
  std::fprintf(stderr, "VEVUDE: unknown option %s; see VEVUDE --help\n", argv[1]);
  return UsageStatus;
}

} // namespace

int main(int argc, char **argv) {
  GCommandLine.assign(argv, argv + argc);
  if (argc > 1 && !StartedByWebServer()) return RunOption(argc, argv);
  return Serve("");
}
