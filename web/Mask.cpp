#include "web/Mask.h"

#include "rtl/Utf8.h"
#include "web/WebLimits.h"

namespace vv {

namespace {

// Code points of UTF-8 text; a byte that starts no valid sequence stands
// for itself, so any path can be matched.
std::u32string CodePoints(std::string_view s) {
  std::u32string out;
  for (size_t i = 0; i < s.size();) {
    char32_t cp;
    size_t n = DecodeUtf8(s, i, cp);
    if (n == 0) {
      out += char32_t(static_cast<unsigned char>(s[i]));
      ++i;
      continue;
    }
    out += cp;
    i += n;
  }
  return out;
}

// Only ASCII letters fold.
char32_t Fold(char32_t c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; }
char32_t OtherCase(char32_t c) {
  if (c >= 'A' && c <= 'Z') return c + 32;
  if (c >= 'a' && c <= 'z') return c - 32;
  return c;
}

} // namespace

TMask::TMask(std::string_view mask) : FText(mask) {
  std::u32string m = CodePoints(mask);
  int stars = 0;
  for (size_t i = 0; i < m.size(); ++i) {
    Item it{};
    if (m[i] == '*') {
      if (++stars > kMaxMaskStars)
        throw EMaskError("Invalid mask '%s': more than %d \"*\"", {FText, kMaxMaskStars});
      it.K = Item::AnyRun;
    } else if (m[i] == '?') {
      it.K = Item::AnyChar;
    } else if (m[i] == '[') {
      it.K = Item::Set;
      size_t j = i + 1;
      if (j < m.size() && m[j] == '!') it.Negate = true, ++j;
      for (; j < m.size() && m[j] != ']'; ++j) {
        if (j + 2 < m.size() && m[j + 1] == '-' && m[j + 2] != ']') {
          it.Ranges.push_back({m[j], m[j + 2]});
          j += 2;
        } else {
          it.Ranges.push_back({m[j], m[j]});
        }
      }
      if (j >= m.size()) throw EMaskError("Invalid mask '%s': unclosed \"[\"", {FText});
      i = j;
    } else {
      it.K = Item::Literal;
      it.Ch = Fold(m[i]);
    }
    FItems.push_back(std::move(it));
  }
}

bool TMask::ItemMatches(const Item &item, char32_t c) const {
  switch (item.K) {
  case Item::Literal:
    return Fold(c) == item.Ch;
  case Item::AnyChar:
    return true;
  case Item::Set: {
    bool in = false;
    for (const auto &r : item.Ranges)
      if ((c >= r.Lo && c <= r.Hi) || (OtherCase(c) >= r.Lo && OtherCase(c) <= r.Hi)) in = true;
    return in != item.Negate;
  }
  case Item::AnyRun:
    break;
  }
  return false;
}

// Greedy match with one backtrack point (the latest "*"): linear in the
// path for each star, so no pattern can make matching explode.
bool TMask::Matches(std::string_view path) const {
  std::u32string s = CodePoints(path);
  size_t mi = 0, si = 0;
  size_t starMi = std::string::npos, starSi = 0;
  while (si < s.size()) {
    if (mi < FItems.size() && FItems[mi].K == Item::AnyRun) {
      starMi = mi++;
      starSi = si;
    } else if (mi < FItems.size() && ItemMatches(FItems[mi], s[si])) {
      ++mi;
      ++si;
    } else if (starMi != std::string::npos) {
      mi = starMi + 1;
      si = ++starSi;
    } else {
      return false;
    }
  }
  while (mi < FItems.size() && FItems[mi].K == Item::AnyRun) ++mi;
  return mi == FItems.size();
}

} // namespace vv
