#include "web/WebApp.h"

#include <cstdio>

#include "rtl/Exception.h"
#include "rtl/TypeInfo.h"
#include "web/WebDispatcher.h"
#include "web/WebResponse.h"

namespace vv {

void (*InitProc)() = nullptr;

namespace {
const char *const kTooManyConnections =
    "Maximum number of concurrent connections exceeded.  Please try again later";
}

TClass TWebRequestHandler::StaticClassInfo() {
  static const TTypeInfo info =
      ClassInfoBuilder<TWebRequestHandler, TComponent>("TWebRequestHandler", "WebApp").Build();
  return &info;
}

TClass TWebApplication::StaticClassInfo() {
  static const TTypeInfo info =
      ClassInfoBuilder<TWebApplication, TWebRequestHandler>("TWebApplication", "WebApp").Build();
  return &info;
}

TWebRequestHandler::TWebRequestHandler(TComponent *owner) : TComponent(owner) {}

TWebRequestHandler::~TWebRequestHandler() { FreeModules(); }

void TWebRequestHandler::FreeModules() {
  std::lock_guard<std::mutex> lock(FCriticalSection);
  FActiveWebModules.clear();
  FInactiveWebModules.clear();
}

int TWebRequestHandler::ActiveCount() {
  std::lock_guard<std::mutex> lock(FCriticalSection);
  return int(FActiveWebModules.size());
}

int TWebRequestHandler::InactiveCount() {
  std::lock_guard<std::mutex> lock(FCriticalSection);
  return int(FInactiveWebModules.size());
}

static TComponent *NewModule(TClass cls) {
  TObject *obj = cls->Class && cls->Class->Create ? cls->Class->Create() : nullptr;
  auto *module = dynamic_cast<TComponent *>(obj);
  if (!module) {
    delete obj;
    throw Exception("Cannot create a web module of class %s", {cls->Name});
  }
  return module;
}

TComponent *TWebRequestHandler::ActivateWebModule() {
  if (MaxConnections > 0 && FAddingActiveModules >= MaxConnections)
    throw Exception(kTooManyConnections);
  std::lock_guard<std::mutex> lock(FCriticalSection);
  // Reset on every way out, so that a refused activation does not keep
  // refusing later ones.
  struct Reset {
    int32_t &Count;
    ~Reset() { Count = 0; }
  } reset{FAddingActiveModules};
  FAddingActiveModules = int32_t(FActiveWebModules.size()) + 1;
  if (MaxConnections > 0 && int32_t(FActiveWebModules.size()) >= MaxConnections)
    throw Exception(kTooManyConnections);
  if (!FInactiveWebModules.empty()) {
    FActiveWebModules.push_back(std::move(FInactiveWebModules.front()));
    FInactiveWebModules.erase(FInactiveWebModules.begin());
  } else {
    if (!FWebModuleClass) throw Exception("No data modules registered");
    FActiveWebModules.emplace_back(NewModule(FWebModuleClass));
  }
  return FActiveWebModules.back().get();
}

void TWebRequestHandler::DeactivateWebModule(TComponent *module) {
  std::unique_ptr<TComponent> freed; // freed outside the lock
  std::lock_guard<std::mutex> lock(FCriticalSection);
  for (auto it = FActiveWebModules.begin(); it != FActiveWebModules.end(); ++it) {
    if (it->get() != module) continue;
    if (CacheConnections)
      FInactiveWebModules.push_back(std::move(*it));
    else
      freed = std::move(*it);
    FActiveWebModules.erase(it);
    break;
  }
}

// The dispatcher is the module itself when it is one, else its first
// component that is one.
static TCustomWebDispatcher *FindDispatcher(TComponent *module) {
  if (auto *d = dynamic_cast<TCustomWebDispatcher *>(module)) return d;
  for (int i = 0; i < module->ComponentCount(); ++i)
    if (auto *d = dynamic_cast<TCustomWebDispatcher *>(module->Components(i))) return d;
  throw Exception("No dispatcher component found on data module");
}

bool TWebRequestHandler::HandleRequest(TWebRequest *request, TWebResponse *response) {
  TComponent *module = ActivateWebModule();
  bool handled = false;
  TCustomWebDispatcher *dispatcher = nullptr;
  try {
    dispatcher = FindDispatcher(module);
    try {
      handled = dispatcher->HandleRequest(request, response);
    } catch (...) {
      HandleServerException(dispatcher);
    }
    if (handled && !response->Sent()) response->SendResponse();
  } catch (...) {
    try {
      HandleServerException(dispatcher);
    } catch (...) {
      DeactivateWebModule(module);
      throw;
    }
  }
  DeactivateWebModule(module);
  return handled;
}

// Before a CGI application takes over, an unhandled error is only shown.
void TWebRequestHandler::HandleServerException(TObject *sender) {
  try {
    throw;
  } catch (const std::exception &e) {
    bool handled = false;
    if (auto *h = dynamic_cast<IWebExceptionHandler *>(sender)) h->HandleException(e, handled);
    if (!handled) std::fprintf(stderr, "%s: %s\n", ErrorClassName(e), e.what());
  } catch (...) {
    std::fprintf(stderr, "Unknown error\n");
  }
}

TWebApplication::~TWebApplication() {
  if (UnloadProc) UnloadProc();
}

void TWebApplication::CreateForm(TClass instanceClass, void *) {
  if (!FWebModuleClass)
    FWebModuleClass = instanceClass;
  else if (FWebModuleClass != instanceClass)
    throw Exception("Only one data module per application");
}

void TWebApplication::Initialize() {
  if (InitProc) InitProc();
}

} // namespace vv
