// The SOAP endpoint of a web module: takes POST requests on "soap*", hands
// path, SOAPAction and body to an IHTTPSoapDispatch (the invoker) and sends
// what it wrote as "text/xml; charset=utf-8" (plain "text/xml" when the
// invoker's converter lacks soUTF8InHeader). An error that escapes the
// invoker (no interface bound, no dispatcher) is answered with a fixed
// fault, status 500.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <string>
#include <string_view>

#include "rtl/Component.h"
#include "soap/server/SoapInvoker.h"
#include "web/WebDispatch.h"

namespace vv {

class TWebRequest;
class TWebResponse;

// Holds the IHTTPSoapDispatch that requests go to, published as Dispatcher.
// The reference is cleared when the invoker behind it is destroyed.
class THTTPSoapDispatchNode : public TComponent {
  VV_CLASS(THTTPSoapDispatchNode)
  explicit THTTPSoapDispatchNode(TComponent *owner = nullptr) : TComponent(owner) {}
  ~THTTPSoapDispatchNode() override;

  IHTTPSoapDispatch *Dispatcher() const { return FSoapDispatcher; }
  void SetDispatcher(IHTTPSoapDispatch *value);

protected:
  IHTTPSoapDispatch *FSoapDispatcher = nullptr; // not owned

private:
  friend class TSoapInvoker;
  void Unlink();
};

// (Sender, Request, Response, E, var Handled)
using TSoapDispatcherException =
    std::function<void(TObject *, TWebRequest *, TWebResponse *, const std::exception &, bool &)>;

class THTTPSoapDispatcher : public THTTPSoapDispatchNode, public IWebDispatch {
  VV_CLASS(THTTPSoapDispatcher)
  explicit THTTPSoapDispatcher(TComponent *owner = nullptr);

  TWebDispatch &WebDispatch() { return FWebDispatch; }
  TSoapDispatcherException OnException;

  bool DispatchEnabled() override { return true; }
  TMethodType DispatchMethodType() override { return FWebDispatch.MethodType; }
  const TMask &DispatchMask() override { return FWebDispatch.Mask(); }
  // Always handles the request.
  bool DispatchRequest(TObject *sender, TWebRequest *request, TWebResponse *response) override;

private:
  TWebDispatch FWebDispatch;
};

// The fixed fault document for an error that escaped the invoker, with the
// message written as XML character data.
std::string SoapFixedFault(std::string_view message);
// Whether a request's content type announces a multipart message.
bool IsMultipartContentType(std::string_view contentType);

// The web module whose SOAP dispatcher is handling a request on this
// thread, for code that needs it during the call; none otherwise.
TComponent *CurrentWebModule();

} // namespace vv
