#include "xml/XMLNamespaces.h"

#include <vector>

#include "rtl/StrUtils.h"
#include "xml/XMLDoc.h"

namespace vv::xmlns {

namespace {

// The prefixes declared on the elements passed so far, in a small inline
// buffer first: lookups near the top of a message meet few declarations.
class TSeenPrefixes {
public:
  bool Contains(std::string_view p, size_t upTo) const {
    for (size_t i = 0; i < upTo; ++i)
      if (At(i) == p) return true;
    return false;
  }
  void Add(std::string_view p) {
    if (FCount < kInline)
      FInline[FCount] = p;
    else
      FMore.push_back(p);
    ++FCount;
  }
  size_t Size() const { return FCount; }

private:
  static constexpr size_t kInline = 16;
  std::string_view At(size_t i) const { return i < kInline ? FInline[i] : FMore[i - kInline]; }
  std::string_view FInline[kInline];
  std::vector<std::string_view> FMore;
  size_t FCount = 0;
};

} // namespace

pugi::xml_attribute FindPrefixDecl(pugi::xml_node el, std::string_view prefix,
                                   pugi::xml_node *where) {
  for (pugi::xml_node e = el; e && e.type() == pugi::node_element; e = e.parent())
    for (pugi::xml_attribute a = e.first_attribute(); a; a = a.next_attribute()) {
      const char *n = a.name();
      bool match = prefix.empty() ? NameIs(n, "xmlns")
                                  : n[0] == 'x' && n[1] == 'm' && n[2] == 'l' && n[3] == 'n' &&
                                        n[4] == 's' && n[5] == ':' && NameIs(n + 6, prefix);
      if (match) {
        if (where) *where = e;
        return a;
      }
    }
  return {};
}

std::optional<std::string_view> Binding(pugi::xml_node el, std::string_view prefix) {
  if (prefix == "xml") return kXmlNamespace;
  if (prefix == "xmlns") return kXmlnsNamespace;
  if (pugi::xml_attribute a = FindPrefixDecl(el, prefix)) return std::string_view(a.value());
  return std::nullopt;
}

TDeclHit FindUriDecl(pugi::xml_node el, std::string_view uri, bool ignoreCase, bool allowDefault) {
  TSeenPrefixes seen;
  for (pugi::xml_node e = el; e && e.type() == pugi::node_element; e = e.parent()) {
    size_t closer = seen.Size();
    for (pugi::xml_attribute a = e.first_attribute(); a; a = a.next_attribute()) {
      std::string_view p;
      if (!IsDecl(a.name(), p)) continue;
      std::string_view value = a.value();
      bool match = ignoreCase ? SameText(value, uri) : value == uri;
      if (match && (allowDefault || !p.empty()) && !seen.Contains(p, closer)) return {e, a, p};
      seen.Add(p);
    }
  }
  return {};
}

} // namespace vv::xmlns
