#include "xml/XMLParser.h"

#include <cstring>
#include <unordered_set>

#include "rtl/StrUtils.h"
#include "rtl/Utf8.h"
#include "xml/XMLDoc.h"
#include "xml/XMLLimits.h"
#include "xml/XMLNames.h"
#include "xml/XMLText.h"

namespace vv {

namespace {

// The parser's words for what it refuses.
constexpr const char *kNoRoot = "XML document must have a top level element.";
constexpr const char *kTwoRoots = "Only one top level element is allowed.";
constexpr const char *kTopLevel = "Invalid at the top level of the document.";
constexpr const char *kDtd = "Document type definitions are not allowed.";
constexpr const char *kBadDeclaration = "Invalid xml declaration.";
constexpr const char *kBadMarkup = "Invalid markup after '<'.";
constexpr const char *kBadElementName = "Invalid element name.";
constexpr const char *kBadStartTag = "Invalid start tag.";
constexpr const char *kBadAttributeName = "Invalid attribute name.";
constexpr const char *kBadAttribute = "Invalid attribute: a name, '=' and a quoted value expected.";
constexpr const char *kLtInValue = "An attribute value cannot hold '<'.";
constexpr const char *kBadEndTag = "Invalid end tag.";
constexpr const char *kNoStartTag = "End tag without a start tag.";
constexpr const char *kMismatch = "End tag does not match the start tag.";
constexpr const char *kUnclosed = "The document ends before its elements are closed.";
constexpr const char *kBadComment = "Invalid comment: '--' inside it, or no end.";
constexpr const char *kBadCData = "Invalid CDATA section.";
constexpr const char *kBadPI = "Invalid processing instruction.";
constexpr const char *kCDataEndInText = "Text cannot hold ']]>'.";
constexpr const char *kBadReference = "Invalid entity or character reference.";
constexpr const char *kUndeclare = "Namespace prefixes cannot be undeclared.";
constexpr const char *kReserved = "Reserved namespace prefix or name misused.";

// Name characters of XML 1.0 (fifth edition) beyond ASCII.
bool IsNameStartCp(char32_t c) {
  return (c >= 0xC0 && c <= 0xD6) || (c >= 0xD8 && c <= 0xF6) || (c >= 0xF8 && c <= 0x2FF) ||
         (c >= 0x370 && c <= 0x37D) || (c >= 0x37F && c <= 0x1FFF) ||
         (c >= 0x200C && c <= 0x200D) || (c >= 0x2070 && c <= 0x218F) ||
         (c >= 0x2C00 && c <= 0x2FEF) || (c >= 0x3001 && c <= 0xD7FF) ||
         (c >= 0xF900 && c <= 0xFDCF) || (c >= 0xFDF0 && c <= 0xFFFD) ||
         (c >= 0x10000 && c <= 0xEFFFF);
}
bool IsNameCp(char32_t c) {
  return IsNameStartCp(c) || c == 0xB7 || (c >= 0x300 && c <= 0x36F) ||
         (c >= 0x203F && c <= 0x2040);
}

// ASCII name bytes: 1 may start a name, 2 may continue one (the colon is
// neither: qualified names treat it on their own).
struct TNameBytes {
  uint8_t Of[128] = {};
  constexpr TNameBytes() {
    for (int c = 0; c < 128; ++c) {
      bool start = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
      bool more = start || (c >= '0' && c <= '9') || c == '-' || c == '.';
      Of[c] = uint8_t((start ? 1 : 0) | (more ? 2 : 0));
    }
  }
};
constexpr TNameBytes kNameBytes;

// The end of the name characters from `p` (a name without colons); `start`
// tells whether the first must be a start character. Returns `p` when none.
const char *ScanNCName(const char *p, const char *end) {
  const char *q = p;
  while (q < end) {
    unsigned char c = static_cast<unsigned char>(*q);
    if (c < 0x80) {
      uint8_t k = kNameBytes.Of[c];
      if (!(k & (q == p ? 1 : 2))) break;
      ++q;
      continue;
    }
    char32_t cp;
    size_t n = DecodeUtf8(std::string_view(q, size_t(end - q)), 0, cp);
    if (!n || !(q == p ? IsNameStartCp(cp) : IsNameCp(cp))) break;
    q += n;
  }
  return q;
}

// A qualified name from `p`: a name, or two joined by one colon. Returns
// its end, or null when the characters from `p` start a name that is not a
// qualified one (an empty part, a second colon); `p` itself when none.
const char *ScanQName(const char *p, const char *end) {
  const char *q = ScanNCName(p, end);
  if (q == p) return p < end && *p == ':' ? nullptr : p;
  if (q < end && *q == ':') {
    const char *local = q + 1, *r = ScanNCName(local, end);
    if (r == local || (r < end && *r == ':')) return nullptr;
    return r;
  }
  return q;
}

bool IsBlank(std::string_view s) {
  for (char c : s)
    if (!xmllex::IsSpace(c)) return false;
  return true;
}

// A name quoted in a message: short enough for a log line.
std::string Quoted(std::string_view s) {
  std::string cut = Utf16Left(s, kMaxErrorLineChars);
  return cut.size() < s.size() ? cut + "..." : cut;
}

} // namespace

TXMLParser::TXMLParser(std::string_view text, TMode mode)
    : B(text.data()), E(text.data() + text.size()), P(text.data()), FMode(mode) {
  if (FMode == TMode::Document && text.size() >= 6 && std::memcmp(B, "<?xml", 5) == 0 &&
      xmllex::IsSpace(B[5]))
    Declaration();
}

void TXMLParser::Fail(std::string_view reason, const char *at) const {
  if (at > E) at = E;
  xmltext::RaiseParseError(reason, std::string_view(B, size_t(E - B)), size_t(at - B));
}

std::string_view TXMLParser::Value(std::string &scratch) const {
  const char *end = FRaw.data() + FRaw.size();
  bool text = FToken == TToken::Text;
  if ((text ? xmlscan::Find(FRaw.data(), end, '&', '\r') : xmlscan::Find(FRaw.data(), end, '\r')) ==
      end)
    return FRaw;
  if (text) {
    xmltext::DecodeValue(FRaw, false, scratch); // checked when read: it resolves
    return scratch;
  }
  xmltext::NormalizeLineEnds(FRaw, scratch);
  return scratch;
}

// "<?xml" and a blank at the very start: version, then optionally encoding
// and standalone, in that order, each after a blank.
void TXMLParser::Declaration() {
  const char *p = B + 5;
  struct TPseudo {
    std::string_view Name, Value;
  } attrs[3];
  size_t n = 0;
  while (true) {
    const char *before = p;
    p = xmllex::SkipSpace(p, E);
    if (p + 1 < E && p[0] == '?' && p[1] == '>') {
      p += 2;
      break;
    }
    if (p == before || n == 3) Fail(kBadDeclaration, B);
    const char *name = p;
    while (p < E && *p >= 'a' && *p <= 'z') ++p;
    std::string_view aname(name, size_t(p - name));
    p = xmllex::SkipSpace(p, E);
    if (p >= E || *p != '=') Fail(kBadDeclaration, B);
    p = xmllex::SkipSpace(p + 1, E);
    if (p >= E || (*p != '"' && *p != '\'')) Fail(kBadDeclaration, B);
    const char *close = xmlscan::Find(p + 1, E, *p);
    if (close == E) Fail(kBadDeclaration, B);
    attrs[n++] = {aname, std::string_view(p + 1, size_t(close - p - 1))};
    p = close + 1;
  }
  size_t i = 0;
  auto next = [&](std::string_view name) { return i < n && attrs[i].Name == name; };
  if (!next("version")) Fail(kBadDeclaration, B);
  std::string_view v = attrs[i++].Value;
  if (v.size() < 3 || v.substr(0, 2) != "1." ||
      v.substr(2).find_first_not_of("0123456789") != std::string_view::npos)
    Fail(kBadDeclaration, B);
  FVersion = v;
  if (next("encoding")) {
    std::string_view e = attrs[i++].Value;
    bool alpha = !e.empty() && ((e[0] | 0x20) >= 'a' && (e[0] | 0x20) <= 'z');
    if (!alpha || e.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
                                      "0123456789._-") != std::string_view::npos)
      Fail(kBadDeclaration, B);
    FEncoding = e;
  }
  if (next("standalone")) {
    std::string_view sd = attrs[i++].Value;
    if (sd != "yes" && sd != "no") Fail(kBadDeclaration, B);
  }
  if (i != n) Fail(kBadDeclaration, B);
  P = p;
}

TXMLParser::TToken TXMLParser::Next() {
  if (FPendingEnd) {
    FPendingEnd = false;
    Close(FOpen.back());
    FOpen.pop_back();
    return FToken = TToken::EndElement;
  }
  while (true) {
    if (P >= E) {
      if (!FOpen.empty()) Fail(kUnclosed, E);
      if (!FSeenRoot && FMode == TMode::Document) Fail(kNoRoot, E);
      return FToken = TToken::End;
    }
    if (FMode == TMode::Fragment && FSeenRoot && FOpen.empty()) return FToken = TToken::End;
    if (*P != '<') {
      const char *start = P;
      P = Text(P);
      FRaw = std::string_view(start, size_t(P - start));
      if (IsBlank(FRaw)) continue;
      if (FOpen.empty()) Fail(kTopLevel, start);
      return FToken = TToken::Text;
    }
    char c = P + 1 < E ? P[1] : '\0';
    if (c == '/') return EndTag();
    if (c == '?') {
      if (Question()) return FToken = TToken::PI;
      continue;
    }
    if (c == '!') return Bang();
    return StartTag();
  }
}

// Character data from `p` up to the next '<'; checks its references and
// that it holds no "]]>".
const char *TXMLParser::Text(const char *p) {
  while (true) {
    p = xmlscan::Find(p, E, '<', '&', ']');
    if (p == E || *p == '<') return p;
    if (*p == '&') {
      p = Reference(p);
    } else {
      if (E - p >= 3 && p[1] == ']' && p[2] == '>') Fail(kCDataEndInText, p);
      ++p;
    }
  }
}

// The reference at `amp`: a predefined entity, or a character XML allows.
// Returns the byte after its ';'.
const char *TXMLParser::Reference(const char *amp) {
  if (FMode == TMode::Fragment) return xmlscan::Find(amp, E, ';') + 1;
  const char *p = amp + 1;
  if (p < E && *p == '#') {
    ++p;
    bool hex = p < E && *p == 'x';
    p += hex;
    const char *digits = p;
    while (p < E && (hex ? HexDigitValue(*p) >= 0 : (*p >= '0' && *p <= '9'))) ++p;
    if (p == digits || p >= E || *p != ';') Fail(kBadReference, amp);
    FScratch.clear();
    if (!xmltext::AppendReference(std::string_view(amp + 1, size_t(p - amp - 1)), FScratch))
      Fail("Invalid character reference " + Quoted(std::string_view(amp, size_t(p + 1 - amp))) +
               ".",
           amp);
    return p + 1;
  }
  const char *end = ScanNCName(p, E);
  if (end == p || end >= E || *end != ';') Fail(kBadReference, amp);
  FScratch.clear();
  if (!xmltext::AppendReference(std::string_view(p, size_t(end - p)), FScratch))
    Fail("Reference to undefined entity " + Quoted(std::string_view(amp, size_t(end + 1 - amp))) +
             ".",
         amp);
  return end + 1;
}

TXMLParser::TToken TXMLParser::StartTag() {
  const char *lt = P, *name = P + 1;
  const char *q = ScanQName(name, E);
  if (q == name) Fail(kBadMarkup, lt);
  if (!q) Fail(kBadElementName, lt);
  if (FOpen.empty()) {
    if (FSeenRoot) Fail(kTwoRoots, lt);
    FSeenRoot = true;
  }
  FTag = lt;
  FName = std::string_view(name, size_t(q - name));
  FAttrs.clear();
  bool empty = false;
  while (true) {
    const char *before = q;
    q = xmllex::SkipSpace(q, E);
    if (q >= E) Fail(kUnclosed, E);
    if (*q == '>') {
      ++q;
      break;
    }
    if (*q == '/') {
      if (q + 1 >= E || q[1] != '>') Fail(kBadStartTag, q);
      q += 2;
      empty = true;
      break;
    }
    if (q == before) Fail(kBadStartTag, q);
    const char *aname = q, *aend = ScanQName(q, E);
    if (!aend || aend == q) Fail(kBadAttributeName, q);
    q = xmllex::SkipSpace(aend, E);
    if (q >= E || *q != '=') Fail(kBadAttribute, q);
    q = xmllex::SkipSpace(q + 1, E);
    if (q >= E || (*q != '"' && *q != '\'')) Fail(kBadAttribute, q);
    bool plain = true;
    const char *close = AttributeValue(q + 1, *q, plain);
    FAttrs.push_back({std::string_view(aname, size_t(aend - aname)),
                      std::string_view(q + 1, size_t(close - q - 1)), plain});
    q = close + 1;
  }
  P = q;
  FDeclares = false;
  FOpen.push_back({name, uint32_t(FName.size()), uint32_t(FDecls.size())});
  if (FMode == TMode::Document) {
    if (FAttrs.size() > 1) CheckDuplicates();
    Namespaces();
  }
  FPendingEnd = empty;
  return FToken = TToken::StartElement;
}

// The value from `p` to its closing `quote`; returns the quote's place.
const char *TXMLParser::AttributeValue(const char *p, char quote, bool &plain) {
  const char *start = p;
  while (true) {
    p = xmlscan::Find(p, E, quote, '<', '&');
    if (p == E) Fail(kUnclosed, E);
    if (*p == quote) break;
    if (*p == '<') Fail(kLtInValue, p);
    plain = false;
    p = Reference(p);
  }
  if (plain)
    for (const char *c = start; c < p; ++c)
      if (*c == '\t' || *c == '\n' || *c == '\r') {
        plain = false;
        break;
      }
  return p;
}

void TXMLParser::CheckDuplicates() {
  size_t n = FAttrs.size();
  auto fail = [&](std::string_view name) {
    Fail("Duplicate attribute '" + Quoted(name) + "'.", FTag);
  };
  if (n <= kMaxPairwiseAttrs) {
    for (size_t i = 0; i < n; ++i)
      for (size_t j = i + 1; j < n; ++j)
        if (FAttrs[i].Name == FAttrs[j].Name) fail(FAttrs[i].Name);
    return;
  }
  std::unordered_set<std::string_view> names;
  names.reserve(n);
  for (const TXMLRawAttr &a : FAttrs)
    if (!names.insert(a.Name).second) fail(a.Name);
}

const std::string *TXMLParser::Bound(std::string_view prefix) {
  // Elements in a row mostly use one prefix: the last answer is kept until
  // the declarations in scope change.
  if (FFoundValid && prefix == FFoundPrefix) return FFound;
  auto it = FBinding.find(prefix);
  FFound = it == FBinding.end() ? nullptr : &FDecls[size_t(it->second)].Uri;
  FFoundPrefix = prefix;
  FFoundValid = true;
  return FFound;
}

// The namespace rules of one start tag, its attributes just read.
void TXMLParser::Namespaces() {
  std::string value;
  for (const TXMLRawAttr &a : FAttrs) {
    std::string_view prefix;
    if (!xmlns::IsDecl(a.Name, prefix)) continue;
    if (a.Plain)
      value.assign(a.Raw);
    else
      xmltext::DecodeValue(a.Raw, true, value);
    bool xmlUri = value == kXmlNamespace;
    if (prefix == "xmlns" || value == kXmlnsNamespace || (prefix == "xml") != xmlUri)
      Fail(kReserved, FTag);
    if (!prefix.empty() && value.empty()) Fail(kUndeclare, FTag);
    FDeclares = true;
    FFoundValid = false;
    auto [it, fresh] = FBinding.try_emplace(prefix, int(FDecls.size()));
    FDecls.push_back({prefix, value, fresh ? -1 : it->second});
    it->second = int(FDecls.size() - 1);
  }
  std::string_view prefix = xmlns::PrefixOf(FName);
  if (prefix == "xmlns") Fail(kReserved, FTag);
  if (!prefix.empty() && prefix != "xml" && !Bound(prefix))
    Fail("Reference to undeclared namespace prefix: '" + Quoted(prefix) + "'.", FTag);
  // Prefixed attributes: bound, and no two of one local name in one namespace.
  size_t prefixed = 0;
  for (const TXMLRawAttr &a : FAttrs) {
    std::string_view p = xmlns::PrefixOf(a.Name);
    if (p.empty() || p == "xmlns") continue;
    if (p != "xml" && !Bound(p))
      Fail("Reference to undeclared namespace prefix: '" + Quoted(p) + "'.", FTag);
    ++prefixed;
  }
  if (prefixed < 2) return;
  auto uriOf = [&](std::string_view p) -> std::string_view {
    if (p == "xml") return kXmlNamespace;
    return *Bound(p);
  };
  std::unordered_set<std::string> seen;
  for (const TXMLRawAttr &a : FAttrs) {
    std::string_view p = xmlns::PrefixOf(a.Name);
    if (p.empty() || p == "xmlns") continue;
    std::string key(uriOf(p));
    key.append(1, '\0').append(xmlns::LocalOf(a.Name));
    if (!seen.insert(std::move(key)).second)
      Fail("Duplicate attribute '" + Quoted(a.Name) + "'.", FTag);
  }
}

// An element ends: its declarations go out of scope.
void TXMLParser::Close(const TOpen &open) {
  if (FDecls.size() > open.DeclMark) FFoundValid = false;
  while (FDecls.size() > open.DeclMark) {
    const TDecl &d = FDecls.back();
    if (d.Shadowed < 0)
      FBinding.erase(d.Prefix);
    else
      FBinding[d.Prefix] = d.Shadowed;
    FDecls.pop_back();
  }
}

TXMLParser::TToken TXMLParser::EndTag() {
  const char *lt = P, *name = P + 2;
  if (FOpen.empty()) Fail(kNoStartTag, lt);
  const TOpen &open = FOpen.back();
  // The start tag's name, checked already, is what the end tag must hold.
  const char *q = name + open.Len;
  if (size_t(E - name) < open.Len || std::memcmp(name, open.Name, open.Len) != 0 ||
      (q < E && !xmllex::EndsName(*q))) {
    const char *r = ScanQName(name, E);
    Fail(!r || r == name ? kBadEndTag : kMismatch, lt);
  }
  q = xmllex::SkipSpace(q, E);
  if (q >= E) Fail(kUnclosed, E);
  if (*q != '>') Fail(kBadEndTag, lt);
  P = q + 1;
  FName = std::string_view(open.Name, open.Len);
  Close(open);
  FOpen.pop_back();
  return FToken = TToken::EndElement;
}

// After "<?": a processing instruction. The declaration was read at the
// start; a target "xml" anywhere else is a misplaced declaration.
bool TXMLParser::Question() {
  const char *lt = P, *target = P + 2;
  const char *q = ScanNCName(target, E);
  if (q == target) Fail(kBadPI, lt);
  FName = std::string_view(target, size_t(q - target));
  if (FName.size() == 3 && (FName[0] | 0x20) == 'x' && (FName[1] | 0x20) == 'm' &&
      (FName[2] | 0x20) == 'l')
    Fail(kBadDeclaration, lt);
  const char *close;
  if (q + 1 < E && q[0] == '?' && q[1] == '>') {
    close = q;
    FRaw = {};
  } else {
    if (q >= E || !xmllex::IsSpace(*q)) Fail(kBadPI, lt);
    const char *value = xmllex::SkipSpace(q, E);
    close = xmllex::Find(value, E, "?>");
    if (close == E) Fail(kBadPI, lt);
    FRaw = std::string_view(value, size_t(close - value));
  }
  P = close + 2;
  return true;
}

// After "<!": a comment or a CDATA section; a document type is refused.
TXMLParser::TToken TXMLParser::Bang() {
  const char *lt = P;
  std::string_view rest(lt, size_t(E - lt));
  if (rest.substr(0, 4) == "<!--") {
    const char *start = lt + 4, *p = start;
    while (true) {
      p = xmlscan::Find(p, E, '-');
      if (p + 1 >= E) Fail(kBadComment, E);
      if (p[1] == '-') break;
      ++p;
    }
    if (p + 2 >= E || p[2] != '>') Fail(kBadComment, p);
    FRaw = std::string_view(start, size_t(p - start));
    P = p + 3;
    return FToken = TToken::Comment;
  }
  if (rest.substr(0, 9) == "<![CDATA[") {
    if (FOpen.empty()) Fail(kTopLevel, lt);
    const char *start = lt + 9, *close = xmllex::Find(start, E, "]]>");
    if (close == E) Fail(kBadCData, lt);
    FRaw = std::string_view(start, size_t(close - start));
    P = close + 3;
    return FToken = TToken::CData;
  }
  if (rest.substr(0, 9) == "<!DOCTYPE") Fail(kDtd, lt);
  Fail(kBadMarkup, lt);
}

namespace xmltext {
bool IsQName(std::string_view name) {
  const char *b = name.data(), *e = b + name.size();
  const char *end = ScanQName(b, e);
  return end && end != b && end == e;
}
} // namespace xmltext

} // namespace vv
