// Namespaces and prefixes: how elements and attributes are named and which
// declarations the tree adds.
#include <gtest/gtest.h>

#include "xml/XMLDoc.h"

using namespace vv;

namespace {

constexpr const char *kEnv = "http://schemas.xmlsoap.org/soap/envelope/";
constexpr const char *kXsi = "http://www.w3.org/2001/XMLSchema-instance";
constexpr const char *kUp = "https://up.example/ws/";
constexpr const char *kWsdl = "http://schemas.xmlsoap.org/wsdl/";
constexpr const char *kSoap = "http://schemas.xmlsoap.org/wsdl/soap/";

// A document loaded from `xml`, kept alive with the nodes taken from it.
struct TLoaded {
  IPtr<IXMLDocument> Doc = NewXMLDocument();
  explicit TLoaded(const std::string &xml) { Doc->LoadFromXML(xml); }
  IXMLNode Root() { return Doc->DocumentElement(); }
  // The first element found by following child-element indexes from the root.
  IXMLNode At(std::initializer_list<int> path) {
    IXMLNode n = Root();
    for (int i : path) {
      n = n.FirstChildElement();
      for (int k = 0; k < i; ++k) n = n.NextSiblingElement();
    }
    return n;
  }
};

struct AddChildCase {
  const char *name;
  const char *parentXml; // the parent is the deepest first-child chain's end
  const char *tag;
  const char *uri; // nullptr: the one-argument AddChild
  bool genPrefix;
  const char *expectXml; // the new child's XML
  const char *expectUri; // its namespace URI
};

IXMLNode DeepestFirst(IXMLNode n) {
  while (IXMLNode c = n.FirstChildElement()) n = c;
  return n;
}

TEST(XMLNamespace, AddChildRules) {
  const AddChildCase cases[] = {
      {"same prefix already bound adds nothing",
       "<SOAP-ENV:Envelope xmlns:SOAP-ENV='http://schemas.xmlsoap.org/soap/envelope/'/>",
       "SOAP-ENV:Body", kEnv, false, "<SOAP-ENV:Body/>", kEnv},
      {"unprefixed name, namespace not in scope: default declaration",
       "<SOAP-ENV:Body xmlns:SOAP-ENV='http://schemas.xmlsoap.org/soap/envelope/'/>",
       "GetFlightsOp", kUp, false, "<GetFlightsOp xmlns=\"https://up.example/ws/\"/>", kUp},
      {"unprefixed name inherits a default namespace that matches",
       "<GetFlightsOp xmlns='https://up.example/ws/'/>", "idarpt", kUp, false, "<idarpt/>", kUp},
      {"no namespace under a default namespace undeclares it",
       "<GetFlightsOp xmlns='https://up.example/ws/'/>", "x", "", false, "<x xmlns=\"\"/>", ""},
      {"no namespace under a prefixed parent", "<p:F xmlns:p='urn:p'/>", "faultcode", "", false,
       "<faultcode/>", ""},
      {"unprefixed name keeps its own default even when a prefix is bound above",
       "<definitions xmlns='http://schemas.xmlsoap.org/wsdl/' "
       "xmlns:soap='http://schemas.xmlsoap.org/wsdl/soap/'/>",
       "binding", kSoap, false, "<binding xmlns=\"http://schemas.xmlsoap.org/wsdl/soap/\"/>",
       kSoap},
      {"prefixed name whose prefix binds another URI is redeclared", "<a xmlns:p='urn:one'/>",
       "p:b", "urn:two", false, "<p:b xmlns:p=\"urn:two\"/>", "urn:two"},
      {"one-argument: unprefixed takes the parent's prefix and namespace",
       "<SOAP-ENV:Fault xmlns:SOAP-ENV='http://schemas.xmlsoap.org/soap/envelope/'/>", "faultcode",
       nullptr, false, "<SOAP-ENV:faultcode/>", kEnv},
      {"one-argument: unprefixed under a default namespace",
       "<d xmlns='http://schemas.xmlsoap.org/wsdl/'/>", "message", nullptr, false, "<message/>",
       kWsdl},
      {"one-argument: prefixed takes its prefix's binding",
       "<d xmlns='urn:d' xmlns:xs='http://www.w3.org/2001/XMLSchema'/>", "xs:schema", nullptr,
       false, "<xs:schema/>", "http://www.w3.org/2001/XMLSchema"},
      {"generated prefix reuses a bound one", "<a xmlns:tns='https://up.example/ws/'/>", "b", kUp,
       true, "<tns:b/>", kUp},
      {"generated prefix is declared when none is bound", "<a/>", "b", kUp, true,
       "<NS1:b xmlns:NS1=\"https://up.example/ws/\"/>", kUp},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    TLoaded d(c.parentXml);
    IXMLNode parent = DeepestFirst(d.Root());
    IXMLNode child = c.uri ? parent.AddChild(c.tag, c.uri, c.genPrefix) : parent.AddChild(c.tag);
    EXPECT_EQ(child.XML(), c.expectXml);
    EXPECT_EQ(child.NamespaceURI(), c.expectUri);
    EXPECT_EQ(child.ParentNode(), parent);
  }
}

TEST(XMLNamespace, AddChildBuildsTheEnvelope) {
  auto doc = NewXMLDocument("1.0");
  IXMLNode env = doc->AddChild("SOAP-ENV:Envelope", kEnv);
  env.DeclareNamespace("xsi", kXsi);
  IXMLNode body = env.AddChild("SOAP-ENV:Body", kEnv);
  IXMLNode op = body.AddChild("GetFlightsOp", kUp);
  op.AddChild("idarpt", kUp).SetText("ABC");
  EXPECT_EQ(doc->XML(),
            "<?xml version=\"1.0\"?>\r\n"
            "<SOAP-ENV:Envelope xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\""
            " xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\"><SOAP-ENV:Body>"
            "<GetFlightsOp xmlns=\"https://up.example/ws/\"><idarpt>ABC</idarpt>"
            "</GetFlightsOp></SOAP-ENV:Body></SOAP-ENV:Envelope>");
  EXPECT_EQ(doc->DocumentElement(), env);
  EXPECT_EQ(env.ParentNode().NodeType(), TNodeType::ntDocument);
}

TEST(XMLNamespace, AddChildRefusals) {
  auto doc = NewXMLDocument();
  IXMLNode root = doc->AddChild("root");
  EXPECT_THROW(doc->AddChild("second"), EXMLDocError);
  EXPECT_THROW(root.AddChild("q:x"), EXMLDocError); // prefix bound nowhere
  for (const char *bad : {"", "1a", "a b", "a<", ":a", "a:", "a:b:c"}) {
    SCOPED_TRACE(bad);
    EXPECT_THROW(root.AddChild(bad, ""), EXMLDocError);
    EXPECT_THROW(root.SetAttribute(bad, "v"), EXMLDocError);
  }
  EXPECT_THROW(IXMLNode().AddChild("a", ""), EXMLDocError);
  EXPECT_EQ(root.XML(), "<root/>");
}

TEST(XMLNamespace, AddChildAtIndex) {
  TLoaded d("<d><message/><portType/></d>");
  d.Root().AddChild("types", "", false, 0);
  d.Root().AddChild("binding", "", false, 2);
  EXPECT_EQ(d.Root().XML(), "<d><types/><message/><binding/><portType/></d>");
}

TEST(XMLNamespace, GeneratePrefixSkipsBoundPrefixes) {
  TLoaded d("<a xmlns:NS1='urn:1'><b xmlns:NS3='urn:3'/></a>");
  IXMLNode b = d.At({0});
  EXPECT_EQ(d.Doc->GeneratePrefix(b), "NS2");
  EXPECT_EQ(d.Doc->GeneratePrefix(b), "NS4");        // NS3 is bound at b, and skipped
  EXPECT_EQ(d.Doc->GeneratePrefix(d.Root()), "NS5"); // one counter per document
  auto other = NewXMLDocument();
  IXMLNode root = other->AddChild("definitions", kWsdl);
  root.DeclareNamespace("ns1", "urn:taken");
  other->SetPrefixBase("ns");
  EXPECT_EQ(other->GeneratePrefix(root), "ns2");
}

TEST(XMLNamespace, FindNamespaceDecl) {
  TLoaded d("<a xmlns:P='URN:Case' xmlns='urn:default' xmlns:s='urn:shadowed'>"
            "<b xmlns:Q='urn:case'><c xmlns:s='urn:other'/></b></a>");
  IXMLNode c = d.At({0, 0});
  struct {
    const char *uri;
    const char *expectName; // nullptr: none
  } cases[] = {
      {"urn:case", "xmlns:Q"},                             // closest first, case ignored
      {"URN:CASE", "xmlns:Q"},   {"urn:default", "xmlns"}, // a default declaration counts
      {"urn:other", "xmlns:s"},                            // on the element itself
      {"urn:shadowed", nullptr},                           // its prefix is rebound closer
      {"urn:missing", nullptr},
  };
  for (const auto &k : cases) {
    SCOPED_TRACE(k.uri);
    IXMLNode decl = c.FindNamespaceDecl(k.uri);
    if (!k.expectName) {
      EXPECT_FALSE(decl);
      continue;
    }
    ASSERT_TRUE(decl);
    EXPECT_EQ(decl.NodeType(), TNodeType::ntAttribute);
    EXPECT_EQ(decl.NodeName(), k.expectName);
  }
  IXMLNode q = c.FindNamespaceDecl("urn:case");
  EXPECT_EQ(q.LocalName(), "Q");
  EXPECT_EQ(q.Prefix(), "xmlns");
  EXPECT_EQ(q.NamespaceURI(), kXmlnsNamespace);
  EXPECT_EQ(q.Text(), "urn:case");
  EXPECT_EQ(q.ParentNode(), d.At({0}));
  IXMLNode def = c.FindNamespaceDecl("urn:default");
  EXPECT_EQ(def.LocalName(), "xmlns");
  EXPECT_EQ(def.Prefix(), "");
}

TEST(XMLNamespace, FindNamespaceURIAndNodeNames) {
  TLoaded d("<p:a xmlns:p='urn:p' xmlns='urn:d'><b xmlns:p='urn:q'><p:c x='1' p:y='2'/></b></p:a>");
  IXMLNode b = d.At({0}), c = d.At({0, 0});
  EXPECT_EQ(d.Root().NamespaceURI(), "urn:p");
  EXPECT_EQ(b.NamespaceURI(), "urn:d");
  EXPECT_EQ(c.NamespaceURI(), "urn:q");
  EXPECT_EQ(c.NodeName(), "p:c");
  EXPECT_EQ(c.LocalName(), "c");
  EXPECT_EQ(c.Prefix(), "p");
  EXPECT_EQ(c.FindNamespaceURI("p"), "urn:q");
  EXPECT_EQ(d.Root().FindNamespaceURI("p"), "urn:p");
  EXPECT_EQ(c.FindNamespaceURI(""), "urn:d");
  EXPECT_EQ(c.FindNamespaceURI("xml"), kXmlNamespace);
  EXPECT_EQ(c.FindNamespaceURI("none"), "");
  EXPECT_EQ(c.AttributeNode("x").NamespaceURI(), ""); // unprefixed attributes: no namespace
  EXPECT_EQ(c.AttributeNode("p:y").NamespaceURI(), "urn:q");
}

TEST(XMLNamespace, DeclareNamespace) {
  TLoaded d("<a xmlns:x='urn:x'><b/></a>");
  IXMLNode b = d.At({0});
  b.DeclareNamespace("x", "urn:x");  // bound in scope already: nothing
  b.DeclareNamespace("y", "urn:y");  // new
  b.DeclareNamespace("x", "urn:x2"); // rebinds closer
  b.DeclareNamespace("y", "urn:y2"); // replaces its own declaration
  b.DeclareNamespace("", "urn:d");
  EXPECT_EQ(b.XML(), "<b xmlns:y=\"urn:y2\" xmlns:x=\"urn:x2\" xmlns=\"urn:d\"/>");
  EXPECT_EQ(b.DeclareNamespace("y", "urn:y2").NodeName(), "xmlns:y");
  EXPECT_THROW(b.DeclareNamespace("xmlns", "urn:z"), EXMLDocError);
}

} // namespace
