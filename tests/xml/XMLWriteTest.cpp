// Writing documents: exact bytes, indentation, and very large or deep trees.
#include <gtest/gtest.h>

#include "xml/XMLDoc.h"

using namespace vv;

namespace {

TEST(XMLWrite, ExactBytes) {
  struct {
    const char *name;
    const char *encoding;
    void (*build)(IXMLDocument &);
    std::string expect;
  } cases[] = {
      {"declaration only", "", [](IXMLDocument &) {}, "<?xml version=\"1.0\"?>"},
      {"encoding pseudo-attribute", "utf-8", [](IXMLDocument &d) { d.AddChild("a"); },
       "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<a/>"},
      {"escaping in text and attributes", "",
       [](IXMLDocument &d) {
         IXMLNode a = d.AddChild("a");
         a.SetAttribute("q", "&<>\"'\t\n\r");
         a.SetText("&<>\"'\t\n\r]]>");
       },
       "<?xml version=\"1.0\"?>\r\n<a q=\"&amp;&lt;&gt;&quot;'&#9;&#10;&#13;\">"
       "&amp;&lt;&gt;\"'\t\n&#13;]]&gt;</a>"},
      {"empty elements and empty text", "",
       [](IXMLDocument &d) {
         IXMLNode a = d.AddChild("a");
         a.AddChild("b", "").SetText("");
         a.AddChild("c", "").SetAttribute("x", "");
       },
       "<?xml version=\"1.0\"?>\r\n<a><b/><c x=\"\"/></a>"},
      {"non-ASCII text passes unchanged", "",
       [](IXMLDocument &d) {
         d.AddChild("a").SetText("Z\xC3\xBCrich \xE2\x82\xAC \xF0\x9F\x98\x80");
       },
       "<?xml version=\"1.0\"?>\r\n<a>Z\xC3\xBCrich \xE2\x82\xAC \xF0\x9F\x98\x80</a>"},
      {"CDATA, comments and other kinds", "",
       [](IXMLDocument &d) {
         d.Node().AppendComment("top");
         IXMLNode a = d.AddChild("a");
         a.AppendCData("x]]>y");
         a.AppendComment("a--b-");
         a.AppendText("t");
       },
       "<?xml version=\"1.0\"?>\r\n<!--top-->\r\n<a><![CDATA[x]]]]><![CDATA[>y]]><!--a- -b- "
       "-->t</a>"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    auto doc = NewXMLDocument("1.0");
    doc->SetEncoding(c.encoding);
    c.build(*doc.Get());
    TMemoryStream s("prefix:");
    s.SetPosition(7);
    doc->SaveToStream(s);
    EXPECT_EQ(s.DataString(), "prefix:" + c.expect);
    // What is written reads back to the same text.
    if (!doc->DocumentElement()) continue;
    auto again = NewXMLDocument();
    again->LoadFromXML(c.expect);
    again->SetEncoding(c.encoding);
    EXPECT_EQ(again->XML(), c.expect);
  }
}

TEST(XMLWrite, IndentingMode) {
  auto doc = NewXMLDocument();
  doc->SetOptions(doc->Options() | doNodeAutoIndent);
  doc->SetEncoding("utf-8");
  IXMLNode defs = doc->AddChild("definitions", "http://schemas.xmlsoap.org/wsdl/");
  defs.DeclareNamespace("xs", "http://www.w3.org/2001/XMLSchema");
  IXMLNode types = defs.AddChild("types");
  types.AddChild("xs:schema").AddChild("xs:sequence");
  defs.AddChild("message").AddChild("part").SetAttribute("name", "Airport");
  defs.AddChild("doc").SetText("one line");
  IXMLNode mixed = defs.AddChild("mixed");
  mixed.AppendText("a");
  mixed.AddChild("b").AddChild("c");
  EXPECT_EQ(doc->XML(), "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
                        "<definitions xmlns=\"http://schemas.xmlsoap.org/wsdl/\" "
                        "xmlns:xs=\"http://www.w3.org/2001/XMLSchema\">\r\n"
                        "  <types>\r\n"
                        "    <xs:schema>\r\n"
                        "      <xs:sequence/>\r\n"
                        "    </xs:schema>\r\n"
                        "  </types>\r\n"
                        "  <message>\r\n"
                        "    <part name=\"Airport\"/>\r\n"
                        "  </message>\r\n"
                        "  <doc>one line</doc>\r\n"
                        "  <mixed>a<b><c/></b></mixed>\r\n"
                        "</definitions>");
  // Node XML never indents; the document reads back without the whitespace.
  EXPECT_EQ(types.XML(), "<types><xs:schema><xs:sequence/></xs:schema></types>");
  auto again = NewXMLDocument();
  again->LoadFromXML(doc->XML());
  EXPECT_EQ(again->DocumentElement().ChildNodes().Count(), 4);
}

// A document nested a million levels deep is parsed, walked, written, cut
// down and freed with explicit loops only (the stack would not survive
// recursion at this depth).
TEST(XMLWrite, VeryDeepDocument) {
  constexpr int kDepth = 1000000;
  std::string xml;
  xml.reserve(size_t(kDepth) * 7 + 16);
  for (int i = 0; i < kDepth; ++i) xml += "<a>";
  xml += "x";
  for (int i = 0; i < kDepth; ++i) xml += "</a>";

  auto doc = NewXMLDocument();
  doc->LoadFromXML(xml);
  IXMLNode n = doc->DocumentElement();
  int depth = 1;
  while (IXMLNode c = n.FirstChildElement()) n = c, ++depth;
  EXPECT_EQ(depth, kDepth);
  EXPECT_EQ(n.Text(), "x");
  EXPECT_EQ(n.NamespaceURI(), "");
  EXPECT_EQ(doc->DocumentElement().Text(), "x");
  EXPECT_EQ(doc->XML(), "<?xml version=\"1.0\"?>\r\n" + xml);
  IXMLNode half = doc->DocumentElement();
  for (int i = 0; i < kDepth / 2; ++i) half = half.FirstChild();
  half.SetText("cut"); // frees half a million levels
  EXPECT_EQ(half.XML(), "<a>cut</a>");
  doc->DocumentElement().ParentNode().RemoveChild(doc->DocumentElement());
  EXPECT_FALSE(doc->DocumentElement());

  auto wide = NewXMLDocument();
  IXMLNode root = wide->AddChild("r");
  for (int i = 0; i < 100000; ++i) root.AddChild("i", "").SetAttribute("id", "v");
  int count = root.ChildNodes().Count(), seen = 0;
  for (int i = 0; i < count; ++i) seen += root.ChildNodes()[i] ? 1 : 0; // linear via the cursor
  EXPECT_EQ(seen, 100000);
}

} // namespace
