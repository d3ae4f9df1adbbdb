// The base of classes that implement invokable interfaces.
//
// Reference counted (atomically): a new object has no references, each
// interface reference adds one, and releasing the last one destroys it.
// Asked for ISOAPHeaders, it answers with its own headers object.
#pragma once

#include <memory>

#include "rtl/Interface.h"
#include "soap/server/SOAPHeaders.h"

namespace vv {

class TInvokableClass : public TInterfacedObject {
  VV_CLASS(TInvokableClass)
  TInvokableClass();
  ~TInvokableClass() override;

  int32_t QueryInterface(const TGUID &iid, void **obj) override;
  // Destroys an object that nobody references; one that still has
  // references stays alive and EInvalidPointer is raised.
  void Free();

protected:
  std::unique_ptr<TSOAPHeaders> FSOAPHeaders;
};

} // namespace vv
