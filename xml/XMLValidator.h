// Parsing with pugixml plus the checks pugixml leaves out, so that only
// well-formed, namespace-well-formed documents without a DTD get through.
#pragma once

#include <pugixml.hpp>
#include <string>

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
TDeclaration ParseAndValidate(pugi::xml_document &doc, const std::string &text);

} // namespace vv::xmlvalidator
