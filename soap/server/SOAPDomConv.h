// Value conversion between native slots and XML elements, driven by the
// type descriptors and the type registry: scalars (text, booleans, integers,
// floats, enumerations), dynamic arrays and TRemotable classes, rpc/encoded
// (typed, objects by reference) or document/literal (qualified, in place).
//
// Everything here is linear in the size of a message: the href table, the
// identifiers of written objects and the prefixes already declared are hash
// maps, and multi-reference elements are appended to their root node as they
// are made, never searched for again.
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
#include "xml/XMLDoc.h"

namespace vv {

VV_EXCEPTION(ESOAPDomConvertError, Exception);

// Bounds that keep a hostile message from exhausting the stack.
inline constexpr int kMaxValueNesting = 64; // nested arrays and objects read or written

// The multi-reference state of one message.
struct TRefCache {
  std::vector<IXMLNode> FNodes;                          // elements carrying an "id"
  std::unordered_map<std::string, size_t> FHREFs;        // "#" + id -> index into FNodes
  std::unordered_map<const TObject *, uint32_t> FMHREFs; // object written -> its identifier
  std::unordered_map<std::string, TObject *> FRead;      // href read -> its object (read once)
  std::unordered_set<std::string> FReading;              // hrefs being read (breaks loops)
  void Clear();
};

class TSOAPDomConv : public TSOAPDOMProcessor {
  VV_CLASS(TSOAPDomConv)
  explicit TSOAPDomConv(TComponent *owner = nullptr);
  ~TSOAPDomConv() override;

  // Writes the value in slot P of type Info as the child NodeName of Node
  // (in NodeNamespace when document style); multi-reference elements go
  // under RootNode. Returns the element written.
  IXMLNode ConvertNativeDataToSoap(IXMLNode RootNode, IXMLNode Node, const std::string &NodeName,
                                   const std::string &NodeNamespace, const TTypeInfo *Info,
                                   const void *P, int XMLOptions);
  // Reads element Node into slot DataP of type Info.
  void ConvertSoapToNativeData(void *DataP, const TTypeInfo *Info, IXMLNode RootNode, IXMLNode Node,
                               bool Translate);

protected:
  bool IsRpc() const {
    return !FOptions.Contains(soDocument) && !FOptions.Contains(soLiteralParams);
  }
  // Every element with an "id", keyed "#" + id ("Duplicates not allowed").
  void BuildHrefTable(IXMLNode root);
  // The element an "href" points at (rpc), else the element itself.
  IXMLNode GetDataNode(IXMLNode node) const;
  // Empties the href table, the identifier tables and the nodes in progress.
  void ResetMultiRef();
  // The prefix under which namespace U is declared at N (or at R); declares
  // a generated one on R when allowed and none is found.
  std::string FindPrefixForURI(IXMLNode R, IXMLNode N, const std::string &U, bool declare);
  // The text of a value element: empty without children, the single text or
  // CDATA child's text, else the XML of all children.
  static std::string NodeText(IXMLNode node);
  // "nil" (or "NULL") = "1" or "true" in the schema-instance namespace.
  static bool NodeIsNull(IXMLNode node);
  // The element's XML type from its "type" attribute: namespace and name.
  bool GetElementType(IXMLNode node, std::string &typeURI, std::string &typeName) const;

  uint32_t FIDs = 1; // next multi-reference identifier
  TRefCache FRefCache;
  std::vector<IXMLNode> MultiRefNodes; // multi-reference elements written, in order
  TSOAPConvertOptions FOptions = DefaultSOAPConvertOptions;
  std::unordered_set<const TObject *> ObjsWriting;

  IXMLNode WriteObject(IXMLNode RootNode, IXMLNode Node, const std::string &NodeName,
                       const std::string &NodeNamespace, TObject *obj, TClass declared);
  // Reads a record; `href`, when given, is the reference it was reached by.
  TObject *ReadObject(TClass cls, IXMLNode RootNode, IXMLNode node, const std::string &href = {});

  // What one message looks up again and again, asked of the registry once.
  struct TTypeName {
    bool Registered = false;
    bool IsScalar = false;
    std::string URI, Name;
    // The xsi:type value written for a scalar of this type ("xsd:string"),
    // once its prefix is known in this message.
    std::string TypeAttr;
  };
  const TTypeName &TypeNameOf(const TTypeInfo *info);

private:
  void WriteScalar(IXMLNode RootNode, IXMLNode el, const TTypeInfo *Info, const void *P);
  IXMLNode WriteArray(IXMLNode RootNode, IXMLNode Node, const std::string &NodeName,
                      const std::string &NodeNamespace, const TTypeInfo *Info, const void *P);
  void WriteProperties(IXMLNode RootNode, IXMLNode el, TObject *obj, const std::string &ns);
  IXMLNode AddValueElement(IXMLNode Node, const std::string &NodeName,
                           const std::string &NodeNamespace);
  void SetTypeAttr(IXMLNode RootNode, IXMLNode el, const std::string &uri, const std::string &name);
  void ReadScalar(void *DataP, const TTypeInfo *Info, IXMLNode node);
  void ReadArray(void *DataP, const TTypeInfo *Info, IXMLNode RootNode, IXMLNode node);

  struct TPropName {
    const TPropInfo *Prop;
    std::string ExtName;
  };
  struct TPropNames {
    std::vector<TPropName> List;                        // declaration order
    std::unordered_map<std::string_view, size_t> Index; // external name -> position
  };
  const TPropNames &PropsOf(TClass cls);
  bool IsMultiRef(TClass cls, bool isScalar);
  void ReadProperty(TObject *obj, const TPropInfo *prop, IXMLNode RootNode, IXMLNode el);

  std::unordered_map<std::string, std::string> FPrefixes; // namespace -> prefix, this message
  std::unordered_map<const TTypeInfo *, TTypeName> FTypeNames;
  std::unordered_map<TClass, TPropNames> FPropNames;
  int FDepth = 0;
};

} // namespace vv
