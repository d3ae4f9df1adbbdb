// The type registry: which XML type (namespace and name) stands for which
// native type or class. One per process (RemTypeRegistry(), see
// InvokeRegistry.h); filled at start, only read afterwards. Every
// operation takes the registry's lock.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "rtl/Exception.h"
#include "rtl/TypeInfo.h"
#include "soap/server/Remotable.h"

namespace vv {

VV_EXCEPTION(ETypeRegistryException, Exception);

// This SOAP layer's own namespace: its array types and its own invokable
// interfaces live here.
inline constexpr const char *SSoapTypesNameSpace = "https://www.vevude.example/soap/types";

enum TObjMultiOptions { ocDefault, ocMultiRef, ocNoMultiRef };

struct TPropNameMap {
  std::string Name;    // declared property name
  std::string ExtName; // name on the wire
};

struct TRemRegEntry {
  TClass ClassType = nullptr;      // for a class, else none
  const TTypeInfo *Info = nullptr; // native type
  std::string URI;                 // XML namespace
  std::string Name;                // XML type name
  std::string ExtName;             // when non-empty, the name on the wire
  bool IsScalar = false;
  TObjMultiOptions MultiRefOpt = ocDefault;
  TSerializationOptions SerializationOpt;
  std::vector<TPropNameMap> PropNameMap;
  // The name on the wire.
  const std::string &XMLName() const { return ExtName.empty() ? Name : ExtName; }
};

class TRemotableTypeRegistry {
public:
  TRemotableTypeRegistry() = default;
  TRemotableTypeRegistry(const TRemotableTypeRegistry &) = delete;
  TRemotableTypeRegistry &operator=(const TRemotableTypeRegistry &) = delete;

  // Adds the built-in entries (XML Schema scalars, this layer's arrays).
  void RegisterBuiltIns();

  // Adds an entry unless one for the same type (and, when given, the same
  // Name) exists. Empty URI: "urn:" and the declaring unit; empty Name: the
  // class or type name.
  void RegisterXSClass(TClass AClass, std::string_view URI = {}, std::string_view Name = {},
                       std::string_view ExtName = {}, bool IsScalar = false,
                       TObjMultiOptions MultiRefOpt = ocDefault);
  void RegisterXSInfo(const TTypeInfo *Info, std::string_view URI = {}, std::string_view Name = {},
                      std::string_view ExtName = {});
  // Per-entry options (no-ops for unregistered types).
  void RegisterSerializeOptions(const TTypeInfo *Info, TSerializationOptions Options);
  void RegisterExternalPropName(const TTypeInfo *Info, std::string_view InternalName,
                                std::string_view ExternalName);

  // XML namespace and name (external name if any) of a native type; with
  // tryToRegister an unknown type is registered with defaults first.
  bool InfoToURI(const TTypeInfo *Info, std::string &URI, std::string &Name, bool &IsScalar,
                 bool tryToRegister = true);
  bool ClassToURI(TClass AClass, std::string &URI, std::string &Name, bool &IsScalar,
                  bool tryToRegister = true);
  bool ClassToURI(TClass AClass, std::string &URI, std::string &Name);
  // ClassToURI for a class, InfoToURI otherwise; both registering unknown types.
  bool TypeInfoToXSD(const TTypeInfo *Info, std::string &URI, std::string &TypeName);

  // The class registered for an XML type (exact namespace and name); with
  // AInheritsFrom only classes deriving from it. None for a non-class entry.
  TClass URIToClass(std::string_view URI, std::string_view Name, bool &IsScalar,
                    TClass AInheritsFrom = nullptr);
  TClass URIToClass(std::string_view URI, std::string_view Name);
  const TTypeInfo *URIToInfo(std::string_view URI, std::string_view Name);
  // Classes first, then any native type.
  const TTypeInfo *XSDToTypeInfo(std::string_view URI, std::string_view TypeName);

  bool IsClassScalar(TClass AClass);
  TObjMultiOptions ClassOptions(TClass AClass);
  TSerializationOptions SerializeOptions(const TTypeInfo *Info);
  // Property names on the wire; without a mapping the declared name.
  std::string GetExternalPropName(const TTypeInfo *Info, std::string_view InternalName);
  std::string GetInternalPropName(const TTypeInfo *Info, std::string_view ExternalName);

  // A copy of the entries in registration order.
  std::vector<TRemRegEntry> GetEntries() const;
  int GetEntryCount() const;

  bool AutoRegister() const { return FAutoRegister; }
  void SetAutoRegister(bool value) {
    FAutoRegister = value;
    FGeneration.fetch_add(1, std::memory_order_acq_rel);
  }

  // Counts the changes made to the registry: what was derived from it
  // stays true while the count is the same.
  uint64_t Generation() const { return FGeneration.load(std::memory_order_acquire); }

private:
  const TRemRegEntry *FindInfo(const TTypeInfo *Info) const;
  const TRemRegEntry *FindEquivalent(const TTypeInfo *Info) const;
  const TRemRegEntry *FindClass(TClass AClass) const;
  TRemRegEntry *FindMutable(const TTypeInfo *Info);
  void AddEntry(TClass AClass, const TTypeInfo *Info, std::string_view URI, std::string_view Name,
                std::string_view ExtName, bool IsScalar, TObjMultiOptions MultiRefOpt);

  mutable std::recursive_mutex FLock;
  std::vector<TRemRegEntry> URIMAP;
  bool FAutoRegister = true;
  std::atomic<uint64_t> FGeneration{0};
};

// True for the 1999, 2000/10 and 2001 XML Schema namespaces.
bool IsXMLSchemaNamespace(std::string_view uri);

} // namespace vv
