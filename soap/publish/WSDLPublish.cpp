#include "soap/publish/WSDLPublish.h"

#include "soap/publish/PublishConsts.h"
#include "xml/XMLDoc.h"

namespace vv {

TClass TWSDLPublish::StaticClassInfo() {
  static const TTypeInfo info =
      ClassInfoBuilder<TWSDLPublish, TInvokableClass>("TWSDLPublish", "WSDLPub")
          .Implements<IWSDLPublish>()
          .Build();
  return &info;
}

std::vector<InterfaceMapItem> TWSDLPublish::GetPortTypeEntries() {
  TInvokableClassRegistry &reg = InvRegistry();
  std::vector<InterfaceMapItem> entries;
  InterfaceMapItem self;
  bool haveSelf = false;
  for (int i = 0; i < reg.GetInterfaceCount(); ++i) {
    if (!reg.HasRegInterfaceImpl(i)) continue;
    InterfaceMapItem e = reg.GetRegInterfaceEntry(i);
    if (e.GUID == IWSDLPublish::IID) {
      self = std::move(e);
      haveSelf = true;
    } else {
      entries.push_back(std::move(e));
    }
  }
  if (haveSelf) entries.push_back(std::move(self));
  return entries;
}

InvStringDynArray TWSDLPublish::GetPortTypeList() {
  TInvokableClassRegistry &reg = InvRegistry();
  InvStringDynArray names;
  for (int i = 0; i < reg.GetInterfaceCount(); ++i)
    names.push_back(reg.GetRegInterfaceEntry(i).Name);
  return names;
}

std::string TWSDLPublish::GetWSDLForPortType(const std::string &PortType) {
  if (Events.OnBeforePublishingWSDL) {
    std::string wsdl;
    bool handled = false;
    Events.OnBeforePublishingWSDL(PortType, wsdl, handled);
    if (handled) return wsdl;
  }
  const TTypeInfo *info = nullptr;
  TGUID iid;
  if (!InvRegistry().GetInterfaceInfoFromName("", PortType, info, iid) || !info) return "";
  IPtr<IXMLDocument> doc = NewXMLDocument("1.0");
  // Only what the WSDL needs: declarations where elements need them, and
  // indentation. Without automatic prefixes the SOAP binding elements stay
  // unprefixed and declare their namespace as their default.
  doc->SetOptions(doAttrNull | doNamespaceDecl | doNodeAutoIndent);
  IXMLNode root = doc->AddChild("definitions", SWSDLNS);
  root.DeclareNamespace(SXSPrefix, SXMLSchemaNameSpace);
  doc->SetEncoding("utf-8");
  TWebServExp exp;
  exp.TargetNamespace = FTargetNamespace;
  exp.BindingType = btSoap;
  exp.WSDLElements = {weServiceIntf, weService};
  exp.Events = Events;
  exp.GetWSDLForInterface(info, doc.Get(), PortNames, Locations);
  return doc->XML();
}

InvStringDynArray TWSDLPublish::GetTypeSystemsList() {
  InvStringDynArray namespaces;
  for (const TRemRegEntry &e : RemTypeRegistry().GetEntries()) {
    bool seen = false;
    for (const std::string &ns : namespaces) seen = seen || ns == e.URI;
    if (!seen) namespaces.push_back(e.URI);
  }
  return namespaces;
}

std::string TWSDLPublish::GetXSDForTypeSystem(const std::string &TypeSystem) {
  // One schema with every type of the namespace: a client asking for a type
  // system wants all of it, not one of its types.
  std::vector<const TTypeInfo *> types;
  for (const TRemRegEntry &e : RemTypeRegistry().GetEntries())
    if (e.URI == TypeSystem) types.push_back(e.Info);
  if (types.empty()) return "";
  IPtr<IXMLDocument> doc = NewXMLDocument("1.0");
  doc->SetOptions(doAttrNull | doNamespaceDecl | doNodeAutoIndent);
  IXMLNode schema = doc->AddChild(std::string(SXSPrefix) + ":schema", SXMLSchemaNameSpace);
  schema.SetAttribute("targetNamespace", TypeSystem);
  schema.DeclareNamespace("", TypeSystem);
  TWebServExp exp;
  exp.SetDefinition(schema);
  for (const TTypeInfo *t : types) exp.GenerateXMLSchema(schema, t, nullptr, TypeSystem);
  return doc->XML();
}

} // namespace vv
