// Builds the frame of every SOAP message: the Envelope with its namespace
// declarations, and its Header, Body and Fault elements.
#pragma once

#include "soap/server/SOAPConvertOptions.h"
#include "xml/XMLDoc.h"

namespace vv {

class TSoapEnvelope {
public:
  // The document element "SOAP-ENV:Envelope" declaring, after its own
  // prefix, "xsd", "xsi" and (unless soDocument) "SOAP-ENC".
  IXMLNode MakeEnvelope(IXMLDocument &Doc, TSOAPConvertOptions Options);
  IXMLNode MakeHeader(IXMLNode ParentNode, TSOAPConvertOptions Options);
  IXMLNode MakeBody(IXMLNode ParentNode, TSOAPConvertOptions Options);
  IXMLNode MakeFault(IXMLNode ParentNode, TSOAPConvertOptions Options);

private:
  static IXMLNode MakeChild(IXMLNode ParentNode, const char *Name, TSOAPConvertOptions Options);
};

} // namespace vv
