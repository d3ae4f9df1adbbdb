// The one XML parser: a pull parser over a document in memory, which the
// DOM's loading and the pull reader (XMLReader.h) both read through, so
// that one grammar and one set of messages serve them.
//
// The grammar is XML 1.0 (fifth edition) with Namespaces in XML 1.0, minus
// document types, which are refused: every name is a qualified name, every
// prefix is bound, no prefix is undeclared, the reserved prefixes keep their
// namespaces, no attribute is repeated (by name, nor by namespace and local
// name), references name the five predefined entities or characters XML
// allows, text holds no "]]>", comments no "--", and one element holds the
// rest. Nothing recurses, and memory grows with the depth of the document
// (sixteen bytes a level) and its namespace declarations only.
//
// A fault raises EDOMParseError: the reason, CR LF, "Line: " and the line
// number, CR LF, and the start of the offending line (xmltext::RaiseParseError).
//
// The lexical steps below the parser (names, tags, the ends of comments,
// sections and instructions) are also the steps by which the reader's
// cursors walk a document the parser accepted.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "xml/XMLScan.h"

namespace vv {

// An attribute as a start tag holds it.
struct TXMLRawAttr {
  std::string_view Name; // the qualified name as written
  std::string_view Raw;  // the value between the quotes, references unresolved
  bool Plain;            // Raw is the value: no reference, tab or line end in it
};

class TXMLParser {
public:
  enum class TToken : uint8_t { StartElement, EndElement, Text, CData, Comment, PI, End };
  enum class TMode : uint8_t {
    // A whole document, checked.
    Document,
    // One element of a document the parser accepted, from its '<' to its
    // end tag, tokenised without the checks (its prefixes may be bound
    // outside it).
    Fragment,
  };

  // `text`: UTF-8 without a byte-order mark whose characters XML allows
  // (xmltext::CheckCharacters); it must stay where it is while parsing.
  explicit TXMLParser(std::string_view text, TMode mode = TMode::Document);
  TXMLParser(const TXMLParser &) = delete;
  TXMLParser &operator=(const TXMLParser &) = delete;

  // The next node. An empty-element tag gives StartElement and then, at
  // once, EndElement; text of blanks only is no node; the XML declaration is
  // no node (see Version, Encoding).
  TToken Next();

  // StartElement, EndElement: the element's qualified name; PI: the target.
  std::string_view Name() const { return FName; }
  // StartElement: the '<' of its start tag, and its attributes in order
  // (valid until the next call).
  const char *Tag() const { return FTag; }
  const std::vector<TXMLRawAttr> &Attributes() const { return FAttrs; }
  // StartElement: whether its start tag declares namespaces.
  bool Declares() const { return FDeclares; }
  // StartElement, EndElement: the element's level (the document element's
  // is 1).
  size_t Depth() const { return FOpen.size() + (FToken == TToken::EndElement); }
  // The byte after the node just read (after an end tag: after its '>').
  const char *Pos() const { return P; }
  // Text, CData, Comment, PI: the value as written.
  std::string_view Raw() const { return FRaw; }
  // The value as read: line ends as LF, and in text the references resolved.
  // A view of the document when that changes nothing, else of `scratch`.
  std::string_view Value(std::string &scratch) const;
  // What the XML declaration said; empty without one.
  std::string_view Version() const { return FVersion; }
  std::string_view Encoding() const { return FEncoding; }

private:
  struct TOpen {
    const char *Name; // of the open element, to match its end tag
    uint32_t Len;
    uint32_t DeclMark; // FDecls' size before its declarations
  };
  struct TDecl {
    std::string_view Prefix;
    std::string Uri;
    int Shadowed; // the declaration of the same prefix it hides, or -1
  };

  [[noreturn]] void Fail(std::string_view reason, const char *at) const;
  void Declaration();
  TToken StartTag();
  TToken EndTag();
  bool Question(); // true: an instruction was read (false: the declaration)
  TToken Bang();
  const char *Text(const char *p);
  const char *AttributeValue(const char *p, char quote, bool &plain);
  const char *Reference(const char *amp);
  void Namespaces();
  void CheckDuplicates();
  const std::string *Bound(std::string_view prefix);
  void Close(const TOpen &open);

  const char *const B;
  const char *const E;
  const char *P;
  const TMode FMode;
  TToken FToken = TToken::End;
  bool FSeenRoot = false;
  bool FPendingEnd = false; // an empty-element tag: its end comes next
  bool FDeclares = false;
  std::string_view FName, FRaw, FVersion, FEncoding;
  const char *FTag = nullptr;
  std::vector<TXMLRawAttr> FAttrs;
  std::vector<TOpen> FOpen;
  std::vector<TDecl> FDecls;
  // The innermost declaration of each prefix in scope, by prefix.
  std::unordered_map<std::string_view, int> FBinding;
  std::string_view FFoundPrefix; // the prefix looked up last, and its binding
  const std::string *FFound = nullptr;
  bool FFoundValid = false;
  std::string FScratch;
};

// The lexical steps that walk a document the parser accepted.
namespace xmllex {

inline bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
// The bytes that end a name in an accepted document, by table: names are
// skipped byte by byte all the time.
struct TNameEnds {
  bool Of[256] = {};
  constexpr TNameEnds() {
    for (char c : {' ', '\t', '\n', '\r', '>', '/', '=', '?'})
      Of[static_cast<unsigned char>(c)] = true;
  }
};
inline constexpr TNameEnds kNameEnds;
inline bool EndsName(char c) { return kNameEnds.Of[static_cast<unsigned char>(c)]; }

inline const char *SkipSpace(const char *p, const char *end) {
  while (p < end && IsSpace(*p)) ++p;
  return p;
}
inline const char *SkipName(const char *p, const char *end) {
  while (p < end && !EndsName(*p)) ++p;
  return p;
}
// The first `what` from `p`, or `end`.
inline const char *Find(const char *p, const char *end, std::string_view what) {
  while ((p = xmlscan::Find(p, end, what[0])) < end) {
    if (size_t(end - p) < what.size()) return end;
    if (std::string_view(p, what.size()) == what) return p;
    ++p;
  }
  return end;
}
// The byte after the start tag at `tag` (quoted values may hold '>').
inline const char *StartTagEnd(const char *tag, const char *end) {
  const char *p = SkipName(tag + 1, end);
  while (p < end) {
    char c = *p;
    if (c == '>') return p + 1;
    if (c == '"' || c == '\'') {
      p = xmlscan::Find(p + 1, end, c);
      if (p == end) return end;
    }
    ++p;
  }
  return end;
}
// The byte after the comment, CDATA section or instruction at `lt`.
inline const char *SpecialEnd(const char *lt, const char *end) {
  const char *close;
  size_t skip;
  if (lt[1] == '?') {
    close = Find(lt + 2, end, "?>"), skip = 2;
  } else if (lt + 2 < end && lt[2] == '-') {
    close = Find(lt + 4, end, "-->"), skip = 3;
  } else {
    close = Find(lt + 9, end, "]]>"), skip = 3;
  }
  return close == end ? end : close + skip;
}
// The byte after the end tag at `lt`.
inline const char *EndTagEnd(const char *lt, const char *end) {
  const char *gt = xmlscan::Find(lt, end, '>');
  return gt == end ? end : gt + 1;
}
// Calls visit(name, raw value) for each attribute of the start tag at `tag`
// in order until it returns true; returns whether it did.
template <class F> bool ForEachAttribute(const char *tag, const char *end, F &&visit) {
  const char *p = SkipName(tag + 1, end);
  while (true) {
    p = SkipSpace(p, end);
    if (p >= end || *p == '>' || *p == '/') return false;
    const char *name = p;
    p = SkipName(p, end);
    std::string_view aname(name, size_t(p - name));
    p = SkipSpace(SkipSpace(p, end) + 1, end); // past '='
    if (p >= end) return false;
    const char *close = xmlscan::Find(p + 1, end, *p);
    if (close == end) return false;
    if (visit(aname, std::string_view(p + 1, size_t(close - p - 1)))) return true;
    p = close + 1;
  }
}

} // namespace xmllex

} // namespace vv
