#include "soap/server/TypeRegistry.h"

#include <array>

#include "rtl/StrUtils.h"
#include "soap/server/SOAPArrayTypes.h"
#include "soap/server/SOAPConst.h"

namespace vv {

namespace {

using TLock = std::lock_guard<std::recursive_mutex>;

// Native type names that stand for the same type.
constexpr std::array<std::array<const char *, 4>, 3> TypeAliases = {{
    {"UnicodeString", "String", "WideString", "AnsiString"},
    {"Integer", "LongInt", nullptr, nullptr},
    {"Cardinal", "LongWord", nullptr, nullptr},
}};

bool EquivalentNames(std::string_view a, std::string_view b) {
  if (SameText(a, b)) return true;
  for (const auto &group : TypeAliases) {
    bool hasA = false, hasB = false;
    for (const char *n : group) {
      if (!n) break;
      hasA = hasA || SameText(n, a);
      hasB = hasB || SameText(n, b);
    }
    if (hasA && hasB) return true;
  }
  return false;
}

// Other names under which a schema type may arrive.
constexpr std::array<std::array<const char *, 2>, 1> SchemaNameAliases = {{
    {"base64Binary", "base64"},
}};

// Types whose default namespace names their unit.
bool UnitScoped(const TTypeInfo *Info) {
  return Info->Kind == TTypeKind::tkClass || Info->Kind == TTypeKind::tkEnumeration ||
         Info->Kind == TTypeKind::tkDynArray;
}

} // namespace

bool IsXMLSchemaNamespace(std::string_view uri) {
  return uri == SXMLSchemaNameSpace || uri == SXMLSchemaNS2000 || uri == SXMLSchemaNS1999;
}

void TRemotableTypeRegistry::RegisterBuiltIns() {
  const char *xs = SXMLSchemaNameSpace;
  RegisterXSInfo(TypeInfoOf<bool>(), xs, "boolean");
  RegisterXSInfo(TypeInfoOf<int8_t>(), xs, "byte");
  RegisterXSInfo(TypeInfoOf<uint8_t>(), xs, "unsignedByte");
  RegisterXSInfo(TypeInfoOf<int16_t>(), xs, "short");
  RegisterXSInfo(TypeInfoOf<uint16_t>(), xs, "unsignedShort");
  RegisterXSInfo(TypeInfoOf<int32_t>(), xs, "int");
  RegisterXSInfo(TypeInfoOf<uint32_t>(), xs, "unsignedInt");
  RegisterXSInfo(TypeInfoOf<int64_t>(), xs, "long");
  RegisterXSInfo(TypeInfoOf<uint64_t>(), xs, "unsignedLong");
  RegisterXSInfo(TypeInfoOf<float>(), xs, "float");
  RegisterXSInfo(TypeInfoOf<double>(), xs, "double");
  RegisterXSInfo(TypeInfoOf<std::string>(), xs, "string");
  const char *own = SSoapTypesNameSpace;
  RegisterXSInfo(TypeInfoOf<InvStringDynArray>(), own, "ArrayOfstring");
  RegisterXSInfo(TypeInfoOf<TIntegerDynArray>(), own, "ArrayOfint");
  RegisterXSInfo(TypeInfoOf<TInt64DynArray>(), own, "ArrayOflong");
  RegisterXSInfo(TypeInfoOf<TDoubleDynArray>(), own, "ArrayOfdouble");
}

void TRemotableTypeRegistry::AddEntry(TClass AClass, const TTypeInfo *Info, std::string_view URI,
                                      std::string_view Name, std::string_view ExtName,
                                      bool IsScalar, TObjMultiOptions MultiRefOpt) {
  for (const TRemRegEntry &e : URIMAP)
    if (e.Info == Info && (Name.empty() || e.Name == Name)) return;
  TRemRegEntry e;
  e.ClassType = AClass;
  e.Info = Info;
  if (!URI.empty())
    e.URI = URI;
  else
    e.URI = UnitScoped(Info) ? "urn:" + Info->UnitName : "urn:";
  e.Name = Name.empty() ? Info->Name : std::string(Name);
  e.ExtName = ExtName;
  e.IsScalar = IsScalar;
  e.MultiRefOpt = MultiRefOpt;
  URIMAP.push_back(std::move(e));
  FGeneration.fetch_add(1, std::memory_order_acq_rel);
}

void TRemotableTypeRegistry::RegisterXSClass(TClass AClass, std::string_view URI,
                                             std::string_view Name, std::string_view ExtName,
                                             bool IsScalar, TObjMultiOptions MultiRefOpt) {
  if (!AClass) return;
  TLock lock(FLock);
  std::string uri = URI.empty() ? "urn:" + AClass->UnitName : std::string(URI);
  AddEntry(AClass, AClass, uri, Name, ExtName, IsScalar, MultiRefOpt);
}

void TRemotableTypeRegistry::RegisterXSInfo(const TTypeInfo *Info, std::string_view URI,
                                            std::string_view Name, std::string_view ExtName) {
  if (!Info) return;
  TLock lock(FLock);
  TClass cls = Info->Kind == TTypeKind::tkClass ? Info : nullptr;
  AddEntry(cls, Info, URI, Name, ExtName, false, ocDefault);
}

TRemRegEntry *TRemotableTypeRegistry::FindMutable(const TTypeInfo *Info) {
  for (TRemRegEntry &e : URIMAP)
    if (e.Info == Info) return &e;
  return nullptr;
}

void TRemotableTypeRegistry::RegisterSerializeOptions(const TTypeInfo *Info,
                                                      TSerializationOptions Options) {
  TLock lock(FLock);
  if (TRemRegEntry *e = FindMutable(Info)) {
    e->SerializationOpt = Options;
    FGeneration.fetch_add(1, std::memory_order_acq_rel);
  }
}

void TRemotableTypeRegistry::RegisterExternalPropName(const TTypeInfo *Info,
                                                      std::string_view InternalName,
                                                      std::string_view ExternalName) {
  TLock lock(FLock);
  if (TRemRegEntry *e = FindMutable(Info)) {
    e->PropNameMap.push_back({std::string(InternalName), std::string(ExternalName)});
    FGeneration.fetch_add(1, std::memory_order_acq_rel);
  }
}

const TRemRegEntry *TRemotableTypeRegistry::FindInfo(const TTypeInfo *Info) const {
  for (const TRemRegEntry &e : URIMAP)
    if (e.Info == Info) return &e;
  return nullptr;
}

const TRemRegEntry *TRemotableTypeRegistry::FindEquivalent(const TTypeInfo *Info) const {
  for (const TRemRegEntry &e : URIMAP)
    if (e.Info && e.Info->Kind == Info->Kind && EquivalentNames(e.Info->Name, Info->Name))
      return &e;
  return nullptr;
}

const TRemRegEntry *TRemotableTypeRegistry::FindClass(TClass AClass) const {
  for (const TRemRegEntry &e : URIMAP)
    if (e.ClassType && e.ClassType == AClass) return &e;
  return nullptr;
}

bool TRemotableTypeRegistry::InfoToURI(const TTypeInfo *Info, std::string &URI, std::string &Name,
                                       bool &IsScalar, bool tryToRegister) {
  if (!Info) return false;
  TLock lock(FLock);
  const TRemRegEntry *e = FindInfo(Info);
  if (!e) e = FindEquivalent(Info);
  if (!e && tryToRegister && FAutoRegister) {
    RegisterXSInfo(Info);
    e = FindInfo(Info);
  }
  if (!e) return false;
  URI = e->URI;
  Name = e->XMLName();
  IsScalar = e->IsScalar;
  return true;
}

bool TRemotableTypeRegistry::ClassToURI(TClass AClass, std::string &URI, std::string &Name,
                                        bool &IsScalar, bool tryToRegister) {
  if (!AClass) return false;
  TLock lock(FLock);
  const TRemRegEntry *e = FindClass(AClass);
  if (!e && tryToRegister && FAutoRegister) {
    RegisterXSClass(AClass);
    e = FindClass(AClass);
  }
  if (!e) return false;
  URI = e->URI;
  Name = e->XMLName();
  IsScalar = e->IsScalar;
  return true;
}

bool TRemotableTypeRegistry::ClassToURI(TClass AClass, std::string &URI, std::string &Name) {
  bool isScalar;
  return ClassToURI(AClass, URI, Name, isScalar, true);
}

bool TRemotableTypeRegistry::TypeInfoToXSD(const TTypeInfo *Info, std::string &URI,
                                           std::string &TypeName) {
  if (!Info) return false;
  bool isScalar;
  if (Info->Kind == TTypeKind::tkClass) return ClassToURI(Info, URI, TypeName, isScalar, true);
  return InfoToURI(Info, URI, TypeName, isScalar, true);
}

TClass TRemotableTypeRegistry::URIToClass(std::string_view URI, std::string_view Name,
                                          bool &IsScalar, TClass AInheritsFrom) {
  TLock lock(FLock);
  for (const TRemRegEntry &e : URIMAP) {
    if (e.URI != URI || e.XMLName() != Name) continue;
    if (AInheritsFrom && !(e.ClassType && InheritsFrom(e.ClassType, AInheritsFrom))) continue;
    IsScalar = e.IsScalar;
    return e.ClassType;
  }
  return nullptr;
}

TClass TRemotableTypeRegistry::URIToClass(std::string_view URI, std::string_view Name) {
  bool isScalar;
  return URIToClass(URI, Name, isScalar);
}

const TTypeInfo *TRemotableTypeRegistry::URIToInfo(std::string_view URI, std::string_view Name) {
  TLock lock(FLock);
  for (const TRemRegEntry &e : URIMAP)
    if (e.URI == URI && e.Name == Name) return e.Info;
  return nullptr;
}

const TTypeInfo *TRemotableTypeRegistry::XSDToTypeInfo(std::string_view URI,
                                                       std::string_view TypeName) {
  TLock lock(FLock);
  if (TClass cls = URIToClass(URI, TypeName)) return cls;
  if (const TTypeInfo *info = URIToInfo(URI, TypeName)) return info;
  if (IsXMLSchemaNamespace(URI))
    for (const auto &pair : SchemaNameAliases)
      for (int i = 0; i < 2; ++i)
        if (TypeName == pair[i])
          if (const TTypeInfo *info = URIToInfo(URI, pair[1 - i])) return info;
  return nullptr;
}

bool TRemotableTypeRegistry::IsClassScalar(TClass AClass) {
  TLock lock(FLock);
  const TRemRegEntry *e = FindClass(AClass);
  return e && e->IsScalar;
}

TObjMultiOptions TRemotableTypeRegistry::ClassOptions(TClass AClass) {
  TLock lock(FLock);
  const TRemRegEntry *e = FindClass(AClass);
  return e ? e->MultiRefOpt : ocDefault;
}

TSerializationOptions TRemotableTypeRegistry::SerializeOptions(const TTypeInfo *Info) {
  TLock lock(FLock);
  const TRemRegEntry *e = FindInfo(Info);
  return e ? e->SerializationOpt : TSerializationOptions();
}

std::string TRemotableTypeRegistry::GetExternalPropName(const TTypeInfo *Info,
                                                        std::string_view InternalName) {
  TLock lock(FLock);
  if (const TRemRegEntry *e = FindInfo(Info))
    for (const TPropNameMap &m : e->PropNameMap)
      if (m.Name == InternalName) return m.ExtName;
  return std::string(InternalName);
}

std::string TRemotableTypeRegistry::GetInternalPropName(const TTypeInfo *Info,
                                                        std::string_view ExternalName) {
  TLock lock(FLock);
  if (const TRemRegEntry *e = FindInfo(Info))
    for (const TPropNameMap &m : e->PropNameMap)
      if (m.ExtName == ExternalName) return m.Name;
  return std::string(ExternalName);
}

std::vector<TRemRegEntry> TRemotableTypeRegistry::GetEntries() const {
  TLock lock(FLock);
  return URIMAP;
}

int TRemotableTypeRegistry::GetEntryCount() const {
  TLock lock(FLock);
  return int(URIMAP.size());
}

} // namespace vv
