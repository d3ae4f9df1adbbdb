// Reading documents: error messages, refused input, encodings.
#include <gtest/gtest.h>

#include "xml/XMLDoc.h"

using namespace vv;

namespace {

std::string ParseError(const std::string &bytes) {
  auto doc = NewXMLDocument();
  try {
    doc->LoadFromXML(bytes);
  } catch (const EDOMParseError &e) {
    return e.Message;
  }
  return "(no error)";
}

TEST(XMLParse, ErrorMessages) {
  struct {
    const char *name;
    std::string input;
    std::string message;
  } cases[] = {
      {"mismatched end tag on line 2", "<a>\n<b></a>",
       "End tag does not match the start tag.\r\nLine: 2\r\n<b></a>"},
      {"CR LF and lone CR end lines", "<a>\r\n\r<b x=></b></a>",
       "Invalid attribute: a name, '=' and a quoted value expected.\r\nLine: 3\r\n"
       "<b x=></b></a>"},
      {"the quoted line is cut at 40 characters",
       "<a>\n  <b c='1' d='2' e='3' f='4' g='5' h='6' i='7' j>",
       "Invalid attribute: a name, '=' and a quoted value expected.\r\nLine: 2\r\n"
       "  <b c='1' d='2' e='3' f='4' g='5' h='6'"},
      {"characters count as UTF-16 units, never split",
       "<a>\n\xC3\xA9\xF0\x9F\x98\x80" + std::string(40, 'x') + "</b>",
       "End tag does not match the start tag.\r\nLine: 2\r\n\xC3\xA9\xF0\x9F\x98\x80" +
           std::string(37, 'x')},
      {"empty input", "", "XML document must have a top level element.\r\nLine: 1\r\n"},
      {"only a declaration", "<?xml version='1.0'?>\n",
       "XML document must have a top level element.\r\nLine: 2\r\n"},
      {"two roots", "<a/>\n<b/>", "Only one top level element is allowed.\r\nLine: 2\r\n<b/>"},
      {"text outside the root", "<a/>junk",
       "Invalid at the top level of the document.\r\nLine: 1\r\n<a/>junk"},
      {"declaration not first", " <?xml version='1.0'?><a/>",
       "Invalid xml declaration.\r\nLine: 1\r\n <?xml version='1.0'?><a/>"},
      {"second declaration after the root", "<?xml version='1.0'?><a/>\n<?xml version='1.0'?>",
       "Invalid xml declaration.\r\nLine: 2\r\n<?xml version='1.0'?>"},
      {"declaration with a bad version", "<?xml version=\"1&amp;0\"?><a/>",
       "Invalid xml declaration.\r\nLine: 1\r\n<?xml version=\"1&amp;0\"?><a/>"},
      {"declaration with an unknown pseudo-attribute", "<?xml version='1.0' x='1'?><a/>",
       "Invalid xml declaration.\r\nLine: 1\r\n<?xml version='1.0' x='1'?><a/>"},
      // The parser reads a declaration's pseudo-attributes as an element's: a
      // "/>" or ">" inside would end it early, and turn a later "?>" into "/>".
      {"declaration ended by '/>'", "<?xml version=\"1.0\"/><a b=\"?>\"/>",
       "Invalid xml declaration.\r\nLine: 1\r\n<?xml version=\"1.0\"/><a b=\"?>\"/>"},
      {"declaration holding elements", "<?xml version=\"1.0\"><x/></xml><!--?>--><a/>",
       "Invalid xml declaration.\r\nLine: 1\r\n<?xml version=\"1.0\"><x/></xml><!--?>--><"},
      {"declaration inside an element", "<a><?xml version='1.0'?></a>",
       "Invalid xml declaration.\r\nLine: 1\r\n<a><?xml version='1.0'?></a>"},
      {"unknown entity", "<a>\n x &nbsp; y</a>",
       "Reference to undefined entity &nbsp;.\r\nLine: 2\r\n x &nbsp; y</a>"},
      {"unknown entity in an attribute", "<a>\n<b c='&ext;'/></a>",
       "Reference to undefined entity &ext;.\r\nLine: 2\r\n<b c='&ext;'/></a>"},
      {"reference to a forbidden character", "<a>&#1;</a>",
       "Invalid character reference &#1;.\r\nLine: 1\r\n<a>&#1;</a>"},
      {"repeated attribute", "<a x='1' x='2'/>",
       "Duplicate attribute 'x'.\r\nLine: 1\r\n<a x='1' x='2'/>"},
      {"undeclared element prefix", "<a>\n<p:b/></a>",
       "Reference to undeclared namespace prefix: 'p'.\r\nLine: 2\r\n<p:b/></a>"},
      {"undeclared attribute prefix", "<a q:x='1'/>",
       "Reference to undeclared namespace prefix: 'q'.\r\nLine: 1\r\n<a q:x='1'/>"},
      {"prefix declared only in a sibling", "<r><a xmlns:p='urn:p'/><p:b/></r>",
       "Reference to undeclared namespace prefix: 'p'.\r\nLine: 1\r\n<r><a "
       "xmlns:p='urn:p'/><p:b/></r>"},
      {"invalid UTF-8 quotes only the valid start of the line", "<a>\nok\xFF</a>",
       "Invalid UTF-8 byte sequence in the input.\r\nLine: 2\r\nok"},
      {"control character", "<a>\x01</a>",
       "An invalid character was found in text content.\r\nLine: 1\r\n<a>\x01</a>"},
      {"unsupported encoding", "<?xml version='1.0' encoding='EBCDIC-X'?><a/>",
       "System does not support the specified encoding.\r\nLine: 1\r\n"
       "<?xml version='1.0' encoding='EBCDIC-X'?"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ParseError(c.input), c.message);
  }
}

TEST(XMLParse, DocumentTypeDeclarationsAreRefused) {
  const char *inputs[] = {
      "<!DOCTYPE a><a/>",
      "<!DOCTYPE a SYSTEM \"file:///etc/passwd\"><a/>",
      "<?xml version=\"1.0\"?>\n<!DOCTYPE a [<!ENTITY xxe SYSTEM \"file:///etc/passwd\">]>\n"
      "<a>&xxe;</a>",
      "<!DOCTYPE a [<!ENTITY l0 \"ha\"><!ENTITY l1 \"&l0;&l0;&l0;&l0;\">]><a>&l1;</a>",
      "<!DOCTYPE a [<!ENTITY % p SYSTEM \"http://127.0.0.1:1/x\"> %p;]><a/>",
      "<!DOCTYPE a [ <!ELEMENT a (#PCDATA)", // broken internal subset
  };
  for (const char *in : inputs) {
    SCOPED_TRACE(in);
    std::string msg = ParseError(in);
    EXPECT_EQ(msg.rfind("Document type definitions are not allowed.\r\nLine: ", 0), 0u) << msg;
  }
  // An entity reference without any DTD is an unknown entity, never resolved.
  EXPECT_EQ(ParseError("<a>&xxe;</a>").rfind("Reference to undefined entity &xxe;.", 0), 0u);
}

TEST(XMLParse, FailureKeepsTheOldTree) {
  auto doc = NewXMLDocument();
  doc->LoadFromXML("<old/>");
  EXPECT_THROW(doc->LoadFromXML("<new>"), EDOMParseError);
  EXPECT_EQ(doc->DocumentElement().NodeName(), "old");
}

TEST(XMLParse, ReferencesAndLineEnds) {
  auto doc = NewXMLDocument();
  doc->LoadFromXML(
      "<a b='x&#10;y&#x9;z &lt;&amp;&gt;&apos;&quot;'>1 &lt; 2\r\n&#x1F600;&#233;</a>");
  IXMLNode a = doc->DocumentElement();
  EXPECT_EQ(a.GetAttribute("b"), "x\ny\tz <&>'\"");
  EXPECT_EQ(a.Text(), "1 < 2\n\xF0\x9F\x98\x80\xC3\xA9");
}

std::string Utf16(std::string_view ascii, bool bigEndian, bool bom) {
  std::string out;
  if (bom) out += bigEndian ? "\xFE\xFF" : "\xFF\xFE";
  for (char c : ascii) {
    if (bigEndian) out += '\0';
    out += c;
    if (!bigEndian) out += '\0';
  }
  return out;
}

TEST(XMLParse, Encodings) {
  std::string le = Utf16("<?xml version=\"1.0\" encoding=\"UTF-16\"?><a>x</a>", false, true);
  std::string leSurrogates = Utf16("<a>", false, true) + std::string("\x3D\xD8\x00\xDE", 4) +
                             std::string("\xE9\x00", 2) + Utf16("</a>", false, false);
  struct {
    const char *name;
    std::string bytes;
    std::string text;
    std::string encoding;
  } cases[] = {
      {"UTF-8 without declaration", "<a>\xC3\xA9</a>", "\xC3\xA9", ""},
      {"UTF-8 byte-order mark", "\xEF\xBB\xBF<a>\xC3\xA9</a>", "\xC3\xA9", ""},
      {"UTF-8 declared", "<?xml version=\"1.0\" encoding=\"utf-8\"?><a>\xC3\xA9</a>", "\xC3\xA9",
       "utf-8"},
      {"UTF-16 LE with mark", le, "x", "UTF-16"},
      {"UTF-16 BE with mark", Utf16("<a>x</a>", true, true), "x", ""},
      {"UTF-16 LE without mark", Utf16("<?xml version=\"1.0\"?><a>x</a>", false, false), "x", ""},
      {"UTF-16 BE without mark", Utf16("<a>y</a>", true, false), "y", ""},
      {"UTF-16 surrogate pair and Latin letter", leSurrogates, "\xF0\x9F\x98\x80\xC3\xA9", ""},
      {"ISO-8859-1 declared", "<?xml version='1.0' encoding='ISO-8859-1'?><a>\xE9</a>", "\xC3\xA9",
       "ISO-8859-1"},
      {"windows-1252 declared", "<?xml version='1.0' encoding='windows-1252'?><a>\x80</a>",
       "\xE2\x82\xAC", "windows-1252"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    auto doc = NewXMLDocument();
    TMemoryStream s(c.bytes);
    s.SetPosition(s.Size()); // loading starts at position 0 whatever the position
    doc->LoadFromStream(s);
    EXPECT_EQ(doc->DocumentElement().Text(), c.text);
    EXPECT_EQ(doc->Encoding(), c.encoding);
  }
  // A lone surrogate cannot be decoded.
  std::string lone =
      Utf16("<a>", false, true) + std::string("\x3D\xD8", 2) + Utf16("</a>", false, false);
  EXPECT_EQ(ParseError(lone).rfind("Invalid surrogate in UTF-16 input.", 0), 0u);
}

TEST(XMLParse, SavedAsUTF8WhateverTheInput) {
  auto doc = NewXMLDocument();
  doc->LoadFromXML("<?xml version='1.0' encoding='ISO-8859-1'?><a>\xE9</a>");
  EXPECT_EQ(doc->XML(), "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<a>\xC3\xA9</a>");
}

} // namespace
