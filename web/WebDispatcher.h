// The dispatcher behind every web module: action items first, then the
// self-dispatching components, then the default action; errors from
// handlers become a "500" error page.
#pragma once

#include <exception>
#include <functional>

#include "rtl/Component.h"
#include "web/WebActionItem.h"
#include "web/WebDispatch.h"

namespace vv {

// (Sender, E, var Handled)
using TWebExceptionEvent =
    std::function<void(TObject *sender, const std::exception &e, bool &handled)>;

// The contract through which the application hands a module an error that
// escaped its dispatch.
class IWebExceptionHandler {
public:
  virtual void HandleException(const std::exception &e, bool &handled) = 0;

protected:
  ~IWebExceptionHandler() = default;
};

// The contract through which the application runs a request on a module.
class IWebRequestHandler {
public:
  virtual bool HandleRequest(TWebRequest *request, TWebResponse *response) = 0;

protected:
  ~IWebRequestHandler() = default;
};

class TCustomWebDispatcher : public TComponent,
                             public IWebExceptionHandler,
                             public IWebRequestHandler {
  VV_CLASS(TCustomWebDispatcher)
  explicit TCustomWebDispatcher(TComponent *owner = nullptr);

  TWebActionItems &Actions() { return FActions; }
  TWebActionItem *ActionByName(const std::string &name) { return FActions.ActionByName(name); }
  TWebActionItem *GetAction(int index) { return FActions.Items(index); }
  TWebRequest *Request() const { return FRequest; }
  TWebResponse *Response() const { return FResponse; }

  THTTPMethodEvent BeforeDispatch, AfterDispatch;
  TWebExceptionEvent OnException;

  bool HandleRequest(TWebRequest *request, TWebResponse *response) override;
  // Never sends the response; the caller sends it when this returns true.
  bool DispatchAction(TWebRequest *request, TWebResponse *response);
  // Writes the "Internal Application Error" page (message and path
  // HTML-escaped) with status 500.
  void HandleException(const std::exception &e, bool &handled) override;

private:
  bool DispatchComponents(TWebRequest *request, TWebResponse *response);

  TWebActionItems FActions;
  TWebRequest *FRequest = nullptr;
  TWebResponse *FResponse = nullptr;
};

// The base class of a program's web module.
class TWebModule : public TCustomWebDispatcher {
  VV_CLASS(TWebModule)
  explicit TWebModule(TComponent *owner = nullptr) : TCustomWebDispatcher(owner) {}
};

} // namespace vv
