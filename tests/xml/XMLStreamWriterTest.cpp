// The streaming writer: the same bytes as the DOM for the same building
// steps, forward only, and its output's destinations.
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
  enum TKind { Start, Leaf, End, Attr, Text, Declare } Kind;
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
// Declares on the current element the prefix found for (or generated for)
// `uri` at it.
TStep Declare(std::string uri) { return {TStep::Declare, uri, {}, {}, {}}; }

std::string ByDom(const std::vector<TStep> &steps) {
  auto doc = NewXMLDocument("1.0");
  std::vector<IXMLNode> open{doc->Node()};
  for (const TStep &s : steps) {
    switch (s.Kind) {
    case TStep::Start:
      open.push_back(open.back().AddChild(s.A, s.B));
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
    case TStep::Declare:
      if (!open.back().FindNamespaceDecl(s.A))
        open.back().DeclareNamespace(doc->GeneratePrefix(open.back()), s.A);
      break;
    }
  }
  return doc->XML();
}

void Replay(TXMLStreamWriter &w, const std::vector<TStep> &steps) {
  w.Declaration("1.0", "");
  for (const TStep &s : steps) {
    switch (s.Kind) {
    case TStep::Start:
      w.StartElement(s.A, s.B);
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
    case TStep::Declare: {
      std::string prefix;
      if (!w.FindNamespaceDecl(w.Current(), s.A, prefix))
        w.DeclareNamespace(w.Current(), w.GeneratePrefix(w.Current()), s.A);
      break;
    }
    }
  }
  w.Finish();
}

// Records the pieces handed on.
struct TPieces : TXMLSink {
  std::string All;
  std::vector<size_t> Sizes;
  void Put(const char *data, size_t size) override {
    All.append(data, size);
    Sizes.push_back(size);
  }
};

std::string ByWriter(const std::vector<TStep> &steps) {
  std::string out;
  TXMLOutput o(out);
  TXMLStreamWriter w(o);
  Replay(w, steps);
  return out;
}

TEST(XMLStreamWriter, SameBytesAsTheDOM) {
  const std::string ns1 = "urn:one", ns2 = "urn:two";
  struct {
    const char *name;
    std::vector<TStep> steps;
  } cases[] = {
      {"nesting, empty elements, text",
       {Start("a"), Start("b"), End(), Start("c"), Text("x"), End(), End()}},
      {"escaping", {Start("a"), Attr("q", "&<>\"'\t\n\r"), Text("&<>\"'\t\n\r]]>"), End()}},
      {"a replaced attribute keeps its place",
       {Start("a"), Attr("x", "1"), Attr("y", "2"), Attr("x", "3"), End()}},
      {"prefixed names declare their prefix once",
       {Start("p:a", ns1), Start("p:b", ns1), End(), Start("p:c", ns2), End(), End()}},
      {"default namespace, and leaving it with xmlns=\"\"",
       {Start("a", ns1), Start("b", ns1), End(), Start("c", ""), Start("d", ""), End(), End(),
        Start("e", ns2), End(), End()}},
      {"leaves take the same rules",
       {Start("a", ns1), Leaf("b", ns1, "t", "v", "x"), Leaf("c", "", "", "", ""),
        Leaf("p:d", ns2, "", "", "&"), Leaf("e", ns1, "k", "<", ""), End()}},
      {"declarations made before the children, found below",
       {Start("env"), Start("body"), Declare(ns1), Declare(ns2), Declare(ns1), Start("m"),
        Declare(ns2), Start("v"), Text("1"), End(), End(), End(), End()}},
      {"a prefix generated past the ones in scope",
       {Start("NS1:a", ns1), Declare(ns2), Start("b"), Declare("urn:three"), End(), End()}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ByWriter(c.steps), ByDom(c.steps));
  }
}

// Every start tag is final when it is written: nothing is added to it once
// the element has content.
TEST(XMLStreamWriter, StartTagsAreFinal) {
  std::string out;
  TXMLOutput o(out);
  TXMLStreamWriter w(o);
  auto a = w.StartElement("a", "");
  w.StartElement("b", "");
  EXPECT_THROW(w.Attribute(a, "late", "x"), EXMLDocError);
  EXPECT_THROW(w.DeclareNamespace(a, "p", "urn:p"), EXMLDocError);
  w.Text("t");
  EXPECT_THROW(w.Attribute("late", "x"), EXMLDocError);
  w.EndElement();
  w.EndElement();
  w.Finish();
  EXPECT_EQ(out, "<a><b>t</b></a>");
}

// The output's destinations: a string, a string up to a limit (past it,
// measured only), a sink in pieces, a measure; the same sizes every way.
TEST(XMLStreamWriter, Destinations) {
  std::vector<TStep> steps{Start("body"), Start("m")};
  for (int i = 1; i <= 1000; ++i)
    steps.push_back(Leaf("item", "", "href", "#" + std::to_string(i), std::string(200, 'x')));
  steps.push_back(End());
  steps.push_back(End());
  std::string whole = ByWriter(steps);
  ASSERT_GT(whole.size(), 200000u);
  EXPECT_EQ(whole, ByDom(steps));

  TPieces pieces;
  {
    TXMLOutput o(pieces);
    TXMLStreamWriter w(o);
    Replay(w, steps);
    EXPECT_EQ(o.Size(), whole.size());
  }
  EXPECT_EQ(pieces.All, whole);
  for (size_t s : pieces.Sizes) EXPECT_LE(s, kStreamFlushSize + kStreamSlack);

  TXMLOutput measure;
  {
    TXMLStreamWriter w(measure);
    Replay(w, steps);
  }
  EXPECT_EQ(measure.Size(), whole.size());

  for (size_t limit : {whole.size(), whole.size() - 1, size_t(100)}) {
    std::string text = "kept";
    TXMLOutput o(text, limit);
    TXMLStreamWriter w(o);
    Replay(w, steps);
    EXPECT_EQ(o.Size(), whole.size());
    EXPECT_EQ(o.Measuring(), limit < whole.size());
    EXPECT_EQ(text, limit < whole.size() ? "kept" : "kept" + whole);
  }
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
      {"an attribute after the content began",
       [](TXMLStreamWriter &w) {
         w.StartElement("a", "");
         w.Text("x");
         w.Attribute("b", "1");
       },
       "SetAttribute: the element's start tag is written already"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    TXMLOutput measure;
    TXMLStreamWriter w(measure);
    try {
      c.steps(w);
      ADD_FAILURE() << "no error";
    } catch (const EXMLDocError &e) {
      EXPECT_EQ(e.Message, c.message);
    }
  }
}

} // namespace
