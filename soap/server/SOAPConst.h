// Namespace URIs and fixed names of the SOAP messages.
#pragma once

namespace vv {

inline constexpr const char *SSoapNameSpace = "http://schemas.xmlsoap.org/soap/envelope/";
inline constexpr const char *SSoap12NameSpace = "http://www.w3.org/2003/05/soap-envelope";
inline constexpr const char *SSoapEncodingNameSpace = "http://schemas.xmlsoap.org/soap/encoding/";
inline constexpr const char *SSoap12EncodingNameSpace = "http://www.w3.org/2003/05/soap-encoding";
inline constexpr const char *SXMLSchemaNameSpace = "http://www.w3.org/2001/XMLSchema";
inline constexpr const char *SXMLSchemaInstNameSpace = "http://www.w3.org/2001/XMLSchema-instance";
// Older schema namespaces, whose types are the same as those of the 2001 one.
inline constexpr const char *SXMLSchemaNS1999 = "http://www.w3.org/1999/XMLSchema";
inline constexpr const char *SXMLSchemaNS2000 = "http://www.w3.org/2000/10/XMLSchema";
// Older schema-instance namespaces, tried for a missing "type" with soTryAllSchema.
inline constexpr const char *SXMLSchemaInstNameSpace1999 =
    "http://www.w3.org/1999/XMLSchema-instance";
inline constexpr const char *SXMLSchemaInstNameSpace2000 =
    "http://www.w3.org/2000/10/XMLSchema-instance";

inline constexpr const char *SSoapPrefix = "SOAP-ENV";
inline constexpr const char *SSoapEncodingPrefix = "SOAP-ENC";
inline constexpr const char *SXMLSchemaPrefix = "xsd";
inline constexpr const char *SXMLSchemaInstPrefix = "xsi";

} // namespace vv
