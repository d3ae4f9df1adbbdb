// A read-only view of one XML document in memory, for reading large messages
// without building a tree.
//
// The reader reads the whole document once through the parser
// (XMLParser.h), which refuses what is not well-formed with its
// EDOMParseError, the same the DOM's loading raises. Then cursors, light
// handles on elements, walk it by the parser's lexical steps: every answer
// a cursor gives is the answer the same operation gives on the
// corresponding element of the DOM loaded from the same bytes. What it
// keeps beside the text: sixteen bytes per element that declares
// namespaces (and the declared values that needed decoding). Nothing
// recurses.
//
// Cursors walk from the text alone: finding the next sibling of an element
// passes over the element's content, unless its children were just walked
// to their end (the reader remembers the end of the last element whose
// children ran out) or the element is a large one: for each element of at
// least kMinNotedElement bytes (down to kMaxNotedDepth levels) the parse
// notes where it ends and how many child elements it holds, so that
// passing over the Body of a large message, or counting the records of an
// array, needs no second scan. So walking every child of an element is
// linear, and so is a depth-first walk of the whole document.
//
// A reader is used by one thread at a time (that memory is not shared).
// Text is UTF-8; views returned point into the document or the reader and
// stay valid for the reader's life.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <deque>
#include <vector>

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
  // How many child elements it holds.
  size_t ChildElementCount() const;

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
  // The text of every text and CDATA node under the element, in document
  // order: IXMLNode::Text of an element.
  std::string Text() const;

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

namespace xmlreader {
// An element that declares namespaces: the '<' of its start tag (where its
// declarations are read again when needed), the index of the closest
// declaring ancestor (0: none), and the index in DecodedValues of the first
// of its declaration values that needed decoding.
struct TNsScope {
  const char *Tag;
  uint32_t Parent;
  uint32_t Decoded;
};
// A large element, as its parse found it: the '<' of its start tag, the
// byte after its end, and how many child elements it holds.
struct TLarge {
  const char *Tag;
  const char *End;
  size_t Children;
};
} // namespace xmlreader

class TXMLReader {
public:
  // Reads the whole document and keeps it. `xml` is raw bytes in any
  // encoding the DOM accepts. UTF-8 input is not copied: the caller keeps the
  // bytes alive and unchanged for the reader's life. Other encodings are
  // decoded into a copy the reader owns. A document that is not well-formed
  // raises the parser's EDOMParseError.
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
  // The note of the element at `tag` when it is a large one, else null.
  const xmlreader::TLarge *Large(const char *tag) const;
  void Read();

  std::string FOwned; // the decoded text, when the input was not UTF-8
  std::string_view FText;
  const char *FRoot = nullptr; // the '<' of the document element
  // Declaring elements in document order; entry 0 stands for "none".
  std::vector<xmlreader::TNsScope> FScopes;
  // The values of declarations that needed decoding, in document order.
  std::deque<std::string> FDecodedValues;
  // The large elements, in document order, and the place in it where the
  // last lookup ended (walks go forward, mostly).
  std::vector<xmlreader::TLarge> FLarge;
  mutable size_t FLargeAt = 0;
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
