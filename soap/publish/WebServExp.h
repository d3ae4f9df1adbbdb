// The WSDL generator: describes one registered invokable interface in WSDL
// 1.1 (types, messages, port type, an rpc/encoded SOAP binding and the
// service with its ports), from the interface and type registries alone.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "rtl/EnumSet.h"
#include "rtl/TypeInfo.h"
#include "soap/server/IntfMetaData.h"
#include "soap/server/WebServiceBindingType.h"
#include "xml/XMLDoc.h"

namespace vv {

// The parts of a WSDL document written. Bit n of a TWSDLElements set is
// member n. Only weServiceIntf and weService are read: the other members are
// accepted and ignored, the parts they name being written with weServiceIntf.
enum TWSDLElement {
  weServiceIntf, // types, messages, port type and binding
  weServiceImpl,
  weMessage,
  wePortType,
  weBinding,
  weService, // the service element with its ports
  weTypes,
  WeImport,
  weOperation,
  wePart
};
using TWSDLElements = TEnumSet<TWSDLElement>;

// Hooks around publishing; none is set by this program.
// (PortType, var WSDL, var Handled): a handler may answer in place of the generator.
using TBeforePublishingWSDLEvent =
    std::function<void(const std::string &portType, std::string &wsdl, bool &handled)>;
// (IntfTypeInfo): before the types of an interface are written.
using TBeforePublishingTypesEvent = std::function<void(const TTypeInfo *intf)>;
// (TypeInfo, SchemaDef): after one type was written into a schema.
using TPublishingTypeEvent = std::function<void(const TTypeInfo *type, IXMLNode schema)>;
// (WSDLDoc): after the whole document was generated.
using TAfterPublishingWSDLEvent = std::function<void(IXMLDocument *doc)>;

struct TPublishEvents {
  TBeforePublishingWSDLEvent OnBeforePublishingWSDL;
  TBeforePublishingTypesEvent OnBeforePublishingTypes;
  TPublishingTypeEvent OnPublishingType;
  TAfterPublishingWSDLEvent OnAfterPublishingWSDL;
};

// One type to describe.
struct TSchemaInfo {
  std::string XMLName;
  std::string XMLNamespace;
  const TTypeInfo *Info = nullptr;
  std::string NSPrefix; // the prefix of XMLNamespace in this document
  bool Written = false;
};

class TWebServExp {
public:
  TWebServExp() = default;

  // Fills `wsdlDoc`, whose root "definitions" element already exists, for
  // the interface; one port per pair of `portNames` and `locations`.
  void GetWSDLForInterface(const TTypeInfo *intfTypeInfo, IXMLDocument *wsdlDoc,
                           const std::vector<std::string> &portNames,
                           const std::vector<std::string> &locations);
  // Writes the definition of `typeInfo` into the schema element `schemaDef`
  // when the type belongs to `nameSpace` (any namespace when it is empty)
  // and was not written yet.
  void GenerateXMLSchema(IXMLNode schemaDef, const TTypeInfo *typeInfo, const TTypeInfo *parentInfo,
                         std::string_view nameSpace);

  // The element that namespace declarations go to when the generator is
  // used for a schema alone (GetWSDLForInterface sets it to the root).
  void SetDefinition(const IXMLNode &root) { Definition = root; }

  std::string TargetNamespace;
  TWebServiceBindingType BindingType = btSoap;
  TWSDLElements WSDLElements = {weServiceIntf};
  // Arrays as SOAP-encoded array restrictions.
  bool ArrayAsComplexContent = true;
  TPublishEvents Events;
  // WSDL imports (none are written while the lists are empty).
  std::vector<std::string> ImportNames, ImportLocations;

private:
  void AddRootAttributes(const TTypeInfo *intf, IXMLDocument *doc);
  void CollectTypes();
  void AddType(const TTypeInfo *t);
  void WriteTypes();
  void WriteMessages(const TTypeInfo *intf);
  void WritePortType(const TTypeInfo *intf);
  void WriteBinding(const TTypeInfo *intf);
  void WriteService(const TTypeInfo *intf, const std::vector<std::string> &portNames,
                    const std::vector<std::string> &locations);

  void WriteComplexType(IXMLNode schemaDef, TSchemaInfo &entry, std::string_view ns);
  void WriteArrayType(IXMLNode schemaDef, const TSchemaInfo &entry);
  void WriteEnumType(IXMLNode schemaDef, const TSchemaInfo &entry);

  TSchemaInfo *FindSchemaEntry(const TTypeInfo *t);
  // The prefix bound to `uri` at the root, declaring a generated one
  // ("ns1", ...) there when there is none.
  std::string PrefixFor(std::string_view uri);
  std::string GenerateRootPrefix();
  // The XML type of a native type, qualified with its prefix.
  std::string QualifiedXMLType(const TTypeInfo *t);
  std::string MessageName(const TTypeInfo *intf, size_t index, std::string_view suffix);

  TIntfMetaData FMetaData;
  std::vector<const TIntfMethEntry *> FOperations; // the interface's operations, in order
  IXMLNode Definition;
  IXMLNode FTypes;
  std::vector<TSchemaInfo> SchemaArray;
  bool bHasComplexTypes = false;
  int FPrefixCounter = 0;
};

} // namespace vv
