// The XML document object model through which every SOAP message and the
// WSDL are built and read.
//
// The tree lives in a pugixml document; this layer adds what pugixml lacks:
// namespaces (prefixes and URIs are resolved from the declarations in scope,
// declarations are added where a new element needs one), null for absent
// attributes, the text and XML views of a node, encodings on input, and a
// serialiser of our own with exact, documented output.
//
// Nodes are light handles (`IXMLNode`, three pointers, copied by value): a
// handle stays valid while its node is in the document and the document
// lives. Documents are reference counted (`IPtr<IXMLDocument>`); a node does
// not keep its document alive.
//
// Text is UTF-8 everywhere. Views (`std::string_view`) returned by a node
// point into the document and stay valid until that node (for a namespace
// URI: the declaring attribute) is changed or removed, or the document is
// freed; copy them into a std::string to keep them longer.
//
// Nothing here recurses in proportion to the depth of a document: parsing,
// walking, serialising and removing subtrees use explicit loops, so deeply
// nested input neither overflows the stack nor takes quadratic time.
#pragma once

#include <cstdint>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>

#include "rtl/Exception.h"
#include "rtl/Interface.h"
#include "rtl/Object.h"
#include "rtl/Stream.h"

namespace pugi {
struct xml_node_struct;
struct xml_attribute_struct;
} // namespace pugi

namespace vv {

// A document that is not well-formed, is refused (it has a DTD), or cannot be
// decoded. Message: reason, CR LF, "Line: " and the line number, CR LF, and
// the first 40 characters of the offending line.
VV_EXCEPTION(EDOMParseError, Exception);
// Misuse of the tree: an invalid name, a second document element, a node of
// another document, an operation the node's type does not have.
VV_EXCEPTION(EXMLDocError, Exception);

// The kinds of node in the tree (the numbering of the DOM).
enum class TNodeType {
  ntReserved = 0,
  ntElement = 1,
  ntAttribute = 2,
  ntText = 3,
  ntCData = 4,
  ntEntityRef = 5,
  ntEntity = 6,
  ntProcessingInstr = 7,
  ntComment = 8,
  ntDocument = 9,
  ntDocType = 10,
  ntDocFragment = 11,
  ntNotation = 12
};

// Document options (a set of bits, TXMLDocOptions).
enum TXMLDocOption : uint32_t {
  // Kept for callers that set it; the tree never creates nodes on lookup
  // here (lookups that find nothing return a null node).
  doNodeAutoCreate = 1u << 0,
  // Serialise with a line break before each child element and two spaces
  // (NodeIndentStr) per nesting level. Elements that hold text are written on
  // one line with their text, which is never touched.
  doNodeAutoIndent = 1u << 1,
  // An absent attribute reads as null (std::nullopt) rather than empty text.
  // GetAttribute always returns an optional; without this option an absent
  // attribute reads as an empty text instead.
  doAttrNull = 1u << 2,
  // AddChild(name, uri, genPrefix = true) with an unprefixed name gives the
  // element the prefix bound to the URI in scope, or a generated one.
  doAutoPrefix = 1u << 3,
  // AddChild and SetAttributeNS add the namespace declarations that the new
  // node needs (without it, no declaration is ever added implicitly).
  doNamespaceDecl = 1u << 4,
  // Kept for callers that set it; documents are never saved implicitly.
  doAutoSave = 1u << 5,
};
using TXMLDocOptions = uint32_t;

// The options of NewXMLDocument: doNodeAutoCreate, doAttrNull, doAutoPrefix,
// doNamespaceDecl (no automatic indentation).
constexpr TXMLDocOptions kDefaultDocOptions =
    doNodeAutoCreate | doAttrNull | doAutoPrefix | doNamespaceDecl;

// Well-known namespace URIs.
inline constexpr std::string_view kXmlNamespace = "http://www.w3.org/XML/1998/namespace";
inline constexpr std::string_view kXmlnsNamespace = "http://www.w3.org/2000/xmlns/";

class TXMLDocument;
struct IXMLDocument;
class TXMLNodeList;
class TXMLAttrList;

// A node of a document: element, attribute, text, CDATA section, comment,
// processing instruction or the document itself. A default-constructed
// handle is null; every query on a null handle returns an empty value, every
// change raises EXMLDocError.
class IXMLNode {
public:
  IXMLNode() = default;
  explicit operator bool() const { return FNode != nullptr; }
  bool IsNull() const { return FNode == nullptr; }
  friend bool operator==(const IXMLNode &a, const IXMLNode &b) {
    return a.FNode == b.FNode && a.FAttr == b.FAttr;
  }

  // --- identity -------------------------------------------------------------
  TNodeType NodeType() const;
  // The qualified name ("SOAP-ENV:Body", "xmlns:NS1"); "#text",
  // "#cdata-section", "#comment", "#document" for the unnamed kinds; the
  // target of a processing instruction.
  std::string_view NodeName() const;
  // The name after the colon, or the whole name ("xmlns" for a default
  // namespace declaration; "NS1" for "xmlns:NS1").
  std::string_view LocalName() const;
  // The name before the colon, or empty.
  std::string_view Prefix() const;
  // The namespace of the node's name resolved from the declarations in scope:
  // for an element, the binding of its prefix (or of the default namespace);
  // for an attribute, the binding of its prefix, kXmlnsNamespace for
  // namespace declarations, and empty for an unprefixed attribute. Empty when
  // the prefix is bound nowhere. Other kinds: empty.
  std::string_view NamespaceURI() const;

  // --- navigation -----------------------------------------------------------
  // The parent node; for an attribute, the element that carries it.
  IXMLNode ParentNode() const;
  IXMLDocument *OwnerDocument() const;
  bool HasChildNodes() const;
  // The child nodes in order (elements, text, CDATA, comments, processing
  // instructions). Empty for attributes and character data.
  TXMLNodeList ChildNodes() const;
  IXMLNode FirstChild() const;
  IXMLNode LastChild() const;
  IXMLNode NextSibling() const;
  IXMLNode PreviousSibling() const;
  // Element children only.
  IXMLNode FirstChildElement() const;
  IXMLNode NextSiblingElement() const;
  // The first child element whose NodeName is `nodeName`, exactly.
  IXMLNode ChildElement(std::string_view nodeName) const;
  // The first child element with this local name in this namespace (exact).
  IXMLNode ChildElementNS(std::string_view localName, std::string_view namespaceURI) const;
  // True for an element whose only child is one text or CDATA node.
  bool IsTextElement() const;

  // --- content --------------------------------------------------------------
  // Attribute, text, CDATA, comment, processing instruction: the value.
  // Element: empty without children, the value of a single text or CDATA
  // child, else the text of all descendant text and CDATA nodes in document
  // order. Document: the text of its document element.
  std::string Text() const;
  // Element: replaces all children by one text node holding `value` (no
  // child at all when `value` is empty). Other kinds: sets the value.
  void SetText(std::string_view value);
  // The serialised node: an element with its subtree (markup exactly as
  // SaveToStream writes it, without declaration or indentation), escaped
  // character data, a comment or PI in its markup, an attribute as
  // name="value"; the document as its whole text.
  std::string XML() const;

  // --- attributes (elements) ------------------------------------------------
  // The attributes in the order they were added, namespace declarations
  // included.
  TXMLAttrList AttributeNodes() const;
  // By full name, prefix included ("id", "xsi:type", "xmlns:NS1").
  bool HasAttribute(std::string_view name) const;
  // The value by full name; null when absent (empty text when the document
  // lacks doAttrNull).
  std::optional<std::string> GetAttribute(std::string_view name) const;
  // The attribute node by full name, or a null node.
  IXMLNode AttributeNode(std::string_view name) const;
  // By local name and namespace URI (exact); a prefix in `name` is ignored.
  // Unprefixed attributes are in no namespace ("").
  bool HasAttributeNS(std::string_view name, std::string_view namespaceURI) const;
  std::optional<std::string> GetAttributeNS(std::string_view name,
                                            std::string_view namespaceURI) const;
  IXMLNode AttributeNodeNS(std::string_view name, std::string_view namespaceURI) const;
  // Sets the attribute of that full name, appending it when absent.
  void SetAttribute(std::string_view name, std::string_view value);
  // Sets the attribute `name` (its local part) in `namespaceURI`: an existing
  // one is updated; otherwise the new attribute takes the prefix bound to the
  // namespace in scope. With no prefix bound (a default declaration does not
  // count), a prefix is generated (GeneratePrefix) and declared on this
  // element first. An empty namespace gives an unprefixed attribute.
  void SetAttributeNS(std::string_view name, std::string_view namespaceURI, std::string_view value);
  // Removes the attribute of that full name; false when there was none.
  bool RemoveAttribute(std::string_view name);

  // --- namespaces (elements) ------------------------------------------------
  // The URI bound to `prefix` ("" for the default namespace) at this element:
  // its own declarations, then its ancestors'. "xml" and "xmlns" are bound
  // implicitly. Empty when unbound.
  std::string_view FindNamespaceURI(std::string_view prefix) const;
  // The declaring attribute ("xmlns" or "xmlns:p") whose value equals `uri`
  // without regard to ASCII case, searching this element's attributes in
  // order, then each ancestor's. A declaration hidden by a closer declaration
  // of the same prefix is skipped. Null when there is none.
  IXMLNode FindNamespaceDecl(std::string_view uri) const;
  // Adds "xmlns:prefix" ("xmlns" for an empty prefix) = uri to this element,
  // unless that prefix already binds exactly this URI in scope. When this
  // element already declares the prefix, its value is replaced. Returns the
  // declaring attribute.
  IXMLNode DeclareNamespace(std::string_view prefix, std::string_view uri);

  // --- building (elements; AddChild on the document makes the root) --------
  // Appends a child element. An unprefixed name takes the parent's prefix
  // and namespace; a prefixed one is in the namespace bound to its prefix.
  IXMLNode AddChild(std::string_view tagName);
  // Appends (index < 0) or inserts before child node `index` a child element
  // named `tagName` in `namespaceURI` ("" = no namespace). With
  // doNamespaceDecl, when the name's prefix (or, unprefixed, the default
  // namespace) is not bound to exactly that URI in scope, the new element
  // declares it ("xmlns:p" or "xmlns"; no namespace under a default one gives
  // xmlns=""). So an unprefixed name under a parent whose default namespace
  // is another one carries its own xmlns declaration even when a prefix for
  // the URI is declared above. With genPrefix and doAutoPrefix, an
  // unprefixed name in a namespace instead takes the prefix bound to the URI
  // in scope, or a generated one (GeneratePrefix) declared on the new element.
  IXMLNode AddChild(std::string_view tagName, std::string_view namespaceURI, bool genPrefix = false,
                    int index = -1);
  // Appends character data or a comment.
  IXMLNode AppendText(std::string_view value);
  IXMLNode AppendCData(std::string_view value);
  IXMLNode AppendComment(std::string_view value);
  // Removes `child` and its whole subtree (handles to them become invalid).
  void RemoveChild(const IXMLNode &child);

private:
  friend class TXMLDocument;
  friend class TXMLNodeList;
  friend class TXMLAttrList;
  friend class TXMLNodeIterator;
  IXMLNode(TXMLDocument *doc, pugi::xml_node_struct *node,
           pugi::xml_attribute_struct *attr = nullptr)
      : FDoc(doc), FNode(node), FAttr(attr) {}
  bool IsElement() const;
  // The next attribute of an attribute handle, else the next sibling.
  IXMLNode NextInList() const;
  void RequireElement(const char *operation) const;

  TXMLDocument *FDoc = nullptr;
  pugi::xml_node_struct *FNode = nullptr;      // the node, or the attribute's element
  pugi::xml_attribute_struct *FAttr = nullptr; // set for attribute handles
};

// Walks a list of nodes in order: the children of a node
// (TXMLNodeList::iterator) or the attributes of an element
// (TXMLAttrList::iterator). The end is a null node.
class TXMLNodeIterator {
public:
  using iterator_category = std::forward_iterator_tag;
  using value_type = IXMLNode;
  using difference_type = std::ptrdiff_t;
  using pointer = const IXMLNode *;
  using reference = const IXMLNode &;
  TXMLNodeIterator() = default;
  explicit TXMLNodeIterator(IXMLNode node) : FCur(node) {}
  const IXMLNode &operator*() const { return FCur; }
  const IXMLNode *operator->() const { return &FCur; }
  TXMLNodeIterator &operator++() {
    FCur = FCur.NextInList();
    return *this;
  }
  TXMLNodeIterator operator++(int) {
    TXMLNodeIterator before = *this;
    ++*this;
    return before;
  }
  friend bool operator==(const TXMLNodeIterator &a, const TXMLNodeIterator &b) {
    return a.FCur == b.FCur;
  }

private:
  IXMLNode FCur;
};

// The child nodes of a node. Count and item access are cached per document
// for the list last used, so `for (i = 0; i < Count(); ++i) Nodes(i)` is
// linear; iterating with begin/end is cheapest.
class TXMLNodeList {
public:
  int Count() const;
  IXMLNode Nodes(int index) const; // null when out of range
  IXMLNode operator[](int index) const { return Nodes(index); }
  IXMLNode First() const;
  IXMLNode Last() const;
  // The first child whose NodeName is `name`, or null.
  IXMLNode FindNode(std::string_view name) const;
  // The first element child with this local name and namespace, or null.
  IXMLNode FindNode(std::string_view localName, std::string_view namespaceURI) const;
  int IndexOf(const IXMLNode &node) const; // -1 when not a child

  using iterator = TXMLNodeIterator;
  iterator begin() const { return iterator(First()); }
  iterator end() const { return iterator(); }

private:
  friend class IXMLNode;
  explicit TXMLNodeList(IXMLNode owner) : FOwner(owner) {}
  IXMLNode FOwner;
};

// The attributes of an element, in the order they were added.
class TXMLAttrList {
public:
  int Count() const;
  IXMLNode Nodes(int index) const; // null when out of range
  IXMLNode operator[](int index) const { return Nodes(index); }
  IXMLNode FindNode(std::string_view name) const;
  IXMLNode FindNode(std::string_view localName, std::string_view namespaceURI) const;

  using iterator = TXMLNodeIterator;
  iterator begin() const;
  iterator end() const { return iterator(); }

private:
  friend class IXMLNode;
  explicit TXMLAttrList(IXMLNode owner) : FOwner(owner) {}
  IXMLNode FOwner;
};

// A document: its declaration (version, encoding), its tree, its options
// and its prefix generator.
struct IXMLDocument : virtual IInterface {
  VV_INTERFACE(IXMLDocument, "{6C1F3A52-8E47-4B0D-A2F9-3D5E7B8C9A01}")

  virtual TXMLDocOptions Options() const = 0;
  virtual void SetOptions(TXMLDocOptions options) = 0;
  // The "version" and "encoding" of the XML declaration; an empty encoding
  // writes no encoding pseudo-attribute (the bytes are UTF-8 either way).
  virtual std::string Version() const = 0;
  virtual void SetVersion(std::string_view version) = 0;
  virtual std::string Encoding() const = 0;
  virtual void SetEncoding(std::string_view encoding) = 0;
  // The text per nesting level in doNodeAutoIndent mode (two spaces).
  virtual std::string NodeIndentStr() const = 0;
  virtual void SetNodeIndentStr(std::string_view indent) = 0;
  // The base of generated prefixes ("NS").
  virtual std::string PrefixBase() const = 0;
  virtual void SetPrefixBase(std::string_view base) = 0;

  // The document node (its children: comments, PIs and the document element).
  virtual IXMLNode Node() = 0;
  // The root element, or null.
  virtual IXMLNode DocumentElement() = 0;
  // Makes a new root element (EXMLDocError when there already is one); the
  // namespace rules of IXMLNode::AddChild apply.
  virtual IXMLNode AddChild(std::string_view tagName, std::string_view namespaceURI = {}) = 0;
  // The next prefix not bound at `node`: PrefixBase and a per-document
  // counter from 1 ("NS1", "NS2", ...), skipping (and consuming) numbers whose
  // prefix is bound in scope at `node`.
  virtual std::string GeneratePrefix(const IXMLNode &node) = 0;

  // Replaces the tree by the document in `stream`, read whole from position 0
  // (EDOMParseError on failure, the old tree kept).
  virtual void LoadFromStream(TStream &stream) = 0;
  // The same from bytes in memory (encoding detected as for streams).
  virtual void LoadFromXML(std::string_view xml) = 0;
  // Writes the document at the stream's position: the XML declaration, a
  // line break, then the tree, all UTF-8.
  virtual void SaveToStream(TStream &stream) = 0;
  // The text SaveToStream writes.
  virtual std::string XML() = 0;
};

// The implementation on pugixml.
class TXMLDocument : public TInterfacedObject, public IXMLDocument {
  VV_CLASS(TXMLDocument)
public:
  TXMLDocument();
  ~TXMLDocument() override;
  TXMLDocument(const TXMLDocument &) = delete;
  TXMLDocument &operator=(const TXMLDocument &) = delete;

  TXMLDocOptions Options() const override { return FOptions; }
  void SetOptions(TXMLDocOptions options) override { FOptions = options; }
  std::string Version() const override { return FVersion; }
  void SetVersion(std::string_view version) override { FVersion = version; }
  std::string Encoding() const override { return FEncoding; }
  void SetEncoding(std::string_view encoding) override { FEncoding = encoding; }
  std::string NodeIndentStr() const override { return FIndent; }
  void SetNodeIndentStr(std::string_view indent) override { FIndent = indent; }
  std::string PrefixBase() const override { return FPrefixBase; }
  void SetPrefixBase(std::string_view base) override { FPrefixBase = base; }

  IXMLNode Node() override;
  IXMLNode DocumentElement() override;
  IXMLNode AddChild(std::string_view tagName, std::string_view namespaceURI = {}) override;
  std::string GeneratePrefix(const IXMLNode &node) override;
  void LoadFromStream(TStream &stream) override;
  void LoadFromXML(std::string_view xml) override;
  void SaveToStream(TStream &stream) override;
  std::string XML() override;

private:
  friend class IXMLNode;
  friend class TXMLNodeList;
  friend class TXMLAttrList;
  struct TImpl;
  TImpl *FImpl;
  TXMLDocOptions FOptions = kDefaultDocOptions;
  std::string FVersion = "1.0";
  std::string FEncoding;
  std::string FIndent = "  ";
  std::string FPrefixBase = "NS";
  int FPrefixCounter = 0;
};

// A new, empty document with the declaration version `version` and the
// options kDefaultDocOptions.
IPtr<IXMLDocument> NewXMLDocument(std::string_view version = "1.0");

} // namespace vv
