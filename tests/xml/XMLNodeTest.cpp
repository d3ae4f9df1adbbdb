// Attributes, text, child lists and node kinds.
#include <gtest/gtest.h>

#include "xml/XMLDoc.h"

using namespace vv;

namespace {

constexpr const char *kEnv = "http://schemas.xmlsoap.org/soap/envelope/";
constexpr const char *kXsi = "http://www.w3.org/2001/XMLSchema-instance";

IPtr<IXMLDocument> Load(const std::string &xml) {
  auto doc = NewXMLDocument();
  doc->LoadFromXML(xml);
  return doc;
}

TEST(XMLNode, GetAttributeByFullNameAndNamespace) {
  auto doc = Load("<h xmlns:SOAP-ENV='http://schemas.xmlsoap.org/soap/envelope/' "
                  "xmlns:i='http://www.w3.org/2001/XMLSchema-instance' id='a1' i:type='t:X' "
                  "SOAP-ENV:mustUnderstand='1' mustUnderstand='0' empty=''/>");
  IXMLNode h = doc->DocumentElement();
  struct {
    const char *name;
    const char *uri; // nullptr: lookup by full name
    std::optional<std::string> expect;
  } cases[] = {
      {"id", nullptr, "a1"},
      {"empty", nullptr, ""}, // empty, not null
      {"missing", nullptr, std::nullopt},
      {"type", nullptr, std::nullopt}, // full name includes the prefix
      {"i:type", nullptr, "t:X"},
      {"mustUnderstand", nullptr, "0"},
      {"SOAP-ENV:mustUnderstand", nullptr, "1"},
      {"xmlns:i", nullptr, kXsi},
      {"type", kXsi, "t:X"},
      {"xsi:type", kXsi, "t:X"}, // the caller's prefix plays no part
      {"type", "http://www.w3.org/1999/XMLSchema-instance", std::nullopt},
      {"mustUnderstand", kEnv, "1"},
      {"mustUnderstand", "", "0"},
      {"id", "", "a1"},
      {"id", kEnv, std::nullopt},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(std::string(c.name) + " " + (c.uri ? c.uri : "(full name)"));
    if (c.uri) {
      EXPECT_EQ(h.GetAttributeNS(c.name, c.uri), c.expect);
      EXPECT_EQ(h.HasAttributeNS(c.name, c.uri), c.expect.has_value());
    } else {
      EXPECT_EQ(h.GetAttribute(c.name), c.expect);
      EXPECT_EQ(h.HasAttribute(c.name), c.expect.has_value());
    }
  }
  doc->SetOptions(doc->Options() & ~doAttrNull);
  EXPECT_EQ(h.GetAttribute("missing"), std::optional<std::string>(""));
}

TEST(XMLNode, AttributesKeepTheirOrder) {
  auto doc = NewXMLDocument();
  IXMLNode e = doc->AddChild("SOAP-ENV:Envelope", kEnv);
  e.DeclareNamespace("xsd", "http://www.w3.org/2001/XMLSchema");
  e.SetAttribute("id", "1");
  e.DeclareNamespace("xsi", kXsi);
  e.SetAttributeNS("type", kXsi, "NS2:Parcel");
  e.SetAttribute("id", "2"); // in place
  std::vector<std::string> names;
  for (IXMLNode a : e.AttributeNodes()) names.emplace_back(a.NodeName());
  EXPECT_EQ(names, (std::vector<std::string>{"xmlns:SOAP-ENV", "xmlns:xsd", "id", "xmlns:xsi",
                                             "xsi:type"}));
  TXMLAttrList list = e.AttributeNodes();
  ASSERT_EQ(list.Count(), 5);
  EXPECT_EQ(list[4].NodeName(), "xsi:type");
  EXPECT_EQ(list[2].Text(), "2");
  EXPECT_FALSE(list[5]);
  EXPECT_TRUE(e.RemoveAttribute("id"));
  EXPECT_FALSE(e.RemoveAttribute("id"));
  EXPECT_EQ(e.AttributeNodes().Count(), 4);
}

TEST(XMLNode, SetAttributeNSNamesTheAttribute) {
  auto doc = Load("<a xmlns='urn:d' xmlns:SOAP-ENV='http://schemas.xmlsoap.org/soap/envelope/'>"
                  "<b/></a>");
  IXMLNode b = doc->DocumentElement().FirstChild();
  b.SetAttributeNS("encodingStyle", kEnv, "enc");           // the bound prefix
  b.SetAttributeNS("SOAP-ENV:encodingStyle", kEnv, "enc2"); // existing one updated
  b.SetAttributeNS("x", "urn:d", "1");   // only a default declaration: a prefix is made
  b.SetAttributeNS("p:y", "urn:p", "2"); // the caller's unbound prefix is declared
  b.SetAttributeNS("id", "", "3");
  EXPECT_EQ(b.XML(), "<b SOAP-ENV:encodingStyle=\"enc2\" xmlns:NS1=\"urn:d\" NS1:x=\"1\" "
                     "xmlns:p=\"urn:p\" p:y=\"2\" id=\"3\"/>");
}

TEST(XMLNode, TextAndXMLOfNodes) {
  auto doc = Load("<r><t>plain</t><c><![CDATA[<raw>]]></c><m>a<b>x</b><!--n-->c</m><e/>"
                  "<s a='&quot;q&quot;'>  keep  spaces </s></r>");
  IXMLNode r = doc->DocumentElement();
  struct {
    const char *name;
    const char *text;
    const char *xml;
  } cases[] = {
      {"t", "plain", "<t>plain</t>"},
      {"c", "<raw>", "<c><![CDATA[<raw>]]></c>"},
      {"m", "axc", "<m>a<b>x</b><!--n-->c</m>"},
      {"e", "", "<e/>"},
      {"s", "  keep  spaces ", "<s a=\"&quot;q&quot;\">  keep  spaces </s>"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    IXMLNode n = r.ChildElement(c.name);
    ASSERT_TRUE(n);
    EXPECT_EQ(n.Text(), c.text);
    EXPECT_EQ(n.XML(), c.xml);
  }
  IXMLNode m = r.ChildElement("m");
  EXPECT_FALSE(m.IsTextElement());
  EXPECT_TRUE(r.ChildElement("t").IsTextElement());
  EXPECT_EQ(m.FirstChild().XML(), "a");
  EXPECT_EQ(r.ChildElement("s").AttributeNode("a").XML(), "a=\"&quot;q&quot;\"");
  m.SetText("only <this>");
  EXPECT_EQ(m.ChildNodes().Count(), 1);
  EXPECT_EQ(m.FirstChild().NodeType(), TNodeType::ntText);
  EXPECT_EQ(m.XML(), "<m>only &lt;this&gt;</m>");
  m.SetText("");
  EXPECT_FALSE(m.HasChildNodes());
  EXPECT_EQ(m.XML(), "<m/>");
}

TEST(XMLNode, ChildNodesKindsAndIndexes) {
  auto doc = Load("<r>\n  <a/>\n  text<![CDATA[cd]]><!--c--><?pi x?><b/>\n</r>");
  IXMLNode r = doc->DocumentElement();
  TXMLNodeList list = r.ChildNodes();
  const TNodeType kinds[] = {TNodeType::ntElement,         TNodeType::ntText,
                             TNodeType::ntCData,           TNodeType::ntComment,
                             TNodeType::ntProcessingInstr, TNodeType::ntElement};
  ASSERT_EQ(list.Count(), 6); // whitespace-only text dropped, "\n  text" kept
  for (int i = 0; i < 6; ++i) EXPECT_EQ(list[i].NodeType(), kinds[i]) << i;
  EXPECT_EQ(list[1].Text(), "\n  text");
  EXPECT_EQ(list[1].NodeName(), "#text");
  EXPECT_EQ(list[2].NodeName(), "#cdata-section");
  EXPECT_EQ(list[3].NodeName(), "#comment");
  EXPECT_EQ(list[4].NodeName(), "pi");
  for (int i = 5; i >= 0; --i) EXPECT_EQ(list.IndexOf(list[i]), i); // backwards too
  EXPECT_FALSE(list[6]);
  EXPECT_FALSE(list[-1]);
  EXPECT_EQ(list.FindNode("b"), list.Last());
  EXPECT_EQ(r.FirstChildElement().NextSiblingElement(), list[5]);
  r.RemoveChild(list[0]);
  EXPECT_EQ(list.Count(), 5); // the cached count follows the change
  EXPECT_EQ(list[0].NodeType(), TNodeType::ntText);
  IXMLNode foreign = Load("<x/>")->DocumentElement();
  EXPECT_THROW(r.RemoveChild(foreign), EXMLDocError);
}

TEST(XMLNode, NullHandlesAnswerEmpty) {
  IXMLNode n;
  EXPECT_FALSE(n);
  EXPECT_EQ(n.NodeType(), TNodeType::ntReserved);
  EXPECT_EQ(n.NodeName(), "");
  EXPECT_EQ(n.Text(), "");
  EXPECT_EQ(n.ChildNodes().Count(), 0);
  EXPECT_FALSE(n.GetAttribute("a"));
  EXPECT_FALSE(n.FindNamespaceDecl("urn:x"));
  EXPECT_THROW(n.SetAttribute("a", "b"), EXMLDocError);
  EXPECT_THROW(n.SetText("a"), EXMLDocError);
}

} // namespace
