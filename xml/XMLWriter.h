// The serialiser: writes a subtree as UTF-8 text without recursion.
#pragma once

#include <string>
#include <string_view>

#include "xml/XMLLimits.h"

namespace pugi {
struct xml_node_struct;
}

namespace vv::xmlwriter {

// The line break of serialised documents: after the XML declaration, and
// before each indented child in the indenting mode.
inline constexpr std::string_view kLineBreak = "\r\n";

// Appends `node` and its subtree to `out`. With `indent` non-empty, each
// child of an element that holds no character data starts on a new line,
// indented by `indent` once per level below `node` (at most
// kMaxIndentLevels times); inside an element that holds character data
// nothing is indented, at any depth, so no text gains whitespace.
void WriteNode(std::string &out, pugi::xml_node_struct *node, std::string_view indent);

} // namespace vv::xmlwriter
