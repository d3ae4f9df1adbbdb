// A writer of XML documents that never holds a tree.
//
// Elements are written as they are made, in document order, into a byte
// sink. Names, namespace declarations and escaping follow the DOM's rules
// (XMLDoc.h: AddChild, SetAttribute, DeclareNamespace, FindNamespaceDecl,
// GeneratePrefix, SetText), so that a document made here with the same steps
// is byte for byte the one the DOM would serialise.
//
// Two features serve builders whose order is not the document's, as the SOAP
// encoding's: it adds namespace declarations to an ancestor after that
// ancestor's children have begun, and it appends referenced objects to an
// ancestor (the "branch root") while a descendant of it is still open.
//  - A document is written in two runs of the same steps. The first (Plan)
//    writes nowhere: it measures the document, notes the attributes each
//    element ends up with, and keeps a copy of the branch root's own
//    children. The second (Emit) writes every start tag once, complete, and
//    puts the root's children in the order they were made, streaming the
//    branches. The steps must be the same in every run.
//  - When the root's own children are too large to keep (kStreamCaptureMax)
//    and all come before the branches, the document is written in two runs
//    after the plan instead of one: EmitHead writes it up to the end of the
//    root's last own child, EmitTail the rest, the branches as they are
//    made. EmitRuns says which runs a plan needs.
//  - BeginBranch makes the next element a child of the branch root, from
//    anywhere; it is written after the root's children made before it.
// Memory: the open elements, the root's own children up to the limit, and
// branches begun while another branch is open; nothing per root child.
#pragma once

#include <cstdint>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace vv {

// Where written bytes go.
class TXMLSink {
public:
  virtual ~TXMLSink() = default;
  virtual void Put(const char *data, size_t size) = 0;
};

// A sink appending to a string.
class TXMLStringSink : public TXMLSink {
public:
  explicit TXMLStringSink(std::string &out) : FOut(out) {}
  void Put(const char *data, size_t size) override { FOut.append(data, size); }

private:
  std::string &FOut;
};

// What the first run of a document learnt, for the others.
struct TXMLWritePlan {
  struct TAttr {
    std::string Name, Value;
  };
  // Children of the branch root made one after the other, all of one kind:
  // branches, or the root's own children.
  struct TPieceRun {
    bool Branch;
    size_t Count;
  };
  uint64_t Size = 0; // bytes of the whole document
  // Elements (by making number) whose attributes changed after their start
  // tag was complete, with the attributes they ended with.
  std::unordered_map<uint32_t, std::vector<TAttr>> FinalAttrs;
  // The branch root's children in making order, as runs: a million
  // branches in a row are one entry.
  std::vector<TPieceRun> RootChildren;
  // The root's own children's text, kept for later in the pieces it was
  // handed on in: no piece grows, so keeping a large text costs its size
  // and never a copy of it.
  using TPieces = std::vector<std::string>;
  std::deque<TPieces> Captures; // stays where it is while more are added
  size_t CapturedBytes = 0;
  // False when the root's own children are not kept: larger than
  // kStreamCaptureMax, or something inside them changed after it was
  // written.
  bool CapturesValid = true;
  uint64_t HeadSize = 0; // what EmitHead wrote, for EmitTail's check
  // Whether the document is written by EmitHead and EmitTail: its root's
  // own children are not kept and all come before the branches.
  bool InTwoRuns() const {
    return !CapturesValid && !RootChildren.empty() && !RootChildren[0].Branch &&
           RootChildren.size() <= 2;
  }
};

class TXMLStreamWriter {
public:
  enum class TRun { Plan, Emit, EmitHead, EmitTail };
  // The runs that write a planned document, in order.
  struct TEmitRuns {
    TRun Runs[2];
    size_t Count;
    const TRun *begin() const { return Runs; }
    const TRun *end() const { return Runs + Count; }
  };
  static TEmitRuns EmitRuns(const TXMLWritePlan &plan) {
    return plan.InTwoRuns() ? TEmitRuns{{TRun::EmitHead, TRun::EmitTail}, 2}
                            : TEmitRuns{{TRun::Emit, TRun::Emit}, 1};
  }
  // Whether a name is checked: Trusted is for names the caller checked
  // once already (its own fixed names, a registry's names per message).
  enum class TNames { Check, Trusted };
  // An element, by its making number (both runs number alike); 0 is the
  // document itself.
  using THandle = uint32_t;
  static constexpr THandle kDocument = 0;

  // Plan: `plan` receives what the run learns and `out` is unused. The
  // others: `plan` is the first run's, and the document goes to `out`.
  TXMLStreamWriter(TRun run, TXMLWritePlan &plan, TXMLSink *out);
  ~TXMLStreamWriter();
  TXMLStreamWriter(const TXMLStreamWriter &) = delete;
  TXMLStreamWriter &operator=(const TXMLStreamWriter &) = delete;

  TRun Run() const { return FRun; }

  // The XML declaration; an empty encoding writes none (the bytes are UTF-8
  // whatever is declared, so another name is written as "UTF-8").
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
  // Sets an attribute of the open element `el` (appended, or its value
  // replaced): as IXMLNode::SetAttribute.
  void Attribute(THandle el, std::string_view name, std::string_view value,
                 TNames names = TNames::Check);
  void Attribute(std::string_view name, std::string_view value, TNames names = TNames::Check) {
    Attribute(Current(), name, value, names);
  }
  // Character data of the current element (nothing when empty): as
  // IXMLNode::SetText on an element without children; appended otherwise.
  void Text(std::string_view value);

  // As IXMLNode::DeclareNamespace on the open element `el`.
  void DeclareNamespace(THandle el, std::string_view prefix, std::string_view uri);
  // As IXMLNode::FindNamespaceDecl at the open element `el`: the prefix of
  // the closest declaration of `uri` in scope (ASCII case ignored; "" for a
  // default declaration). False when there is none.
  bool FindNamespaceDecl(THandle el, std::string_view uri, std::string &prefix) const;
  // As IXMLDocument::GeneratePrefix at `el`: "NS1", "NS2", ... skipping
  // prefixes bound in scope; one counter per document.
  std::string GeneratePrefix(THandle el);

  // The open element that takes branches; set once, before it has children.
  void SetBranchRoot(THandle el);
  // Makes the next element a child of the branch root, written after the
  // root's children made so far. The branch ends when that element does.
  void BeginBranch();

  // The current element (kDocument before the document element).
  THandle Current() const;
  // Ends the run: the Plan run completes the plan; the last emitting run
  // checks that exactly the planned bytes were written.
  void Finish();

private:
  // Where bytes go. Out is shut while a run of two is outside its part of
  // the document; Stream is EmitTail's branches, written whatever else is.
  enum class TDest : uint8_t { Count, Capture, Out, Stream, Discard, Keep };
  // A place among the branch root's children, moved forward one child at a
  // time through the plan's runs.
  struct TPieceCursor {
    size_t Run = 0, InRun = 0; // in FPlan.RootChildren
    size_t Piece = 0, Own = 0; // children, and own children, before it
  };
  // A root child kept in memory until its turn (Emit).
  struct TKept {
    TXMLWritePlan::TPieces Text;
    bool Done = false;
  };
  struct TElem;
  struct TAttrRef; // an attribute kept in FAttrText
  TElem *Find(THandle el);
  const TElem *Find(THandle el) const;
  std::string_view AttrName(const TAttrRef &a) const;
  std::string_view AttrValue(const TAttrRef &a) const;
  TAttrRef *FindAttr(TElem &e, std::string_view name);
  void AddAttr(TElem &e, std::string_view name, std::string_view value);
  bool Binding(const TElem *el, std::string_view prefix, std::string_view &uri) const;
  TElem &Push();
  void CloseStartTag(TElem &e);
  void StartTagBytes(const TElem &e);
  // The output buffer, written by hand: most pieces are a few bytes long.
  void Put(const char *data, size_t size) {
    if (size > size_t(FEnd - FPos)) Grow(size);
    std::memcpy(FPos, data, size);
    FPos += size;
  }
  void Put(std::string_view s) { Put(s.data(), s.size()); }
  void Put(char c) {
    if (FPos == FEnd) Grow(1);
    *FPos++ = c;
  }
  void PutEscaped(std::string_view s, bool attr);
  void Grow(size_t size);
  size_t Pending() const { return size_t(FPos - FBuf.data()); }
  void SetDest(TDest dest, TXMLWritePlan::TPieces *keep);
  void Flush();
  static void Keep(TXMLWritePlan::TPieces &pieces, const char *data, size_t n);
  void Pump();
  size_t AttributeSize(std::string_view name, std::string_view value);
  void OnRootChild(TElem &child, bool branch);
  bool AtEnd(const TPieceCursor &c) const { return c.Run >= FPlan.RootChildren.size(); }
  bool IsBranch(const TPieceCursor &c) const { return FPlan.RootChildren[c.Run].Branch; }
  void Advance(TPieceCursor &c) const;
  bool Emitting() const { return FRun != TRun::Plan; }
  void DropCaptures();

  TRun FRun;
  TXMLWritePlan &FPlan;
  TXMLSink *FOut;
  std::vector<std::unique_ptr<TElem>> FStack; // open elements, oldest first (pooled)
  size_t FDepth = 0;                          // how many of FStack are open
  // The attributes of the open elements, in one stack: an element's own
  // come after its ancestors' (a start tag is complete before a child
  // begins), names and values side by side in FAttrText.
  std::vector<TAttrRef> FAttrs;
  std::string FAttrText;
  std::string FBuf; // bytes not yet handed to their destination, up to FPos
  char *FPos = nullptr, *FEnd = nullptr;
  TDest FDest = TDest::Count;              // where FBuf goes
  TXMLWritePlan::TPieces *FKeep = nullptr; // for TDest::Capture and TDest::Keep
  std::string FScratch;
  uint32_t FNextId = 1;
  int FPrefixCounter = 0;
  bool FLateDefault = false; // a default namespace was declared late: no cached bindings
  bool FDeclared = false;    // an XML declaration precedes the document element
  bool FHasRoot = false;     // the document element exists
  THandle FBranchRoot = 0;   // none while 0
  bool FBranchNext = false;  // BeginBranch was called; the next element starts it
  TPieceCursor FMade;        // emitting: the next root child to be made
  TPieceCursor FDue;         // Emit: the first root child not yet written
  bool FStreaming = false;   // Emit: a branch is being written straight out
  bool FOpen = true;         // whether Out bytes are written
  std::unordered_map<size_t, TKept> FKept; // Emit: root children kept, by piece
  uint64_t FWritten = 0;
};

} // namespace vv
