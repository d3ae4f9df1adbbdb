// Value conversion between native slots and XML elements, driven by the
// type descriptors and the type registry: scalars (text, booleans, integers,
// floats, enumerations), dynamic arrays and TRemotable classes, rpc/encoded
// (typed, objects by reference) or document/literal (qualified, in place).
//
// Values are written straight into a streaming writer (no tree), in
// document order: each value becomes a child of the writer's current
// element. Before a root node's start tag is written, PrepareValue walks the
// values it will hold and declares on it every namespace they need, in the
// order the writing needs them, and numbers the objects written by
// reference (depth first, as they are first met); the values then give
// only their references, and WriteReferencedObjects writes the objects
// themselves after them, as children of the root, in that order. Everything
// here is linear in the size of a message: the href table, the identifiers
// of written objects and the prefixes already declared are hash maps.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "rtl/Exception.h"
#include "rtl/TypeInfo.h"
#include "soap/server/SOAPConvertOptions.h"
#include "soap/server/SOAPDOMProcessor.h"
#include "soap/server/ServerLimits.h"
#include "xml/XMLReader.h"
#include "xml/XMLStreamWriter.h"

namespace vv {

class TDataContext;
class TRemotable;

VV_EXCEPTION(ESOAPDomConvertError, Exception);

// The identifiers of the objects one message writes, by object. Records of
// one call context (every record of an answer) are found by their place in
// it: four bytes each and no hashing; other objects by their address.
class TObjectIds {
public:
  // The identifier of `obj` (a TRemotable); `next` when it had none, with
  // `fresh` set.
  uint32_t Find(const TRemotable *obj, uint32_t next, bool &fresh);
  // Forgets every identifier and gives back the memory.
  void Clear();

private:
  const TDataContext *FContext = nullptr;
  std::vector<uint32_t> FByPlace; // 0: none yet
  std::unordered_map<const TObject *, uint32_t> FOthers;
};

// The multi-reference state of one message.
struct TRefCache {
  std::vector<TXMLCursor> FNodes;                   // elements carrying an "id"
  std::unordered_map<std::string, size_t> FHREFs;   // "#" + id -> index into FNodes
  TObjectIds FMHREFs;                               // object written -> its identifier
  std::unordered_map<std::string, TObject *> FRead; // href read -> its object (read once)
  std::unordered_set<std::string> FReading;         // hrefs being read (breaks loops)
  void Clear();
};

class TSOAPDomConv : public TSOAPDOMProcessor {
  VV_CLASS(TSOAPDomConv)
  explicit TSOAPDomConv(TComponent *owner = nullptr);
  ~TSOAPDomConv() override;

  using THandle = TXMLStreamWriter::THandle;

  // Writes the value in slot P of type Info as the child NodeName of the
  // writer's current element (in NodeNamespace when document style);
  // multi-reference elements become children of RootNode.
  void ConvertNativeDataToSoap(THandle RootNode, const std::string &NodeName,
                               const std::string &NodeNamespace, const TTypeInfo *Info,
                               const void *DataP, int XMLOptions);
  // Before RootNode's start tag is written: declares on it the namespaces
  // the value will need and numbers its objects written by reference.
  void PrepareValue(THandle RootNode, const TTypeInfo *Info, const void *DataP, int XMLOptions);
  // After the value was written: its objects written by reference that are
  // not written yet, as children of the writer's current element (the root).
  void WriteReferencedObjects(THandle RootNode, const TTypeInfo *Info, const void *DataP,
                              int XMLOptions);
  // Reads element Node into slot DataP of type Info.
  void ConvertSoapToNativeData(void *DataP, const TTypeInfo *Info, TXMLCursor RootNode,
                               TXMLCursor Node, bool Translate);

protected:
  bool IsRpc() const {
    return !FOptions.Contains(soDocument) && !FOptions.Contains(soLiteralParams);
  }
  // Every element with an "id", keyed "#" + id ("Duplicates not allowed").
  void BuildHrefTable(TXMLCursor root);
  // The element an "href" points at (rpc), else the element itself.
  TXMLCursor GetDataNode(TXMLCursor node) const;
  // Empties the href table, the identifier tables and the nodes in progress.
  void ResetMultiRef();
  // One message read or written: begins with everything of the last one
  // forgotten (ResetMultiRef), and forgets it all again when it ends.
  class TMessageScope {
  public:
    explicit TMessageScope(TSOAPDomConv &conv);
    ~TMessageScope();
    TMessageScope(const TMessageScope &) = delete;
    TMessageScope &operator=(const TMessageScope &) = delete;

  private:
    TSOAPDomConv &FConv;
  };
  // The prefix under which namespace U is declared at R; declares a
  // generated one on R when allowed and none is found.
  std::string FindPrefixForURI(THandle RootNode, const std::string &URI, bool Declare);
  // The text of a value element: empty without children, the single text or
  // CDATA child's text, else the XML of all children. A view into the
  // message or into a buffer of the converter's, valid until the next call.
  std::string_view NodeText(TXMLCursor node);
  // "nil" (or "NULL") = "1" or "true" in the schema-instance namespace.
  static bool NodeIsNull(TXMLCursor node);
  // The element's XML type from its "type" attribute: namespace and name.
  bool GetElementType(TXMLCursor node, std::string &typeURI, std::string &typeName) const;

  uint32_t FIDs = 1;         // next multi-reference identifier
  uint32_t FNextToWrite = 1; // the next object written by reference to write
  TRefCache FRefCache;
  TSOAPConvertOptions FOptions = kDefaultSOAPConvertOptions;
  std::unordered_set<const TObject *> ObjsWriting;
  TXMLStreamWriter *FWriter = nullptr; // the message being written

  void WriteObject(THandle RootNode, const std::string &NodeName, const std::string &NodeNamespace,
                   TObject *obj, TClass declared);
  // Reads a record; `href`, when given, is the reference it was reached by.
  TObject *ReadObject(TClass cls, TXMLCursor RootNode, TXMLCursor node,
                      const std::string &href = {});

  // What messages look up of a type again and again, asked of the registry
  // once (see TTypeTables).
  struct TTypeName {
    bool Registered = false;
    bool IsScalar = false;
    // A class whose objects are written by reference when the message's
    // options allow it.
    bool ByReference = false;
    std::string URI, Name;
    // The xsi:type value written for a scalar of this type ("xsd:string"),
    // and the name of a multi-reference element of it, once its prefix is
    // known in a message: valid in the message numbered AttrMessage and
    // RefMessage.
    std::string TypeAttr, RefName;
    std::string TypeAttrEscaped; // TypeAttr as an attribute value is written
    uint64_t AttrMessage = 0, RefMessage = 0;
  };
  TTypeName &TypeNameOf(const TTypeInfo *info);

private:
  // The xsi:type value of a scalar of this type, or none (untyped).
  const TTypeName *ScalarTypeAttr(THandle RootNode, TTypeName &Type);
  // A scalar element of type Type holding Text, as a child of the current
  // element.
  void WriteScalar(THandle RootNode, const std::string &NodeName, const std::string &NodeNamespace,
                   TTypeName &Type, std::string_view Text, TXMLStreamWriter::TNames Names);
  void WriteArray(THandle RootNode, const std::string &NodeName, const std::string &NodeNamespace,
                  const TTypeInfo *Info, const void *DataP);
  void WriteProperties(THandle RootNode, TObject *Obj, const std::string &NodeNamespace);
  void AddValueElement(const std::string &NodeName, const std::string &NodeNamespace,
                       TXMLStreamWriter::TNames Names = TXMLStreamWriter::TNames::Check);
  void SetTypeAttr(THandle RootNode, const std::string &TypeURI, const std::string &TypeName);
  void ReadScalar(void *DataP, const TTypeInfo *Info, TXMLCursor node);
  void ReadArray(void *DataP, const TTypeInfo *Info, TXMLCursor RootNode, TXMLCursor node);

  struct TPropName {
    const TPropInfo *Prop;
    std::string ExtName;
    TTypeName *Type = nullptr;
    bool NameChecked = false; // ExtName is a valid element name (checked when first written)
  };
  struct TPropNames {
    bool Flat = true; // no property holds objects or arrays
    // The message in which the class is flat and every namespace its
    // properties can need is known: its objects need nothing more of the
    // walk.
    uint64_t FlatDone = 0;
    std::vector<TPropName> List;                        // declaration order
    std::unordered_map<std::string_view, size_t> Index; // external name -> position
  };
  // What the registry says of the types and classes the converters of a
  // thread meet, kept from message to message: the registries are filled at
  // start, and a change to the type registry empties the tables before the
  // next message (while no message of the thread is being read or written,
  // which may hold entries).
  struct TTypeTables {
    uint64_t Generation = ~uint64_t(0); // of the registry they were asked of
    size_t OpenMessages = 0;
    uint64_t Messages = 0; // numbered on the thread from 1
    std::unordered_map<const TTypeInfo *, TTypeName> Types;
    std::unordered_map<TClass, TPropNames> Props;
  };
  static TTypeTables &Tables();
  TPropNames &PropsOf(TClass cls);
  // Whether objects of the type are written by reference in this message.
  bool IsMultiRef(const TTypeName &t) const;
  void ReadProperty(TObject *obj, const TPropInfo *prop, TXMLCursor RootNode, TXMLCursor el);
  // The walks of PrepareValue and WriteReferencedObjects: the same order as
  // the writing's, depth first.
  void WalkValue(THandle RootNode, const TTypeInfo *Info, const void *DataP, int XMLOptions,
                 bool Write);
  void WalkObject(THandle RootNode, TObject *Obj, bool Write);
  void WalkProperties(THandle RootNode, TObject *Obj, bool Write);
  void WriteRefElement(THandle RootNode, TObject *Obj, TTypeName &Type, uint32_t Id);
  std::unordered_map<std::string, std::string> FPrefixes; // namespace -> prefix, this message
  // The number of the message being read or written (none: a number no
  // message has).
  uint64_t FMessage = UINT64_MAX;
  // The last of each asked for: the records of an array ask for the same
  // one again and again.
  const TTypeInfo *FLastType = nullptr;
  TTypeName *FLastTypeName = nullptr;
  TClass FLastClass = nullptr;
  TPropNames *FLastProps = nullptr;
  int FDepth = 0;
  std::string FText; // the text of the value read last, when it had to be decoded
};

} // namespace vv
