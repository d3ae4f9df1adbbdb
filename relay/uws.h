// The web module of the service: its route table. One default action (the
// HTML service page), the SOAP endpoint and the WSDL publisher, offered
// requests in this order.
#pragma once

#include "soap/publish/WSDLHTMLPublish.h"
#include "soap/server/HTTPSoapDispatcher.h"
#include "soap/server/SoapInvoker.h"
#include "web/WebDispatcher.h"

namespace vv {

class TWebRequest;
class TWebResponse;

class TWebModule1 : public TWebModule {
  VV_CLASS(TWebModule1)
  // Builds the module from its stored description.
  explicit TWebModule1(TComponent *owner = nullptr);

  THTTPSoapDispatcher *HTTPSoapDispatcher1 = nullptr;
  THTTPSoapInvoker *HTTPSoapInvoker1 = nullptr;
  TWSDLHTMLPublish *WSDLHTMLPublish1 = nullptr;

  void WebModule1DefaultHandlerAction(TObject *Sender, TWebRequest *Request, TWebResponse *Response,
                                      bool &Handled);

private:
  void ReadDescription();
};

} // namespace vv
