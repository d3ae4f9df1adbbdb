// Value conversion between native slots and XML elements, driven by the
// type descriptors and the type registry.
#pragma once

#include <cstdint>

#include "rtl/Exception.h"
#include "soap/server/SOAPConvertOptions.h"
#include "soap/server/SOAPDOMProcessor.h"

namespace vv {

VV_EXCEPTION(ESOAPDomConvertError, Exception);

class TSOAPDomConv : public TSOAPDOMProcessor {
  VV_CLASS(TSOAPDomConv)
  explicit TSOAPDomConv(TComponent *owner = nullptr);
  ~TSOAPDomConv() override;

protected:
  uint32_t FIDs = 1; // next multi-reference identifier
  TSOAPConvertOptions FOptions = DefaultSOAPConvertOptions;
};

} // namespace vv
