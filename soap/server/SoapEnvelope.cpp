#include "soap/server/SoapEnvelope.h"

#include <string>

#include "soap/server/SOAPConst.h"

namespace vv {

namespace {
const char *EnvelopeNamespace(TSOAPConvertOptions o) {
  return o.Contains(soSOAP12) ? SSoap12NameSpace : SSoapNameSpace;
}
} // namespace

TSoapEnvelope::THandle TSoapEnvelope::MakeEnvelope(TXMLStreamWriter &W,
                                                   TSOAPConvertOptions Options) {
  THandle env = MakeChild(W, "Envelope", Options);
  W.DeclareNamespace(env, SXMLSchemaPrefix, SXMLSchemaNameSpace);
  W.DeclareNamespace(env, SXMLSchemaInstPrefix, SXMLSchemaInstNameSpace);
  if (!Options.Contains(soDocument))
    W.DeclareNamespace(env, SSoapEncodingPrefix,
                       Options.Contains(soSOAP12) ? SSoap12EncodingNameSpace
                                                  : SSoapEncodingNameSpace);
  return env;
}

TSoapEnvelope::THandle TSoapEnvelope::MakeChild(TXMLStreamWriter &W, const char *Name,
                                                TSOAPConvertOptions Options) {
  return W.StartElement(std::string(SSoapPrefix) + ":" + Name, EnvelopeNamespace(Options));
}

TSoapEnvelope::THandle TSoapEnvelope::MakeHeader(TXMLStreamWriter &W, TSOAPConvertOptions Options) {
  return MakeChild(W, "Header", Options);
}

TSoapEnvelope::THandle TSoapEnvelope::MakeBody(TXMLStreamWriter &W, TSOAPConvertOptions Options) {
  return MakeChild(W, "Body", Options);
}

TSoapEnvelope::THandle TSoapEnvelope::MakeFault(TXMLStreamWriter &W, TSOAPConvertOptions Options) {
  return MakeChild(W, "Fault", Options);
}

} // namespace vv
