// The application object that carries a web process: it records the web
// module class and runs requests on modules it keeps.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "rtl/Component.h"
#include "web/WebLimits.h"

namespace vv {

class TWebRequest;
class TWebResponse;

class TWebRequestHandler : public TComponent {
  VV_CLASS(TWebRequestHandler)
  explicit TWebRequestHandler(TComponent *owner = nullptr);
  ~TWebRequestHandler() override;

  // Runs one request through a module: activation, dispatch, sending,
  // deactivation. Errors of the dispatch go to the exception hook.
  bool HandleRequest(TWebRequest *request, TWebResponse *response);
  // Frees every kept module.
  void FreeModules();

  int32_t MaxConnections = kDefaultMaxConnections; // 0 or less: no limit
  bool CacheConnections = true;
  TClass WebModuleClass() const { return FWebModuleClass; }
  int ActiveCount();
  int InactiveCount();

protected:
  // Called inside a catch block with the error being handled; `sender` is
  // the module's dispatcher. Rethrows an error it does not handle.
  virtual void HandleServerException(TObject *sender);

  TClass FWebModuleClass = nullptr;

private:
  TComponent *ActivateWebModule();
  void DeactivateWebModule(TComponent *module);

  std::mutex FCriticalSection;
  std::vector<std::unique_ptr<TComponent>> FActiveWebModules, FInactiveWebModules;
  int32_t FAddingActiveModules = 0;
};

class TWebApplication : public TWebRequestHandler {
  VV_CLASS(TWebApplication)
  explicit TWebApplication(TComponent *owner = nullptr) : TWebRequestHandler(owner) {}
  ~TWebApplication() override;

  // Records the web module class; a later call with another class fails
  // with "Only one data module per application". No module is made here.
  virtual void CreateForm(TClass instanceClass, void *reference = nullptr);
  template <class T> void CreateForm() { CreateForm(T::StaticClassInfo()); }
  // Runs the process-wide initialisation hook, if any.
  virtual void Initialize();
  virtual void Run() {}

  std::string Title;
  // Called before the application is destroyed.
  void (*UnloadProc)() = nullptr;
};

// The process-wide initialisation hook that Initialize runs (none by
// default; a unit that needs per-process set-up installs it in its init).
extern void (*InitProc)();

} // namespace vv
