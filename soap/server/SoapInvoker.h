// The invoker: runs one SOAP call.
//
// THTTPSoapInvoker binds a request to a registered interface by its
// SOAPAction or, when that is empty, by the last segment of its path, then
// TSoapInvoker::Invoke makes a call context current, lets the converter read
// the envelope, calls the method on a fresh instance of the implementing
// class and lets the converter write the response. Every error of the call
// becomes a fault envelope in the response stream; only binding errors are
// raised, for the HTTP dispatcher to answer.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "rtl/Component.h"
#include "rtl/Interface.h"
#include "rtl/Stream.h"
#include "rtl/TypeInfo.h"
#include "soap/server/HeaderList.h"
#include "soap/server/SOAPHeaders.h"
#include "soap/server/SoapConverter.h"
#include "soap/server/WebServiceBindingType.h"

namespace vv {

class THTTPSoapDispatchNode;

// The operation through which the HTTP dispatcher hands a request over.
struct IHTTPSoapDispatch : virtual IInterface {
  VV_INTERFACE(IHTTPSoapDispatch, "{9C3F6E2A-47B1-4D0E-8A5C-E61B2D7F4A90}")
  // Path: the request's path info; SoapAction: the header as received;
  // Request: positioned at the envelope; Response: empty. BindingType: in,
  // how the request arrived; out, how the response is to be sent.
  virtual void DispatchSOAP(const std::string &Path, const std::string &SoapAction,
                            TStream &Request, TStream &Response,
                            TWebServiceBindingType &BindingType) = 0;

protected:
  ~IHTTPSoapDispatch() override = default;
};

// (MethodName, Request)
using TBeforeDispatchEvent = std::function<void(const std::string &, TStream &)>;
// (MethodName, Request, Response, var BindingType, var Handled)
using TBeforeDispatchEvent2 = std::function<void(const std::string &, TStream &, TStream &,
                                                 TWebServiceBindingType &, bool &)>;
// (MethodName, SOAPResponse)
using TAfterDispatchEvent = std::function<void(const std::string &, TStream &)>;
// (MethodName, Request, Response)
using TOnExceptionEvent = std::function<void(const std::string &, TStream &, TStream &)>;
// (AttachmentStream, Attachment)
using TOnAttachmentEvent = std::function<void(TStream &, const TSOAPAttachment &)>;

class TSoapInvoker : public TComponent {
  VV_CLASS(TSoapInvoker)
  explicit TSoapInvoker(TComponent *owner = nullptr);
  ~TSoapInvoker() override;

  // Runs one call of interface IntfInfo on a new instance of AClass. Never
  // raises for an error of the call: Response then holds a fault envelope.
  void Invoke(TClass AClass, const TTypeInfo *IntfInfo, const std::string &MethName,
              TStream &Request, TStream &Response, TWebServiceBindingType &BindingType);

  ISoapConvert *Converter() const { return FConverter.Get(); }
  void SetConverter(ISoapConvert *value) { FConverter = IPtr<ISoapConvert>(value); }

  TBeforeDispatchEvent BeforeDispatchEvent;
  TAfterDispatchEvent AfterDispatchEvent;
  TOnAttachmentEvent OnSendAttachment;
  TOnAttachmentEvent OnGetAttachment;
  TOnExceptionEvent OnExceptionEvent;
  TBeforeDispatchEvent2 BeforeDispatchEvent2;

protected:
  IPtr<ISoapConvert> FConverter;
  TSoapConverter *FDomConverter = nullptr; // "Converter1", owned as a component
  std::unique_ptr<TSOAPHeaders> FSOAPHeaders;
  THeaderList FHeadersIn, FHeadersOut; // the current call's; not owning

private:
  friend class THTTPSoapDispatchNode;
  // The second half of a call, once the request is read: a fresh
  // implementation object, the call, the response.
  void CallAndRespond(TClass AClass, const TIntfMetaData &IntfMD, int MethNum, TInvContext &Context,
                      TStream &Request, TStream &Response, TWebServiceBindingType &BindingType,
                      const std::string &MethName);
  // Writes the fault for `e` over whatever the failed step left in Response.
  void WriteFault(ISoapConvert &converter, const std::exception &e, TStream &Response,
                  int64_t start);

  // Dispatch nodes that point at this invoker; cleared when it goes.
  std::vector<THTTPSoapDispatchNode *> FDispatchNodes;
};

class THTTPSoapInvoker : public TSoapInvoker, public IHTTPSoapDispatch {
  VV_CLASS(THTTPSoapInvoker)
  explicit THTTPSoapInvoker(TComponent *owner = nullptr) : TSoapInvoker(owner) {}

  // A component lives as long as its owner: references are not counted.
  int32_t QueryInterface(const TGUID &iid, void **obj) override;
  int32_t _AddRef() override { return -1; }
  int32_t _Release() override { return -1; }

  // Binds by action (unless it is empty or `""`), else by path, and runs
  // the call. Raises the binding errors.
  void DispatchSOAP(const std::string &Path, const std::string &SoapAction, TStream &Request,
                    TStream &Response, TWebServiceBindingType &BindingType) override;
};

} // namespace vv
