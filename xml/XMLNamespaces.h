// Namespace resolution over pugixml's tree, which stores qualified names
// only: prefixes and URIs come from the "xmlns" attributes in scope.
#pragma once

#include <optional>
#include <pugixml.hpp>
#include <string_view>

#include "xml/XMLNames.h"

namespace vv::xmlns {

// True when the C string `s` equals `v` (no length computed first: names
// are compared while scanning attribute lists).
inline bool NameIs(const char *s, std::string_view v) {
  for (char c : v)
    if (*s++ != c) return false;
  return *s == 0;
}

// The attribute declaring `prefix` ("" = default) closest to `el`, looking
// at `el` and then its ancestors; `where` receives its element.
pugi::xml_attribute FindPrefixDecl(pugi::xml_node el, std::string_view prefix,
                                   pugi::xml_node *where = nullptr);

// The URI bound to `prefix` at `el`, the implicit "xml" and "xmlns"
// included; nullopt when unbound.
std::optional<std::string_view> Binding(pugi::xml_node el, std::string_view prefix);

struct TDeclHit {
  pugi::xml_node Element;
  pugi::xml_attribute Attr;
  std::string_view Prefix;
  explicit operator bool() const { return bool(Attr); }
};

// The closest declaration in scope at `el` whose URI is `uri` (ASCII case
// ignored when `ignoreCase`), skipping declarations hidden by a closer one
// of the same prefix, and default declarations unless `allowDefault`.
TDeclHit FindUriDecl(pugi::xml_node el, std::string_view uri, bool ignoreCase, bool allowDefault);

} // namespace vv::xmlns
