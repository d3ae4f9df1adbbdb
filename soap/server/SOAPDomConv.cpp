#include "soap/server/SOAPDomConv.h"

#include "rtl/TypeInfo.h"

namespace vv {

TClass TSOAPDomConv::StaticClassInfo() {
  static const TTypeInfo info =
      ClassInfoBuilder<TSOAPDomConv, TSOAPDOMProcessor>("TSOAPDomConv", "SOAPDomConv").Build();
  return &info;
}

TSOAPDomConv::TSOAPDomConv(TComponent *owner) : TSOAPDOMProcessor(owner) {}

TSOAPDomConv::~TSOAPDomConv() = default;

} // namespace vv
