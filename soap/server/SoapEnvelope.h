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
  THandle MakeEnvelope(TXMLStreamWriter &Writer, TSOAPConvertOptions Options);
  // A child of the current element.
  THandle MakeHeader(TXMLStreamWriter &Writer, TSOAPConvertOptions Options);
  THandle MakeBody(TXMLStreamWriter &Writer, TSOAPConvertOptions Options);
  THandle MakeFault(TXMLStreamWriter &Writer, TSOAPConvertOptions Options);

private:
  static THandle MakeChild(TXMLStreamWriter &Writer, const char *Name, TSOAPConvertOptions Options);
};

} // namespace vv
