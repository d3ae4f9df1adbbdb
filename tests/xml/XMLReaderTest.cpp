// The pull reader: what its cursors answer, what it refuses and how, and
// that it answers as the DOM does on the same bytes.
#include <gtest/gtest.h>

#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

#include "tests/xml/XMLReaderDiff.h"
#include "xml/XMLDoc.h"
#include "xml/XMLLimits.h"
#include "xml/XMLReader.h"

using namespace vv;

namespace {

// The element reached from the document element by child-element indices.
TXMLCursor At(const TXMLReader &r, std::initializer_list<int> path) {
  TXMLCursor c = r.DocumentElement();
  for (int i : path) {
    c = c.FirstChildElement();
    for (int k = 0; k < i && c; ++k) c = c.NextSiblingElement();
  }
  return c;
}

std::string Refusal(const std::string &bytes) {
  try {
    TXMLReader r(bytes);
  } catch (const EDOMParseError &e) {
    return e.Message;
  }
  return "(accepted)";
}

std::string DomRefusal(const std::string &bytes) {
  try {
    NewXMLDocument()->LoadFromXML(bytes);
  } catch (const EDOMParseError &e) {
    return e.Message;
  }
  return "(accepted)";
}

TEST(XMLReader, Namespaces) {
  const std::string kSeveral = "<a xmlns:p='urn:&amp;1' xmlns:q='plain' xmlns:r='urn:&#x9;3' "
                               "xmlns='d&amp;'><b xmlns:s='s&amp;'/></a>";
  struct {
    const char *name;
    std::string xml;
    std::initializer_list<int> path;
    std::string uri;           // NamespaceURI of the element
    std::string prefix, bound; // FindNamespaceURI(prefix) there
  } cases[] = {
      {"default namespace inherited", "<a xmlns='urn:d'><b/></a>", {0}, "urn:d", "", "urn:d"},
      {"prefixed element", "<p:a xmlns:p='urn:p'><p:b/><c/></p:a>", {0}, "urn:p", "p", "urn:p"},
      {"unprefixed beside a prefix",
       "<p:a xmlns:p='urn:p'><p:b/><c/></p:a>",
       {1},
       "",
       "p",
       "urn:p"},
      {"redeclared below",
       "<p:a xmlns:p='urn:1'><p:b xmlns:p='urn:2'><p:c/></p:b></p:a>",
       {0, 0},
       "urn:2",
       "p",
       "urn:2"},
      {"outer binding again after the redeclaring element",
       "<p:a xmlns:p='urn:1'><p:b xmlns:p='urn:2'><p:c/></p:b><p:d/></p:a>",
       {1},
       "urn:1",
       "p",
       "urn:1"},
      {"default namespace undone", "<a xmlns='urn:d'><b xmlns=''><c/></b></a>", {0, 0}, "", "", ""},
      {"declaration of a sibling is out of scope",
       "<r><a xmlns:q='urn:q'><q:c/></a><d/></r>",
       {1},
       "",
       "q",
       ""},
      {"declaration between siblings",
       "<r><a/><b xmlns:q='urn:q'><q:c/></b><d/></r>",
       {1, 0},
       "urn:q",
       "q",
       "urn:q"},
      {"value with references",
       "<p:a xmlns:p='urn:a&amp;b&#x2F;c'/>",
       {},
       "urn:a&b/c",
       "p",
       "urn:a&b/c"},
      {"value with a tab and a line end",
       "<p:a xmlns:p='urn:a\tb\r\nc'/>",
       {},
       "urn:a b c",
       "",
       ""},
      {"several declarations, some decoded: the last", kSeveral, {}, "d&", "r", "urn:\t3"},
      {"several declarations, some decoded: a plain one", kSeveral, {}, "d&", "q", "plain"},
      {"several declarations, some decoded: the first", kSeveral, {0}, "d&", "p", "urn:&1"},
      {"several declarations, some decoded: below", kSeveral, {0}, "d&", "s", "s&"},
      {"xml prefix bound implicitly",
       "<a xml:lang='en'/>",
       {},
       "",
       "xml",
       "http://www.w3.org/XML/1998/namespace"},
      {"xmlns prefix bound implicitly", "<a/>", {}, "", "xmlns", "http://www.w3.org/2000/xmlns/"},
      {"unbound prefix", "<a/>", {}, "", "none", ""},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    TXMLReader r(c.xml);
    TXMLCursor e = At(r, c.path);
    ASSERT_TRUE(e);
    EXPECT_EQ(e.NamespaceURI(), c.uri);
    EXPECT_EQ(e.FindNamespaceURI(c.prefix), c.bound);
    EXPECT_EQ(readerdiff::Compare(c.xml), "");
  }
}

TEST(XMLReader, NamesAsWritten) {
  struct {
    std::string xml;
    std::string name, prefix, local;
  } cases[] = {
      {"<s:Body xmlns:s='urn:s'/>", "s:Body", "s", "Body"},
      {"<Body/>", "Body", "", "Body"},
      {"<p:a.b-c xmlns:p='urn:p'/>", "p:a.b-c", "p", "a.b-c"},
      {"<\xC3\xA9t\xC3\xA9 />", "\xC3\xA9t\xC3\xA9", "", "\xC3\xA9t\xC3\xA9"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.xml);
    TXMLReader r(c.xml);
    TXMLCursor e = r.DocumentElement();
    EXPECT_EQ(e.NodeName(), c.name);
    EXPECT_EQ(e.Prefix(), c.prefix);
    EXPECT_EQ(e.LocalName(), c.local);
  }
}

TEST(XMLReader, Attributes) {
  const std::string xml = "<a x='1' y=\"a&#10;b\tc\r\nd &lt;&quot;\" xmlns='urn:d' xmlns:q='urn:q' "
                          "q:z='3' v = '>/' e=''/>";
  struct {
    const char *name;
    std::string attr, ns; // ns "-": GetAttribute, else GetAttributeNS
    std::optional<std::string> value;
  } cases[] = {
      {"by name", "x", "-", "1"},
      {"absent", "absent", "-", std::nullopt},
      {"empty value", "e", "-", ""},
      {"blanks on the way", "v", "-", ">/"},
      {"tab and line ends become blanks, references resolved", "y", "-", "a\nb c d <\""},
      {"prefixed by full name", "q:z", "-", "3"},
      {"prefixed not by local name", "z", "-", std::nullopt},
      {"default declaration", "xmlns", "-", "urn:d"},
      {"prefix declaration", "xmlns:q", "-", "urn:q"},
      {"NS: unprefixed is in no namespace", "x", "", "1"},
      {"NS: not in the default namespace", "x", "urn:d", std::nullopt},
      {"NS: by prefix binding", "z", "urn:q", "3"},
      {"NS: the prefix asked is ignored", "other:z", "urn:q", "3"},
      {"NS: wrong namespace", "z", "urn:other", std::nullopt},
      {"NS: declaration in the xmlns namespace", "q", "http://www.w3.org/2000/xmlns/", "urn:q"},
      {"NS: default declaration", "xmlns", "http://www.w3.org/2000/xmlns/", "urn:d"},
  };
  TXMLReader r(xml);
  TXMLCursor a = r.DocumentElement();
  EXPECT_TRUE(a.HasAttributes());
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.ns == "-" ? a.GetAttribute(c.attr) : a.GetAttributeNS(c.attr, c.ns), c.value);
  }
  EXPECT_FALSE(TXMLReader("<a />").DocumentElement().HasAttributes());
  EXPECT_EQ(readerdiff::Compare(xml), "");
}

TEST(XMLReader, ValueText) {
  struct {
    const char *name;
    std::string xml; // the value of the document element
    std::string value;
    bool inDocument; // a view of the input, no copy
  } cases[] = {
      {"empty element", "<a/>", "", true},
      {"no child", "<a></a>", "", true},
      {"blanks only are no text", "<a> \r\n\t</a>", "", true},
      {"single text", "<a> x y </a>", " x y ", true},
      {"entities", "<a>1 &lt; 2 &amp;&#233;&#x1F600;</a>", "1 < 2 &\xC3\xA9\xF0\x9F\x98\x80",
       false},
      {"line ends", "<a>x\r\ny\rz</a>", "x\ny\nz", false},
      {"a blank from a reference is text", "<a> &#32; </a>", "   ", false},
      {"CDATA", "<a><![CDATA[<b>&amp;</b>]]></a>", "<b>&amp;</b>", true},
      {"CDATA between blanks", "<a>\n <![CDATA[x]]>\n</a>", "x", true},
      {"CDATA line ends", "<a><![CDATA[x\r\ny]]></a>", "x\ny", false},
      {"empty CDATA", "<a><![CDATA[]]></a>", "", true},
      {"mixed content", "<a>x<b>y</b> z</a>", "x<b>y</b> z", false},
      {"comment", "<a>x<!--c--></a>", "x<!--c-->", false},
      {"comment alone", "<a><!--c--></a>", "<!--c-->", false},
      {"instruction", "<a><?p v?></a>", "<?p v?>", false},
      {"text and CDATA", "<a>x<![CDATA[y]]></a>", "x<![CDATA[y]]>", false},
      {"child elements written out", "<a><b x='&amp;'>&lt;</b><c></c></a>",
       "<b x=\"&amp;\">&lt;</b><c/>", false},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    TXMLReader r(c.xml);
    std::string scratch;
    std::string_view v = r.DocumentElement().ValueText(scratch);
    EXPECT_EQ(v, c.value);
    if (c.inDocument && !v.empty()) {
      EXPECT_GE(v.data(), c.xml.data());
      EXPECT_LE(v.data() + v.size(), c.xml.data() + c.xml.size());
    }
    EXPECT_EQ(readerdiff::Compare(c.xml), "");
  }
}

TEST(XMLReader, HasChildNodes) {
  struct {
    std::string xml;
    bool children;
  } cases[] = {
      {"<a/>", false},
      {"<a></a>", false},
      {"<a> \n</a>", false},
      {"<a>x</a>", true},
      {"<a><!--c--></a>", true},
      {"<a><?p?></a>", true},
      {"<a><![CDATA[]]></a>", true},
      {"<a><b/></a>", true},
      {"<a> &#32; </a>", true},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.xml);
    EXPECT_EQ(TXMLReader(c.xml).DocumentElement().HasChildNodes(), c.children);
  }
}

TEST(XMLReader, XML) {
  struct {
    const char *name;
    std::string xml, written; // the document element as the DOM writes it
  } cases[] = {
      {"blanks in tags dropped, quotes doubled", "<a  x = '1'  >t</a >", "<a x=\"1\">t</a>"},
      {"no child node: empty element", "<a>\n  </a>", "<a/>"},
      {"values escaped", "<a x='\"&amp;&#9;'>&lt;&gt;\r&#13;</a>",
       "<a x=\"&quot;&amp;&#9;\">&lt;&gt;\n&#13;</a>"},
      {"CDATA kept, its line ends normalised", "<a><![CDATA[x\r\ny]]></a>",
       "<a><![CDATA[x\ny]]></a>"},
      {"a comment as it stands", "<a><!-- x - y --></a>", "<a><!-- x - y --></a>"},
      {"instruction value with its line ends normalised", "<a><?p  v\r\nw?></a>",
       "<a><?p v\nw?></a>"},
      {"nested, blank text between elements dropped",
       "<a xmlns:p='urn:p'>\n <p:b c='1'>\n  <d/>\n </p:b>\n</a>",
       "<a xmlns:p=\"urn:p\"><p:b c=\"1\"><d/></p:b></a>"},
      {"markup inside values and sections", "<a x='/>b'><![CDATA[</a>]]><!--</a>--><?p </a>?></a>",
       "<a x=\"/&gt;b\"><![CDATA[</a>]]><!--</a>--><?p </a>?></a>"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(TXMLReader(c.xml).DocumentElement().XML(), c.written);
    EXPECT_EQ(readerdiff::Compare(c.xml), "");
  }
}

TEST(XMLReader, Navigation) {
  const std::string xml = "<r><a><a><a/></a><b/></a>text<!--<c/>--><?p <c/>?><![CDATA[<c/>]]>"
                          "<c x='>'/><d>\n</d></r>";
  TXMLReader r(xml);
  TXMLCursor root = r.DocumentElement();
  std::string names;
  for (TXMLCursor c = root.FirstChildElement(); c; c = c.NextSiblingElement())
    names += std::string(c.NodeName()) + ",";
  EXPECT_EQ(names, "a,c,d,");
  EXPECT_FALSE(root.NextSiblingElement());
  EXPECT_EQ(At(r, {0, 1}).NodeName(), "b"); // after a nested element of the same name
  EXPECT_FALSE(At(r, {2}).FirstChildElement());
  EXPECT_TRUE(At(r, {0}) == At(r, {0}));
  EXPECT_FALSE(At(r, {0}) == At(r, {1}));
  TXMLCursor null;
  EXPECT_FALSE(null.FirstChildElement());
  EXPECT_EQ(null.NodeName(), "");
  EXPECT_EQ(null.GetAttribute("x"), std::nullopt);
  EXPECT_EQ(readerdiff::Compare(xml), "");
}

// The child elements of every element, listed without descending into
// them (so that each next sibling is found past its whole content), and
// counted, against the DOM's.
std::string CompareChildLists(const std::string &xml) {
  auto doc = NewXMLDocument();
  doc->LoadFromXML(xml);
  TXMLReader r(xml);
  std::vector<std::pair<IXMLNode, TXMLCursor>> level = {
      {doc->DocumentElement(), r.DocumentElement()}};
  while (!level.empty()) {
    std::vector<std::pair<IXMLNode, TXMLCursor>> next;
    for (auto &[d, c] : level) {
      std::string domNames, readerNames;
      size_t domCount = 0;
      for (IXMLNode k = d.FirstChildElement(); k; k = k.NextSiblingElement(), ++domCount)
        domNames += std::string(k.NodeName()) + ",";
      IXMLNode dk = d.FirstChildElement();
      for (TXMLCursor k = c.FirstChildElement(); k; k = k.NextSiblingElement()) {
        readerNames += std::string(k.NodeName()) + ",";
        if (dk) next.push_back({dk, k}), dk = dk.NextSiblingElement();
      }
      std::string at = "under <" + std::string(d.NodeName()) + ">: ";
      if (domNames != readerNames) return at + "DOM " + domNames + ", reader " + readerNames;
      if (c.ChildElementCount() != domCount)
        return at + "DOM " + std::to_string(domCount) + " children, reader " +
               std::to_string(c.ChildElementCount());
    }
    level = std::move(next);
  }
  return {};
}

// Elements large enough for the reader to note their ends and child counts
// while it parses, at the depths where it notes them and below, beside
// small ones: every list of children and every count as the DOM's.
TEST(XMLReader, LargeElements) {
  const std::string filler(kMinNotedElement, 'x');
  auto records = [](size_t n) {
    std::string s;
    for (size_t i = 0; i < n; ++i) s += "<r><f>" + std::to_string(i) + "</f><g/></r>";
    return s;
  };
  auto nested = [](size_t depth, const std::string &inner) {
    std::string s;
    for (size_t i = 0; i < depth; ++i) s += "<n" + std::to_string(i) + ">";
    s += inner;
    for (size_t i = depth; i-- > 0;) s += "</n" + std::to_string(i) + ">";
    return s;
  };
  const std::string big = records(kMinNotedElement / 8);
  struct {
    const char *name;
    std::string xml;
  } cases[] = {
      {"an array of records, its Body passed over",
       "<E><H/><B><m><a>" + big + "</a><z/></m></B><T/></E>"},
      {"just under and at the size", "<E><a>" + std::string(kMinNotedElement - 8, 'x') + "</a><b>" +
                                         std::string(kMinNotedElement - 7, 'x') + "</b><c/></E>"},
      {"markup in text, comments, sections and instructions is no child",
       "<E><a><!--<c/>--><![CDATA[<c/>]]><?p <c/>?>&lt;c/&gt;" + filler +
           "<c a='/>'/></a><d/></E>"},
      {"an empty-element tag of a large attribute", "<E><a x='" + filler + "'/><b/></E>"},
      {"large at the last noted depth", nested(kMaxNotedDepth - 1, "<a>" + big + "</a><after/>")},
      {"large below the noted depths", nested(kMaxNotedDepth, "<a>" + big + "</a><after/>")},
      {"large inside large", "<E><a><b>" + big + "</b><c>" + big + "</c></a><d/></E>"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(CompareChildLists(c.xml), "");
    EXPECT_EQ(readerdiff::Compare(c.xml), "");
  }
}

// Refused alike by the reader and the DOM, with the parser's message.
TEST(XMLReader, Refusals) {
  struct {
    const char *name;
    std::string input, message;
  } cases[] = {
      {"document type", "<!DOCTYPE a><a/>",
       "Document type definitions are not allowed.\r\nLine: 1\r\n<!DOCTYPE a><a/>"},
      {"bad UTF-8", "<a>\n<b>\xC3(</b></a>",
       "Invalid UTF-8 byte sequence in the input.\r\nLine: 2\r\n<b>"},
      {"forbidden character", "<a>\x0B</a>",
       "An invalid character was found in text content.\r\nLine: 1\r\n<a>\x0B</a>"},
      {"forbidden character reference", "<a b='&#0;'/>",
       "Invalid character reference &#0;.\r\nLine: 1\r\n<a b='&#0;'/>"},
      {"unknown entity", "<a>&nbsp;</a>",
       "Reference to undefined entity &nbsp;.\r\nLine: 1\r\n<a>&nbsp;</a>"},
      {"mismatched tags", "<a><b></a>",
       "End tag does not match the start tag.\r\nLine: 1\r\n<a><b></a>"},
      {"unclosed at the end", "<a>x",
       "The document ends before its elements are closed.\r\nLine: 1\r\n<a>x"},
      {"second root", "<a/><b/>", "Only one top level element is allowed.\r\nLine: 1\r\n<a/><b/>"},
      {"text after the root", "<a><![CDATA[x]]></a>junk",
       "Invalid at the top level of the document.\r\nLine: 1\r\n<a><![CDATA[x]]></a>junk"},
      {"repeated attribute", "<a x='1' x='2'/>",
       "Duplicate attribute 'x'.\r\nLine: 1\r\n<a x='1' x='2'/>"},
      {"undeclared prefix", "<p:a/>",
       "Reference to undeclared namespace prefix: 'p'.\r\nLine: 1\r\n<p:a/>"},
      {"prefix undeclared", "<a xmlns:p=''/>",
       "Namespace prefixes cannot be undeclared.\r\nLine: 1\r\n<a xmlns:p=''/>"},
      {"stray '<' at the end", "<a/><", "Invalid markup after '<'.\r\nLine: 1\r\n<a/><"},
      // XML's rules that a lenient parser lets pass
      {"'<' in an attribute value", "<a x='<b>'/>",
       "An attribute value cannot hold '<'.\r\nLine: 1\r\n<a x='<b>'/>"},
      {"']]>' in text", "<a>x]]>y</a>", "Text cannot hold ']]>'.\r\nLine: 1\r\n<a>x]]>y</a>"},
      {"'--' in a comment", "<a><!-- x -- y --></a>",
       "Invalid comment: '--' inside it, or no end.\r\nLine: 1\r\n<a><!-- x -- y --></a>"},
      {"name starting with a colon", "<:a/>", "Invalid element name.\r\nLine: 1\r\n<:a/>"},
      {"name with two colons", "<p:a:b xmlns:p='urn:p'/>",
       "Invalid element name.\r\nLine: 1\r\n<p:a:b xmlns:p='urn:p'/>"},
      {"declaration of no prefix", "<a xmlns:='urn:x'/>",
       "Invalid attribute name.\r\nLine: 1\r\n<a xmlns:='urn:x'/>"},
      {"attributes without a blank between", "<a b='1'c='2'/>",
       "Invalid start tag.\r\nLine: 1\r\n<a b='1'c='2'/>"},
      {"the xml prefix bound elsewhere", "<a xmlns:xml='urn:wrong'/>",
       "Reserved namespace prefix or name misused.\r\nLine: 1\r\n<a xmlns:xml='urn:wrong'/>"},
      {"the xmlns prefix on an element", "<xmlns:a/>",
       "Reserved namespace prefix or name misused.\r\nLine: 1\r\n<xmlns:a/>"},
      {"one attribute twice by namespace", "<a xmlns:p='urn:x' xmlns:q='urn:x' p:b='1' q:b='2'/>",
       "Duplicate attribute 'q:b'.\r\nLine: 1\r\n<a xmlns:p='urn:x' xmlns:q='urn:x' p:b='"},
      {"character reference with a capital X", "<a>&#X41;</a>",
       "Invalid entity or character reference.\r\nLine: 1\r\n<a>&#X41;</a>"},
      {"second declaration inside", "<a><?xml version='1.0'?></a>",
       "Invalid xml declaration.\r\nLine: 1\r\n<a><?xml version='1.0'?></a>"},
      {"declaration ending early", "<?xml version=\"1.0\"/><a b=\"?>\"/>",
       "Invalid xml declaration.\r\nLine: 1\r\n<?xml version=\"1.0\"/><a b=\"?>\"/>"},
      {"unsupported encoding", "<?xml version='1.0' encoding='EBCDIC-X'?><a/>",
       "System does not support the specified encoding.\r\nLine: 1\r\n"
       "<?xml version='1.0' encoding='EBCDIC-X'?"},
      {"empty input", "", "XML document must have a top level element.\r\nLine: 1\r\n"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Refusal(c.input), c.message);
    EXPECT_EQ(DomRefusal(c.input), c.message);
  }
}

TEST(XMLReader, Encodings) {
  auto utf16 = [](std::string_view ascii, bool bigEndian, bool bom) {
    std::string out;
    if (bom) out += bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    for (char c : ascii) out += bigEndian ? std::string{'\0', c} : std::string{c, '\0'};
    return out;
  };
  struct {
    const char *name;
    std::string input, value;
  } cases[] = {
      {"UTF-16 LE with BOM", utf16("<a>x&#233;</a>", false, true), "x\xC3\xA9"},
      {"UTF-16 BE without BOM", utf16("<a>y</a>", true, false), "y"},
      {"ISO-8859-1 declared", "<?xml version='1.0' encoding='ISO-8859-1'?><a>\xE9</a>", "\xC3\xA9"},
      {"windows-1252 declared", "<?xml version='1.0' encoding='windows-1252'?><a>\x80</a>",
       "\xE2\x82\xAC"},
      {"UTF-8 with BOM", "\xEF\xBB\xBF<a>\xC3\xA9</a>", "\xC3\xA9"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    TXMLReader r(c.input);
    std::string scratch;
    EXPECT_EQ(r.DocumentElement().ValueText(scratch), c.value);
    EXPECT_EQ(readerdiff::Compare(c.input), "");
  }
  // UTF-8 is read where it lies: no copy.
  std::string utf8 = "\xEF\xBB\xBF<a/>";
  EXPECT_EQ(TXMLReader(utf8).Text().data(), utf8.data() + 3);
}

TEST(XMLReader, DeepNesting) {
  constexpr size_t kDepth = 1000000;
  std::string xml;
  xml.reserve(kDepth * 8 + 16);
  for (size_t i = 0; i < kDepth; ++i) xml += "<a>";
  xml += "x";
  for (size_t i = 0; i < kDepth; ++i) xml += "</a>";
  TXMLReader r(xml);
  TXMLCursor c = r.DocumentElement();
  size_t depth = 1;
  while (TXMLCursor child = c.FirstChildElement()) c = child, ++depth;
  EXPECT_EQ(depth, kDepth);
  std::string scratch;
  EXPECT_EQ(c.ValueText(scratch), "x");
  EXPECT_FALSE(c.NextSiblingElement());
  EXPECT_EQ(r.DocumentElement().NodeName(), "a");
  // Refused deep down: the end tag before the last is missing.
  std::string cut = xml.substr(0, xml.size() - 8) + "</b></a>";
  EXPECT_EQ(Refusal(cut).rfind("End tag does not match the start tag.\r\n", 0), 0u);
}

// Documents where a reader could easily part from the DOM: every element,
// every operation, compared.
TEST(XMLReader, SameAsTheDOM) {
  const std::string cases[] = {
      // trailing bytes after the document element
      "<a/>x",
      "<a/>>",
      "<a>b</a>c",
      "<a/>xy",
      "<a/> ",
      "<a></a>\n",
      // byte-order marks
      "\xEF\xBB\xBF\xEF\xBB\xBF<a/>",
      "\xEF\xBB\xBF<?xml version='1.0'?><a/>",
      // declarations
      "<?xml version='1.0' encoding='UTF-8' standalone='yes'?><a/>",
      "<?xml version = \"1.10\"  ?>\n<a/>",
      "<?xml version='2.0'?><a/>",
      "<?xml version='1.0' standalone='maybe'?><a/>",
      "<?XML version='1.0'?><a/>",
      "<?xml-stylesheet href='a/b'?><a/>",
      "<?xml version='1.0'?><a/><?xml version='1.0'?>",
      "<?xml version=\"1.0\"><x/></xml><!--?>--><a/>",
      "<?xml?><a/>",
      "<?xml version='1.0'",
      // text, references, line ends
      "<a>]]></a>",
      "<a>&amp;lt;</a>",
      "<a>&#x0;</a>",
      "<a>&#X41;</a>",
      "<a>&#00000065;</a>",
      "<a>&#x110000;</a>",
      "<a>&lt</a>",
      "<a>x\r</a>",
      "<a>\r\r\n\n</a>",
      "<a b='\r\n\t\r'/>",
      // tags
      "<a b='<'/>",
      "<a b='1'c='2'/>",
      "<a b='1' / >",
      "<a/ >",
      "<a b/>",
      "<a b=c/>",
      "<a></a >",
      "<a></a b>",
      "<a></ a>",
      "<a></aa>",
      "<aa></a>",
      "<a>< b/></a>",
      "<a><!-x--></a>",
      // comments, instructions, CDATA
      "<a><!----></a>",
      "<a><!-- - --></a>",
      "<a><!-- --->x</a>",
      "<a/><!-- tail -->",
      "<a><?p?></a>",
      "<a><?p ?></a>",
      "<a><?p?x?></a>",
      "<a><?p/?></a>",
      "<a><?xml x?></a>",
      "<a><?xml-x y?></a>",
      "<a><![CDATA[]]]></a>",
      "<a><![CDATA[x]]></a><![CDATA[y]]>",
      "<!--c--><a/><?p x?>",
      "<a/><?p x?>y",
      "<a/><!--",
      // namespaces
      "<a xmlns:p='urn:p'><p:b p:c='1' xmlns:q='urn:q' q:d='2'/></a>",
      "<a p:b='1'/>",
      "<xmlns:a/>",
      "<a xmlns:xmlns='urn:x'><xmlns:b/></a>",
      "<a xml:space='preserve'/>",
      "<a xmlns:p='urn:p' xmlns:p='urn:q'/>",
      "<a xmlns:xml='urn:wrong'><b xml:x='1'/></a>",
      "<p:a xmlns:p='&#x9;'/>",
      "<a xmlns:p='&bad;'/>",
      // the same name nested, and siblings after deep subtrees
      "<a><a><a><a/></a><a x='/>'/></a><a/></a>",
      "<r><s><t><u/></t></s><v/><w><x/></w></r>",
  };
  for (const std::string &c : cases) {
    SCOPED_TRACE(c);
    EXPECT_EQ(readerdiff::Compare(c), "");
  }
}

// A document cut anywhere (a truncated answer) is refused alike by the
// reader and the DOM; so is each cut followed by a '>' or a '?'.
TEST(XMLReader, EveryCutOfADocument) {
  const std::string doc =
      "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<!-- c - d -->"
      "<s:E xmlns:s='urn:s' a = \"1\"><s:B><r x='&amp;'>t&lt;u<![CDATA[v]]]><?p w?></r>"
      "<e/><e></e  ></s:B></s:E>\n<?q?>";
  for (size_t i = 0; i <= doc.size(); ++i) {
    std::string cut = doc.substr(0, i);
    SCOPED_TRACE(cut);
    EXPECT_EQ(readerdiff::Compare(cut), "");
    EXPECT_EQ(readerdiff::Compare(cut + ">"), "");
    EXPECT_EQ(readerdiff::Compare(cut + "?"), "");
  }
}

} // namespace
