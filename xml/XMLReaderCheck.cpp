#include "xml/XMLReaderCheck.h"

#include <cstring>
#include <limits>
#include <unordered_map>
#include <unordered_set>

#include "xml/XMLChars.h"
#include "xml/XMLLimits.h"
#include "xml/XMLNames.h"
#include "xml/XMLScan.h"
#include "xml/XMLText.h"
#include "xml/XMLValidator.h"

namespace vv::xmlreadercheck {

namespace {

using xmlchars::IsNameChar;
using xmlchars::IsNameStart;
using xmlchars::IsSpace;
using xmlns::IsDecl;

// The parser's own words for its faults.
constexpr const char *kUnrecognizedTag = "Could not determine tag type";
constexpr const char *kBadPI = "Error parsing document declaration/processing instruction";
constexpr const char *kBadComment = "Error parsing comment";
constexpr const char *kBadCData = "Error parsing CDATA section";
constexpr const char *kBadStartTag = "Error parsing start element tag";
constexpr const char *kBadAttribute = "Error parsing element attribute";
constexpr const char *kBadEndTag = "Error parsing end element tag";
constexpr const char *kMismatch = "Start-end tags mismatch";
constexpr const char *kNoElement = "XML document must have a top level element.";

struct TAttr {
  std::string_view Name, Value; // both raw
  size_t PrefixLen;             // before the first colon of the name, if any
  bool Refs;                    // the value holds a reference
};

// An open element: its name (to match the end tag) and what to restore
// when it ends.
struct TFrame {
  const char *Name;
  size_t Len;
  uint32_t SavedScope;
  size_t DeclaredMark;
};

// The scan. The DOM's parser works on the text with its last byte replaced
// by a terminator, and looks at that byte (EndCh) only where it expects a
// closing '>': so E, the terminator's place, is where the text ends for it,
// and the last byte matters only there. Every step below mirrors one of the
// parser's; the DOM's checks of the finished tree (one document element, no
// text at the top, references, repeated attributes, namespace prefixes) are
// made as soon as the element or text they concern has been read.
class TChecker {
public:
  TChecker(std::string_view text, TDocumentIndex &index)
      : B(text.data()), N(text.size()), E(text.data() + (text.empty() ? 0 : text.size() - 1)),
        EndCh(text.empty() ? '\0' : text.back()), FIndex(index) {}

  bool Run();

  std::string Reason;
  size_t Offset = 0;
  bool Exact = false;

private:
  char At(const char *p) const { return p < E ? *p : '\0'; }
  // ">" at p, or the terminator standing for a final '>'.
  bool ClosesAt(const char *p) const { return p < E ? *p == '>' : p == E && EndCh == '>'; }
  const char *SkipSpace(const char *p) const {
    while (p < E && IsSpace(*p)) ++p;
    return p;
  }
  const char *SkipName(const char *p) const {
    while (p < E && IsNameChar(*p)) ++p;
    return p;
  }
  // The same, measuring the prefix: the part before the first colon (none:
  // 0, as for an empty prefix).
  const char *SkipName(const char *p, size_t &prefixLen) const {
    const char *start = p, *colon = nullptr;
    for (; p < E && IsNameChar(*p); ++p)
      if (*p == ':' && !colon) colon = p;
    prefixLen = colon ? size_t(colon - start) : 0;
    return p;
  }
  // A fault the parser finds, where it finds it: the DOM's message is the
  // parser's reason and the line of that place, so it is known here.
  const char *Fault(const char *reason, const char *at) {
    Reason = reason;
    Offset = size_t(at - B);
    Exact = true;
    return nullptr;
  }
  // A fault found by the DOM's checks of the finished tree, or in a document
  // type or declaration: which fault the DOM names first, and where, is left
  // to the DOM.
  const char *Refuse(const char *reason, const char *at) {
    Reason = reason;
    Offset = size_t((at < E ? at : E) - B);
    Exact = false;
    return nullptr;
  }

  const char *Text(const char *start);
  const char *Markup(const char *s);
  const char *StartTag(const char *name);
  const char *Attributes(const char *s, bool &open);
  const char *EndTag(const char *s);
  const char *Question(const char *target);
  const char *Declaration(const char *s);
  const char *Bang(const char *s);
  // From `s`, the first `a` whose next byte closes (see ClosesAt), or the
  // first `a` `a` pair whose next byte does: where the parser ends
  // instructions ("?>"), comments ("-->") and CDATA sections ("]]>"). Returns
  // the position of the byte before the '>'.
  const char *FindClose(const char *s, char a) const;
  const char *FindClose2(const char *s, char a) const;
  bool Element(const char *tag, std::string_view name, size_t prefixLen);
  bool Declare(const TAttr &a, bool &declares, uint32_t &decoded);
  bool PrefixInScope(std::string_view p);
  void Leave(const TFrame &f);
  bool Finish();

  const char *const B;
  const size_t N;
  const char *const E;
  const char EndCh;
  TDocumentIndex &FIndex;

  size_t FElements = 0; // at the top level
  std::vector<TFrame> FStack;
  std::vector<TAttr> FAttrs; // of the start tag being read
  uint32_t FScope = 0;       // the closest declaring element open
  // Prefixed declarations in scope, for the undeclared-prefix check; the
  // last prefix found is remembered until the declarations change.
  std::vector<std::string_view> FDeclared;
  std::unordered_map<std::string_view, size_t> FInScope;
  uint64_t FGeneration = 0;
  std::string_view FFoundPrefix;
  uint64_t FFoundGeneration = std::numeric_limits<uint64_t>::max();
  std::string FBuf;
};

bool TChecker::Run() {
  FIndex.Scopes.assign(1, TNsScope{nullptr, 0, kNoneDecoded});
  const char *s = B;
  if (At(s) == '\xEF' && At(s + 1) == '\xBB' && At(s + 2) == '\xBF') s += 3;
  while (s < E) {
    if (*s == '<') {
      ++s;
    } else {
      const char *text = s;
      s = SkipSpace(s);
      if (s == E || *s == '<') continue; // blank text is no node
      if (!(s = Text(text))) return false;
      if (s == E) break;
    }
    if (!(s = Markup(s))) return false;
  }
  return Finish();
}

// Character data up to the next '<' (returns the byte after it).
const char *TChecker::Text(const char *start) {
  if (FStack.empty()) return Refuse("Invalid at the top level of the document.", start);
  const char *lt = xmlscan::Find(start, E, '<', '&');
  bool refs = lt < E && *lt == '&';
  if (refs) lt = xmlscan::Find(lt, E, '<');
  if (lt == E) return Fault(kMismatch, E);
  if (refs && !xmltext::DecodeValue(std::string_view(start, size_t(lt - start)), false, FBuf))
    return Refuse("Invalid entity or character reference.", start);
  return lt + 1;
}

// After a '<'.
const char *TChecker::Markup(const char *s) {
  char c = At(s);
  if (IsNameStart(c)) return StartTag(s);
  if (c == '/') return EndTag(s + 1);
  if (c == '?') return Question(s + 1);
  if (c == '!') return Bang(s + 1);
  if (s == E && EndCh == '?') return Fault(kBadPI, s);
  return Fault(kUnrecognizedTag, s);
}

const char *TChecker::StartTag(const char *name) {
  size_t prefixLen;
  const char *s = SkipName(name, prefixLen);
  std::string_view qname(name, size_t(s - name));
  if (FStack.empty()) {
    if (++FElements > 1) return Refuse("Only one top level element is allowed.", name);
    FIndex.Root = name - 1;
  }
  char ch = At(s++);
  bool open = true;
  FAttrs.clear();
  if (IsSpace(ch)) {
    if (!(s = Attributes(s, open))) return nullptr;
  } else if (ch == '/') {
    if (!ClosesAt(s)) return Fault(kBadStartTag, s);
    s += s < E;
    open = false;
  } else if (ch == '\0') { // the name runs to the end
    return Fault(EndCh == '>' ? kMismatch : kBadStartTag, E);
  } else if (ch != '>') {
    return Fault(kBadStartTag, s);
  }
  TFrame frame{name, qname.size(), FScope, FDeclared.size()};
  if (!Element(name - 1, qname, prefixLen)) return nullptr;
  if (open)
    FStack.push_back(frame);
  else
    Leave(frame);
  return s;
}

// The attributes after a start tag's name, up to and including its end.
const char *TChecker::Attributes(const char *s, bool &open) {
  while (true) {
    s = SkipSpace(s);
    char c = At(s);
    if (IsNameStart(c)) {
      const char *name = s;
      size_t prefixLen;
      s = SkipName(s, prefixLen);
      std::string_view aname(name, size_t(s - name));
      char ch = At(s++);
      if (IsSpace(ch)) {
        s = SkipSpace(s);
        ch = At(s++);
      }
      if (ch != '=') return Fault(kBadAttribute, s);
      s = SkipSpace(s);
      char quote = At(s);
      if (quote != '"' && quote != '\'') return Fault(kBadAttribute, s);
      ++s;
      const char *end = xmlscan::Find(s, E, quote, '&');
      bool refs = end < E && *end == '&';
      if (refs) end = xmlscan::Find(end, E, quote);
      if (end == E) return Fault(kBadAttribute, s);
      FAttrs.push_back({aname, std::string_view(s, size_t(end - s)), prefixLen, refs});
      s = end + 1;
      if (IsNameStart(At(s))) return Fault(kBadAttribute, s);
    } else if (c == '/') {
      ++s;
      if (!ClosesAt(s)) return Fault(kBadStartTag, s);
      open = false;
      return s + (s < E);
    } else if (c == '>') {
      open = true;
      return s + 1;
    } else { // at the end, a final '>' leaves the element open
      return Fault(s == E && EndCh == '>' ? kMismatch : kBadStartTag, s);
    }
  }
}

// After "</".
const char *TChecker::EndTag(const char *s) {
  if (FStack.empty()) return Fault(kMismatch, s);
  const TFrame f = FStack.back();
  size_t i = 0; // the name's bytes matched
  while (i < f.Len && s + i < E && s[i] == f.Name[i]) ++i;
  if (i < f.Len || (s + i < E && IsNameChar(s[i]))) {
    // The parser compares name characters until the text's run of them
    // ends; cut short by the end, with just the final byte missing, it
    // names the end tag, not the mismatch.
    bool lastByte = s + i == E && i + 1 == f.Len && f.Name[i] == EndCh;
    return lastByte ? Fault(kBadEndTag, E) : Fault(kMismatch, s);
  }
  s += f.Len;
  FStack.pop_back();
  Leave(f);
  s = SkipSpace(s);
  if (!ClosesAt(s)) return Fault(kBadEndTag, s);
  return s + (s < E);
}

// After "<?": a processing instruction, or the XML declaration.
const char *TChecker::Question(const char *target) {
  if (!IsNameStart(At(target))) return Fault(kBadPI, target);
  const char *s = SkipName(target);
  if (s == E) return Fault(kBadPI, s);
  if (s - target == 3 && (target[0] | 0x20) == 'x' && (target[1] | 0x20) == 'm' &&
      (target[2] | 0x20) == 'l') {
    if (!FStack.empty()) return Fault(kBadPI, s); // no declaration inside an element
    return Declaration(s);
  }
  char ch = *s++;
  if (ch == '?') {
    if (!ClosesAt(s)) return Fault(kBadPI, s);
    return s + (s < E);
  }
  if (!IsSpace(ch)) return Fault(kBadPI, s);
  const char *end = FindClose(SkipSpace(s), '?');
  if (!end) return Fault(kBadPI, E);
  return end + 1 + (end + 1 < E);
}

// After "<?xml" (any case). Only one declaration is valid: the very first
// bytes of the text, lower case, holding valid pseudo-attributes, and no
// '/' or '>' before its "?>" (see xmlvalidator::PlainDeclaration).
const char *TChecker::Declaration(const char *s) {
  if (s != B + 5 || std::memcmp(B, "<?xml", 5) != 0 || !IsSpace(*s))
    return Refuse("Invalid xml declaration.", s);
  const char *end = FindClose(s, '?');
  if (!end) return Refuse("Error parsing processing instruction", s);
  std::string_view body(s, size_t(end - s));
  if (body.find_first_of("/>") != std::string_view::npos)
    return Refuse("Invalid xml declaration.", s);
  xmlvalidator::TPseudoAttr attrs[4];
  size_t n = 0;
  while ((s = SkipSpace(s)) != end) {
    const char *name = s;
    if (!IsNameStart(*s) || n == std::size(attrs)) return Refuse("Invalid xml declaration.", s);
    s = SkipName(s);
    std::string_view aname(name, size_t(s - name));
    s = SkipSpace(s);
    if (*s++ != '=') return Refuse("Invalid xml declaration.", s);
    s = SkipSpace(s);
    char quote = *s;
    if (quote != '"' && quote != '\'') return Refuse("Invalid xml declaration.", s);
    const char *close = static_cast<const char *>(std::memchr(s + 1, quote, size_t(end - s - 1)));
    if (!close) return Refuse("Invalid xml declaration.", s);
    attrs[n++] = {aname, std::string_view(s + 1, size_t(close - s - 1))};
    s = close + 1;
    if (IsNameStart(*s)) return Refuse("Invalid xml declaration.", s);
  }
  if (!xmlvalidator::ValidDeclaration({attrs, n})) return Refuse("Invalid xml declaration.", B);
  return end + 1 + (end + 1 < E);
}

// After "<!": a comment or a CDATA section; anything else (a document type
// above all) is refused.
const char *TChecker::Bang(const char *s) {
  const char *end;
  if (At(s) == '-') {
    if (At(s + 1) != '-') return Fault(kBadComment, s + 1);
    if (!(end = FindClose2(s + 2, '-'))) return Fault(kBadComment, s + 2);
    return end + 1 + (end + 1 < E);
  }
  if (At(s) == '[') {
    for (const char *p = "CDATA["; *p; ++p)
      if (At(++s) != *p) return Fault(kBadCData, s);
    if (!(end = FindClose2(s + 1, ']'))) return Fault(kBadCData, s + 1);
    if (FStack.empty()) return Refuse("Invalid at the top level of the document.", s);
    return end + 1 + (end + 1 < E);
  }
  if (At(s) == 'D') return Refuse("Document type definitions are not allowed.", s);
  if (s == E && EndCh == '-') return Fault(kBadComment, s);
  if (s == E && EndCh == '[') return Fault(kBadCData, s);
  return Fault(kUnrecognizedTag, s);
}

const char *TChecker::FindClose(const char *s, char a) const {
  while (s < E) {
    const char *p = xmlscan::Find(s, E, a);
    if (p == E) return nullptr;
    if (ClosesAt(p + 1)) return p;
    s = p + 1;
  }
  return nullptr;
}

const char *TChecker::FindClose2(const char *s, char a) const {
  while (s < E) {
    const char *p = xmlscan::Find(s, E, a);
    if (p == E) return nullptr;
    if (p + 1 < E && p[1] == a && ClosesAt(p + 2)) return p + 1;
    s = p + 1;
  }
  return nullptr;
}

// The DOM's checks of one element, its attributes just read.
bool TChecker::Element(const char *tag, std::string_view name, size_t prefixLen) {
  const size_t n = FAttrs.size();
  if (n >= 2) {
    if (n <= kMaxPairwiseAttrs) {
      for (size_t i = 0; i < n; ++i)
        for (size_t j = i + 1; j < n; ++j)
          if (FAttrs[i].Name == FAttrs[j].Name) return Refuse("Duplicate attribute.", tag);
    } else {
      std::unordered_set<std::string_view> names;
      names.reserve(n);
      for (const TAttr &a : FAttrs)
        if (!names.insert(a.Name).second) return Refuse("Duplicate attribute.", tag);
    }
  }
  bool declares = false;
  uint32_t decoded = kNoneDecoded;
  for (const TAttr &a : FAttrs)
    if (!Declare(a, declares, decoded)) return Refuse("Invalid attribute value.", tag);
  if (declares) {
    // (Indices fit in 32 bits below some 40 GiB of text.)
    if (FIndex.Scopes.size() >= kNoneDecoded || FIndex.DecodedValues.size() >= kNoneDecoded)
      return Refuse("Too many namespace declarations.", tag);
    FIndex.Scopes.push_back({tag, FScope, decoded});
    FScope = uint32_t(FIndex.Scopes.size() - 1);
  }
  if (prefixLen && !PrefixInScope(name.substr(0, prefixLen)))
    return Refuse("Reference to undeclared namespace prefix.", tag);
  for (const TAttr &a : FAttrs) {
    std::string_view p = a.Name.substr(0, a.PrefixLen);
    if (!p.empty() && p != "xmlns" && !PrefixInScope(p))
      return Refuse("Reference to undeclared namespace prefix.", tag);
  }
  return true;
}

// Checks the references of an attribute value. For a namespace declaration,
// sets `declares`, keeps the value when it needs decoding (`decoded`: where
// the element's first such value went) and puts its prefix in scope.
bool TChecker::Declare(const TAttr &a, bool &declares, uint32_t &decoded) {
  const std::string_view name = a.Name, raw = a.Value;
  const bool refs = a.Refs;
  if (refs && !xmltext::DecodeValue(raw, true, FBuf)) return false;
  std::string_view prefix;
  if (!IsDecl(name, prefix)) return true;
  if (!prefix.empty() && raw.empty()) return false; // a prefix cannot be undeclared
  declares = true;
  if (NeedsDecoding(raw)) {
    if (!refs) xmltext::DecodeValue(raw, true, FBuf);
    if (decoded == kNoneDecoded) decoded = uint32_t(FIndex.DecodedValues.size());
    FIndex.DecodedValues.push_back(FBuf);
  }
  if (!prefix.empty()) {
    FDeclared.push_back(prefix);
    ++FInScope[prefix];
    ++FGeneration;
  }
  return true;
}

bool TChecker::PrefixInScope(std::string_view p) {
  if (p == "xml") return true;
  if (FFoundGeneration == FGeneration && p == FFoundPrefix) return true;
  if (!FInScope.count(p)) return false;
  FFoundPrefix = p;
  FFoundGeneration = FGeneration;
  return true;
}

// An element ends: its declarations go out of scope.
void TChecker::Leave(const TFrame &f) {
  FScope = f.SavedScope;
  if (FDeclared.size() == f.DeclaredMark) return;
  while (FDeclared.size() > f.DeclaredMark) {
    auto it = FInScope.find(FDeclared.back());
    if (--it->second == 0) FInScope.erase(it);
    FDeclared.pop_back();
  }
  ++FGeneration;
}

bool TChecker::Finish() {
  if (!FStack.empty()) return Fault(kMismatch, E);
  if (EndCh == '<') return Fault(kUnrecognizedTag, E);
  // Only comments and instructions at the top (any other node was refused
  // already): the DOM names the missing element at the very end.
  if (FElements == 0) return Fault(kNoElement, B + N);
  return true;
}

} // namespace

bool Check(std::string_view text, TDocumentIndex &index, TRefusal &refusal) {
  TChecker checker(text, index);
  if (checker.Run()) return true;
  refusal = {checker.Reason, checker.Offset, checker.Exact};
  return false;
}

} // namespace vv::xmlreadercheck
