// The DOM's save: a subtree of the tree written through the serialiser,
// without recursion.
#pragma once

#include <string>
#include <string_view>

namespace pugi {
struct xml_node_struct;
}

namespace vv {

class TXMLSerializer;

namespace xmlwriter {

// Writes `node` and its subtree. With `indent` non-empty, each child of an
// element that holds no character data starts on a new line, indented by
// `indent` once per level below `node` (at most kMaxIndentLevels times);
// inside an element that holds character data nothing is indented, at any
// depth, so no text gains whitespace.
void WriteNode(TXMLSerializer &out, pugi::xml_node_struct *node, std::string_view indent);

} // namespace xmlwriter
} // namespace vv
