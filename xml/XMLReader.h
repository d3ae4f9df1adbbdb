// A read-only view of one XML document in memory, for reading large messages
// without building a tree.
//
// The reader checks the whole document once, as the DOM loader
// (TXMLDocument::LoadFromXML) would: it accepts exactly what the DOM
// accepts, and refuses the rest with the DOM's own EDOMParseError. Then
// cursors, light handles on elements, walk it: every answer a cursor gives
// is the answer the same operation gives on the corresponding element of the
// DOM built from the same bytes. What it keeps beside the text: sixteen
// bytes per element that declares namespaces (and the declared values that
// needed decoding), and O(depth) while checking. Nothing recurses.
//
// A refusal costs no more than the check, as a rule: the reader words the
// parser's faults (a document cut short, a broken tag) itself. For a fault
// that only the DOM's checks of its finished tree find (an undeclared
// prefix, a bad reference, a repeated attribute, a second root, text at
// the top), a document type or a bad declaration, it runs the DOM loader on
// the same bytes for the DOM's message, at the DOM's cost.
//
// Cursors walk from the text alone: finding the next sibling of an element
// passes over the element's content, unless its children were just walked
// to their end (the reader remembers the end of the last element whose
// children ran out). So walking every child of an element is linear, and so
// is a depth-first walk of the whole document.
//
// A reader is used by one thread at a time (that memory is not shared).
// Text is UTF-8; views returned point into the document or the reader and
// stay valid for the reader's life.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "xml/XMLReaderCheck.h"

namespace vv {

class TXMLReader;

// An element of a reader's document, copied by value; valid while its
// reader lives. A default-constructed cursor is null: queries on it return
// empty values and null cursors.
class TXMLCursor {
public:
  TXMLCursor() = default;
  explicit operator bool() const { return FTag != nullptr; }
  // The same element of the same reader.
  friend bool operator==(const TXMLCursor &a, const TXMLCursor &b) {
    return a.FTag == b.FTag && a.FReader == b.FReader;
  }

  // The qualified name as written ("soap:Body"), and its parts around the
  // first colon.
  std::string_view NodeName() const;
  std::string_view LocalName() const;
  std::string_view Prefix() const;
  // The namespace of the element's name: the binding of its prefix (or of
  // the default namespace) in scope; empty when unbound.
  std::string_view NamespaceURI() const;
  // The URI bound to `prefix` ("" = the default namespace) at this element;
  // "xml" and "xmlns" are bound implicitly. Empty when unbound.
  std::string_view FindNamespaceURI(std::string_view prefix) const;

  // Any child node: element, text, CDATA section, comment or processing
  // instruction (text of blanks only is no node).
  bool HasChildNodes() const;
  TXMLCursor FirstChildElement() const;
  TXMLCursor NextSiblingElement() const;

  // Any attribute, namespace declarations included.
  bool HasAttributes() const;
  // The value of the attribute of that full name ("id", "xsi:type",
  // "xmlns:p"); null when absent.
  std::optional<std::string> GetAttribute(std::string_view name) const;
  // The value of the attribute with this local name (a prefix in `name` is
  // ignored) in this namespace; unprefixed attributes are in no namespace,
  // declarations in the xmlns namespace. Null when absent.
  std::optional<std::string> GetAttributeNS(std::string_view name,
                                            std::string_view namespaceURI) const;

  // The text read as the element's value: empty without child nodes; the
  // value of a single text or CDATA child; otherwise the XML of every child
  // node, concatenated. A view into the document when the value is there as
  // it stands, else into `scratch`, which the caller reuses.
  std::string_view ValueText(std::string &scratch) const;
  // The element serialised with its subtree, exactly as the DOM's
  // IXMLNode::XML writes it.
  std::string XML() const;

private:
  friend class TXMLReader;
  TXMLCursor(const TXMLReader *reader, const char *tag, const char *parent, uint32_t scope);
  // The byte after the start tag's '>'.
  const char *Content() const;
  TXMLCursor ElementAt(const char *tag, const char *parent, uint32_t parentScope) const;
  template <class F> bool ForEachAttribute(F &&visit) const;
  std::string_view Lookup(std::string_view prefix) const;

  const TXMLReader *FReader = nullptr;
  const char *FTag = nullptr;    // the '<' of the start tag
  const char *FParent = nullptr; // the parent's '<'; null for the document element
  uint32_t FScope = 0;           // the closest declaring element, itself included
  uint32_t FTagLen = 0;          // the start tag's length; 0 when it does not fit
};

class TXMLReader {
public:
  // Checks the whole document and keeps it. `xml` is raw bytes in any
  // encoding the DOM accepts. UTF-8 input is not copied: the caller keeps the
  // bytes alive and unchanged for the reader's life. Other encodings are
  // decoded into a copy the reader owns. A document the DOM loader refuses
  // raises the EDOMParseError that the DOM loader raises for it.
  explicit TXMLReader(std::string_view xml);
  TXMLReader(const TXMLReader &) = delete;
  TXMLReader &operator=(const TXMLReader &) = delete;

  // The document element (every accepted document has one).
  TXMLCursor DocumentElement() const;
  // The document's text as the cursors read it: UTF-8, without byte-order
  // mark.
  std::string_view Text() const { return FText; }

private:
  friend class TXMLCursor;
  uint32_t ScopeAt(const char *tag, uint32_t parentScope) const;
  [[noreturn]] void Refuse(std::string_view xml, const xmlreadercheck::TRefusal &refusal) const;

  std::string FOwned; // the decoded text, when the input was not UTF-8
  std::string_view FText;
  xmlreadercheck::TDocumentIndex FIndex;
  // The element whose children were last walked to their end, and the byte
  // after its end tag.
  mutable const char *FEndedTag = nullptr;
  mutable const char *FEndedAt = nullptr;
  // The last namespace lookup (siblings share their scope, and mostly ask
  // for the same prefix).
  mutable uint32_t FFoundScope = 0;
  mutable std::string FFoundPrefix;
  mutable std::string_view FFoundURI;
};

} // namespace vv
