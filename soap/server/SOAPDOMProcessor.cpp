#include "soap/server/SOAPDOMProcessor.h"

#include "rtl/TypeInfo.h"

namespace vv {

TClass TSOAPDOMProcessor::StaticClassInfo() {
  static const TTypeInfo info =
      ClassInfoBuilder<TSOAPDOMProcessor, TComponent>("TSOAPDOMProcessor", "SOAPDOMProcessor")
          .Build();
  return &info;
}

TSOAPDOMProcessor::TSOAPDOMProcessor(TComponent *owner)
    : TComponent(owner), FOwnerIsComponent(owner != nullptr) {}

int32_t TSOAPDOMProcessor::QueryInterface(const TGUID &iid, void **obj) {
  if (iid == IInterface::IID) {
    *obj = static_cast<IInterface *>(this);
    _AddRef();
    return S_OK;
  }
  *obj = nullptr;
  return E_NOINTERFACE;
}

int32_t TSOAPDOMProcessor::_AddRef() { return ++FRefCount; }

int32_t TSOAPDOMProcessor::_Release() {
  int32_t n = --FRefCount;
  if (n == 0 && !FOwnerIsComponent) delete this;
  return n;
}

} // namespace vv
