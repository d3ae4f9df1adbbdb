// Qualified names: their prefix and local part, and the names of namespace
// declarations. The parser, the DOM, the pull reader and the
// streaming writer all read names by these rules.
#pragma once

#include <cstddef>
#include <string_view>

namespace vv::xmlns {

// The offset of the first colon in `qname`, or npos. Names are short: a
// loop beats a library call.
inline size_t ColonOf(std::string_view qname) {
  for (size_t i = 0; i < qname.size(); ++i)
    if (qname[i] == ':') return i;
  return std::string_view::npos;
}

// The name before the colon, or empty.
inline std::string_view PrefixOf(std::string_view qname) {
  size_t c = ColonOf(qname);
  return c == std::string_view::npos ? std::string_view() : qname.substr(0, c);
}

// The name after the colon, or the whole name.
inline std::string_view LocalOf(std::string_view qname) {
  size_t c = ColonOf(qname);
  return c == std::string_view::npos ? qname : qname.substr(c + 1);
}

// True when the attribute `name` declares a namespace ("xmlns" or
// "xmlns:p"); `prefix` receives the declared prefix (empty for the default
// namespace, and for the odd "xmlns:").
inline bool IsDecl(std::string_view name, std::string_view &prefix) {
  if (name.size() < 5 || name.compare(0, 5, "xmlns") != 0) return false;
  if (name.size() == 5) {
    prefix = {};
    return true;
  }
  if (name[5] != ':') return false;
  prefix = name.substr(6);
  return true;
}

inline bool IsDecl(std::string_view name) {
  std::string_view prefix;
  return IsDecl(name, prefix);
}

} // namespace vv::xmlns
