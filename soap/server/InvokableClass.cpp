#include "soap/server/InvokableClass.h"

#include "rtl/Exception.h"
#include "rtl/TypeInfo.h"
#include "soap/server/ObjectCounts.h"

namespace vv {

// Declares no interfaces of its own: a subclass must declare what it
// implements to be registered as an invokable class.
TClass TInvokableClass::StaticClassInfo() {
  static const TTypeInfo info =
      ClassInfoBuilder<TInvokableClass, TInterfacedObject>("TInvokableClass", "InvokeRegistry")
          .Build();
  return &info;
}

TInvokableClass::TInvokableClass()
    : FSOAPHeaders(std::make_unique<TSOAPHeaders>(static_cast<IInterface *>(this))) {
#ifdef VEVUDE_COUNT_OBJECTS
  ++ObjectCounts().InvokableCreated;
#endif
}

TInvokableClass::~TInvokableClass() {
#ifdef VEVUDE_COUNT_OBJECTS
  ++ObjectCounts().InvokableDestroyed;
#endif
}

int32_t TInvokableClass::QueryInterface(const TGUID &iid, void **obj) {
  if (iid == ISOAPHeaders::IID) {
    *obj = static_cast<ISOAPHeaders *>(FSOAPHeaders.get());
    _AddRef();
    return S_OK;
  }
  return TInterfacedObject::QueryInterface(iid, obj);
}

void TInvokableClass::Free() {
  if (FRefCount.load() != 0) throw EInvalidPointer("Invalid pointer operation");
  delete this;
}

} // namespace vv
