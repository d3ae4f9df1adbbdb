#include "soap/server/SoapEnvelope.h"

#include <string>

#include "soap/server/SOAPConst.h"

namespace vv {

namespace {
const char *EnvelopeNamespace(TSOAPConvertOptions o) {
  return o.Contains(soSOAP12) ? SSoap12NameSpace : SSoapNameSpace;
}
} // namespace

IXMLNode TSoapEnvelope::MakeEnvelope(IXMLDocument &Doc, TSOAPConvertOptions Options) {
  IXMLNode env = Doc.AddChild(std::string(SSoapPrefix) + ":Envelope", EnvelopeNamespace(Options));
  env.DeclareNamespace(SXMLSchemaPrefix, SXMLSchemaNameSpace);
  env.DeclareNamespace(SXMLSchemaInstPrefix, SXMLSchemaInstNameSpace);
  if (!Options.Contains(soDocument))
    env.DeclareNamespace(SSoapEncodingPrefix, Options.Contains(soSOAP12) ? SSoap12EncodingNameSpace
                                                                         : SSoapEncodingNameSpace);
  return env;
}

IXMLNode TSoapEnvelope::MakeChild(IXMLNode ParentNode, const char *Name,
                                  TSOAPConvertOptions Options) {
  return ParentNode.AddChild(std::string(SSoapPrefix) + ":" + Name, EnvelopeNamespace(Options));
}

IXMLNode TSoapEnvelope::MakeHeader(IXMLNode ParentNode, TSOAPConvertOptions Options) {
  return MakeChild(ParentNode, "Header", Options);
}

IXMLNode TSoapEnvelope::MakeBody(IXMLNode ParentNode, TSOAPConvertOptions Options) {
  return MakeChild(ParentNode, "Body", Options);
}

IXMLNode TSoapEnvelope::MakeFault(IXMLNode ParentNode, TSOAPConvertOptions Options) {
  return MakeChild(ParentNode, "Fault", Options);
}

} // namespace vv
