#include "xml/XMLWriter.h"

#include <pugixml.hpp>
#include <vector>

#include "xml/XMLSerializer.h"

namespace vv::xmlwriter {

namespace {

bool HoldsCharData(pugi::xml_node n) {
  for (pugi::xml_node c = n.first_child(); c; c = c.next_sibling())
    if (c.type() == pugi::node_pcdata || c.type() == pugi::node_cdata) return true;
  return false;
}

void StartTag(TXMLSerializer &out, pugi::xml_node n) {
  out.StartTag(n.name());
  for (pugi::xml_attribute a = n.first_attribute(); a; a = a.next_attribute())
    out.Attribute(a.name(), a.value());
}

void WriteLeaf(TXMLSerializer &out, pugi::xml_node n) {
  switch (n.type()) {
  case pugi::node_element:
    StartTag(out, n);
    out.EndTag(n.name());
    break;
  case pugi::node_pcdata:
    out.Text(n.value());
    break;
  case pugi::node_cdata:
    out.CData(n.value());
    break;
  case pugi::node_comment:
    out.Comment(n.value());
    break;
  case pugi::node_pi:
    out.PI(n.name(), n.value());
    break;
  default: // declarations and doctypes never stay in the tree
    break;
  }
}

} // namespace

void WriteNode(TXMLSerializer &out, pugi::xml_node_struct *node, std::string_view indent) {
  const pugi::xml_node start(node);
  pugi::xml_node cur = start;
  std::vector<char> indented; // per open element: are its children indented?
  while (true) {
    if (cur.type() == pugi::node_element && cur.first_child()) {
      StartTag(out, cur);
      bool inMixed = !indented.empty() && !indented.back() && !indent.empty();
      bool ind = !indent.empty() && !inMixed && !HoldsCharData(cur);
      indented.push_back(ind);
      cur = cur.first_child();
      if (ind) out.LineBreak(indent, indented.size());
      continue;
    }
    WriteLeaf(out, cur);
    while (true) {
      if (cur == start) return;
      pugi::xml_node next = cur.next_sibling();
      if (next) {
        if (indented.back()) out.LineBreak(indent, indented.size());
        cur = next;
        break;
      }
      cur = cur.parent();
      bool ind = indented.back();
      indented.pop_back();
      if (ind) out.LineBreak(indent, indented.size());
      out.EndTag(cur.name());
    }
  }
}

} // namespace vv::xmlwriter
