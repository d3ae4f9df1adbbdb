#include "xml/XMLWriter.h"

#include <algorithm>
#include <cstring>
#include <pugixml.hpp>
#include <vector>

namespace vv::xmlwriter {

namespace {

// Which bytes character data and attribute values keep as they are.
struct TPlain {
  bool Text[256] = {}, Attr[256] = {};
  constexpr TPlain() {
    for (int c = 0x20; c < 256; ++c) Text[c] = Attr[c] = c != '&' && c != '<' && c != '>';
    Text['\t'] = Text['\n'] = true;
    Attr['"'] = false;
  }
};
constexpr TPlain kPlain;

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
  // A C string, copied while it is scanned (the cursor is kept in locals:
  // stores through char pointers would otherwise reload it at every byte).
  void PutZ(const char *z) {
    char *p = Pos, *e = End;
    for (; *z; ++z) {
      if (p == e) {
        Pos = p;
        Grow(1);
        p = Pos, e = End;
      }
      *p++ = *z;
    }
    Pos = p;
  }
  // Character data or an attribute value, escaped (the rules of
  // xmltext::EscapeText and xmltext::EscapeAttr).
  void PutEscaped(const char *z, bool attr) {
    const bool *plain = attr ? kPlain.Attr : kPlain.Text;
    char *p = Pos, *e = End;
    for (; *z; ++z) {
      unsigned char c = (unsigned char)*z;
      if (plain[c]) {
        if (p == e) {
          Pos = p;
          Grow(1);
          p = Pos, e = End;
        }
        *p++ = char(c);
        continue;
      }
      Pos = p;
      PutReference(c);
      p = Pos, e = End;
    }
    Pos = p;
  }

private:
  void PutReference(unsigned char c) {
    if (c == '&') {
      Put("&amp;");
    } else if (c == '<') {
      Put("&lt;");
    } else if (c == '>') {
      Put("&gt;");
    } else if (c == '"') {
      Put("&quot;");
    } else {
      Put("&#");
      if (c >= 10) Put(char('0' + c / 10));
      Put(char('0' + c % 10));
      Put(';');
    }
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
  out.PutZ(n.name());
  for (pugi::xml_attribute a = n.first_attribute(); a; a = a.next_attribute()) {
    out.Put(' ');
    out.PutZ(a.name());
    out.Put("=\"");
    out.PutEscaped(a.value(), true);
    out.Put('"');
  }
}

// "]]>" cannot appear inside a CDATA section: split it across two sections.
void WriteCData(TOut &out, std::string_view v) {
  out.Put("<![CDATA[");
  size_t pos = 0, hit;
  while ((hit = v.find("]]>", pos)) != std::string_view::npos) {
    out.Put(v.substr(pos, hit + 2 - pos));
    out.Put("]]><![CDATA[");
    pos = hit + 2;
  }
  out.Put(v.substr(pos));
  out.Put("]]>");
}

// "--" cannot appear inside a comment, nor may it end with "-".
void WriteComment(TOut &out, std::string_view v) {
  out.Put("<!--");
  for (size_t i = 0; i < v.size(); ++i) {
    out.Put(v[i]);
    if (v[i] == '-' && (i + 1 == v.size() || v[i + 1] == '-')) out.Put(' ');
  }
  out.Put("-->");
}

void WriteLeaf(TOut &out, pugi::xml_node n) {
  switch (n.type()) {
  case pugi::node_element:
    OpenTag(out, n);
    out.Put("/>");
    break;
  case pugi::node_pcdata:
    out.PutEscaped(n.value(), false);
    break;
  case pugi::node_cdata:
    WriteCData(out, n.value());
    break;
  case pugi::node_comment:
    WriteComment(out, n.value());
    break;
  case pugi::node_pi: {
    out.Put("<?");
    out.PutZ(n.name());
    std::string_view v = n.value();
    if (!v.empty()) {
      out.Put(' ');
      size_t end = v.find("?>"); // would end the instruction early
      out.Put(v.substr(0, end));
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
      out.PutZ(cur.name());
      out.Put('>');
    }
  }
}

} // namespace vv::xmlwriter
