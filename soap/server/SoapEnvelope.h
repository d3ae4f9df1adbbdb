// Builds the frame of every SOAP message: the Envelope with its namespace
// declarations, and its Header, Body and Fault elements.
#pragma once

#include "soap/server/SOAPConvertOptions.h"
#include "xml/XMLStreamWriter.h"

namespace vv {

class TSoapEnvelope {
public:
  using THandle = TXMLStreamWriter::THandle;
  // The document element "SOAP-ENV:Envelope" declaring, after its own
  // prefix, "xsd", "xsi" and (unless soDocument) "SOAP-ENC".
  THandle MakeEnvelope(TXMLStreamWriter &W, TSOAPConvertOptions Options);
  // A child of the current element.
  THandle MakeHeader(TXMLStreamWriter &W, TSOAPConvertOptions Options);
  THandle MakeBody(TXMLStreamWriter &W, TSOAPConvertOptions Options);
  THandle MakeFault(TXMLStreamWriter &W, TSOAPConvertOptions Options);

private:
  static THandle MakeChild(TXMLStreamWriter &W, const char *Name, TSOAPConvertOptions Options);
};

} // namespace vv
