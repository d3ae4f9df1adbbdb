#include "xml/XMLReader.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "xml/XMLChars.h"
#include "xml/XMLDoc.h"
#include "xml/XMLNames.h"
#include "xml/XMLScan.h"
#include "xml/XMLText.h"

namespace vv {

namespace {

using xmlchars::IsNameChar;
using xmlchars::IsSpace;
using xmlns::IsDecl;
using xmlns::LocalOf;
using xmlns::PrefixOf;

// Everything below reads a document the check accepted, so every construct
// in it is complete; the bounds are kept all the same, so that no read
// leaves the text whatever happens.

const char *SkipName(const char *p, const char *end) {
  while (p < end && IsNameChar(*p)) ++p;
  return p;
}

const char *SkipSpace(const char *p, const char *end) {
  while (p < end && IsSpace(*p)) ++p;
  return p;
}

// The first `what` from `p`, or `end`.
const char *Find(const char *p, const char *end, std::string_view what) {
  size_t at = std::string_view(p, size_t(end - p)).find(what);
  return at == std::string_view::npos ? end : p + at;
}

// The byte after `what` from `p`, or `end`.
const char *After(const char *p, const char *end, std::string_view what) {
  const char *at = Find(p, end, what);
  return at == end ? end : at + what.size();
}

const char *NextTag(const char *p, const char *end) {
  const char *lt = xmlscan::Find(p, end, '<');
  return lt + 1 < end ? lt : nullptr;
}

// The byte after the start tag at `tag`: past its name, then past quoted
// values (which may hold '>') to its '>'.
const char *SkipStartTag(const char *tag, const char *end) {
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
const char *SkipSpecial(const char *lt, const char *end) {
  if (lt[1] == '?') return After(lt + 2, end, "?>");
  if (lt + 2 < end && lt[2] == '-') return After(lt + 4, end, "-->");
  return After(lt + 9, end, "]]>");
}

const char *AfterEndTag(const char *lt, const char *end) {
  const char *gt = xmlscan::Find(lt, end, '>');
  return gt == end ? end : gt + 1;
}

// From `p` in an element's content: the '<' of the next child element, or
// null when the content ends first (`close` gets the '<' of the end tag).
const char *NextChild(const char *p, const char *end, const char *&close) {
  while (const char *lt = NextTag(p, end)) {
    char c = lt[1];
    if (c == '/') {
      close = lt;
      return nullptr;
    }
    if (c != '!' && c != '?') return lt;
    p = SkipSpecial(lt, end);
  }
  close = end;
  return nullptr;
}

// The byte after the end tag that closes the content starting at `p`.
const char *SkipContent(const char *p, const char *end) {
  size_t depth = 1;
  while (const char *lt = NextTag(p, end)) {
    char c = lt[1];
    if (c == '/') {
      p = AfterEndTag(lt, end);
      if (--depth == 0) return p;
    } else if (c == '!' || c == '?') {
      p = SkipSpecial(lt, end);
    } else {
      p = SkipStartTag(lt, end);
      if (p[-2] != '/') ++depth;
    }
  }
  return end;
}

// The end tag's '<' right after blanks from `p`, or null.
const char *EndTagAfterSpace(const char *p, const char *end) {
  p = SkipSpace(p, end);
  return p + 1 < end && p[0] == '<' && p[1] == '/' ? p : nullptr;
}

// True when declaration `name` binds `prefix` ("" = the default namespace).
bool Declares(std::string_view name, std::string_view prefix) {
  if (prefix.empty()) return name == "xmlns";
  return name.size() == 6 + prefix.size() && name.compare(0, 6, "xmlns:") == 0 &&
         name.substr(6) == prefix;
}

// Raw character data (`text`) or CDATA content as the DOM reads it: a view
// of `raw` when nothing changes, else decoded into `scratch`.
std::string_view Value(std::string_view raw, bool text, std::string &scratch) {
  const char *end = raw.data() + raw.size();
  if ((text ? xmlscan::Find(raw.data(), end, '&', '\r') : xmlscan::Find(raw.data(), end, '\r')) ==
      end)
    return raw;
  if (text) {
    xmltext::DecodeValue(raw, false, scratch);
    return scratch;
  }
  scratch.clear();
  for (size_t i = 0; i < raw.size(); ++i) {
    scratch += raw[i] == '\r' ? '\n' : raw[i];
    if (raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n') ++i;
  }
  return scratch;
}

std::string AttributeValue(std::string_view raw) {
  if (!xmlreadercheck::NeedsDecoding(raw)) return std::string(raw);
  std::string out;
  xmltext::DecodeValue(raw, true, out);
  return out;
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

// The serialiser, writing what xmlwriter::WriteNode writes for the same
// nodes in the DOM.
class TWriter {
public:
  TWriter(std::string &out, const char *end) : FOut(out), FEnd(end) {}

  // The nodes from `p` up to the end tag closing the content they are in;
  // with `single`, only the element at `p`.
  void Nodes(const char *p, bool single);

private:
  void StartTag(const char *tag);
  void Text(const char *p, const char *lt);
  const char *Special(const char *lt);
  void Comment(std::string_view v);

  std::string &FOut;
  const char *const FEnd;
  std::string FBuf;
};

void TWriter::Nodes(const char *p, bool single) {
  size_t depth = 0;
  while (p < FEnd) {
    const char *lt = NextTag(p, FEnd);
    if (!lt) return;
    if (lt != p) Text(p, lt);
    char c = lt[1];
    if (c == '/') {
      if (depth == 0) return;
      const char *name = lt + 2;
      FOut.append("</").append(name, size_t(SkipName(name, FEnd) - name)) += '>';
      p = AfterEndTag(lt, FEnd);
      if (--depth == 0 && single) return;
    } else if (c == '!' || c == '?') {
      p = Special(lt);
    } else {
      StartTag(lt);
      p = SkipStartTag(lt, FEnd);
      bool selfClosing = p[-2] == '/';
      const char *close = selfClosing ? nullptr : EndTagAfterSpace(p, FEnd);
      if (selfClosing || close) { // no child node: written as an empty element
        FOut += "/>";
        if (close) p = AfterEndTag(close, FEnd);
        if (depth == 0 && single) return;
      } else {
        FOut += '>';
        ++depth;
      }
    }
  }
}

void TWriter::StartTag(const char *tag) {
  FOut.append(tag, size_t(SkipName(tag + 1, FEnd) - tag));
  ForEachAttribute(tag, FEnd, [&](std::string_view name, std::string_view raw) {
    FOut.append(" ").append(name).append("=\"");
    xmltext::EscapeAttr(FOut, AttributeValue(raw));
    FOut += '"';
    return false;
  });
}

void TWriter::Text(const char *p, const char *lt) {
  if (SkipSpace(p, lt) == lt) return; // blanks only: no node
  xmltext::EscapeText(FOut, Value(std::string_view(p, size_t(lt - p)), true, FBuf));
}

// A comment, CDATA section or processing instruction; returns the byte
// after it.
const char *TWriter::Special(const char *lt) {
  if (lt[1] == '?') {
    const char *target = lt + 2, *end = SkipName(target, FEnd);
    const char *close = Find(end, FEnd, "?>");
    const char *value = SkipSpace(end, close);
    FOut.append("<?").append(target, size_t(end - target));
    if (value != close) FOut.append(" ").append(value, size_t(close - value));
    FOut += "?>";
    return close == FEnd ? FEnd : close + 2;
  }
  bool comment = lt[2] == '-';
  const char *start = lt + (comment ? 4 : 9);
  const char *close = Find(start, FEnd, comment ? "-->" : "]]>");
  std::string_view v = Value(std::string_view(start, size_t(close - start)), false, FBuf);
  if (comment) {
    Comment(v);
  } else {
    FOut.append("<![CDATA[").append(v) += "]]>";
  }
  return close == FEnd ? FEnd : close + 3;
}

// "--" cannot stand inside a comment, nor "-" at its end: a blank follows
// each such '-'.
void TWriter::Comment(std::string_view v) {
  FOut += "<!--";
  for (size_t i = 0; i < v.size(); ++i) {
    FOut += v[i];
    if (v[i] == '-' && (i + 1 == v.size() || v[i + 1] == '-')) FOut += ' ';
  }
  FOut += "-->";
}

} // namespace

// --- TXMLReader -------------------------------------------------------------

TXMLReader::TXMLReader(std::string_view xml) {
  if (std::optional<std::string_view> body = xmltext::Utf8Body(xml)) {
    FText = *body;
  } else {
    FOwned = xmltext::DecodeToUtf8(xml);
    FText = FOwned;
  }
  xmltext::CheckCharacters(FText);
  xmlreadercheck::TRefusal refusal;
  if (!xmlreadercheck::Check(FText, FIndex, refusal)) Refuse(xml, refusal);
}

// A fault of the parser's is worded here as the DOM words it. For the rest,
// the DOM loader gets the same bytes to say which fault it names first, and
// how: building its tree costs what loading it always costs, on documents
// refused only.
void TXMLReader::Refuse(std::string_view xml, const xmlreadercheck::TRefusal &refusal) const {
  if (!refusal.Exact) NewXMLDocument()->LoadFromXML(xml);
  xmltext::RaiseParseError(refusal.Reason, FText, refusal.Offset); // (the DOM took it: unexpected)
}

TXMLCursor TXMLReader::DocumentElement() const {
  if (!FIndex.Root) return {};
  return TXMLCursor(this, FIndex.Root, nullptr, ScopeAt(FIndex.Root, 0));
}

// The scope of the element at `tag`: its own when it declares, else its
// parent's.
uint32_t TXMLReader::ScopeAt(const char *tag, uint32_t parentScope) const {
  const auto &scopes = FIndex.Scopes;
  if (scopes.size() == 1 || scopes.back().Tag < tag) return parentScope;
  auto it =
      std::lower_bound(scopes.begin() + 1, scopes.end(), tag,
                       [](const xmlreadercheck::TNsScope &s, const char *t) { return s.Tag < t; });
  return it != scopes.end() && it->Tag == tag ? uint32_t(it - scopes.begin()) : parentScope;
}

// --- TXMLCursor: identity -----------------------------------------------------

TXMLCursor::TXMLCursor(const TXMLReader *reader, const char *tag, const char *parent,
                       uint32_t scope)
    : FReader(reader), FTag(tag), FParent(parent), FScope(scope) {
  const char *end = reader->FText.data() + reader->FText.size();
  size_t len = size_t(SkipStartTag(tag, end) - tag);
  FTagLen = len <= std::numeric_limits<uint32_t>::max() ? uint32_t(len) : 0;
}

const char *TXMLCursor::Content() const {
  if (FTagLen) return FTag + FTagLen;
  return SkipStartTag(FTag, FReader->FText.data() + FReader->FText.size());
}

std::string_view TXMLCursor::NodeName() const {
  if (!FTag) return {};
  const char *end = SkipName(FTag + 1, FReader->FText.data() + FReader->FText.size());
  return std::string_view(FTag + 1, size_t(end - FTag - 1));
}

std::string_view TXMLCursor::LocalName() const { return LocalOf(NodeName()); }

std::string_view TXMLCursor::Prefix() const { return PrefixOf(NodeName()); }

std::string_view TXMLCursor::NamespaceURI() const {
  if (!FTag) return {};
  return FindNamespaceURI(Prefix());
}

std::string_view TXMLCursor::FindNamespaceURI(std::string_view prefix) const {
  if (!FTag) return {};
  if (prefix == "xml") return kXmlNamespace;
  if (prefix == "xmlns") return kXmlnsNamespace;
  if (FScope == 0) return {};
  if (FScope == FReader->FFoundScope && prefix == FReader->FFoundPrefix) return FReader->FFoundURI;
  FReader->FFoundScope = FScope;
  FReader->FFoundPrefix.assign(prefix);
  FReader->FFoundURI = Lookup(prefix);
  return FReader->FFoundURI;
}

std::string_view TXMLCursor::Lookup(std::string_view prefix) const {
  const xmlreadercheck::TDocumentIndex &index = FReader->FIndex;
  const char *end = FReader->FText.data() + FReader->FText.size();
  for (uint32_t s = FScope; s != 0; s = index.Scopes[s].Parent) {
    // The declarations are read again from the start tag; those that needed
    // decoding were kept, in order.
    uint32_t decoded = index.Scopes[s].Decoded;
    std::optional<std::string_view> found;
    vv::ForEachAttribute(index.Scopes[s].Tag, end,
                         [&](std::string_view name, std::string_view raw) {
                           if (!IsDecl(name)) return false;
                           bool kept = xmlreadercheck::NeedsDecoding(raw);
                           if (Declares(name, prefix)) {
                             found = kept ? std::string_view(index.DecodedValues[decoded]) : raw;
                             return true;
                           }
                           decoded += kept;
                           return false;
                         });
    if (found) return *found;
  }
  return {};
}

// --- navigation -------------------------------------------------------------

TXMLCursor TXMLCursor::ElementAt(const char *tag, const char *parent, uint32_t parentScope) const {
  return TXMLCursor(FReader, tag, parent, FReader->ScopeAt(tag, parentScope));
}

bool TXMLCursor::HasChildNodes() const {
  if (!FTag) return false;
  const char *c = Content();
  return c[-2] != '/' && !EndTagAfterSpace(c, FReader->FText.data() + FReader->FText.size());
}

TXMLCursor TXMLCursor::FirstChildElement() const {
  if (!FTag) return {};
  const char *c = Content();
  if (c[-2] == '/') return {};
  const char *end = FReader->FText.data() + FReader->FText.size(), *close;
  if (const char *child = NextChild(c, end, close)) return ElementAt(child, FTag, FScope);
  FReader->FEndedTag = FTag;
  FReader->FEndedAt = AfterEndTag(close, end);
  return {};
}

TXMLCursor TXMLCursor::NextSiblingElement() const {
  if (!FTag || !FParent) return {};
  const char *end = FReader->FText.data() + FReader->FText.size(), *after;
  if (FReader->FEndedTag == FTag) {
    after = FReader->FEndedAt;
  } else {
    const char *c = Content();
    after = c[-2] == '/' ? c : SkipContent(c, end);
  }
  const xmlreadercheck::TNsScope &own = FReader->FIndex.Scopes[FScope];
  uint32_t parentScope = own.Tag == FTag ? own.Parent : FScope;
  const char *close;
  if (const char *next = NextChild(after, end, close)) return ElementAt(next, FParent, parentScope);
  FReader->FEndedTag = FParent;
  FReader->FEndedAt = AfterEndTag(close, end);
  return {};
}

// --- attributes -------------------------------------------------------------

template <class F> bool TXMLCursor::ForEachAttribute(F &&visit) const {
  return FTag && vv::ForEachAttribute(FTag, FReader->FText.data() + FReader->FText.size(), visit);
}

bool TXMLCursor::HasAttributes() const {
  return ForEachAttribute([](std::string_view, std::string_view) { return true; });
}

std::optional<std::string> TXMLCursor::GetAttribute(std::string_view name) const {
  std::optional<std::string> value;
  ForEachAttribute([&](std::string_view aname, std::string_view raw) {
    if (aname != name) return false;
    value = AttributeValue(raw);
    return true;
  });
  return value;
}

std::optional<std::string> TXMLCursor::GetAttributeNS(std::string_view name,
                                                      std::string_view namespaceURI) const {
  std::string_view local = LocalOf(name);
  std::optional<std::string> value;
  ForEachAttribute([&](std::string_view aname, std::string_view raw) {
    if (LocalOf(aname) != local) return false;
    std::string_view prefix = PrefixOf(aname);
    std::string_view uri = IsDecl(aname)    ? kXmlnsNamespace
                           : prefix.empty() ? std::string_view()
                                            : FindNamespaceURI(prefix);
    if (uri != namespaceURI) return false;
    value = AttributeValue(raw);
    return true;
  });
  return value;
}

// --- content ----------------------------------------------------------------

std::string_view TXMLCursor::ValueText(std::string &scratch) const {
  if (!FTag) return {};
  const char *c = Content();
  if (c[-2] == '/') return {};
  const char *end = FReader->FText.data() + FReader->FText.size();
  const char *p = SkipSpace(c, end);
  if (p + 1 >= end) return {};
  if (p[0] != '<') { // text first: alone when the end tag follows it
    const char *lt = NextTag(p, end);
    if (lt && lt[1] == '/') return Value(std::string_view(c, size_t(lt - c)), true, scratch);
  } else if (p[1] == '/') {
    return {};
  } else if (p[1] == '!' && p + 2 < end && p[2] == '[') { // CDATA: alone when only blanks follow
    const char *close = Find(p + 9, end, "]]>");
    if (close != end && EndTagAfterSpace(close + 3, end))
      return Value(std::string_view(p + 9, size_t(close - p - 9)), false, scratch);
  }
  scratch.clear();
  TWriter(scratch, end).Nodes(c, false);
  return scratch;
}

std::string TXMLCursor::Text() const {
  std::string out, buf;
  if (!FTag) return out;
  const char *end = FReader->FText.data() + FReader->FText.size();
  const char *p = Content();
  if (p[-2] == '/') return out;
  for (size_t depth = 0; p < end;) {
    const char *lt = NextTag(p, end);
    if (!lt) break;
    if (lt != p && SkipSpace(p, lt) != lt) // blanks only are no node
      out.append(Value(std::string_view(p, size_t(lt - p)), true, buf));
    if (lt[1] == '/') {
      if (depth-- == 0) break;
      p = AfterEndTag(lt, end);
    } else if (lt[1] == '!' && lt + 2 < end && lt[2] == '[') {
      const char *start = lt + 9, *close = Find(start, end, "]]>");
      out.append(Value(std::string_view(start, size_t(close - start)), false, buf));
      p = close == end ? end : close + 3;
    } else if (lt[1] == '!' || lt[1] == '?') {
      p = SkipSpecial(lt, end);
    } else {
      p = SkipStartTag(lt, end);
      if (p[-2] != '/') ++depth;
    }
  }
  return out;
}

std::string TXMLCursor::XML() const {
  std::string out;
  if (FTag) TWriter(out, FReader->FText.data() + FReader->FText.size()).Nodes(FTag, true);
  return out;
}

} // namespace vv
