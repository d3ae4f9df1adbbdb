#include "soap/server/InvokeRegistry.h"

#include <memory>

#include "rtl/StrUtils.h"
#include "soap/server/InvokableClass.h"
#include "soap/server/ServerLimits.h"

namespace vv {

namespace {

using TLock = std::lock_guard<std::recursive_mutex>;

constexpr std::string_view OperationNameMacro = "%operationName%";

// The interfaces a class declares, or its parent's when it declares none.
const std::vector<TImplementedIntf> *OwnOrParentInterfaces(TClass cls) {
  if (!cls || !cls->Class) return nullptr;
  if (!cls->Class->Interfaces.empty()) return &cls->Class->Interfaces;
  TClass parent = cls->Class->Parent;
  if (parent && parent->Class && !parent->Class->Interfaces.empty())
    return &parent->Class->Interfaces;
  return nullptr;
}

bool Implements(TClass cls, const TGUID &iid) {
  if (const auto *intfs = OwnOrParentInterfaces(cls))
    for (const TImplementedIntf &i : *intfs)
      if (i.IID == iid) return true;
  return false;
}

std::string_view CutAtHash(std::string_view s) { return s.substr(0, s.find('#')); }

bool IsIdentifier(std::string_view s) {
  auto letter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; };
  if (s.empty() || !letter(s[0])) return false;
  for (char c : s)
    if (!letter(c) && !(c >= '0' && c <= '9')) return false;
  return true;
}

// The request's SOAPAction without one pair of enclosing quotes and without
// the fragment.
std::string_view RequestAction(std::string_view a) {
  if (!a.empty() && a.front() == '"') a.remove_prefix(1);
  if (!a.empty() && a.back() == '"') a.remove_suffix(1);
  return CutAtHash(a);
}

// Whether action `a` names an entry whose action text is `t`: equal, or
// equal up to an "%operationName%" placeholder that `a` fills with an
// identifier.
bool ActionMatches(std::string_view a, std::string_view t) {
  if (a == t) return true;
  size_t p = t.find(OperationNameMacro);
  if (p == std::string_view::npos || p == 0) return false;
  return a.size() >= p && a.substr(0, p) == t.substr(0, p) && IsIdentifier(a.substr(p));
}

std::string LastSegment(std::string_view path) {
  size_t slash = path.rfind('/');
  return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

} // namespace

// ---- registration ----------------------------------------------------------

void TInvokableClassRegistry::RegisterInterface(const TTypeInfo *Info, std::string_view Namespace,
                                                std::string_view WSDLEncoding, std::string_view Doc,
                                                std::string_view ExtName) {
  TLock lock(FLock);
  if (FindIntf(Info)) return;
  TIntfMetaData MD = GetIntfMetaData(Info);
  InterfaceMapItem E;
  E.Name = MD.Name;
  E.UnitName = MD.UnitName;
  E.GUID = MD.IID;
  E.Info = Info;
  E.Documentation = Doc;
  E.ExtName = ExtName;
  E.WSDLEncoding = WSDLEncoding;
  if (!Namespace.empty()) {
    E.Namespace = Namespace;
    E.InvokeOptions.Include(ioHasNamespace);
  } else {
    E.Namespace = "urn:" + MD.UnitName + "-" + MD.Name;
  }
  for (const InvRegClassEntry &c : FRegClasses)
    if (Implements(c.ClassType, E.GUID)) {
      E.DefImpl = c.ClassType;
      break;
    }
  FRegIntfs.push_back(std::move(E));
}

void TInvokableClassRegistry::RegisterDefaultSOAPAction(const TTypeInfo *Info,
                                                        std::string_view DefSOAPAction) {
  TLock lock(FLock);
  if (InterfaceMapItem *E = FindIntfMutable(Info)) {
    E->SOAPAction = DefSOAPAction;
    E->InvokeOptions.Include(ioHasDefaultSOAPAction);
  }
}

void TInvokableClassRegistry::RegisterAllSOAPActions(const TTypeInfo *Info,
                                                     std::string_view AllSOAPActions) {
  TLock lock(FLock);
  if (InterfaceMapItem *E = FindIntfMutable(Info)) {
    E->SOAPAction = AllSOAPActions;
    E->InvokeOptions.Include(ioHasAllSOAPActions);
  }
}

void TInvokableClassRegistry::RegisterInvokeOptions(const TTypeInfo *Info,
                                                    TIntfInvokeOption InvokeOption) {
  TLock lock(FLock);
  if (InterfaceMapItem *E = FindIntfMutable(Info))
    E->InvokeOptions = GetIntfInvokeOptions(Info).Include(InvokeOption);
}

void TInvokableClassRegistry::RegisterInvokeOptions(const TTypeInfo *Info,
                                                    TIntfInvokeOptions InvokeOptions) {
  TLock lock(FLock);
  if (InterfaceMapItem *E = FindIntfMutable(Info)) E->InvokeOptions = InvokeOptions;
}

void TInvokableClassRegistry::RegisterReturnParamNames(const TTypeInfo *Info,
                                                       std::string_view RetParamNames) {
  TLock lock(FLock);
  if (InterfaceMapItem *E = FindIntfMutable(Info)) {
    E->ReturnParamNames = RetParamNames;
    E->InvokeOptions.Include(ioHasReturnParamNames);
  }
}

void TInvokableClassRegistry::RegisterInvokableClass(TClass AClass,
                                                     TCreateInstanceProc CreateProc) {
  TLock lock(FLock);
  const auto *intfs = OwnOrParentInterfaces(AClass);
  if (!intfs)
    throw ETypeRegistryException("Invokable Class %s implements no interfaces",
                                 {AClass ? AClass->Name : std::string("(none)")});
  FRegClasses.push_back({AClass, std::move(CreateProc), {}});
  for (const TImplementedIntf &i : *intfs)
    for (InterfaceMapItem &E : FRegIntfs)
      if (E.GUID == i.IID && !E.DefImpl) E.DefImpl = AClass;
}

void TInvokableClassRegistry::UnRegisterInterface(const TTypeInfo *Info) {
  TLock lock(FLock);
  std::erase_if(FRegIntfs, [Info](const InterfaceMapItem &E) { return E.Info == Info; });
}

void TInvokableClassRegistry::UnRegisterInvokableClass(TClass AClass) {
  TLock lock(FLock);
  std::erase_if(FRegClasses, [AClass](const InvRegClassEntry &c) { return c.ClassType == AClass; });
  for (InterfaceMapItem &E : FRegIntfs)
    if (E.DefImpl == AClass) E.DefImpl = nullptr;
}

// ---- enumeration -------------------------------------------------------------

int TInvokableClassRegistry::GetInterfaceCount() const {
  TLock lock(FLock);
  return int(FRegIntfs.size());
}

InterfaceMapItem TInvokableClassRegistry::GetRegInterfaceEntry(int Index) const {
  TLock lock(FLock);
  if (Index < 0 || size_t(Index) >= FRegIntfs.size()) return {};
  return FRegIntfs[size_t(Index)];
}

bool TInvokableClassRegistry::HasRegInterfaceImpl(int Index) const {
  TLock lock(FLock);
  return Index >= 0 && size_t(Index) < FRegIntfs.size() && FRegIntfs[size_t(Index)].DefImpl;
}

// ---- lookups -----------------------------------------------------------------

const InterfaceMapItem *TInvokableClassRegistry::FindIntf(const TTypeInfo *Info) const {
  if (!Info) return nullptr;
  for (const InterfaceMapItem &E : FRegIntfs)
    if (E.Info == Info) return &E;
  return nullptr;
}

const InterfaceMapItem *TInvokableClassRegistry::FindIntf(const TGUID &AGUID) const {
  for (const InterfaceMapItem &E : FRegIntfs)
    if (E.GUID == AGUID) return &E;
  return nullptr;
}

InterfaceMapItem *TInvokableClassRegistry::FindIntfMutable(const TTypeInfo *Info) {
  return const_cast<InterfaceMapItem *>(FindIntf(Info));
}

const TTypeInfo *TInvokableClassRegistry::GetInterfaceTypeInfo(const TGUID &AGUID) const {
  TLock lock(FLock);
  const InterfaceMapItem *E = FindIntf(AGUID);
  return E ? E->Info : nullptr;
}

TIntfInvokeOptions TInvokableClassRegistry::GetIntfInvokeOptions(const TTypeInfo *IntfInfo) const {
  TLock lock(FLock);
  const InterfaceMapItem *E = FindIntf(IntfInfo);
  return E ? E->InvokeOptions : TIntfInvokeOptions();
}

TIntfInvokeOptions TInvokableClassRegistry::GetIntfInvokeOptions(const TGUID &AGUID) const {
  TLock lock(FLock);
  const InterfaceMapItem *E = FindIntf(AGUID);
  return E ? E->InvokeOptions : TIntfInvokeOptions();
}

std::string TInvokableClassRegistry::GetNamespaceByGUID(const TGUID &AGUID) const {
  TLock lock(FLock);
  const InterfaceMapItem *E = FindIntf(AGUID);
  return E ? E->Namespace : std::string();
}

std::string TInvokableClassRegistry::ActionURIOf(const InterfaceMapItem &Entry,
                                                 std::string_view MethodName,
                                                 int MethodIndex) const {
  if (Entry.InvokeOptions.Contains(ioHasDefaultSOAPAction)) {
    if (MethodName.empty()) return Entry.SOAPAction;
    return StringReplace(Entry.SOAPAction, OperationNameMacro, MethodName, false);
  }
  if (Entry.InvokeOptions.Contains(ioHasAllSOAPActions)) {
    if (Entry.SOAPAction.empty() || MethodIndex < 0) return {};
    // The first character is the separator the list is written with.
    std::vector<std::string> items = SplitList(Entry.SOAPAction, Entry.SOAPAction.substr(0, 1));
    return size_t(MethodIndex) < items.size() ? items[size_t(MethodIndex)] : std::string();
  }
  return Entry.Namespace + "#" + std::string(MethodName);
}

std::string TInvokableClassRegistry::GetActionURIOfInfo(const TTypeInfo *IntfInfo,
                                                        std::string_view MethodName,
                                                        int MethodIndex) const {
  TLock lock(FLock);
  const InterfaceMapItem *E = FindIntf(IntfInfo);
  return E ? ActionURIOf(*E, MethodName, MethodIndex) : std::string();
}

std::string TInvokableClassRegistry::GetActionURIOfIID(const TGUID &AGUID) const {
  TLock lock(FLock);
  const InterfaceMapItem *E = FindIntf(AGUID);
  return E ? ActionURIOf(*E, {}, -1) : std::string();
}

bool TInvokableClassRegistry::GetInfoForURI(std::string_view PathURI, std::string_view ActionURI,
                                            TClass &ACLass, const TTypeInfo *&IntfInfo,
                                            std::string &AMeth) const {
  TLock lock(FLock);
  AMeth.clear();
  auto found = [&](const InterfaceMapItem &E) {
    ACLass = E.DefImpl;
    IntfInfo = E.Info;
    return true;
  };
  if (!ActionURI.empty()) {
    std::string_view a = RequestAction(ActionURI);
    // An action that is empty once its quotes are gone names nothing.
    if (!a.empty())
      for (const InterfaceMapItem &E : FRegIntfs) {
        const std::string &t =
            E.InvokeOptions.Contains(ioHasDefaultSOAPAction) ? E.SOAPAction : E.Namespace;
        if (ActionMatches(a, CutAtHash(t))) return found(E);
      }
  }
  if (!PathURI.empty()) {
    std::string last = LastSegment(PathURI);
    for (const InterfaceMapItem &E : FRegIntfs)
      if (!last.empty() && SameText(last, E.Name)) return found(E);
  }
  return false;
}

TObject *TInvokableClassRegistry::GetInvokableObjectFromClass(TClass AClass) const {
  TCreateInstanceProc proc;
  {
    TLock lock(FLock);
    for (const InvRegClassEntry &c : FRegClasses)
      if (c.ClassType == AClass && c.Proc) {
        proc = c.Proc;
        break;
      }
  }
  // The object is made outside the lock: its constructor may use the registry.
  if (proc) return proc();
  if (AClass && AClass->Class && AClass->Class->Create &&
      InheritsFrom(AClass, TInvokableClass::StaticClassInfo()))
    return AClass->Class->Create();
  return nullptr;
}

bool TInvokableClassRegistry::GetClassFromIntfInfo(const TTypeInfo *Info, TClass &AClass) const {
  TLock lock(FLock);
  const InterfaceMapItem *E = FindIntf(Info);
  AClass = E ? E->DefImpl : nullptr;
  return AClass != nullptr;
}

bool TInvokableClassRegistry::GetInterfaceInfoFromName(std::string_view UnitName,
                                                       std::string_view IntfName,
                                                       const TTypeInfo *&Info, TGUID &IID) const {
  TLock lock(FLock);
  for (auto it = FRegIntfs.rbegin(); it != FRegIntfs.rend(); ++it)
    if (SameText(it->Name, IntfName) && (UnitName.empty() || SameText(it->UnitName, UnitName))) {
      Info = it->Info;
      IID = it->GUID;
      return true;
    }
  return false;
}

std::string TInvokableClassRegistry::GetWSDLEncoding(const TTypeInfo *Info) const {
  TLock lock(FLock);
  const InterfaceMapItem *E = FindIntf(Info);
  return E ? E->WSDLEncoding : std::string();
}

std::string TInvokableClassRegistry::GetReturnParamNames(const TTypeInfo *IntfInfo) const {
  TLock lock(FLock);
  const InterfaceMapItem *E = FindIntf(IntfInfo);
  if (E && E->InvokeOptions.Contains(ioHasReturnParamNames)) return E->ReturnParamNames;
  return kDefaultReturnParamNames;
}

bool TInvokableClassRegistry::GetUDDIInfo(const TGUID &AGUID, std::string &Operator,
                                          std::string &BindingKey) const {
  TLock lock(FLock);
  const InterfaceMapItem *E = FindIntf(AGUID);
  if (!E || !E->InvokeOptions.Contains(ioHasUDDIInfo)) return false;
  Operator = E->UDDIOperator;
  BindingKey = E->UDDIBindingKey;
  return true;
}

// ---- names on the wire ---------------------------------------------------------

const TMethRegEntry *TInvokableClassRegistry::FindMeth(const TTypeInfo *Info,
                                                       std::string_view MethodName) const {
  if (const InterfaceMapItem *E = FindIntf(Info))
    for (const TMethRegEntry &m : E->Methods)
      if (m.Name == MethodName) return &m;
  return nullptr;
}

std::string TInvokableClassRegistry::GetInterfaceExternalName(const TTypeInfo *Info) const {
  TLock lock(FLock);
  if (const InterfaceMapItem *E = FindIntf(Info)) return E->ExtName.empty() ? E->Name : E->ExtName;
  return Info ? Info->Name : std::string();
}

std::string TInvokableClassRegistry::GetMethExternalName(const TTypeInfo *Info,
                                                         std::string_view MethodName) const {
  TLock lock(FLock);
  const TMethRegEntry *m = FindMeth(Info, MethodName);
  return m && !m->ExternalName.empty() ? m->ExternalName : std::string(MethodName);
}

std::string TInvokableClassRegistry::GetMethInternalName(const TTypeInfo *Info,
                                                         std::string_view ExternalName) const {
  TLock lock(FLock);
  if (const InterfaceMapItem *E = FindIntf(Info))
    for (const TMethRegEntry &m : E->Methods)
      if (!m.ExternalName.empty() && m.ExternalName == ExternalName) return m.Name;
  return std::string(ExternalName);
}

std::string TInvokableClassRegistry::GetParamExternalName(const TTypeInfo *Info,
                                                          std::string_view MethodName,
                                                          std::string_view ParamName) const {
  TLock lock(FLock);
  if (const TMethRegEntry *m = FindMeth(Info, MethodName))
    for (const auto &p : m->Params)
      if (p.Name == ParamName && !p.ExternalName.empty()) return p.ExternalName;
  return std::string(ParamName);
}

std::string TInvokableClassRegistry::GetParamInternalName(const TTypeInfo *Info,
                                                          std::string_view MethodName,
                                                          std::string_view ExternalName) const {
  TLock lock(FLock);
  if (const TMethRegEntry *m = FindMeth(Info, MethodName))
    for (const auto &p : m->Params)
      if (!p.ExternalName.empty() && p.ExternalName == ExternalName) return p.Name;
  return std::string(ExternalName);
}

TMethodRegInfo TInvokableClassRegistry::GetMethodInfo(const TTypeInfo *Info,
                                                      std::string_view MethodName) const {
  TLock lock(FLock);
  const TMethRegEntry *m = FindMeth(Info, MethodName);
  return m ? m->Info : TMethodRegInfo();
}

TParamRegInfo TInvokableClassRegistry::GetParamInfo(const TTypeInfo *Info,
                                                    std::string_view MethodName,
                                                    std::string_view ParamName) const {
  TLock lock(FLock);
  if (const TMethRegEntry *m = FindMeth(Info, MethodName))
    for (const auto &p : m->Params)
      if (p.Name == ParamName) return p.Info;
  return {};
}

std::vector<TClass> TInvokableClassRegistry::GetHeaderClasses(const TTypeInfo *Info) const {
  TLock lock(FLock);
  const InterfaceMapItem *E = FindIntf(Info);
  return E ? E->IntfHeaders : std::vector<TClass>();
}

std::vector<TClass> TInvokableClassRegistry::GetExceptionClasses(const TTypeInfo *Info) const {
  TLock lock(FLock);
  const InterfaceMapItem *E = FindIntf(Info);
  return E ? E->IntfExceptions : std::vector<TClass>();
}

// ---- the process-wide registries ---------------------------------------------

namespace {

struct TRegistries {
  TInvokableClassRegistry Invoke;
  TRemotableTypeRegistry Types;
};

std::once_flag RegistriesOnce;
std::unique_ptr<TRegistries> Registries;

} // namespace

void InitInvokeRegistry() {
  std::call_once(RegistriesOnce, [] {
    auto r = std::make_unique<TRegistries>();
    r->Types.RegisterBuiltIns();
    Registries = std::move(r);
  });
}

TInvokableClassRegistry &InvRegistry() {
  InitInvokeRegistry();
  return Registries->Invoke;
}

TRemotableTypeRegistry &RemTypeRegistry() {
  InitInvokeRegistry();
  return Registries->Types;
}

} // namespace vv
