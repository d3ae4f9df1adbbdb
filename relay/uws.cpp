#include "relay/uws.h"

#include "web/WebActionItem.h"

namespace vv {

TClass TWebModule1::StaticClassInfo() {
  static const TTypeInfo info =
      ClassInfoBuilder<TWebModule1, TWebModule>("TWebModule1", "uws").Build();
  return &info;
}

TWebModule1::TWebModule1(TComponent *owner) : TWebModule(owner) { ReadDescription(); }

// The stored description "TWEBMODULE1": the module with its one action,
// then its components in the order in which they take requests. Properties
// not set here keep their defaults; references by name are resolved once
// every component exists.
void TWebModule1::ReadDescription() {
  SetName("WebModule1");
  TWebActionItem *action = Actions().Add();
  action->SetName("DefaultHandler");
  action->SetDefault(true);
  action->SetPathInfo("/");
  action->OnAction = [this](TObject *sender, TWebRequest *request, TWebResponse *response,
                            bool &handled) {
    WebModule1DefaultHandlerAction(sender, request, response, handled);
  };

  HTTPSoapDispatcher1 = new THTTPSoapDispatcher(this);
  HTTPSoapDispatcher1->SetName("HTTPSoapDispatcher1");
  HTTPSoapDispatcher1->WebDispatch().SetPathInfo("soap*");

  HTTPSoapInvoker1 = new THTTPSoapInvoker(this);
  HTTPSoapInvoker1->SetName("HTTPSoapInvoker1");

  WSDLHTMLPublish1 = new TWSDLHTMLPublish(this);
  WSDLHTMLPublish1->SetName("WSDLHTMLPublish1");
  WSDLHTMLPublish1->WebDispatch().MethodType = mtAny;
  WSDLHTMLPublish1->WebDispatch().SetPathInfo("wsdl*");
  WSDLHTMLPublish1->WebDispatch().Enabled = true;

  HTTPSoapDispatcher1->SetDispatcher(
      dynamic_cast<IHTTPSoapDispatch *>(FindComponent("HTTPSoapInvoker1")));
}

void TWebModule1::WebModule1DefaultHandlerAction(TObject *Sender, TWebRequest *Request,
                                                 TWebResponse *Response, bool &Handled) {
  WSDLHTMLPublish1->ServiceInfo(Sender, Request, Response, Handled);
}

} // namespace vv
