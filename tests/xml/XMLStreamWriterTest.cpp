// The streaming writer: the same bytes as the DOM for the same building
// steps, late declarations and branches in document order, and streaming.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "xml/XMLDoc.h"
#include "xml/XMLLimits.h"
#include "xml/XMLStreamWriter.h"

using namespace vv;

namespace {

// One building step, applied to the DOM and to the writer alike.
struct TStep {
  enum TKind { Start, Leaf, End, Attr, Text, DeclareOnRoot, Branch } Kind;
  std::string A, B, C, D;
};
TStep Start(std::string name, std::string ns = {}) { return {TStep::Start, name, ns, {}, {}}; }
TStep Leaf(std::string name, std::string ns, std::string attr, std::string value,
           std::string text) {
  return {TStep::Leaf, name, ns, attr + "\n" + value, text};
}
TStep End() { return {TStep::End, {}, {}, {}, {}}; }
TStep Attr(std::string name, std::string value) { return {TStep::Attr, name, value, {}, {}}; }
TStep Text(std::string value) { return {TStep::Text, value, {}, {}, {}}; }
// Declares the prefix found for (or generated for) `uri` on the branch root.
TStep DeclareOnRoot(std::string uri) { return {TStep::DeclareOnRoot, uri, {}, {}, {}}; }
// The next Start makes a child of the branch root.
TStep Branch() { return {TStep::Branch, {}, {}, {}, {}}; }

// The branch root is the element made by the step numbered `rootStep`.
std::string ByDom(const std::vector<TStep> &steps, size_t rootStep) {
  auto doc = NewXMLDocument("1.0");
  // The open elements, a branch's on top of those open when it began.
  std::vector<IXMLNode> open{doc->Node()};
  IXMLNode root;
  bool branch = false;
  for (size_t i = 0; i < steps.size(); ++i) {
    const TStep &s = steps[i];
    switch (s.Kind) {
    case TStep::Start:
      open.push_back((branch ? root : open.back()).AddChild(s.A, s.B));
      branch = false;
      if (i == rootStep) root = open.back();
      break;
    case TStep::Leaf: {
      IXMLNode el = open.back().AddChild(s.A, s.B);
      size_t nl = s.C.find('\n');
      if (nl > 0) el.SetAttribute(s.C.substr(0, nl), s.C.substr(nl + 1));
      el.SetText(s.D);
      break;
    }
    case TStep::End:
      open.pop_back();
      break;
    case TStep::Attr:
      open.back().SetAttribute(s.A, s.B);
      break;
    case TStep::Text:
      open.back().SetText(s.A);
      break;
    case TStep::DeclareOnRoot:
      if (!root.FindNamespaceDecl(s.A)) root.DeclareNamespace(doc->GeneratePrefix(root), s.A);
      break;
    case TStep::Branch:
      branch = true;
      break;
    }
  }
  return doc->XML();
}

void Replay(TXMLStreamWriter &w, const std::vector<TStep> &steps, size_t rootStep) {
  w.Declaration("1.0", "");
  TXMLStreamWriter::THandle root = 0;
  for (size_t i = 0; i < steps.size(); ++i) {
    const TStep &s = steps[i];
    switch (s.Kind) {
    case TStep::Start:
      w.StartElement(s.A, s.B);
      if (i == rootStep) w.SetBranchRoot(root = w.Current());
      break;
    case TStep::Leaf: {
      size_t nl = s.C.find('\n');
      std::string_view c = s.C;
      w.LeafElement(s.A, s.B, {c.substr(0, nl), c.substr(nl + 1)}, s.D);
      break;
    }
    case TStep::End:
      w.EndElement();
      break;
    case TStep::Attr:
      w.Attribute(s.A, s.B);
      break;
    case TStep::Text:
      w.Text(s.A);
      break;
    case TStep::DeclareOnRoot: {
      std::string prefix;
      if (!w.FindNamespaceDecl(root, s.A, prefix))
        w.DeclareNamespace(root, w.GeneratePrefix(root), s.A);
      break;
    }
    case TStep::Branch:
      w.BeginBranch();
      break;
    }
  }
  w.Finish();
}

// Records the pieces the emitting run hands on.
struct TPieces : TXMLSink {
  std::string All;
  std::vector<size_t> Sizes;
  void Put(const char *data, size_t size) override {
    All.append(data, size);
    Sizes.push_back(size);
  }
};

std::string ByWriter(const std::vector<TStep> &steps, size_t rootStep,
                     TXMLWritePlan *planOut = nullptr) {
  TXMLWritePlan plan;
  {
    TXMLStreamWriter w(TXMLStreamWriter::TRun::Plan, plan, nullptr);
    Replay(w, steps, rootStep);
  }
  TPieces out;
  for (TXMLStreamWriter::TRun run : TXMLStreamWriter::EmitRuns(plan)) {
    TXMLStreamWriter w(run, plan, &out);
    Replay(w, steps, rootStep);
  }
  EXPECT_EQ(out.All.size(), plan.Size);
  if (planOut) *planOut = std::move(plan);
  return out.All;
}

constexpr size_t kNoRoot = size_t(-1);

TEST(XMLStreamWriter, SameBytesAsTheDOM) {
  const std::string ns1 = "urn:one", ns2 = "urn:two";
  struct {
    const char *name;
    std::vector<TStep> steps;
    size_t root;
  } cases[] = {
      {"nesting, empty elements, text",
       {Start("a"), Start("b"), End(), Start("c"), Text("x"), End(), End()},
       kNoRoot},
      {"escaping",
       {Start("a"), Attr("q", "&<>\"'\t\n\r"), Text("&<>\"'\t\n\r]]>"), End()},
       kNoRoot},
      {"a replaced attribute keeps its place",
       {Start("a"), Attr("x", "1"), Attr("y", "2"), Attr("x", "3"), End()},
       kNoRoot},
      {"prefixed names declare their prefix once",
       {Start("p:a", ns1), Start("p:b", ns1), End(), Start("p:c", ns2), End(), End()},
       kNoRoot},
      {"default namespace, and leaving it with xmlns=\"\"",
       {Start("a", ns1), Start("b", ns1), End(), Start("c", ""), Start("d", ""), End(), End(),
        Start("e", ns2), End(), End()},
       kNoRoot},
      {"leaves take the same rules",
       {Start("a", ns1), Leaf("b", ns1, "t", "v", "x"), Leaf("c", "", "", "", ""),
        Leaf("p:d", ns2, "", "", "&"), Leaf("e", ns1, "k", "<", ""), End()},
       kNoRoot},
      {"declarations added to an ancestor after its children",
       {Start("env"), Start("body"), Start("m"), DeclareOnRoot(ns1), Start("v"), Text("1"), End(),
        DeclareOnRoot(ns2), DeclareOnRoot(ns1), End(), End(), End()},
       1},
      {"branches follow the root's own children made before them",
       {Start("env"),
        Start("body"),
        Start("m"),
        Start("return"),
        Branch(),
        Start("ref"),
        Attr("id", "1"),
        Leaf("f", "", "t", "s", "one"),
        End(),
        Leaf("item", "", "href", "#1", ""),
        DeclareOnRoot(ns1),
        Branch(),
        Start("ref"),
        Attr("id", "2"),
        End(),
        Leaf("item", "", "href", "#2", ""),
        End(),
        End(),
        End(),
        End()},
       1},
      {"a branch begun inside a branch comes after it",
       {Start("body"), Start("m"), Branch(), Start("ref"), Attr("id", "1"), Branch(), Start("ref"),
        Attr("id", "2"), End(), Leaf("child", "", "href", "#2", ""), End(),
        Leaf("item", "", "href", "#1", ""), End(), End()},
       0},
      {"a late change inside own children that come between branches (kept, not captured)",
       {Start("body"), Start("m"), Start("return"), Branch(), Start("ref"), Attr("id", "1"), End(),
        End(), Attr("late", "x"), End(), Start("out"), Branch(), Start("ref"), Attr("id", "2"),
        End(), Leaf("item", "", "href", "#2", ""), End(), End()},
       0},
      {"own children of the root between branches",
       {Start("body"), Start("m"), Start("return"), Branch(), Start("ref"), Attr("id", "1"), End(),
        Leaf("item", "", "href", "#1", ""), End(), Start("out"), Branch(), Start("ref"),
        Attr("id", "2"), End(), Leaf("item", "", "href", "#2", ""), End(), End(), End()},
       1},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ByWriter(c.steps, c.root), ByDom(c.steps, c.root));
  }
}

// A late change to an element inside the root's own children: the second
// run keeps its own copy of them, and the bytes stay the DOM's.
TEST(XMLStreamWriter, LateChangeInsideTheRootsChildren) {
  std::vector<TStep> steps{Start("body"), Start("m"), Start("return"),   Branch(), Start("ref"),
                           End(),         End(),      Attr("late", "x"), End(),    End()};
  // Attr("late") goes to "m" after its child "return" was made.
  TXMLWritePlan plan;
  std::string got = ByWriter(steps, 0, &plan);
  EXPECT_FALSE(plan.CapturesValid);
  EXPECT_TRUE(plan.InTwoRuns());
  EXPECT_EQ(got, "<?xml version=\"1.0\"?>\r\n<body><m late=\"x\"><return/></m><ref/></body>");
  EXPECT_EQ(got, ByDom(steps, 0));
}

// The emitting run streams the branches: with a thousand of them nothing
// larger than one piece is handed on at a time, and the root's own
// children come out first.
TEST(XMLStreamWriter, BranchesStream) {
  std::vector<TStep> steps{Start("body"), Start("m"), Start("return")};
  for (int i = 1; i <= 1000; ++i) {
    steps.push_back(Branch());
    steps.push_back(Start("ref"));
    steps.push_back(Attr("id", std::to_string(i)));
    steps.push_back(Leaf("f", "", "", "", std::string(200, 'x')));
    steps.push_back(End());
    steps.push_back(Leaf("item", "", "href", "#" + std::to_string(i), ""));
  }
  for (int i = 0; i < 3; ++i) steps.push_back(End());
  TXMLWritePlan plan;
  {
    TXMLStreamWriter w(TXMLStreamWriter::TRun::Plan, plan, nullptr);
    Replay(w, steps, 0);
  }
  TPieces out;
  {
    TXMLStreamWriter w(TXMLStreamWriter::TRun::Emit, plan, &out);
    Replay(w, steps, 0);
  }
  EXPECT_EQ(out.All, ByDom(steps, 0));
  ASSERT_GT(out.All.size(), 200000u);
  for (size_t s : out.Sizes) EXPECT_LE(s, 80u * 1024);
  EXPECT_LT(out.All.find("#1000\""), out.All.find("<ref id=\"1\">"));
}

// References too many to keep (more than kStreamCaptureMax bytes of them):
// the plan keeps none of them nor anything per branch, and the document is
// written in two runs that hand on nothing larger than a piece.
TEST(XMLStreamWriter, ManyReferencesAreWrittenInTwoRunsKeepingNothing) {
  std::vector<TStep> steps{Start("env"), Start("body"), Start("m"), Start("return")};
  const int n = int(kStreamCaptureMax / 16); // each reference is more than 16 bytes
  for (int i = 1; i <= n; ++i) {
    steps.push_back(Branch());
    steps.push_back(Start("ref"));
    steps.push_back(Attr("id", std::to_string(i)));
    if (i % 2) steps.push_back(Leaf("f", "", "", "", "x"));
    steps.push_back(End());
    steps.push_back(Leaf("item", "", "href", "#" + std::to_string(i), ""));
    if (i == n / 2) steps.push_back(DeclareOnRoot("urn:late")); // on the root, mid-way
  }
  for (int i = 0; i < 4; ++i) steps.push_back(End());
  TXMLWritePlan plan;
  {
    TXMLStreamWriter w(TXMLStreamWriter::TRun::Plan, plan, nullptr);
    Replay(w, steps, 1);
  }
  EXPECT_FALSE(plan.CapturesValid);
  EXPECT_TRUE(plan.InTwoRuns());
  EXPECT_EQ(plan.RootChildren.size(), 2u);
  for (const auto &c : plan.Captures) EXPECT_EQ(c.capacity(), 0u);
  TPieces out;
  for (TXMLStreamWriter::TRun run : TXMLStreamWriter::EmitRuns(plan)) {
    TXMLStreamWriter w(run, plan, &out);
    Replay(w, steps, 1);
  }
  EXPECT_EQ(out.All, ByDom(steps, 1));
  EXPECT_EQ(out.All.size(), plan.Size);
  for (size_t s : out.Sizes) EXPECT_LE(s, 80u * 1024);
}

TEST(XMLStreamWriter, Errors) {
  struct {
    const char *name;
    std::function<void(TXMLStreamWriter &)> steps;
    const char *message;
  } cases[] = {
      {"invalid element name", [](TXMLStreamWriter &w) { w.StartElement("a b", ""); },
       "Invalid element name 'a b'"},
      {"invalid attribute name",
       [](TXMLStreamWriter &w) {
         w.StartElement("a", "");
         w.Attribute("1x", "v");
       },
       "Invalid attribute name '1x'"},
      {"second document element",
       [](TXMLStreamWriter &w) {
         w.StartElement("a", "");
         w.EndElement();
         w.StartElement("b", "");
       },
       "The document already has a document element"},
      {"xmlns cannot be declared",
       [](TXMLStreamWriter &w) { w.DeclareNamespace(w.StartElement("a", ""), "xmlns", "u"); },
       "The prefix 'xmlns' cannot be declared"},
      {"a branch needs its root",
       [](TXMLStreamWriter &w) {
         w.StartElement("a", "");
         w.BeginBranch();
       },
       "BeginBranch: there is no open branch root"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    TXMLWritePlan plan;
    TXMLStreamWriter w(TXMLStreamWriter::TRun::Plan, plan, nullptr);
    try {
      c.steps(w);
      ADD_FAILURE() << "no error";
    } catch (const EXMLDocError &e) {
      EXPECT_EQ(e.Message, c.message);
    }
  }
}

// Steps that differ between the two runs are caught, not written wrong.
TEST(XMLStreamWriter, RunsThatDifferAreRefused) {
  TXMLWritePlan plan;
  {
    TXMLStreamWriter w(TXMLStreamWriter::TRun::Plan, plan, nullptr);
    w.StartElement("a", "");
    w.Text("one");
    w.EndElement();
    w.Finish();
  }
  TPieces out;
  TXMLStreamWriter w(TXMLStreamWriter::TRun::Emit, plan, &out);
  w.StartElement("a", "");
  w.Text("other");
  w.EndElement();
  EXPECT_THROW(w.Finish(), EXMLDocError);
}

} // namespace
