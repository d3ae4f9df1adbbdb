#include "soap/server/SoapEnvelope.h"

#include <string>

#include "soap/server/SOAPConst.h"

namespace vv {

namespace {
const char *EnvelopeNamespace(TSOAPConvertOptions Options) {
  return Options.Contains(soSOAP12) ? SSoap12NameSpace : SSoapNameSpace;
}
} // namespace

TSoapEnvelope::THandle TSoapEnvelope::MakeEnvelope(TXMLStreamWriter &Writer,
                                                   TSOAPConvertOptions Options) {
  THandle env = MakeChild(Writer, "Envelope", Options);
  Writer.DeclareNamespace(env, SXMLSchemaPrefix, SXMLSchemaNameSpace);
  Writer.DeclareNamespace(env, SXMLSchemaInstPrefix, SXMLSchemaInstNameSpace);
  if (!Options.Contains(soDocument))
    Writer.DeclareNamespace(env, SSoapEncodingPrefix,
                            Options.Contains(soSOAP12) ? SSoap12EncodingNameSpace
                                                       : SSoapEncodingNameSpace);
  return env;
}

TSoapEnvelope::THandle TSoapEnvelope::MakeChild(TXMLStreamWriter &Writer, const char *Name,
                                                TSOAPConvertOptions Options) {
  return Writer.StartElement(std::string(SSoapPrefix) + ":" + Name, EnvelopeNamespace(Options));
}

TSoapEnvelope::THandle TSoapEnvelope::MakeHeader(TXMLStreamWriter &Writer,
                                                 TSOAPConvertOptions Options) {
  return MakeChild(Writer, "Header", Options);
}

TSoapEnvelope::THandle TSoapEnvelope::MakeBody(TXMLStreamWriter &Writer,
                                               TSOAPConvertOptions Options) {
  return MakeChild(Writer, "Body", Options);
}

TSoapEnvelope::THandle TSoapEnvelope::MakeFault(TXMLStreamWriter &Writer,
                                                TSOAPConvertOptions Options) {
  return MakeChild(Writer, "Fault", Options);
}

} // namespace vv
