// The SOAP headers of a call, as an implementation object sees them.
//
// An implementation object (TInvokableClass) and the invoker each own a
// TSOAPHeaders; during a call the invoker points it at the call's incoming
// and outgoing header lists. The object is reached through ISOAPHeaders and
// counts its references on its controller (the object that owns it).
#pragma once

#include "rtl/Interface.h"
#include "soap/server/HeaderList.h"

namespace vv {

struct ISOAPHeaders : virtual IInterface {
  VV_INTERFACE(ISOAPHeaders, "{2BBE5F7A-7195-4D8E-9E78-E1E18921A3E2}")
  // Points the object at the lists of the call in progress (none: no call).
  virtual void SetHeadersInOut(THeaderList *HeadersIn, THeaderList *HeadersOut) = 0;
  // Queues a header object for the response; false outside a call.
  virtual bool Send(TObject *Header) = 0;
  // The first incoming header object of class Cls (or derived), or none.
  virtual TObject *Get(TClass Cls) = 0;

protected:
  ~ISOAPHeaders() override = default;
};

class TSOAPHeaders : public TObject, public ISOAPHeaders {
  VV_CLASS(TSOAPHeaders)
  // Controller: the object whose reference count this one uses (none: the
  // object is not counted and its owner frees it).
  explicit TSOAPHeaders(IInterface *Controller = nullptr) : FController(Controller) {}

  int32_t QueryInterface(const TGUID &iid, void **obj) override;
  int32_t _AddRef() override { return FController ? FController->_AddRef() : -1; }
  int32_t _Release() override { return FController ? FController->_Release() : -1; }

  void SetHeadersInOut(THeaderList *HeadersIn, THeaderList *HeadersOut) override {
    FHeadersIn = HeadersIn;
    FHeadersOut = HeadersOut;
  }
  bool Send(TObject *Header) override;
  TObject *Get(TClass Cls) override;

private:
  IInterface *FController;
  THeaderList *FHeadersIn = nullptr;
  THeaderList *FHeadersOut = nullptr;
};

// The thread's current SOAP headers object (set by the invoker during a call).
TSOAPHeaders *GetCurrentSOAPHeaders();
void SetCurrentSOAPHeaders(TSOAPHeaders *Headers);

} // namespace vv
