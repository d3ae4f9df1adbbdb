// Parsing with pugixml plus the checks pugixml leaves out, so that only
// well-formed, namespace-well-formed documents without a DTD get through.
#pragma once

#include <pugixml.hpp>
#include <span>
#include <string>
#include <string_view>

namespace vv::xmlvalidator {

// What the XML declaration said (empty when there was none).
struct TDeclaration {
  std::string Version;
  std::string Encoding;
};

// Parses the UTF-8 `text` into `doc` and checks it; raises EDOMParseError
// (message and line as for every parse error) when the text is not
// well-formed, declares a DTD, uses an unknown entity, repeats an attribute
// or uses an undeclared prefix. The XML declaration is taken out of the tree.
// The text is parsed in place, without a copy: the document points into it,
// so it must stay where it is for the document's life. `source` is the input
// `text` was decoded from; an error decodes it again to quote the line as it
// was, since parsing changes the text.
TDeclaration ParseAndValidate(pugi::xml_document &doc, std::string &text, std::string_view source);

// A pseudo-attribute of the XML declaration, its value as the parser read it.
struct TPseudoAttr {
  std::string_view Name, Value;
};
// True for the pseudo-attributes of a valid declaration: version="1.n"
// first, then optionally an encoding name and standalone, in that order, and
// nothing else.
bool ValidDeclaration(std::span<const TPseudoAttr> attrs);
// False when the declaration that starts `text` holds a "/" or ">" before
// its first "?>". The parser reads the pseudo-attributes as those of an
// element, so either would end the declaration early, or let it hold nodes,
// and the "?" of that "?>" would then be read as "/" wherever it lies: no
// valid declaration holds one.
bool PlainDeclaration(std::string_view text);

} // namespace vv::xmlvalidator
