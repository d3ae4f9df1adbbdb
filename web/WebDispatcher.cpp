#include "web/WebDispatcher.h"

#include "rtl/Exception.h"
#include "rtl/Format.h"
#include "rtl/TypeInfo.h"
#include "web/HTMLEscape.h"
#include "web/WebResponse.h"

namespace vv {

TClass TCustomWebDispatcher::StaticClassInfo() {
  static const TTypeInfo info =
      ClassInfoBuilder<TCustomWebDispatcher, TComponent>("TCustomWebDispatcher", "WebDispatcher")
          .Build();
  return &info;
}

TClass TWebModule::StaticClassInfo() {
  static const TTypeInfo info =
      ClassInfoBuilder<TWebModule, TCustomWebDispatcher>("TWebModule", "WebDispatcher").Build();
  return &info;
}

TCustomWebDispatcher::TCustomWebDispatcher(TComponent *owner) : TComponent(owner) {}

bool TCustomWebDispatcher::HandleRequest(TWebRequest *request, TWebResponse *response) {
  FRequest = request;
  FResponse = response;
  return DispatchAction(request, response);
}

// The self-dispatching components, in the order they joined the module.
bool TCustomWebDispatcher::DispatchComponents(TWebRequest *request, TWebResponse *response) {
  for (int i = 0; i < ComponentCount(); ++i) {
    auto *d = dynamic_cast<IWebDispatch *>(Components(i));
    if (!d || !d->DispatchEnabled()) continue;
    TMethodType m = d->DispatchMethodType();
    if ((m == mtAny || m == request->MethodType()) &&
        d->DispatchMask().Matches(request->InternalPathInfo()) &&
        d->DispatchRequest(this, request, response))
      return true;
  }
  return false;
}

bool TCustomWebDispatcher::DispatchAction(TWebRequest *request, TWebResponse *response) {
  FRequest = request;
  FResponse = response;
  if (response->Sent()) return true;
  bool handled = false;
  if (BeforeDispatch) BeforeDispatch(this, request, response, handled);
  if (response->Sent()) handled = true;
  TWebActionItem *defaultItem = nullptr;
  for (int i = 0; i < FActions.Count() && !handled; ++i) {
    TWebActionItem *item = FActions.Items(i);
    handled = item->DispatchAction(this, request, response, false);
    if (item->Default()) defaultItem = item;
  }
  if (!handled) handled = DispatchComponents(request, response);
  if (!handled && defaultItem) handled = defaultItem->DispatchAction(this, request, response, true);
  if (handled && !response->Sent()) {
    handled = true;
    if (AfterDispatch) AfterDispatch(this, request, response, handled);
  }
  return handled;
}

void TCustomWebDispatcher::HandleException(const std::exception &e, bool &handled) {
  handled = false;
  if (OnException) {
    handled = true;
    if (FResponse) FResponse->SetStatusCode(500);
    OnException(this, e, handled);
    if (handled && FResponse) FResponse->SendResponse();
  }
  if (handled || !FResponse) return;
  // Message and path come from outside (a request path, data quoted in an
  // error), so both are escaped before they enter the page.
  FResponse->SetContent(Format("<html><body><h1>Internal Application Error</h1>\r\n<p>%0:s\r\n"
                               "<p><hr width=\"100%%\"><i>%1:s</i></body></html>",
                               {HTMLEscape(ErrorMessage(e)), HTMLEscape(FRequest->PathInfo())}));
  if (!FResponse->Sent()) {
    FResponse->SetStatusCode(500);
    FResponse->SendResponse();
  }
  handled = true;
}

} // namespace vv
