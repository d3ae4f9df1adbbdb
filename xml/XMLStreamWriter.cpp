#include "xml/XMLStreamWriter.h"

#include <algorithm>

#include "rtl/StrUtils.h"
#include "xml/XMLDoc.h"
#include "xml/XMLLimits.h"
#include "xml/XMLNames.h"
#include "xml/XMLText.h"

namespace vv {

namespace {

using xmlns::IsDecl;
using xmlns::PrefixOf;

[[noreturn]] void Diverged() {
  throw EXMLDocError("The document changed between its two writings");
}

} // namespace

struct TXMLStreamWriter::TAttrRef {
  uint32_t NameOff, NameLen, ValueOff, ValueLen;
  bool Decl; // a namespace declaration
};

struct TXMLStreamWriter::TElem {
  THandle Id = 0;
  std::string Name;
  size_t AttrBegin = 0, AttrEnd = 0;      // its attributes in FAttrs, while its start tag was open
  size_t TextMark = 0;                    // FAttrText's size when it began
  std::vector<TXMLWritePlan::TAttr> Late; // attributes added after its start tag (Plan)
  size_t NDecls = 0;                      // namespace declarations among all of them
  long DefaultNs = -1;    // the FAttrs entry declaring the default namespace in scope, or none
  int Parent = -1;        // its parent's place in FStack; -1 for the document element
  bool TagOpen = true;    // the start tag can still take attributes
  bool LateSeen = false;  // Plan: attributes changed after the start tag was complete
  bool BranchTop = false; // the first element of a branch
  bool OwnChild = false;  // one of the branch root's own children
  size_t Piece = 0;       // its place among the branch root's children
  TDest Dest = TDest::Count;
  TXMLWritePlan::TPieces *Keep = nullptr;
};

TXMLStreamWriter::TXMLStreamWriter(TRun run, TXMLWritePlan &plan, TXMLSink *out)
    : FRun(run), FPlan(plan), FOut(out) {
  if (FRun == TRun::Plan) {
    FPlan = TXMLWritePlan();
    FDest = TDest::Count;
  } else {
    FDest = TDest::Out;
    FOpen = FRun != TRun::EmitTail; // the tail's part begins after the root's own children
  }
  FBuf.resize(kStreamFlushSize + kStreamSlack);
  FPos = FBuf.data();
  FEnd = FPos + FBuf.size();
}

TXMLStreamWriter::~TXMLStreamWriter() = default;

// ---- lookups -------------------------------------------------------------------

TXMLStreamWriter::TElem *TXMLStreamWriter::Find(THandle el) {
  for (size_t i = FDepth; i-- > 0;)
    if (FStack[i]->Id == el) return FStack[i].get();
  return nullptr;
}

const TXMLStreamWriter::TElem *TXMLStreamWriter::Find(THandle el) const {
  for (size_t i = FDepth; i-- > 0;)
    if (FStack[i]->Id == el) return FStack[i].get();
  return nullptr;
}

TXMLStreamWriter::THandle TXMLStreamWriter::Current() const {
  return FDepth ? FStack[FDepth - 1]->Id : kDocument;
}

std::string_view TXMLStreamWriter::AttrName(const TAttrRef &a) const {
  return std::string_view(FAttrText).substr(a.NameOff, a.NameLen);
}

std::string_view TXMLStreamWriter::AttrValue(const TAttrRef &a) const {
  return std::string_view(FAttrText).substr(a.ValueOff, a.ValueLen);
}

TXMLStreamWriter::TAttrRef *TXMLStreamWriter::FindAttr(TElem &e, std::string_view name) {
  for (size_t i = e.AttrBegin; i < e.AttrEnd; ++i)
    if (AttrName(FAttrs[i]) == name) return &FAttrs[i];
  return nullptr;
}

void TXMLStreamWriter::AddAttr(TElem &e, std::string_view name, std::string_view value) {
  TAttrRef a;
  a.NameOff = uint32_t(FAttrText.size());
  a.NameLen = uint32_t(name.size());
  FAttrText.append(name);
  a.ValueOff = uint32_t(FAttrText.size());
  a.ValueLen = uint32_t(value.size());
  FAttrText.append(value);
  std::string_view prefix;
  a.Decl = IsDecl(name, prefix);
  if (a.Decl) {
    ++e.NDecls;
    if (prefix.empty()) e.DefaultNs = long(FAttrs.size());
  }
  FAttrs.push_back(a);
  e.AttrEnd = FAttrs.size();
}

bool TXMLStreamWriter::Binding(const TElem *el, std::string_view prefix,
                               std::string_view &uri) const {
  if (prefix == "xml") return uri = kXmlNamespace, true;
  if (prefix == "xmlns") return uri = kXmlnsNamespace, true;
  if (prefix.empty() && el && !FLateDefault) { // the usual question, answered from the cache
    if (el->DefaultNs < 0) return false;
    uri = AttrValue(FAttrs[size_t(el->DefaultNs)]);
    return true;
  }
  for (; el; el = el->Parent < 0 ? nullptr : FStack[size_t(el->Parent)].get()) {
    if (!el->NDecls) continue;
    std::string_view p;
    for (size_t i = el->AttrBegin; i < el->AttrEnd; ++i)
      if (FAttrs[i].Decl && IsDecl(AttrName(FAttrs[i]), p) && p == prefix)
        return uri = AttrValue(FAttrs[i]), true;
    for (const TXMLWritePlan::TAttr &a : el->Late)
      if (IsDecl(a.Name, p) && p == prefix) return uri = a.Value, true;
  }
  return false;
}

bool TXMLStreamWriter::FindNamespaceDecl(THandle handle, std::string_view uri,
                                         std::string &prefix) const {
  std::vector<std::string_view> seen; // prefixes declared closer, which hide farther ones
  auto consider = [&](std::string_view name, std::string_view value, size_t closer) {
    std::string_view p;
    if (!IsDecl(name, p)) return false;
    bool hidden = false;
    for (size_t k = 0; k < closer && !hidden; ++k) hidden = seen[k] == p;
    if (!hidden && SameText(value, uri)) {
      prefix.assign(p);
      return true;
    }
    seen.push_back(p);
    return false;
  };
  for (const TElem *el = Find(handle); el;
       el = el->Parent < 0 ? nullptr : FStack[size_t(el->Parent)].get()) {
    if (!el->NDecls) continue;
    size_t closer = seen.size();
    for (size_t i = el->AttrBegin; i < el->AttrEnd; ++i)
      if (consider(AttrName(FAttrs[i]), AttrValue(FAttrs[i]), closer)) return true;
    for (const TXMLWritePlan::TAttr &a : el->Late)
      if (consider(a.Name, a.Value, closer)) return true;
  }
  return false;
}

std::string TXMLStreamWriter::GeneratePrefix(THandle handle) {
  const TElem *el = Find(handle);
  std::string_view bound;
  while (true) {
    std::string p = "NS" + IntToStr(++FPrefixCounter);
    if (!el || !Binding(el, p, bound)) return p;
  }
}

// ---- output ----------------------------------------------------------------------

void TXMLStreamWriter::Grow(size_t size) {
  size_t used = Pending();
  FBuf.resize(std::max(FBuf.size() * 2, used + size + kStreamSlack));
  FPos = FBuf.data() + used;
  FEnd = FBuf.data() + FBuf.size();
}

void TXMLStreamWriter::PutEscaped(std::string_view s, bool attr) {
  size_t room = xmltext::MaxEscapedSize(s.size());
  if (room > size_t(FEnd - FPos)) Grow(room);
  FPos = xmltext::AppendEscaped(FPos, s, attr ? xmltext::TEscape::Attr : xmltext::TEscape::Text);
}

// Pieces of kept text are filled to about kStreamFlushSize each: text handed on
// a few bytes at a time (as the root's children between the branches) would
// otherwise cost a piece per handful of bytes.
void TXMLStreamWriter::Keep(TXMLWritePlan::TPieces &pieces, const char *data, size_t n) {
  if (pieces.empty() || pieces.back().size() + n > pieces.back().capacity()) {
    pieces.emplace_back();
    pieces.back().reserve(std::max(n, kStreamFlushSize));
  }
  pieces.back().append(data, n);
}

void TXMLStreamWriter::Flush() {
  size_t n = Pending();
  if (!n) return;
  const char *data = FBuf.data();
  switch (FDest) {
  case TDest::Count:
    FPlan.Size += n;
    break;
  case TDest::Capture:
    FPlan.Size += n;
    if (FPlan.CapturesValid) {
      FPlan.CapturedBytes += n;
      if (FPlan.CapturedBytes > kStreamCaptureMax)
        DropCaptures();
      else
        Keep(*FKeep, data, n);
    }
    break;
  case TDest::Out:
    if (!FOpen) break;
    FOut->Put(data, n);
    FWritten += n;
    break;
  case TDest::Stream:
    FOut->Put(data, n);
    FWritten += n;
    break;
  case TDest::Discard:
    break;
  case TDest::Keep:
    Keep(*FKeep, data, n);
    break;
  }
  FPos = FBuf.data();
}

void TXMLStreamWriter::SetDest(TDest dest, TXMLWritePlan::TPieces *keep) {
  if (dest == FDest && keep == FKeep) {
    if (Pending() >= kStreamFlushSize) Flush();
    return;
  }
  Flush();
  FDest = dest;
  FKeep = keep;
}

void TXMLStreamWriter::DropCaptures() {
  FPlan.CapturesValid = false;
  for (TXMLWritePlan::TPieces &c : FPlan.Captures) TXMLWritePlan::TPieces().swap(c);
}

void TXMLStreamWriter::Advance(TPieceCursor &c) const {
  if (!IsBranch(c)) ++c.Own;
  ++c.Piece;
  if (++c.InRun == FPlan.RootChildren[c.Run].Count) {
    ++c.Run;
    c.InRun = 0;
  }
}

// Writes the root's children that are complete and due, in making order.
void TXMLStreamWriter::Pump() {
  if (FRun != TRun::Emit) return;
  while (!AtEnd(FDue)) {
    const TXMLWritePlan::TPieces *text = nullptr;
    auto kept = FKept.end();
    if (!IsBranch(FDue) && FPlan.CapturesValid) {
      text = &FPlan.Captures[FDue.Own];
    } else {
      kept = FKept.find(FDue.Piece);
      if (kept != FKept.end() && kept->second.Done) text = &kept->second.Text;
    }
    if (!text) return;
    SetDest(TDest::Out, nullptr);
    Flush();
    for (const std::string &piece : *text) {
      FOut->Put(piece.data(), piece.size());
      FWritten += piece.size();
    }
    if (kept != FKept.end()) FKept.erase(kept);
    Advance(FDue);
  }
}

void TXMLStreamWriter::StartTagBytes(const TElem &e) {
  Put('<');
  Put(e.Name);
  for (size_t i = e.AttrBegin; i < e.AttrEnd; ++i) {
    Put(' ');
    Put(AttrName(FAttrs[i]));
    Put("=\"", 2);
    PutEscaped(AttrValue(FAttrs[i]), true);
    Put('"');
  }
}

void TXMLStreamWriter::CloseStartTag(TElem &e) {
  if (!e.TagOpen) return;
  SetDest(e.Dest, e.Keep);
  StartTagBytes(e);
  Put('>');
  e.TagOpen = false;
}

size_t TXMLStreamWriter::AttributeSize(std::string_view name, std::string_view value) {
  std::string escaped;
  xmltext::EscapeAttr(escaped, value);
  return name.size() + escaped.size() + 4; // blank, =, two quotes
}

// ---- building --------------------------------------------------------------------

void TXMLStreamWriter::Declaration(std::string_view version, std::string_view encoding) {
  SetDest(FRun == TRun::Plan ? TDest::Count : TDest::Out, nullptr);
  Put("<?xml version=\"");
  PutEscaped(version, true);
  Put('"');
  if (!encoding.empty()) {
    bool utf8 = SameText(encoding, "utf-8") || SameText(encoding, "utf8");
    Put(" encoding=\"");
    PutEscaped(utf8 ? encoding : std::string_view("UTF-8"), true);
    Put('"');
  }
  Put("?>");
  FDeclared = true;
}

TXMLStreamWriter::TElem &TXMLStreamWriter::Push() {
  if (FDepth == FStack.size()) FStack.push_back(std::make_unique<TElem>());
  TElem &e = *FStack[FDepth++];
  e.AttrBegin = e.AttrEnd = FAttrs.size();
  e.TextMark = FAttrText.size();
  e.Late.clear();
  e.NDecls = 0;
  e.TagOpen = true;
  e.LateSeen = e.BranchTop = e.OwnChild = false;
  e.Piece = 0;
  return e;
}

void TXMLStreamWriter::OnRootChild(TElem &child, bool branch) {
  child.Keep = nullptr;
  if (FRun == TRun::Plan) {
    std::vector<TXMLWritePlan::TPieceRun> &runs = FPlan.RootChildren;
    if (runs.empty() || runs.back().Branch != branch) runs.push_back({branch, 0});
    ++runs.back().Count;
    if (branch) {
      child.Dest = TDest::Count;
    } else {
      FPlan.Captures.emplace_back();
      child.Dest = TDest::Capture;
      child.Keep = &FPlan.Captures.back();
    }
    return;
  }
  // The same child as the plan's, made in the same order.
  if (AtEnd(FMade) || IsBranch(FMade) != branch) Diverged();
  size_t piece = FMade.Piece;
  Advance(FMade);
  child.Piece = piece;
  if (FRun == TRun::EmitHead) {
    child.Dest = branch ? TDest::Discard : TDest::Out;
    return;
  }
  if (FRun == TRun::EmitTail) {
    child.Dest = branch ? TDest::Stream : TDest::Discard;
    return;
  }
  if (!branch && FPlan.CapturesValid) {
    child.Dest = TDest::Discard; // the first run's copy is written instead
    return;
  }
  Pump();
  if (branch && piece == FDue.Piece && !FStreaming) {
    FStreaming = true;
    child.Dest = TDest::Out;
    return;
  }
  child.Dest = TDest::Keep;
  child.Keep = &FKept[piece].Text;
}

TXMLStreamWriter::THandle TXMLStreamWriter::StartElement(std::string_view qname,
                                                         std::string_view namespaceURI,
                                                         TNames names) {
  if (names == TNames::Check && !xmltext::IsQName(qname))
    throw EXMLDocError("Invalid element name '%s'", {std::string(qname)});
  bool branch = FBranchNext;
  FBranchNext = false;
  int parentAt = -1; // the parent's place on the stack
  if (branch) {
    for (size_t i = FDepth; i-- > 0;)
      if (FStack[i]->Id == FBranchRoot) {
        parentAt = int(i);
        break;
      }
    if (parentAt < 0) throw EXMLDocError("BeginBranch: there is no open branch root");
  } else if (FDepth) {
    parentAt = int(FDepth - 1);
  }
  TElem *parent = parentAt < 0 ? nullptr : FStack[size_t(parentAt)].get();
  if (!parent && FHasRoot) throw EXMLDocError("The document already has a document element");
  if (parent) {
    CloseStartTag(*parent);
  } else {
    SetDest(FRun == TRun::Plan ? TDest::Count : TDest::Out, nullptr);
    if (FDeclared) Put("\r\n");
    FHasRoot = true;
  }

  std::string_view prefix = PrefixOf(qname), bound;
  bool isBound = parent && Binding(parent, prefix, bound);
  bool declare = namespaceURI.empty() ? prefix.empty() && isBound && !bound.empty()
                                      : !isBound || bound != namespaceURI;

  TElem &e = Push();
  e.Id = FNextId++;
  e.Name.assign(qname);
  e.Parent = parentAt;
  e.Dest = parent ? parent->Dest : (FRun == TRun::Plan ? TDest::Count : TDest::Out);
  e.Keep = parent ? parent->Keep : nullptr;
  e.DefaultNs = parent ? parent->DefaultNs : -1;
  if (Emitting() && !FPlan.FinalAttrs.empty())
    if (auto it = FPlan.FinalAttrs.find(e.Id); it != FPlan.FinalAttrs.end())
      for (const TXMLWritePlan::TAttr &a : it->second) AddAttr(e, a.Name, a.Value);
  if (declare) {
    std::string attr = prefix.empty() ? std::string("xmlns") : "xmlns:" + std::string(prefix);
    if (TAttrRef *a = FindAttr(e, attr)) {
      if (AttrValue(*a) != namespaceURI) Diverged();
    } else {
      AddAttr(e, attr, namespaceURI);
    }
  }
  if (FBranchRoot && parent && parent->Id == FBranchRoot) {
    e.BranchTop = branch;
    e.OwnChild = !branch;
    OnRootChild(e, branch);
  }
  return e.Id;
}

void TXMLStreamWriter::LeafElement(std::string_view qname, std::string_view namespaceURI,
                                   const TLeafAttr &attr, std::string_view text, TNames names) {
  std::string_view attrName = attr.Name, attrValue = attr.Value;
  TElem *parent = FDepth ? FStack[FDepth - 1].get() : nullptr;
  std::string_view prefix = PrefixOf(qname), bound;
  // The long way for anything but a plain child: the document element, a
  // child of the branch root, or a name that needs a declaration.
  bool simple = parent && !FBranchNext && !(FBranchRoot && parent->Id == FBranchRoot);
  if (simple) {
    bool isBound = Binding(parent, prefix, bound);
    simple = namespaceURI.empty() ? !(prefix.empty() && isBound && !bound.empty())
                                  : isBound && bound == namespaceURI;
  }
  if (!simple) {
    StartElement(qname, namespaceURI, names);
    if (!attrName.empty()) Attribute(attrName, attrValue, names);
    Text(text);
    EndElement();
    return;
  }
  if (names == TNames::Check) {
    if (!xmltext::IsQName(qname))
      throw EXMLDocError("Invalid element name '%s'", {std::string(qname)});
    if (!attrName.empty() && !xmltext::IsQName(attrName))
      throw EXMLDocError("Invalid attribute name '%s'", {std::string(attrName)});
  }
  CloseStartTag(*parent);
  SetDest(parent->Dest, parent->Keep);
  ++FNextId;
  Put('<');
  Put(qname);
  if (!attrName.empty()) {
    Put(' ');
    Put(attrName);
    Put("=\"", 2);
    if (attr.Escaped)
      Put(*attr.Escaped);
    else
      PutEscaped(attrValue, true);
    Put('"');
  }
  if (text.empty()) {
    Put("/>", 2);
    return;
  }
  Put('>');
  PutEscaped(text, false);
  Put("</", 2);
  Put(qname);
  Put('>');
}

void TXMLStreamWriter::EndElement() {
  if (!FDepth) throw EXMLDocError("EndElement: no element is open");
  TElem &e = *FStack[FDepth - 1];
  if (e.Id == FBranchRoot && Emitting()) {
    Pump();
    if (!AtEnd(FMade) || (FRun == TRun::Emit && !AtEnd(FDue))) Diverged();
  }
  SetDest(e.Dest, e.Keep);
  if (e.TagOpen) {
    StartTagBytes(e);
    Put("/>", 2);
    e.TagOpen = false;
  } else {
    Put("</", 2);
    Put(e.Name);
    Put('>');
  }
  if (FRun == TRun::Plan && e.LateSeen) {
    std::vector<TXMLWritePlan::TAttr> &attrs = FPlan.FinalAttrs[e.Id];
    attrs.clear();
    for (size_t i = e.AttrBegin; i < e.AttrEnd; ++i)
      attrs.push_back({std::string(AttrName(FAttrs[i])), std::string(AttrValue(FAttrs[i]))});
    attrs.insert(attrs.end(), e.Late.begin(), e.Late.end());
  }
  FAttrs.resize(e.AttrBegin);
  FAttrText.resize(e.TextMark);
  --FDepth;
  if (FRun == TRun::Emit && (e.BranchTop || (e.OwnChild && !FPlan.CapturesValid))) {
    Flush();
    if (e.Dest == TDest::Out) { // streamed: the next children may follow now
      FStreaming = false;
      Advance(FDue);
    } else {
      FKept[e.Piece].Done = true;
    }
    Pump();
  }
  // A run of two changes over at the end of the root's last own child (its
  // own children are the plan's first run of children).
  if ((FRun == TRun::EmitHead || FRun == TRun::EmitTail) && e.OwnChild &&
      FMade.Own == FPlan.RootChildren[0].Count) {
    Flush();
    FOpen = FRun == TRun::EmitTail;
  }
  if (e.Id == FBranchRoot) FBranchRoot = 0;
}

void TXMLStreamWriter::Attribute(THandle handle, std::string_view name, std::string_view value,
                                 TNames names) {
  TElem *e = FDepth && FStack[FDepth - 1]->Id == handle ? FStack[FDepth - 1].get() : Find(handle);
  if (!e) throw EXMLDocError("SetAttribute: the element is not open");
  TAttrRef *a = FindAttr(*e, name);
  TXMLWritePlan::TAttr *late = nullptr;
  if (!a)
    for (TXMLWritePlan::TAttr &l : e->Late)
      if (l.Name == name) late = &l;
  if (!a && !late && names == TNames::Check && !xmltext::IsQName(name))
    throw EXMLDocError("Invalid attribute name '%s'", {std::string(name)});
  if (e->TagOpen) {
    if (a) { // replaced: the new value goes to the end of the text, the old one is left
      a->ValueOff = uint32_t(FAttrText.size());
      a->ValueLen = uint32_t(value.size());
      FAttrText.append(value);
    } else {
      AddAttr(*e, name, value);
    }
    return;
  }
  if (Emitting()) { // the first run put it into the start tag already
    if (!a || AttrValue(*a) != value) Diverged();
    return;
  }
  // Plan: the start tag is written already; it grows by what changes.
  e->LateSeen = true;
  if (e->Dest == TDest::Capture && e->Id != FBranchRoot) DropCaptures();
  std::string_view p;
  bool decl = IsDecl(name, p);
  if (decl && p.empty()) FLateDefault = true; // the children's cached default is stale
  if (a || late) {
    std::string_view old = a ? AttrValue(*a) : std::string_view(late->Value);
    FPlan.Size -= AttributeSize(name, old);
    if (a) {
      a->ValueOff = uint32_t(FAttrText.size());
      a->ValueLen = uint32_t(value.size());
      FAttrText.append(value);
    } else {
      late->Value.assign(value);
    }
  } else {
    e->Late.push_back({std::string(name), std::string(value)});
    if (decl) ++e->NDecls;
  }
  FPlan.Size += AttributeSize(name, value);
}

void TXMLStreamWriter::Text(std::string_view value) {
  if (!FDepth) throw EXMLDocError("SetText: no element is open");
  if (value.empty()) return;
  TElem &e = *FStack[FDepth - 1];
  CloseStartTag(e);
  SetDest(e.Dest, e.Keep);
  PutEscaped(value, false);
}

void TXMLStreamWriter::DeclareNamespace(THandle handle, std::string_view prefix,
                                        std::string_view uri) {
  TElem *e = Find(handle);
  if (!e) throw EXMLDocError("DeclareNamespace: the element is not open");
  if (prefix == "xmlns" || (prefix == "xml" && uri != kXmlNamespace))
    throw EXMLDocError("The prefix '%s' cannot be declared", {std::string(prefix)});
  std::string_view bound; // the implicit "xml" binding is declared like any other
  if (prefix != "xml" && Binding(e, prefix, bound) && bound == uri) return;
  std::string name = prefix.empty() ? std::string("xmlns") : "xmlns:" + std::string(prefix);
  if (!prefix.empty() && !xmltext::IsQName(name))
    throw EXMLDocError("Invalid namespace prefix '%s'", {std::string(prefix)});
  Attribute(handle, name, uri, TNames::Trusted);
}

void TXMLStreamWriter::SetBranchRoot(THandle el) { FBranchRoot = el; }

void TXMLStreamWriter::BeginBranch() {
  if (!FBranchRoot || !Find(FBranchRoot))
    throw EXMLDocError("BeginBranch: there is no open branch root");
  FBranchNext = true;
}

void TXMLStreamWriter::Finish() {
  if (FDepth) throw EXMLDocError("The document still has open elements");
  Flush();
  if (FRun == TRun::EmitHead) FPlan.HeadSize = FWritten;
  if (FRun == TRun::EmitTail) FWritten += FPlan.HeadSize;
  if ((FRun == TRun::Emit || FRun == TRun::EmitTail) && FWritten != FPlan.Size) Diverged();
}

} // namespace vv
