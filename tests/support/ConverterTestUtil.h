// Shared pieces of the converter tests, whatever contract they use: the
// namespaces and the envelope start as text, and a converter.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "rtl/Stream.h"
#include "soap/server/DataContext.h"
#include "soap/server/IntfMetaData.h"
#include "soap/server/InvokeRegistry.h"
#include "soap/server/SoapConverter.h"

namespace vvtest {

inline const std::string kEnvNS = "http://schemas.xmlsoap.org/soap/envelope/";
inline const std::string kEncNS = "http://schemas.xmlsoap.org/soap/encoding/";
inline const std::string kXsdNS = "http://www.w3.org/2001/XMLSchema";
inline const std::string kXsiNS = "http://www.w3.org/2001/XMLSchema-instance";

// What the DOM writes before the document element.
inline const std::string kDecl = "<?xml version=\"1.0\"?>\r\n";

// The envelope start tag the converter writes on both sides.
inline std::string EnvelopeStart(bool encoding) {
  return "<SOAP-ENV:Envelope xmlns:SOAP-ENV=\"" + kEnvNS + "\" xmlns:xsd=\"" + kXsdNS +
         "\" xmlns:xsi=\"" + kXsiNS + "\"" +
         (encoding ? " xmlns:SOAP-ENC=\"" + kEncNS + "\"" : std::string()) + ">";
}

// A converter held through its interface, freed with the last reference.
inline vv::IPtr<vv::ISoapConvert> NewConverter() {
  return vv::IPtr<vv::ISoapConvert>(static_cast<vv::ISoapConvert *>(new vv::TSoapConverter()));
}

} // namespace vvtest
