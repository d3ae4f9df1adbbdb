// The fixed names and limits of the service-description publisher, in one
// place: namespaces written into WSDL and WS-Inspection documents, the
// placeholder target namespace, the port file's name, and size limits.
#pragma once

#include <cstdint>

#include "soap/server/SOAPConst.h"

namespace vv {

// Namespaces of the description languages (the SOAP encoding and the 2001
// XML Schema namespaces are the message layer's SSoapEncodingNameSpace and
// SXMLSchemaNameSpace).
inline constexpr const char *SWSDLNS = "http://schemas.xmlsoap.org/wsdl/";
inline constexpr const char *SSOAPBindingNS = "http://schemas.xmlsoap.org/wsdl/soap/";
inline constexpr const char *SMIMEBindingNS = "http://schemas.xmlsoap.org/wsdl/mime/";
inline constexpr const char *SSOAPHTTPTransport = "http://schemas.xmlsoap.org/soap/http";
inline constexpr const char *SXMLSchemaNS1999 = "http://www.w3.org/1999/XMLSchema";
inline constexpr const char *SXMLSchemaNS2000 = "http://www.w3.org/2000/10/XMLSchema";
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

// Limits.
// A port file larger than this is refused rather than read: it is meant to
// hold a few port addresses, and a request must not make us read a huge file.
inline constexpr int64_t MaxPortFileSize = 64 * 1024;
// Generated namespace prefixes tried before giving up (ns1..nsN).
inline constexpr int MaxGeneratedPrefixes = 10000;

} // namespace vv
