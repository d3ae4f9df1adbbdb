#include "soap/server/SOAPHeaders.h"

#include "rtl/TypeInfo.h"

namespace vv {

namespace {
thread_local TSOAPHeaders *CurrentSOAPHeaders = nullptr;
}

TSOAPHeaders *GetCurrentSOAPHeaders() { return CurrentSOAPHeaders; }
void SetCurrentSOAPHeaders(TSOAPHeaders *Headers) { CurrentSOAPHeaders = Headers; }

const TTypeInfo *ISOAPHeaders::StaticTypeInfo() {
  static const TTypeInfo info =
      IntfInfoBuilder<ISOAPHeaders, IInterface>("ISOAPHeaders", "SOAPHeaders").Build();
  return &info;
}

TClass TSOAPHeaders::StaticClassInfo() {
  static const TTypeInfo info =
      ClassInfoBuilder<TSOAPHeaders, TObject>("TSOAPHeaders", "SOAPHeaders")
          .Implements<ISOAPHeaders>()
          .Build();
  return &info;
}

int32_t TSOAPHeaders::QueryInterface(const TGUID &iid, void **obj) {
  if (iid == ISOAPHeaders::IID) {
    *obj = static_cast<ISOAPHeaders *>(this);
    _AddRef();
    return S_OK;
  }
  // Every other interface, the base one included, is the controller's.
  if (FController) return FController->QueryInterface(iid, obj);
  *obj = iid == IInterface::IID ? static_cast<IInterface *>(this) : nullptr;
  return *obj ? S_OK : E_NOINTERFACE;
}

bool TSOAPHeaders::Send(TObject *Header) {
  if (!FHeadersOut || !Header) return false;
  FHeadersOut->Add(Header);
  return true;
}

TObject *TSOAPHeaders::Get(TClass Cls) {
  if (!FHeadersIn) return nullptr;
  for (int i = 0; i < FHeadersIn->Count(); ++i) {
    TObject *h = FHeadersIn->Items(i);
    if (h && h->InheritsFrom(Cls)) return h;
  }
  return nullptr;
}

} // namespace vv
