#include "xml/XMLWriter.h"

#include <algorithm>
#include <cstring>
#include <pugixml.hpp>
#include <vector>

#include "xml/XMLText.h"

namespace vv::xmlwriter {

namespace {

// The output, grown by doubling and written by hand: most pieces are a few
// bytes long, where a library append per piece costs more than the copy.
// The unused room is cut off when writing ends.
class TOut {
public:
  explicit TOut(std::string &s) : S(s) {
    size_t len = s.size();
    S.resize(std::max(len * 2, len + kMinRoom));
    Pos = S.data() + len;
    End = S.data() + S.size();
  }
  ~TOut() { S.resize(size_t(Pos - S.data())); }
  TOut(const TOut &) = delete;
  TOut &operator=(const TOut &) = delete;

  void Put(char c) {
    if (Pos == End) Grow(1);
    *Pos++ = c;
  }
  void Put(std::string_view v) {
    if (size_t(End - Pos) < v.size()) Grow(v.size());
    if (!v.empty()) std::memcpy(Pos, v.data(), v.size());
    Pos += v.size();
  }
  // A text of the tree, escaped; written in pieces so that the room it
  // needs stays small whatever its length.
  void PutEscaped(std::string_view v, xmltext::TEscape how) {
    while (!v.empty()) {
      size_t n = Piece(v);
      if (size_t(End - Pos) < xmltext::MaxEscapedSize(n)) Grow(xmltext::MaxEscapedSize(n));
      Pos = xmltext::AppendEscaped(Pos, v.substr(0, n), how);
      v.remove_prefix(n);
    }
  }
  void PutName(const char *name) { PutEscaped(name, xmltext::TEscape::Verbatim); }

private:
  // The length of the next piece of `v`, never ending inside a character.
  static size_t Piece(std::string_view v) {
    if (v.size() <= kEscapePieceBytes) return v.size();
    size_t n = kEscapePieceBytes;
    for (int back = 0; back < 3 && (static_cast<unsigned char>(v[n]) & 0xC0) == 0x80; ++back) --n;
    return n;
  }
  void Grow(size_t n) {
    size_t len = size_t(Pos - S.data());
    S.resize(std::max(S.size() * 2, len + n + kMinRoom));
    Pos = S.data() + len;
    End = S.data() + S.size();
  }
  static constexpr size_t kMinRoom = 256;
  std::string &S;
  char *Pos, *End;
};

bool HoldsCharData(pugi::xml_node n) {
  for (pugi::xml_node c = n.first_child(); c; c = c.next_sibling())
    if (c.type() == pugi::node_pcdata || c.type() == pugi::node_cdata) return true;
  return false;
}

void Break(TOut &out, std::string_view indent, size_t depth) {
  out.Put(kLineBreak);
  for (size_t i = 0; i < depth && i < kMaxIndentLevels; ++i) out.Put(indent);
}

void OpenTag(TOut &out, pugi::xml_node n) {
  out.Put('<');
  out.PutName(n.name());
  for (pugi::xml_attribute a = n.first_attribute(); a; a = a.next_attribute()) {
    out.Put(' ');
    out.PutName(a.name());
    out.Put("=\"");
    out.PutEscaped(a.value(), xmltext::TEscape::Attr);
    out.Put('"');
  }
}

// "]]>" cannot appear inside a CDATA section: split it across two sections.
void WriteCData(TOut &out, std::string_view v) {
  out.Put("<![CDATA[");
  size_t pos = 0, hit;
  while ((hit = v.find("]]>", pos)) != std::string_view::npos) {
    out.PutEscaped(v.substr(pos, hit + 2 - pos), xmltext::TEscape::Verbatim);
    out.Put("]]><![CDATA[");
    pos = hit + 2;
  }
  out.PutEscaped(v.substr(pos), xmltext::TEscape::Verbatim);
  out.Put("]]>");
}

// "--" cannot appear inside a comment, nor may it end with "-".
void WriteComment(TOut &out, std::string_view v) {
  out.Put("<!--");
  size_t start = 0;
  for (size_t i = 0; i < v.size(); ++i) {
    if (v[i] != '-' || (i + 1 < v.size() && v[i + 1] != '-')) continue;
    out.PutEscaped(v.substr(start, i + 1 - start), xmltext::TEscape::Verbatim);
    out.Put(' ');
    start = i + 1;
  }
  out.PutEscaped(v.substr(start), xmltext::TEscape::Verbatim);
  out.Put("-->");
}

void WriteLeaf(TOut &out, pugi::xml_node n) {
  switch (n.type()) {
  case pugi::node_element:
    OpenTag(out, n);
    out.Put("/>");
    break;
  case pugi::node_pcdata:
    out.PutEscaped(n.value(), xmltext::TEscape::Text);
    break;
  case pugi::node_cdata:
    WriteCData(out, n.value());
    break;
  case pugi::node_comment:
    WriteComment(out, n.value());
    break;
  case pugi::node_pi: {
    out.Put("<?");
    out.PutName(n.name());
    std::string_view v = n.value();
    if (!v.empty()) {
      out.Put(' ');
      size_t end = v.find("?>"); // would end the instruction early
      out.PutEscaped(v.substr(0, end), xmltext::TEscape::Verbatim);
    }
    out.Put("?>");
    break;
  }
  default: // declarations and doctypes never stay in the tree
    break;
  }
}

} // namespace

void WriteNode(std::string &text, pugi::xml_node_struct *node, std::string_view indent) {
  TOut out(text);
  const pugi::xml_node start(node);
  pugi::xml_node cur = start;
  std::vector<char> indented; // per open element: are its children indented?
  while (true) {
    if (cur.type() == pugi::node_element && cur.first_child()) {
      OpenTag(out, cur);
      out.Put('>');
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
      out.Put("</");
      out.PutName(cur.name());
      out.Put('>');
    }
  }
}

} // namespace vv::xmlwriter
