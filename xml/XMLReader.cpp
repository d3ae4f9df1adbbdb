#include "xml/XMLReader.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "xml/XMLDoc.h"
#include "xml/XMLLimits.h"
#include "xml/XMLNames.h"
#include "xml/XMLParser.h"
#include "xml/XMLScan.h"
#include "xml/XMLSerializer.h"
#include "xml/XMLText.h"

namespace vv {

namespace {

using xmllex::EndTagEnd;
using xmllex::ForEachAttribute;
using xmllex::IsSpace;
using xmllex::SkipName;
using xmllex::SkipSpace;
using xmllex::SpecialEnd;
using xmllex::StartTagEnd;
using xmlns::IsDecl;
using xmlns::LocalOf;
using xmlns::PrefixOf;

// Everything below reads a document the parser accepted, so every
// construct in it is complete; the bounds are kept all the same, so that no
// read leaves the text whatever happens.

// True when a raw attribute value reads otherwise than it is written.
bool NeedsDecoding(std::string_view raw) {
  for (char c : raw)
    if (c == '&' || c == '\t' || c == '\n' || c == '\r') return true;
  return false;
}

const char *NextTag(const char *p, const char *end) {
  const char *lt = xmlscan::Find(p, end, '<');
  return lt + 1 < end ? lt : nullptr;
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
    p = SpecialEnd(lt, end);
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
      p = EndTagEnd(lt, end);
      if (--depth == 0) return p;
    } else if (c == '!' || c == '?') {
      p = SpecialEnd(lt, end);
    } else {
      p = StartTagEnd(lt, end);
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

std::string AttributeValue(std::string_view raw) {
  if (!NeedsDecoding(raw)) return std::string(raw);
  std::string out;
  xmltext::DecodeValue(raw, true, out);
  return out;
}

// The element at `tag` tokenised by the parser, without its checks.
class TFragment : public TXMLParser {
public:
  TFragment(const char *tag, const char *end)
      : TXMLParser(std::string_view(tag, size_t(end - tag)), TMode::Fragment) {}
};

// Writes the node the fragment's parser has just read.
void WriteToken(TXMLSerializer &out, TXMLParser &p, TXMLParser::TToken t, std::string &buf) {
  switch (t) {
  case TXMLParser::TToken::StartElement:
    out.StartTag(p.Name());
    for (const TXMLRawAttr &a : p.Attributes())
      out.Attribute(a.Name, a.Plain ? std::string(a.Raw) : AttributeValue(a.Raw));
    break;
  case TXMLParser::TToken::EndElement:
    out.EndTag(p.Name());
    break;
  case TXMLParser::TToken::Text:
    out.Text(p.Value(buf));
    break;
  case TXMLParser::TToken::CData:
    out.CData(p.Value(buf));
    break;
  case TXMLParser::TToken::Comment:
    out.Comment(p.Value(buf));
    break;
  case TXMLParser::TToken::PI:
    out.PI(p.Name(), p.Value(buf));
    break;
  case TXMLParser::TToken::End:
    break;
  }
}

// The child nodes of the element at `tag`, serialised into `out`.
void WriteContent(std::string &out, const char *tag, const char *end) {
  TXMLOutput o(out);
  TXMLSerializer w(o);
  TFragment p(tag, end);
  std::string buf;
  p.Next(); // the element's own start
  for (TXMLParser::TToken t; (t = p.Next()) != TXMLParser::TToken::End;) {
    if (t == TXMLParser::TToken::EndElement && p.Depth() == 1) break;
    WriteToken(w, p, t, buf);
  }
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
  Read();
}

// Reads the document through the parser, keeping the document element,
// every element that declares namespaces, with its closest declaring
// ancestor, and the large elements.
void TXMLReader::Read() {
  FScopes.assign(1, xmlreader::TNsScope{nullptr, 0, 0});
  TXMLParser parser(FText);
  uint32_t scope = 0;
  std::vector<std::pair<size_t, uint32_t>> open; // declaring elements: depth, outer scope
  // The open elements down to the noted depth: their tags, the child
  // elements each has so far (level 0 is the document), and how many large
  // elements were noted before each began (its large descendants follow).
  const char *tags[kMaxNotedDepth + 1] = {};
  size_t children[kMaxNotedDepth + 1] = {};
  size_t noted[kMaxNotedDepth + 1] = {};
  while (true) {
    TXMLParser::TToken t = parser.Next();
    if (t == TXMLParser::TToken::End) break;
    if (t == TXMLParser::TToken::EndElement) {
      size_t depth = parser.Depth();
      if (depth <= kMaxNotedDepth && size_t(parser.Pos() - tags[depth]) >= kMinNotedElement)
        FLarge.insert(FLarge.begin() + ptrdiff_t(noted[depth]),
                      {tags[depth], parser.Pos(), children[depth]}); // before its descendants
      if (!open.empty() && open.back().first == depth) {
        scope = open.back().second;
        open.pop_back();
      }
      continue;
    }
    if (t != TXMLParser::TToken::StartElement) continue;
    if (size_t depth = parser.Depth(); depth <= kMaxNotedDepth) {
      ++children[depth - 1];
      tags[depth] = parser.Tag();
      children[depth] = 0;
      noted[depth] = FLarge.size();
    } else if (depth == kMaxNotedDepth + 1) {
      ++children[kMaxNotedDepth];
    }
    if (!FRoot) FRoot = parser.Tag();
    if (!parser.Declares()) continue;
    // (Indices fit in 32 bits below some 40 GiB of text.)
    if (FScopes.size() >= UINT32_MAX || FDecodedValues.size() >= UINT32_MAX)
      xmltext::RaiseParseError("Too many namespace declarations.", FText,
                               size_t(parser.Tag() - FText.data()));
    uint32_t decoded = uint32_t(FDecodedValues.size());
    for (const TXMLRawAttr &a : parser.Attributes())
      if (IsDecl(a.Name) && !a.Plain) FDecodedValues.push_back(AttributeValue(a.Raw));
    FScopes.push_back({parser.Tag(), scope, decoded});
    open.push_back({parser.Depth(), scope});
    scope = uint32_t(FScopes.size() - 1);
  }
}

const xmlreader::TLarge *TXMLReader::Large(const char *tag) const {
  // FLargeAt is the first entry at or after the tag asked last: most walks
  // ask at it, or just past it.
  const size_t n = FLarge.size();
  auto fits = [&](size_t i) {
    return (i == 0 || FLarge[i - 1].Tag < tag) && (i == n || tag <= FLarge[i].Tag);
  };
  size_t i = FLargeAt;
  if (!fits(i)) {
    if (i < n && fits(i + 1))
      ++i;
    else
      i = size_t(
          std::lower_bound(FLarge.begin(), FLarge.end(), tag,
                           [](const xmlreader::TLarge &l, const char *t) { return l.Tag < t; }) -
          FLarge.begin());
  }
  FLargeAt = i;
  return i < n && FLarge[i].Tag == tag ? &FLarge[i] : nullptr;
}

TXMLCursor TXMLReader::DocumentElement() const {
  if (!FRoot) return {};
  return TXMLCursor(this, FRoot, nullptr, ScopeAt(FRoot, 0));
}

// The scope of the element at `tag`: its own when it declares, else its
// parent's.
uint32_t TXMLReader::ScopeAt(const char *tag, uint32_t parentScope) const {
  const auto &scopes = FScopes;
  if (scopes.size() == 1 || scopes.back().Tag < tag) return parentScope;
  auto it = std::lower_bound(scopes.begin() + 1, scopes.end(), tag,
                             [](const xmlreader::TNsScope &s, const char *t) { return s.Tag < t; });
  return it != scopes.end() && it->Tag == tag ? uint32_t(it - scopes.begin()) : parentScope;
}

// --- TXMLCursor: identity -----------------------------------------------------

TXMLCursor::TXMLCursor(const TXMLReader *reader, const char *tag, const char *parent,
                       uint32_t scope)
    : FReader(reader), FTag(tag), FParent(parent), FScope(scope) {
  const char *end = reader->FText.data() + reader->FText.size();
  size_t len = size_t(StartTagEnd(tag, end) - tag);
  FTagLen = len <= std::numeric_limits<uint32_t>::max() ? uint32_t(len) : 0;
}

const char *TXMLCursor::Content() const {
  if (FTagLen) return FTag + FTagLen;
  return StartTagEnd(FTag, FReader->FText.data() + FReader->FText.size());
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
  const auto &scopes = FReader->FScopes;
  const char *end = FReader->FText.data() + FReader->FText.size();
  for (uint32_t s = FScope; s != 0; s = scopes[s].Parent) {
    // The declarations are read again from the start tag; those that needed
    // decoding were kept, in order.
    uint32_t decoded = scopes[s].Decoded;
    std::optional<std::string_view> found;
    xmllex::ForEachAttribute(scopes[s].Tag, end, [&](std::string_view name, std::string_view raw) {
      if (!IsDecl(name)) return false;
      bool kept = NeedsDecoding(raw);
      if (Declares(name, prefix)) {
        found = kept ? std::string_view(FReader->FDecodedValues[decoded]) : raw;
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
  FReader->FEndedAt = EndTagEnd(close, end);
  return {};
}

TXMLCursor TXMLCursor::NextSiblingElement() const {
  if (!FTag || !FParent) return {};
  const char *end = FReader->FText.data() + FReader->FText.size(), *after;
  if (FReader->FEndedTag == FTag) {
    after = FReader->FEndedAt;
  } else if (const xmlreader::TLarge *large = FReader->Large(FTag)) {
    after = large->End;
  } else {
    const char *c = Content();
    after = c[-2] == '/' ? c : SkipContent(c, end);
  }
  const xmlreader::TNsScope &own = FReader->FScopes[FScope];
  uint32_t parentScope = own.Tag == FTag ? own.Parent : FScope;
  const char *close;
  if (const char *next = NextChild(after, end, close)) return ElementAt(next, FParent, parentScope);
  FReader->FEndedTag = FParent;
  FReader->FEndedAt = EndTagEnd(close, end);
  return {};
}

size_t TXMLCursor::ChildElementCount() const {
  if (!FTag) return 0;
  if (const xmlreader::TLarge *large = FReader->Large(FTag)) return large->Children;
  size_t n = 0;
  for (TXMLCursor c = FirstChildElement(); c; c = c.NextSiblingElement()) ++n;
  return n;
}

// --- attributes -------------------------------------------------------------

template <class F> bool TXMLCursor::ForEachAttribute(F &&visit) const {
  return FTag &&
         xmllex::ForEachAttribute(FTag, FReader->FText.data() + FReader->FText.size(), visit);
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
    if (lt && lt[1] == '/') {
      std::string_view raw(c, size_t(lt - c));
      if (xmlscan::Find(raw.data(), lt, '&', '\r') == lt) return raw;
      xmltext::DecodeValue(raw, false, scratch);
      return scratch;
    }
  } else if (p[1] == '/') {
    return {};
  } else if (p[1] == '!' && p + 2 < end && p[2] == '[') { // CDATA: alone when only blanks follow
    const char *close = xmllex::Find(p + 9, end, "]]>");
    if (close != end && EndTagAfterSpace(close + 3, end)) {
      std::string_view raw(p + 9, size_t(close - p - 9));
      if (xmlscan::Find(raw.data(), close, '\r') == close) return raw;
      xmltext::NormalizeLineEnds(raw, scratch);
      return scratch;
    }
  }
  scratch.clear();
  WriteContent(scratch, FTag, end);
  return scratch;
}

std::string TXMLCursor::Text() const {
  std::string out, buf;
  if (!FTag) return out;
  TFragment p(FTag, FReader->FText.data() + FReader->FText.size());
  for (TXMLParser::TToken t; (t = p.Next()) != TXMLParser::TToken::End;)
    if (t == TXMLParser::TToken::Text || t == TXMLParser::TToken::CData) out.append(p.Value(buf));
  return out;
}

std::string TXMLCursor::XML() const {
  std::string out;
  if (!FTag) return out;
  TXMLOutput o(out);
  TXMLSerializer w(o);
  TFragment p(FTag, FReader->FText.data() + FReader->FText.size());
  std::string buf;
  for (TXMLParser::TToken t; (t = p.Next()) != TXMLParser::TToken::End;) WriteToken(w, p, t, buf);
  o.Finish();
  return out;
}

} // namespace vv
