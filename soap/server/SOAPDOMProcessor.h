// The base of the message converter: its life as a component that may also
// be held through interfaces, and the processing of SOAP headers.
#pragma once

#include <atomic>

#include "rtl/Component.h"
#include "rtl/Interface.h"
#include "xml/XMLReader.h"

namespace vv {

class TSOAPDOMProcessor : public TComponent, public virtual IInterface {
  VV_CLASS(TSOAPDOMProcessor)
  explicit TSOAPDOMProcessor(TComponent *owner = nullptr);

  int32_t QueryInterface(const TGUID &iid, void **obj) override;
  // Counted always; the last release frees the object only when it has no
  // owner component (an owned processor is freed by its owner).
  int32_t _AddRef() override;
  int32_t _Release() override;

protected:
  // What happens to a header element that no registered class or processor
  // takes: an unprefixed "mustUnderstand" of "1" or "true" fails the message
  // (ERemotableException, fault code "MustUnderstand"); anything else is
  // ignored.
  virtual void DefaultProcessHeader(TXMLCursor HeaderNode, bool &Handled, bool &AbortRequest);

  std::atomic<int32_t> FRefCount{0};
  bool FOwnerIsComponent = false;
};

} // namespace vv
