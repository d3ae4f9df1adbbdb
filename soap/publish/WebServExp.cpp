#include "soap/publish/WebServExp.h"

#include "rtl/Exception.h"
#include "rtl/StrUtils.h"
#include "soap/publish/PublishConsts.h"
#include "soap/publish/PublishLimits.h"
#include "soap/server/InvokeRegistry.h"

namespace vv {

namespace {

bool IsDescribedKind(TTypeKind k) {
  return k == TTypeKind::tkClass || k == TTypeKind::tkDynArray || k == TTypeKind::tkEnumeration ||
         k == TTypeKind::tkSet;
}

std::string Qualify(std::string_view prefix, std::string_view name) {
  if (prefix.empty()) return std::string(name);
  std::string q(prefix);
  q += ':';
  q += name;
  return q;
}

// The registered classes whose parent is `cls`, in registration order.
std::vector<TClass> DerivedRegisteredClasses(TClass cls) {
  std::vector<TClass> derived;
  for (const TRemRegEntry &e : RemTypeRegistry().GetEntries())
    if (e.ClassType && e.ClassType != cls && e.ClassType->Class &&
        e.ClassType->Class->Parent == cls)
      derived.push_back(e.ClassType);
  return derived;
}

} // namespace

void TWebServExp::GetWSDLForInterface(const TTypeInfo *intfTypeInfo, IXMLDocument *wsdlDoc,
                                      const std::vector<std::string> &portNames,
                                      const std::vector<std::string> &locations) {
  if (!intfTypeInfo || !intfTypeInfo->Intf)
    throw EInvalidOperation("WSDL requested for a type that is not an interface");
  Definition = wsdlDoc->DocumentElement();
  // Every operation but the three reference-counting slots of the base.
  GetIntfMetaData(intfTypeInfo, FMetaData, true);
  FOperations.clear();
  for (const TIntfMethEntry &m : FMetaData.MDA)
    if (!m.Name.empty()) FOperations.push_back(&m);
  FTypes = IXMLNode();
  SchemaArray.clear();
  bHasComplexTypes = false;
  AddRootAttributes(intfTypeInfo, wsdlDoc);
  if (WSDLElements.Contains(weServiceIntf)) {
    if (Events.OnBeforePublishingTypes) Events.OnBeforePublishingTypes(intfTypeInfo);
    CollectTypes();
    WriteTypes();
    WriteMessages(intfTypeInfo);
    WritePortType(intfTypeInfo);
    WriteBinding(intfTypeInfo);
  }
  if (WSDLElements.Contains(weService)) WriteService(intfTypeInfo, portNames, locations);
  if (Events.OnAfterPublishingWSDL) Events.OnAfterPublishingWSDL(wsdlDoc);
}

void TWebServExp::AddRootAttributes(const TTypeInfo *intf, IXMLDocument *doc) {
  Definition.SetAttribute("name", intf->Name + "service");
  if (!TargetNamespace.empty()) {
    Definition.SetAttribute("targetNamespace", TargetNamespace);
    Definition.SetAttribute(std::string("xmlns:") + STNSPrefix, TargetNamespace);
  }
  Definition.SetAttribute(std::string("xmlns:") + SSOAPPrefix, SSOAPBindingNS);
  Definition.SetAttribute(std::string("xmlns:") + SSOAPEncPrefix, SSoapEncodingNameSpace);
  Definition.SetAttribute(std::string("xmlns:") + SMIMEPrefix, SMIMEBindingNS);
  if (doc->Encoding().empty()) {
    std::string enc = InvRegistry().GetWSDLEncoding(intf);
    doc->SetEncoding(enc.empty() ? "utf-8" : enc);
  }
  doc->SetPrefixBase(SGeneratedPrefixBase);
}

// ---- types -----------------------------------------------------------------

void TWebServExp::CollectTypes() {
  for (const TIntfMethEntry *m : FOperations) {
    for (const TIntfParamEntry &p : m->Params) AddType(p.Info);
    AddType(m->ResultInfo);
  }
}

void TWebServExp::AddType(const TTypeInfo *t) {
  if (!t) return;
  std::string uri, name;
  bool known = RemTypeRegistry().TypeInfoToXSD(t, uri, name);
  // A scalar is described only when it is registered outside XML Schema.
  if (!known && !IsDescribedKind(t->Kind)) return;
  if (IsXMLSchemaNamespace(uri) || t->Kind == TTypeKind::tkSet || FindSchemaEntry(t)) return;
  SchemaArray.push_back({name, uri, t, "", false});
  if (t->Kind == TTypeKind::tkClass) {
    for (const TPropInfo &p : t->Class->Props) AddType(p.Type);
    for (TClass derived : DerivedRegisteredClasses(t)) AddType(derived);
  } else if (t->Kind == TTypeKind::tkDynArray) {
    AddType(t->DynArray->ElType);
  }
}

void TWebServExp::WriteTypes() {
  if (SchemaArray.empty()) return;
  for (TSchemaInfo &e : SchemaArray) e.NSPrefix = PrefixFor(e.XMLNamespace);
  std::vector<std::string> namespaces;
  for (const TSchemaInfo &e : SchemaArray) {
    bool seen = false;
    for (const std::string &ns : namespaces) seen = seen || ns == e.XMLNamespace;
    if (!seen) namespaces.push_back(e.XMLNamespace);
  }
  for (const std::string &ns : namespaces) {
    if (!FTypes) FTypes = Definition.AddChild("types", SWSDLNS, 0);
    IXMLNode schema = FTypes.AddChild(Qualify(SXSPrefix, "schema"));
    schema.SetAttribute("targetNamespace", ns);
    schema.DeclareNamespace("", ns);
    // By index: generating a type may append the types it refers to.
    for (size_t i = 0; i < SchemaArray.size(); ++i)
      GenerateXMLSchema(schema, SchemaArray[i].Info, nullptr, ns);
  }
}

TSchemaInfo *TWebServExp::FindSchemaEntry(const TTypeInfo *t) {
  for (TSchemaInfo &e : SchemaArray)
    if (e.Info == t) return &e;
  return nullptr;
}

// A type's schema is the same whoever refers to it: the referring type is
// part of the signature callers know, and left unread.
void TWebServExp::GenerateXMLSchema(IXMLNode schemaDef, const TTypeInfo *typeInfo,
                                    const TTypeInfo * /*parentInfo*/, std::string_view nameSpace) {
  if (!typeInfo) return;
  TSchemaInfo *entry = FindSchemaEntry(typeInfo);
  if (!entry) {
    // A type asked for on its own (a schema of one type system).
    std::string uri, name;
    RemTypeRegistry().TypeInfoToXSD(typeInfo, uri, name);
    SchemaArray.push_back({name, uri, typeInfo, "", false});
    entry = &SchemaArray.back();
  }
  if (entry->Written || (!nameSpace.empty() && entry->XMLNamespace != nameSpace)) return;
  entry->Written = true;
  TSchemaInfo e = *entry; // SchemaArray may grow below
  switch (typeInfo->Kind) {
  case TTypeKind::tkClass:
    WriteComplexType(schemaDef, e, nameSpace);
    break;
  case TTypeKind::tkDynArray:
    if (ArrayAsComplexContent) WriteArrayType(schemaDef, e);
    break;
  case TTypeKind::tkEnumeration:
    WriteEnumType(schemaDef, e);
    break;
  default:
    break; // scalar aliases have no shape of their own here
  }
  if (Events.OnPublishingType) Events.OnPublishingType(typeInfo, schemaDef);
}

void TWebServExp::WriteComplexType(IXMLNode schemaDef, TSchemaInfo &entry, std::string_view ns) {
  const TTypeInfo *cls = entry.Info;
  IXMLNode complexType = schemaDef.AddChild(Qualify(SXSPrefix, "complexType"));
  complexType.SetAttribute("name", entry.XMLName);
  IXMLNode sequence = complexType.AddChild(Qualify(SXSPrefix, "sequence"));
  for (const TPropInfo &p : cls->Class->Props) {
    IXMLNode el = sequence.AddChild(Qualify(SXSPrefix, "element"));
    el.SetAttribute("name", RemTypeRegistry().GetExternalPropName(cls, p.Name));
    el.SetAttribute("type", QualifiedXMLType(p.Type));
    // A property declared optional is written only when it is set, so its
    // element may be missing from a message; clients that validate against
    // the schema must be told, or they refuse every record that lacks one.
    if (p.XMLOptions & xoOptional) el.SetAttribute("minOccurs", "0");
  }
  for (const TPropInfo &p : cls->Class->Props)
    if (p.Type && IsDescribedKind(p.Type->Kind)) GenerateXMLSchema(schemaDef, p.Type, cls, ns);
  for (TClass derived : DerivedRegisteredClasses(cls))
    GenerateXMLSchema(schemaDef, derived, cls, ns);
}

void TWebServExp::WriteArrayType(IXMLNode schemaDef, const TSchemaInfo &entry) {
  const int dimensions = 1;
  std::string elType = QualifiedXMLType(entry.Info->DynArray->ElType);
  std::string encPrefix = PrefixFor(SSoapEncodingNameSpace);
  IXMLNode complexType = schemaDef.AddChild(Qualify(SXSPrefix, "complexType"));
  complexType.SetAttribute("name", entry.XMLName);
  IXMLNode content = complexType.AddChild(Qualify(SXSPrefix, "complexContent"));
  IXMLNode restriction = content.AddChild(Qualify(SXSPrefix, "restriction"));
  restriction.SetAttribute("base", Qualify(encPrefix, "Array"));
  restriction.AddChild(Qualify(SXSPrefix, "sequence"));
  IXMLNode attr = restriction.AddChild(Qualify(SXSPrefix, "attribute"));
  attr.SetAttribute("ref", Qualify(encPrefix, "arrayType"));
  attr.SetAttribute(Qualify(SArrayTypePrefix, "arrayType"),
                    elType + "[" + std::string(dimensions - 1, ',') + "]");
  attr.DeclareNamespace(SArrayTypePrefix, SWSDLNS);
}

void TWebServExp::WriteEnumType(IXMLNode schemaDef, const TSchemaInfo &entry) {
  IXMLNode simpleType = schemaDef.AddChild(Qualify(SXSPrefix, "simpleType"));
  simpleType.SetAttribute("name", entry.XMLName);
  IXMLNode restriction = simpleType.AddChild(Qualify(SXSPrefix, "restriction"));
  restriction.SetAttribute("base", Qualify(PrefixFor(SXMLSchemaNameSpace), "string"));
  for (const std::string &v : entry.Info->EnumNames)
    restriction.AddChild(Qualify(SXSPrefix, "enumeration")).SetAttribute("value", v);
}

// ---- names and prefixes ------------------------------------------------------

std::string TWebServExp::PrefixFor(std::string_view uri) {
  IXMLNode decl = Definition.FindNamespaceDecl(uri);
  if (decl) {
    std::string_view name = decl.NodeName();
    return name == "xmlns" ? std::string() : std::string(decl.LocalName());
  }
  std::string prefix = GenerateRootPrefix();
  Definition.DeclareNamespace(prefix, uri);
  return prefix;
}

std::string TWebServExp::GenerateRootPrefix() {
  for (int i = 0; i < kMaxGeneratedPrefixes; ++i) {
    std::string p = SGeneratedPrefixBase + IntToStr(++FPrefixCounter);
    if (Definition.FindNamespaceURI(p).empty()) return p;
  }
  throw EInvalidOperation("No free namespace prefix");
}

std::string TWebServExp::QualifiedXMLType(const TTypeInfo *t) {
  std::string uri, name;
  if (!t || !RemTypeRegistry().TypeInfoToXSD(t, uri, name) || name.empty())
    return Qualify(PrefixFor(SXMLSchemaNameSpace), "anyType");
  if (IsDescribedKind(t->Kind)) {
    if (IsXMLSchemaNamespace(uri)) return Qualify(PrefixFor(SXMLSchemaNameSpace), name);
    bHasComplexTypes = true;
    TSchemaInfo *e = FindSchemaEntry(t);
    return Qualify(e && !e->NSPrefix.empty() ? e->NSPrefix : PrefixFor(uri), name);
  }
  return Qualify(PrefixFor(uri), name);
}

std::string TWebServExp::MessageName(const TTypeInfo *intf, size_t index, std::string_view suffix) {
  return InvRegistry().GetMethExternalName(intf, FOperations[index]->Name) +
         IntToStr(int64_t(index)) + std::string(suffix);
}

// ---- messages, port type, binding, service -----------------------------------

void TWebServExp::WriteMessages(const TTypeInfo *intf) {
  for (size_t i = 0; i < FOperations.size(); ++i) {
    const TIntfMethEntry &m = *FOperations[i];
    IXMLNode request = Definition.AddChild("message");
    request.SetAttribute("name", MessageName(intf, i, "Request"));
    for (const TIntfParamEntry &p : m.Params) {
      if (p.Flags & pfOut) continue;
      IXMLNode part = request.AddChild("part");
      part.SetAttribute("name", InvRegistry().GetParamExternalName(intf, m.Name, p.Name));
      part.SetAttribute("type", QualifiedXMLType(p.Info));
    }
    IXMLNode response = Definition.AddChild("message");
    response.SetAttribute("name", MessageName(intf, i, "Response"));
    for (const TIntfParamEntry &p : m.Params) {
      if (!(p.Flags & (pfVar | pfOut))) continue;
      IXMLNode part = response.AddChild("part");
      part.SetAttribute("name", InvRegistry().GetParamExternalName(intf, m.Name, p.Name));
      part.SetAttribute("type", QualifiedXMLType(p.Info));
    }
    if (m.ResultInfo) {
      IXMLNode part = response.AddChild("part");
      part.SetAttribute("name", "return");
      part.SetAttribute("type", QualifiedXMLType(m.ResultInfo));
    }
  }
}

void TWebServExp::WritePortType(const TTypeInfo *intf) {
  IXMLNode portType = Definition.AddChild("portType");
  portType.SetAttribute("name", InvRegistry().GetInterfaceExternalName(intf));
  for (size_t i = 0; i < FOperations.size(); ++i) {
    IXMLNode op = portType.AddChild("operation");
    op.SetAttribute("name", InvRegistry().GetMethExternalName(intf, FOperations[i]->Name));
    op.AddChild("input").SetAttribute("message",
                                      Qualify(STNSPrefix, MessageName(intf, i, "Request")));
    op.AddChild("output").SetAttribute("message",
                                       Qualify(STNSPrefix, MessageName(intf, i, "Response")));
  }
}

void TWebServExp::WriteBinding(const TTypeInfo *intf) {
  if (BindingType != btSoap) return;
  std::string extName = InvRegistry().GetInterfaceExternalName(intf);
  std::string intfNamespace = InvRegistry().GetNamespaceByGUID(intf->Intf->IID);
  IXMLNode binding = Definition.AddChild("binding");
  binding.SetAttribute("name", extName + "binding");
  binding.SetAttribute("type", Qualify(STNSPrefix, extName));
  // The SOAP elements are created unprefixed in their own namespace, so each
  // declares it as its default.
  IXMLNode soapBinding = binding.AddChild("binding", SSOAPBindingNS);
  soapBinding.SetAttribute("style", "rpc");
  soapBinding.SetAttribute("transport", SSOAPHTTPTransport);
  for (size_t i = 0; i < FOperations.size(); ++i) {
    const std::string &name = FOperations[i]->Name;
    std::string opName = InvRegistry().GetMethExternalName(intf, name);
    IXMLNode op = binding.AddChild("operation");
    op.SetAttribute("name", opName);
    IXMLNode soapOp = op.AddChild("operation", SSOAPBindingNS);
    soapOp.SetAttribute("soapAction", InvRegistry().GetActionURIOfInfo(intf, opName, int(i)));
    soapOp.SetAttribute("style", "rpc");
    for (const char *dir : {"input", "output"}) {
      IXMLNode body = op.AddChild(dir).AddChild("body", SSOAPBindingNS);
      body.SetAttribute("use", "encoded");
      body.SetAttribute("encodingStyle", SSoapEncodingNameSpace);
      body.SetAttribute("namespace", intfNamespace);
    }
  }
}

void TWebServExp::WriteService(const TTypeInfo *intf, const std::vector<std::string> &portNames,
                               const std::vector<std::string> &locations) {
  std::string extName = InvRegistry().GetInterfaceExternalName(intf);
  IXMLNode service = Definition.AddChild("service");
  service.SetAttribute("name", extName + "service");
  for (size_t i = 0; i < portNames.size() && i < locations.size(); ++i) {
    IXMLNode port = service.AddChild("port");
    port.SetAttribute("name", portNames[i]);
    port.SetAttribute("binding", Qualify(STNSPrefix, extName + "binding"));
    port.AddChild("address", SSOAPBindingNS).SetAttribute("location", locations[i]);
  }
}

} // namespace vv
