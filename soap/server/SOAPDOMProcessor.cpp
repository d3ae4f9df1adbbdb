#include "soap/server/SOAPDOMProcessor.h"

#include "rtl/StrUtils.h"
#include "rtl/TypeInfo.h"
#include "soap/server/RemotableException.h"

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

void TSOAPDOMProcessor::DefaultProcessHeader(TXMLCursor HeaderNode, bool &Handled, bool &) {
  // Only the unprefixed attribute counts: "SOAP-ENV:mustUnderstand" is a
  // different full name and is not looked at.
  std::optional<std::string> must = HeaderNode.GetAttribute("mustUnderstand");
  if (must && (*must == "1" || SameText(*must, "true")))
    throw ERemotableException(
        Format("Soap header %s with attribute 'mustUnderstand' set to true was not handled",
               {std::string(HeaderNode.LocalName())}),
        "MustUnderstand");
  Handled = false;
}

} // namespace vv
