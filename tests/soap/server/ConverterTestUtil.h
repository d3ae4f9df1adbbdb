// Shared set-up of the converter tests: the registries with the contract,
// the description of IDRUX and FlightsOpSoap, and the namespaces as text.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "relay/uDRUXIntf.h"
#include "relay/uOstrel.h"
#include "rtl/Stream.h"
#include "soap/server/DataContext.h"
#include "soap/server/IntfMetaData.h"
#include "soap/server/InvokeRegistry.h"
#include "soap/server/SoapConverter.h"

namespace vv::test {

inline void InitContract() {
  InitInvokeRegistry();
  InitOstrelUnit();
  InitDRUXIntfUnit();
}

inline const std::string kEnvNS = "http://schemas.xmlsoap.org/soap/envelope/";
inline const std::string kEncNS = "http://schemas.xmlsoap.org/soap/encoding/";
inline const std::string kXsdNS = "http://www.w3.org/2001/XMLSchema";
inline const std::string kXsiNS = "http://www.w3.org/2001/XMLSchema-instance";
inline const std::string kUpNS = SUpstreamNameSpace;

// What the DOM writes before the document element.
inline const std::string kDecl = "<?xml version=\"1.0\"?>\r\n";

// The envelope start tag the converter writes on both sides.
inline std::string EnvelopeStart(bool encoding) {
  return "<SOAP-ENV:Envelope xmlns:SOAP-ENV=\"" + kEnvNS + "\" xmlns:xsd=\"" + kXsdNS +
         "\" xmlns:xsi=\"" + kXsiNS + "\"" +
         (encoding ? " xmlns:SOAP-ENC=\"" + kEncNS + "\"" : std::string()) + ">";
}

// A converter held through its interface, freed with the last reference.
inline IPtr<ISoapConvert> NewConverter() {
  return IPtr<ISoapConvert>(static_cast<ISoapConvert *>(new TSoapConverter()));
}

} // namespace vv::test
