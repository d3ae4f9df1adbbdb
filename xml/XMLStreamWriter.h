// A writer of XML documents that never holds a tree and only goes forward.
//
// Elements are written as they are made, in document order, through the
// serialiser (XMLSerializer.h). An element's start tag takes attributes and
// namespace declarations until the element gets content (a child or text)
// or ends; then it is written, whole and final. Names, declarations and
// escaping follow the DOM's rules (XMLDoc.h: AddChild, SetAttribute,
// DeclareNamespace, FindNamespaceDecl, GeneratePrefix, SetText), so that a
// document made here with the same steps is byte for byte the one the DOM
// would save. A builder that wants a declaration on an ancestor makes it
// before the ancestor's start tag is written; later, it is refused.
//
// Memory: the open elements with their names and declarations, and the
// attributes of the one start tag still open; nothing per element written.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "xml/XMLSerializer.h"

namespace vv {

class TXMLStreamWriter {
public:
  // Whether a name is checked: Trusted is for names the caller checked
  // once already (its own fixed names, a registry's names per message).
  enum class TNames { Check, Trusted };
  // An element, by its making number; 0 is the document itself.
  using THandle = uint32_t;
  static constexpr THandle kDocument = 0;

  explicit TXMLStreamWriter(TXMLOutput &out);
  TXMLStreamWriter(const TXMLStreamWriter &) = delete;
  TXMLStreamWriter &operator=(const TXMLStreamWriter &) = delete;

  // The XML declaration (XMLSerializer.h: Declaration).
  void Declaration(std::string_view version, std::string_view encoding);

  // A child element of the current element (or the document element), with
  // the namespace declaration its name needs: as IXMLNode::AddChild(tagName,
  // namespaceURI) with doNamespaceDecl. Returns it; it is now current.
  THandle StartElement(std::string_view qname, std::string_view namespaceURI,
                       TNames names = TNames::Check);
  // Closes the current element: "<a/>" when it has no content.
  void EndElement();
  // The one attribute of a leaf element; `Escaped`, when given, is `Value`
  // escaped already (a value written into many elements is escaped once).
  struct TLeafAttr {
    std::string_view Name, Value;
    const std::string *Escaped = nullptr;
  };
  // An element with at most one attribute (none when its name is empty) and
  // some text, made and closed at once: the same bytes as StartElement,
  // Attribute, Text and EndElement, with much less bookkeeping.
  void LeafElement(std::string_view qname, std::string_view namespaceURI, const TLeafAttr &attr,
                   std::string_view text, TNames names = TNames::Check);
  // Sets an attribute of `el`, whose start tag must still be open (appended,
  // or its value replaced): as IXMLNode::SetAttribute.
  void Attribute(THandle el, std::string_view name, std::string_view value,
                 TNames names = TNames::Check);
  void Attribute(std::string_view name, std::string_view value, TNames names = TNames::Check) {
    Attribute(Current(), name, value, names);
  }
  // Character data of the current element (nothing when empty): as
  // IXMLNode::SetText on an element without children; appended otherwise.
  void Text(std::string_view value);

  // As IXMLNode::DeclareNamespace on `el`, whose start tag must still be
  // open unless the prefix binds the URI already.
  void DeclareNamespace(THandle el, std::string_view prefix, std::string_view uri);
  // As IXMLNode::FindNamespaceDecl at the open element `el`: the prefix of
  // the closest declaration of `uri` in scope (ASCII case ignored; "" for a
  // default declaration). False when there is none.
  bool FindNamespaceDecl(THandle el, std::string_view uri, std::string &prefix) const;
  // As IXMLDocument::GeneratePrefix at `el`: "NS1", "NS2", ... skipping
  // prefixes bound in scope; one counter per document.
  std::string GeneratePrefix(THandle el);
  // Whether `el` still takes attributes and declarations.
  bool TagOpen(THandle el) const;

  // The current element (kDocument before the document element).
  THandle Current() const { return FStack.empty() ? kDocument : FStack.back().Id; }
  // Ends the document (every element closed) and its output.
  void Finish();

private:
  struct TElem {
    THandle Id;
    std::string Name;
    size_t DeclBegin; // its declarations in FDecls
    long Default;     // the declaration of the default namespace in scope, or -1
  };
  struct TDecl {
    std::string Prefix, Uri;
  };
  struct TAttr {
    std::string Name, Value;
    bool Escaped;
  };
  // The place of `el` in FStack, or -1.
  long Find(THandle el) const;
  // The URI bound to `prefix` at FStack[at] (at < 0: none), and whether any.
  bool Binding(long at, std::string_view prefix, std::string_view &uri) const;
  void SetAttr(std::string_view name, std::string_view value, bool escaped);
  // The open start tag goes out, whole.
  void WriteTag();

  TXMLSerializer FOut;
  std::vector<TElem> FStack; // the open elements, outermost first
  std::vector<TDecl> FDecls; // their declarations, in order
  std::vector<TAttr> FAttrs; // of the start tag still open
  size_t FAttrCount = 0;     // FAttrs in use (the others are kept for reuse)
  bool FTagOpen = false;     // the innermost element's start tag is not written yet
  bool FDeclared = false;    // an XML declaration precedes the document element
  bool FHasRoot = false;
  uint32_t FNextId = 1;
  int FPrefixCounter = 0;
};

} // namespace vv
