// Compiled path patterns: "*" any run, "?" one character, "[a-z]" sets with
// ranges and "!" negation; ASCII letters match either case; the whole path
// must match.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "rtl/Exception.h"

namespace vv {

// Raised for a mask that cannot be compiled (an unclosed set, too many "*").
VV_EXCEPTION(EMaskError, Exception);

class TMask {
public:
  TMask() = default; // the empty mask: matches only the empty path
  explicit TMask(std::string_view mask);
  bool Matches(std::string_view path) const;
  const std::string &Text() const { return FText; }

private:
  struct Range {
    char32_t Lo, Hi;
  };
  struct Item {
    enum Kind { Literal, AnyChar, AnyRun, Set } K;
    char32_t Ch = 0;           // Literal, folded to lower case
    bool Negate = false;       // Set
    std::vector<Range> Ranges; // Set
  };
  bool ItemMatches(const Item &item, char32_t c) const;

  std::string FText;
  std::vector<Item> FItems;
};

} // namespace vv
