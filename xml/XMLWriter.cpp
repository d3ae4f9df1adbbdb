#include "xml/XMLWriter.h"

#include <pugixml.hpp>
#include <vector>

#include "xml/XMLText.h"

namespace vv::xmlwriter {

namespace {

bool HoldsCharData(pugi::xml_node n) {
  for (pugi::xml_node c = n.first_child(); c; c = c.next_sibling())
    if (c.type() == pugi::node_pcdata || c.type() == pugi::node_cdata) return true;
  return false;
}

void Break(std::string &out, std::string_view indent, size_t depth) {
  out += kLineBreak;
  for (size_t i = 0; i < depth && i < kMaxIndentLevels; ++i) out += indent;
}

void OpenTag(std::string &out, pugi::xml_node n) {
  out += '<';
  out += n.name();
  for (pugi::xml_attribute a = n.first_attribute(); a; a = a.next_attribute()) {
    out += ' ';
    out += a.name();
    out += "=\"";
    xmltext::EscapeAttr(out, a.value());
    out += '"';
  }
}

// "]]>" cannot appear inside a CDATA section: split it across two sections.
void WriteCData(std::string &out, std::string_view v) {
  out += "<![CDATA[";
  size_t pos = 0, hit;
  while ((hit = v.find("]]>", pos)) != std::string_view::npos) {
    out.append(v.substr(pos, hit + 2 - pos));
    out += "]]><![CDATA[";
    pos = hit + 2;
  }
  out.append(v.substr(pos));
  out += "]]>";
}

// "--" cannot appear inside a comment, nor may it end with "-".
void WriteComment(std::string &out, std::string_view v) {
  out += "<!--";
  for (size_t i = 0; i < v.size(); ++i) {
    out += v[i];
    if (v[i] == '-' && (i + 1 == v.size() || v[i + 1] == '-')) out += ' ';
  }
  out += "-->";
}

void WriteLeaf(std::string &out, pugi::xml_node n) {
  switch (n.type()) {
  case pugi::node_element:
    OpenTag(out, n);
    out += "/>";
    break;
  case pugi::node_pcdata:
    xmltext::EscapeText(out, n.value());
    break;
  case pugi::node_cdata:
    WriteCData(out, n.value());
    break;
  case pugi::node_comment:
    WriteComment(out, n.value());
    break;
  case pugi::node_pi: {
    out += "<?";
    out += n.name();
    std::string_view v = n.value();
    if (!v.empty()) {
      out += ' ';
      size_t end = v.find("?>"); // would end the instruction early
      out.append(v.substr(0, end));
    }
    out += "?>";
    break;
  }
  default: // declarations and doctypes never stay in the tree
    break;
  }
}

} // namespace

void WriteNode(std::string &out, pugi::xml_node_struct *node, std::string_view indent) {
  const pugi::xml_node start(node);
  pugi::xml_node cur = start;
  std::vector<char> indented; // per open element: are its children indented?
  while (true) {
    if (cur.type() == pugi::node_element && cur.first_child()) {
      OpenTag(out, cur);
      out += '>';
      bool inMixed = !indented.empty() && !indented.back() && !indent.empty();
      bool ind = !indent.empty() && !inMixed && !HoldsCharData(cur);
      indented.push_back(ind);
      cur = cur.first_child();
      if (ind) Break(out, indent, indented.size());
      continue;
    }
    WriteLeaf(out, cur);
    while (true) {
      if (cur == start) return;
      pugi::xml_node next = cur.next_sibling();
      if (next) {
        if (indented.back()) Break(out, indent, indented.size());
        cur = next;
        break;
      }
      cur = cur.parent();
      bool ind = indented.back();
      indented.pop_back();
      if (ind) Break(out, indent, indented.size());
      out += "</";
      out += cur.name();
      out += '>';
    }
  }
}

} // namespace vv::xmlwriter
