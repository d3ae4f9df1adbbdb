// The fixed names of the service-description publisher, in one place:
// namespaces written into WSDL and WS-Inspection documents, the placeholder
// target namespace and the port file's name. Its limits are in
// PublishLimits.h.
#pragma once

#include "soap/server/SOAPConst.h"

namespace vv {

// Namespaces of the description languages (the SOAP encoding and the XML
// Schema namespaces are the message layer's, in soap/server/SOAPConst.h).
inline constexpr const char *SWSDLNS = "http://schemas.xmlsoap.org/wsdl/";
inline constexpr const char *SSOAPBindingNS = "http://schemas.xmlsoap.org/wsdl/soap/";
inline constexpr const char *SMIMEBindingNS = "http://schemas.xmlsoap.org/wsdl/mime/";
inline constexpr const char *SSOAPHTTPTransport = "http://schemas.xmlsoap.org/soap/http";
inline constexpr const char *SWSILNS = "http://schemas.xmlsoap.org/ws/2001/10/inspection/";

// The target namespace of a published WSDL when none was configured. It is
// this service's own fixed placeholder, not a location that resolves.
inline constexpr const char *SDefaultTargetNamespace = "https://www.vevude.example/wsdl/target";

// Prefixes in a WSDL document, and the base of generated ones ("ns1", ...).
inline constexpr const char *SXSPrefix = "xs";
inline constexpr const char *STNSPrefix = "tns";
inline constexpr const char *SSOAPPrefix = "soap";
inline constexpr const char *SSOAPEncPrefix = "soapenc";
inline constexpr const char *SMIMEPrefix = "mime";
inline constexpr const char *SGeneratedPrefixBase = "ns";
// The prefix that the SOAP-encoded array restriction binds to the WSDL
// namespace for its "arrayType" attribute.
inline constexpr const char *SArrayTypePrefix = "n1";

// The port file lies beside the program: its path without extension
// followed by this suffix.
inline constexpr const char *SPortFileSuffix = "_WSDLADMIN.INI";

} // namespace vv
