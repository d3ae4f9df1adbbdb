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

// Whatever a value holds, the output is well-formed XML 1.0: characters XML
// forbids, and bytes that are not UTF-8, become U+FFFD in text and in
// attribute values alike.
TEST(XMLWrite, ForbiddenCharactersBecomeReplacementCharacters) {
  const std::string R = "\xEF\xBF\xBD"; // U+FFFD
  struct {
    const char *name;
    std::string value, text, attr;
  } cases[] = {
      {"control character",
       "a\x01"
       "b",
       "a" + R + "b", "a" + R + "b"},
      {"every forbidden control", "\x02\x08\x0B\x0C\x1F", R + R + R + R + R, R + R + R + R + R},
      {"allowed controls", "\t\n\r", "\t\n&#13;", "&#9;&#10;&#13;"},
      {"NUL, and what follows it", std::string("a\0b", 3), "a" + R + "b", "a" + R + "b"},
      {"U+FFFE and U+FFFF", "\xEF\xBF\xBE\xEF\xBF\xBF", R + R, R + R},
      {"lone lead byte", "x\xC3", "x" + R, "x" + R},
      {"stray continuation bytes", "\x80\xBFy", R + R + "y", R + R + "y"},
      {"overlong form", "\xC0\x80", R + R, R + R},
      {"encoded surrogate", "\xED\xA0\x80", R + R + R, R + R + R},
      {"beyond U+10FFFF", "\xF4\x90\x80\x80", R + R + R + R, R + R + R + R},
      {"DEL, C1 and astral characters stay", "\x7F\xC2\x85\xF0\x9F\x98\x80",
       "\x7F\xC2\x85\xF0\x9F\x98\x80", "\x7F\xC2\x85\xF0\x9F\x98\x80"},
      {"after a long plain run", std::string(20, 'p') + "\x01<", std::string(20, 'p') + R + "&lt;",
       std::string(20, 'p') + R + "&lt;"},
  };
  for (auto &c : cases) {
    SCOPED_TRACE(c.name);
    auto doc = NewXMLDocument();
    IXMLNode a = doc->AddChild("a");
    a.SetAttribute("v", c.value);
    a.SetText(c.value);
    std::string xml = doc->XML();
    EXPECT_EQ(xml, "<?xml version=\"1.0\"?>\r\n<a v=\"" + c.attr + "\">" + c.text + "</a>");
    auto again = NewXMLDocument();
    EXPECT_NO_THROW(again->LoadFromXML(xml)) << xml;
  }
}

// Comments, CDATA sections and names are written as they are, but never
// with a character XML forbids.
TEST(XMLWrite, MarkupNeverCarriesForbiddenCharacters) {
  auto doc = NewXMLDocument();
  doc->LoadFromXML("<a><!--c--><![CDATA[d]]></a>");
  IXMLNode a = doc->DocumentElement();
  a.ChildNodes()[0].SetText("x\x01y");
  a.ChildNodes()[1].SetText("\xFFz");
  std::string xml = doc->XML();
  EXPECT_EQ(xml,
            "<?xml version=\"1.0\"?>\r\n<a><!--x\xEF\xBF\xBDy--><![CDATA[\xEF\xBF\xBDz]]></a>");
  auto again = NewXMLDocument();
  EXPECT_NO_THROW(again->LoadFromXML(xml)) << xml;
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
