#include "soap/client/WSDLView.h"

#include <fstream>

#include "rtl/StrUtils.h"
#include "soap/client/ClientLimits.h"
#include "soap/client/SOAPHTTPTrans.h"

namespace vv {

namespace {
constexpr std::string_view WSDLNS = "http://schemas.xmlsoap.org/wsdl/";
constexpr std::string_view SOAP11BindingNS = "http://schemas.xmlsoap.org/wsdl/soap/";
constexpr std::string_view SOAP12BindingNS = "http://schemas.xmlsoap.org/wsdl/soap12/";

std::string_view BindingNS(bool soap12) { return soap12 ? SOAP12BindingNS : SOAP11BindingNS; }

// The local part of a qualified name.
std::string LocalPart(const std::string &qname) {
  size_t p = qname.find(':');
  return p == std::string::npos ? qname : qname.substr(p + 1);
}

// The first child element `local` in the WSDL namespace with name="name".
IXMLNode NamedChild(const IXMLNode &parent, std::string_view local, const std::string &name) {
  for (IXMLNode n = parent.FirstChildElement(); n; n = n.NextSiblingElement())
    if (n.LocalName() == local && n.NamespaceURI() == WSDLNS && n.GetAttribute("name") == name)
      return n;
  return {};
}

void ReadFile(const std::string &path, TMemoryStream &into) {
  std::ifstream f(path, std::ios::binary);
  if (!f) throw EStreamError("Cannot open file \"%s\"", {path});
  std::string data;
  char buf[65536];
  while (f.read(buf, sizeof buf) || f.gcount() > 0) {
    data.append(buf, size_t(f.gcount()));
    if (int64_t(data.size()) > kMaxWSDLSize)
      throw EStreamError("WSDL document \"%s\" is too large", {path});
  }
  into.Data() = std::move(data);
}
} // namespace

void TWSDLView::Activate(IStreamLoaderCustomizer *Customizer) {
  if (FDoc) return;
  TMemoryStream data;
  if (StartsText("http://", WSDLLocation) || StartsText("https://", WSDLLocation)) {
    // A transport of its own with the caller's settings fetches the
    // document; owned here, so no reference count frees it early.
    TComponent owner;
    auto *fetch = new THTTPReqResp(&owner);
    if (Customizer) Customizer->Customize(fetch);
    fetch->SetURL(WSDLLocation);
    fetch->Get(data);
  } else {
    ReadFile(WSDLLocation, data);
  }
  IPtr<IXMLDocument> doc = NewXMLDocument();
  doc->LoadFromStream(data);
  FDoc = doc;
}

IXMLNode TWSDLView::FindPort() const {
  if (!FDoc) return {};
  IXMLNode defs = FDoc->DocumentElement();
  IXMLNode service = NamedChild(defs, "service", Service);
  return service ? NamedChild(service, "port", Port) : IXMLNode();
}

bool TWSDLView::FindBinding(std::string &Binding) const {
  IXMLNode port = FindPort();
  if (!port) return false;
  std::string qname = port.GetAttribute("binding").value_or("");
  if (qname.empty() || !NamedChild(FDoc->DocumentElement(), "binding", LocalPart(qname)))
    return false;
  Binding = LocalPart(qname);
  return true;
}

std::string TWSDLView::SoapAction(const std::string &Binding, const std::string &OperationName,
                                  bool SOAP12) const {
  if (!FDoc) return {};
  IXMLNode binding = NamedChild(FDoc->DocumentElement(), "binding", Binding);
  IXMLNode op = binding ? NamedChild(binding, "operation", OperationName) : IXMLNode();
  IXMLNode soapOp = op ? op.ChildElementNS("operation", BindingNS(SOAP12)) : IXMLNode();
  return soapOp ? soapOp.GetAttribute("soapAction").value_or("") : std::string();
}

std::string TWSDLView::SoapAddress(bool SOAP12) const {
  IXMLNode port = FindPort();
  IXMLNode address = port ? port.ChildElementNS("address", BindingNS(SOAP12)) : IXMLNode();
  return address ? address.GetAttribute("location").value_or("") : std::string();
}

} // namespace vv
