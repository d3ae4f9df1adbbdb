// The interface registry: which invokable interfaces exist, their XML
// namespace, SOAPAction, style options and implementing class. One per
// process, reached through InvRegistry(); the type registry through
// RemTypeRegistry(). InitInvokeRegistry() creates both with their built-in
// entries (the registry accessors also create them on first use). Every
// operation takes the registry's lock; lookups never fail: an unknown
// interface or class gives an empty text, none, false or an empty set.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "rtl/EnumSet.h"
#include "rtl/Interface.h"
#include "rtl/TypeInfo.h"
#include "soap/server/IntfMetaData.h"
#include "soap/server/TypeRegistry.h"

namespace vv {

// How an interface is called. Bit n of a TIntfInvokeOptions set is member n.
// The registry sets the ioHas... members itself when the matching value is
// registered.
enum TIntfInvokeOption : uint8_t {
  ioDefault,  // no option: the first member carries no meaning
  ioDocument, // document style
  ioLiteral,  // literal parameters
  ioHasDefaultSOAPAction,
  ioHasReturnParamNames,
  ioHasNamespace,
  ioIsAppServerSOAP, // accepted and ignored
  ioHasUDDIInfo,     // GetUDDIInfo answers only with it; nothing registers it here
  ioHasAllSOAPActions,
  ioSOAP12, // SOAP 1.2 messages on the client side
};

// A 16-bit set: members beyond bit 15 are not recorded.
using TIntfInvokeOptions = TEnumSet<TIntfInvokeOption, 16>;

// Makes a new implementation object (reference count 0).
using TCreateInstanceProc = std::function<TObject *()>;

// Registered information about a method (none is registered in this program).
struct TMethodRegInfo {
  std::string ReturnName; // name of the return element, if registered
  std::string RequestNS;  // namespace of the request element, replacing the interface's
  std::string ResponseNS;
  bool ResultUnbounded = false; // result array written inline
};

// Registered information about a parameter (none is registered here).
struct TParamRegInfo {
  std::string Namespace;    // its own element namespace
  bool Unqualified = false; // element without namespace
  bool Excluded = false;    // never written
};

struct TMethRegEntry {
  std::string Name;         // internal (declared) method name
  std::string ExternalName; // name on the wire
  TMethodRegInfo Info;
  struct TParamMap {
    std::string Name, ExternalName;
    TParamRegInfo Info;
  };
  std::vector<TParamMap> Params;
};

struct InterfaceMapItem {
  std::string Name;
  std::string ExtName; // port type name; empty means Name
  std::string UnitName;
  TGUID GUID;
  const TTypeInfo *Info = nullptr;
  TClass DefImpl = nullptr;
  std::string Namespace;
  std::string WSDLEncoding;
  std::string Documentation;
  std::string SOAPAction;
  std::string ReturnParamNames;
  TIntfInvokeOptions InvokeOptions;
  std::vector<TMethRegEntry> Methods;
  std::vector<TClass> IntfHeaders;
  std::vector<TClass> IntfExceptions;
  std::string UDDIOperator;
  std::string UDDIBindingKey;
};

struct InvRegClassEntry {
  TClass ClassType = nullptr;
  TCreateInstanceProc Proc; // optional
  std::string URI;
};

class TInvokableClassRegistry {
public:
  TInvokableClassRegistry() = default;
  TInvokableClassRegistry(const TInvokableClassRegistry &) = delete;
  TInvokableClassRegistry &operator=(const TInvokableClassRegistry &) = delete;

  // ---- registration ----
  // Adds an entry unless Info is registered already. Empty Namespace:
  // "urn:", unit name, "-", interface name; otherwise ioHasNamespace is set.
  void RegisterInterface(const TTypeInfo *Info, std::string_view Namespace = {},
                         std::string_view WSDLEncoding = {}, std::string_view Doc = {},
                         std::string_view ExtName = {});
  void RegisterDefaultSOAPAction(const TTypeInfo *Info, std::string_view DefSOAPAction);
  void RegisterAllSOAPActions(const TTypeInfo *Info, std::string_view AllSOAPActions);
  void RegisterInvokeOptions(const TTypeInfo *Info, TIntfInvokeOption InvokeOption);   // adds
  void RegisterInvokeOptions(const TTypeInfo *Info, TIntfInvokeOptions InvokeOptions); // replaces
  void RegisterReturnParamNames(const TTypeInfo *Info, std::string_view RetParamNames);
  // Adds a class entry and links it to every registered interface it
  // implements; raises ETypeRegistryException for a class without interfaces.
  void RegisterInvokableClass(TClass AClass, TCreateInstanceProc CreateProc = nullptr);
  // Removes an interface entry; removes a class entry and its links.
  void UnRegisterInterface(const TTypeInfo *Info);
  void UnRegisterInvokableClass(TClass AClass);

  // ---- enumeration (registration order) ----
  int GetInterfaceCount() const;
  InterfaceMapItem GetRegInterfaceEntry(int Index) const; // a copy; empty when out of range
  bool HasRegInterfaceImpl(int Index) const;

  // ---- lookups ----
  const TTypeInfo *GetInterfaceTypeInfo(const TGUID &AGUID) const;
  TIntfInvokeOptions GetIntfInvokeOptions(const TTypeInfo *IntfInfo) const;
  TIntfInvokeOptions GetIntfInvokeOptions(const TGUID &AGUID) const;
  std::string GetNamespaceByGUID(const TGUID &AGUID) const;
  std::string GetActionURIOfInfo(const TTypeInfo *IntfInfo, std::string_view MethodName = {},
                                 int MethodIndex = -1) const;
  std::string GetActionURIOfIID(const TGUID &AGUID) const;
  // Binds a request to an interface by its SOAPAction or, failing that, the
  // last segment of its path. AMeth is left empty: the body names the method.
  bool GetInfoForURI(std::string_view PathURI, std::string_view ActionURI, TClass &ACLass,
                     const TTypeInfo *&IntfInfo, std::string &AMeth) const;
  // A new instance (reference count 0) of a registered implementing class,
  // or none.
  TObject *GetInvokableObjectFromClass(TClass AClass) const;
  bool GetClassFromIntfInfo(const TTypeInfo *Info, TClass &AClass) const;
  // The last entry whose name (and unit, when given) matches, letter case ignored.
  bool GetInterfaceInfoFromName(std::string_view UnitName, std::string_view IntfName,
                                const TTypeInfo *&Info, TGUID &IID) const;
  std::string GetWSDLEncoding(const TTypeInfo *Info) const;
  std::string GetReturnParamNames(const TTypeInfo *IntfInfo) const; // default "Result;Return"
  bool GetUDDIInfo(const TGUID &AGUID, std::string &Operator, std::string &BindingKey) const;

  // ---- names on the wire (the declared names unless mapped) ----
  std::string GetInterfaceExternalName(const TTypeInfo *Info) const;
  std::string GetMethExternalName(const TTypeInfo *Info, std::string_view MethodName) const;
  std::string GetMethInternalName(const TTypeInfo *Info, std::string_view ExternalName) const;
  std::string GetParamExternalName(const TTypeInfo *Info, std::string_view MethodName,
                                   std::string_view ParamName) const;
  std::string GetParamInternalName(const TTypeInfo *Info, std::string_view MethodName,
                                   std::string_view ExternalName) const;
  TMethodRegInfo GetMethodInfo(const TTypeInfo *Info, std::string_view MethodName) const;
  TParamRegInfo GetParamInfo(const TTypeInfo *Info, std::string_view MethodName,
                             std::string_view ParamName) const;
  std::vector<TClass> GetHeaderClasses(const TTypeInfo *Info) const;
  std::vector<TClass> GetExceptionClasses(const TTypeInfo *Info) const;

private:
  const InterfaceMapItem *FindIntf(const TTypeInfo *Info) const;
  const InterfaceMapItem *FindIntf(const TGUID &AGUID) const;
  InterfaceMapItem *FindIntfMutable(const TTypeInfo *Info);
  const TMethRegEntry *FindMeth(const TTypeInfo *Info, std::string_view MethodName) const;
  std::string ActionURIOf(const InterfaceMapItem &Entry, std::string_view MethodName,
                          int MethodIndex) const;

  mutable std::recursive_mutex FLock;
  std::vector<InvRegClassEntry> FRegClasses;
  std::vector<InterfaceMapItem> FRegIntfs;
};

// Creates both registries with their built-in entries; idempotent.
void InitInvokeRegistry();
TInvokableClassRegistry &InvRegistry();
TRemotableTypeRegistry &RemTypeRegistry();

} // namespace vv
