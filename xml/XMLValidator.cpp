#include "xml/XMLValidator.h"

#include <cctype>
#include <cstring>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "xml/XMLLimits.h"
#include "xml/XMLNamespaces.h"
#include "xml/XMLText.h"

namespace vv::xmlvalidator {

namespace {

// Entities and character references are resolved here rather than by
// pugixml, which leaves unknown entities in the text without complaint.
constexpr unsigned kParseFlags = pugi::parse_cdata | pugi::parse_wconv_attribute | pugi::parse_eol |
                                 pugi::parse_declaration | pugi::parse_doctype |
                                 pugi::parse_comments | pugi::parse_pi | pugi::parse_fragment;

constexpr const char *kDtdRefused = "Document type definitions are not allowed.";

class TValidator {
public:
  TValidator(pugi::xml_document &doc, std::string &text, std::string_view source)
      : FDoc(doc), FText(text), FSource(source), FSize(text.size()),
        FHasRefs(text.find('&') != std::string::npos),
        FStartsWithDecl(text.compare(0, 5, "<?xml") == 0), FPlainDecl(PlainDeclaration(text)) {}

  TDeclaration Run() {
    pugi::xml_parse_result r =
        FDoc.load_buffer_inplace(FText.data(), FText.size(), kParseFlags, pugi::encoding_utf8);
    if (r.status == pugi::status_bad_doctype) Fail(kDtdRefused, size_t(r.offset));
    if (!r) Fail(r.description(), size_t(r.offset));
    TDeclaration decl = CheckTopLevel();
    WalkTree(FDoc.document_element());
    return decl;
  }

private:
  [[noreturn]] void Fail(std::string_view reason, size_t offset) {
    xmltext::RaiseParseError(reason, xmltext::DecodeToUtf8(FSource), offset);
  }
  [[noreturn]] void Fail(std::string_view reason, pugi::xml_node at) {
    ptrdiff_t off = at.offset_debug();
    Fail(reason, off < 0 ? 0 : size_t(off));
  }

  TDeclaration CheckTopLevel() {
    TDeclaration decl;
    pugi::xml_node declNode;
    int elements = 0;
    for (pugi::xml_node c = FDoc.first_child(); c; c = c.next_sibling()) {
      switch (c.type()) {
      case pugi::node_declaration:
        if (c != FDoc.first_child() || !FStartsWithDecl) Fail("Invalid xml declaration.", c);
        declNode = c;
        break;
      case pugi::node_doctype:
        Fail(kDtdRefused, c);
      case pugi::node_element:
        if (++elements > 1) Fail("Only one top level element is allowed.", c);
        break;
      case pugi::node_pcdata:
      case pugi::node_cdata:
        Fail("Invalid at the top level of the document.", c);
      default:
        break;
      }
    }
    if (elements == 0) Fail("XML document must have a top level element.", FSize);
    if (declNode) {
      decl.Version = declNode.attribute("version").value();
      decl.Encoding = declNode.attribute("encoding").value();
      if (!ValidDeclaration(declNode) || !FPlainDecl) Fail("Invalid xml declaration.", declNode);
      FDoc.remove_child(declNode);
    }
    return decl;
  }

  static bool ValidDeclaration(pugi::xml_node decl) {
    TPseudoAttr attrs[4];
    size_t n = 0;
    for (pugi::xml_attribute a = decl.first_attribute(); a; a = a.next_attribute()) {
      if (n == std::size(attrs)) return false;
      attrs[n++] = {a.name(), a.value()};
    }
    return xmlvalidator::ValidDeclaration({attrs, n});
  }

  // Visits every node, parents first, with an explicit walk (no recursion).
  void WalkTree(pugi::xml_node root) {
    pugi::xml_node cur = root;
    while (true) {
      if (cur.type() == pugi::node_element) {
        Enter(cur);
        if (pugi::xml_node c = cur.first_child()) {
          cur = c;
          continue;
        }
        Leave();
      } else {
        CheckLeaf(cur);
      }
      while (true) {
        if (cur == root) return;
        if (pugi::xml_node next = cur.next_sibling()) {
          cur = next;
          break;
        }
        cur = cur.parent();
        Leave();
      }
    }
  }

  void Enter(pugi::xml_node el) {
    FMarks.push_back(FDeclared.size());
    CheckDuplicates(el);
    for (pugi::xml_attribute a = el.first_attribute(); a; a = a.next_attribute()) {
      ResolveAttr(el, a);
      std::string_view p;
      if (xmlns::IsDecl(a.name(), p) && !p.empty()) {
        if (*a.value() == 0) Fail("Namespace prefixes cannot be undeclared.", el);
        FDeclared.push_back(p);
        ++FInScope[p];
      }
    }
    CheckPrefix(xmlns::PrefixOf(el.name()), el);
    for (pugi::xml_attribute a = el.first_attribute(); a; a = a.next_attribute()) {
      std::string_view p = xmlns::PrefixOf(a.name());
      if (p != "xmlns") CheckPrefix(p, el);
    }
  }

  void Leave() {
    size_t mark = FMarks.back();
    FMarks.pop_back();
    while (FDeclared.size() > mark) {
      auto it = FInScope.find(FDeclared.back());
      if (--it->second == 0) FInScope.erase(it);
      FDeclared.pop_back();
    }
  }

  void CheckPrefix(std::string_view p, pugi::xml_node el) {
    if (p.empty() || p == "xml" || FInScope.count(p)) return;
    Fail("Reference to undeclared namespace prefix: '" + std::string(p) + "'.", el);
  }

  void CheckDuplicates(pugi::xml_node el) {
    size_t n = 0;
    for (pugi::xml_attribute a = el.first_attribute(); a; a = a.next_attribute()) ++n;
    if (n < 2) return;
    if (n <= kMaxPairwiseAttrs) {
      for (pugi::xml_attribute a = el.first_attribute(); a; a = a.next_attribute())
        for (pugi::xml_attribute b = a.next_attribute(); b; b = b.next_attribute())
          if (std::string_view(a.name()) == b.name()) DuplicateAttr(el, a.name());
      return;
    }
    std::unordered_set<std::string_view> names;
    names.reserve(n);
    for (pugi::xml_attribute a = el.first_attribute(); a; a = a.next_attribute())
      if (!names.insert(a.name()).second) DuplicateAttr(el, a.name());
  }

  [[noreturn]] void DuplicateAttr(pugi::xml_node el, std::string_view name) {
    Fail("Duplicate attribute '" + std::string(name) + "'.", el);
  }

  void ResolveAttr(pugi::xml_node el, pugi::xml_attribute a) {
    if (!FHasRefs) return;
    const char *raw = a.value();
    if (!std::strchr(raw, '&')) return;
    size_t bad = 0;
    if (!xmltext::ResolveReferences(raw, FBuf, bad)) {
      // The attribute value lies in the parsed buffer, at a known distance
      // from its element's name.
      ptrdiff_t elOff = el.offset_debug();
      ptrdiff_t off = elOff < 0 ? 0 : elOff + (raw - el.name()) + ptrdiff_t(bad);
      if (off < 0 || size_t(off) > FSize) off = elOff < 0 ? 0 : elOff;
      Fail(BadReference(raw + bad), size_t(off));
    }
    a.set_value(FBuf.c_str(), FBuf.size());
  }

  void CheckLeaf(pugi::xml_node n) {
    switch (n.type()) {
    case pugi::node_doctype:
      Fail(kDtdRefused, n);
    case pugi::node_declaration:
      Fail("Invalid xml declaration.", n);
    case pugi::node_pcdata: {
      if (!FHasRefs) return;
      const char *raw = n.value();
      if (!std::strchr(raw, '&')) return;
      size_t bad = 0;
      if (!xmltext::ResolveReferences(raw, FBuf, bad)) {
        ptrdiff_t off = n.offset_debug();
        Fail(BadReference(raw + bad), off < 0 ? 0 : size_t(off) + bad);
      }
      n.set_value(FBuf.c_str(), FBuf.size());
      return;
    }
    default:
      return;
    }
  }

  static std::string BadReference(std::string_view at) {
    size_t semi = at.find(';');
    if (semi == std::string_view::npos || semi > 64)
      return "Invalid entity or character reference.";
    std::string_view ref = at.substr(0, semi + 1);
    if (ref.size() > 1 && ref[1] == '#')
      return "Invalid character reference " + std::string(ref) + ".";
    return "Reference to undefined entity " + std::string(ref) + ".";
  }

  pugi::xml_document &FDoc;
  std::string &FText; // parsed in place: read no text from it afterwards
  std::string_view FSource;
  const size_t FSize;
  // Values hold references only when the input has an ampersand at all:
  // one scan of the input spares a scan of every value.
  const bool FHasRefs;
  const bool FStartsWithDecl;
  const bool FPlainDecl; // read before parsing: the parser changes the text
  std::string FBuf;
  std::vector<size_t> FMarks;
  std::vector<std::string_view> FDeclared;
  std::unordered_map<std::string_view, int> FInScope;
};

} // namespace

TDeclaration ParseAndValidate(pugi::xml_document &doc, std::string &text, std::string_view source) {
  return TValidator(doc, text, source).Run();
}

bool ValidDeclaration(std::span<const TPseudoAttr> attrs) {
  size_t i = 0;
  auto next = [&](std::string_view name) { return i < attrs.size() && attrs[i].Name == name; };
  if (!next("version")) return false;
  std::string_view v = attrs[i++].Value;
  if (v.size() < 3 || v.substr(0, 2) != "1." ||
      v.substr(2).find_first_not_of("0123456789") != std::string_view::npos)
    return false;
  if (next("encoding")) {
    std::string_view e = attrs[i++].Value;
    if (e.empty() || !std::isalpha((unsigned char)e[0]) ||
        e.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789._-") !=
            std::string_view::npos)
      return false;
  }
  if (next("standalone")) {
    std::string_view sd = attrs[i++].Value;
    if (sd != "yes" && sd != "no") return false;
  }
  return i == attrs.size();
}

bool PlainDeclaration(std::string_view text) {
  if (text.substr(0, 5) != "<?xml") return true;
  std::string_view head = text.substr(0, text.find("?>", 2));
  return head.find_first_of("/>") == std::string_view::npos;
}

} // namespace vv::xmlvalidator
