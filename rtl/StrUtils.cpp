#include "rtl/StrUtils.h"

#include <limits>

namespace vv {

std::string UpperCase(std::string_view s) {
  std::string r(s);
  for (auto &c : r)
    if (c >= 'a' && c <= 'z') c = char(c - 32);
  return r;
}

std::string LowerCase(std::string_view s) {
  std::string r(s);
  for (auto &c : r)
    if (c >= 'A' && c <= 'Z') c = char(c + 32);
  return r;
}

static char Fold(char c) { return c >= 'A' && c <= 'Z' ? char(c + 32) : c; }

bool SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (Fold(a[i]) != Fold(b[i])) return false;
  return true;
}

bool StartsText(std::string_view prefix, std::string_view s) {
  return s.size() >= prefix.size() && SameText(prefix, s.substr(0, prefix.size()));
}

bool EndsText(std::string_view suffix, std::string_view s) {
  return s.size() >= suffix.size() && SameText(suffix, s.substr(s.size() - suffix.size()));
}

std::string TrimLeft(std::string_view s) {
  size_t b = 0;
  while (b < s.size() && (unsigned char)s[b] <= ' ') ++b;
  return std::string(s.substr(b));
}

std::string TrimRight(std::string_view s) {
  size_t e = s.size();
  while (e > 0 && (unsigned char)s[e - 1] <= ' ') --e;
  return std::string(s.substr(0, e));
}

std::string Trim(std::string_view s) { return TrimRight(TrimLeft(s)); }

std::string IntToStr(int64_t v) { return std::to_string(v); }

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool TryStrToInt(std::string_view s, int32_t &out) {
  size_t i = 0;
  while (i < s.size() && s[i] == ' ') ++i;
  bool neg = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) neg = s[i++] == '-';
  int base = 10;
  if (i < s.size() && s[i] == '$') {
    base = 16;
    ++i;
  } else if (i < s.size() && (s[i] == 'x' || s[i] == 'X')) {
    base = 16;
    ++i;
  } else if (i + 1 < s.size() && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i >= s.size()) return false;
  uint64_t v = 0;
  const uint64_t limit = neg ? 2147483648ull : 2147483647ull;
  for (; i < s.size(); ++i) {
    char c = s[i];
    int d;
    if (c >= '0' && c <= '9')
      d = c - '0';
    else if (base == 16 && c >= 'a' && c <= 'f')
      d = c - 'a' + 10;
    else if (base == 16 && c >= 'A' && c <= 'F')
      d = c - 'A' + 10;
    else
      return false;
    v = v * base + d;
    if (v > limit) return false;
  }
  out = neg ? int32_t(-int64_t(v)) : int32_t(v);
  return true;
}

bool TryStrToInt64(std::string_view s, int64_t &out) {
  size_t i = 0;
  bool neg = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) neg = s[i++] == '-';
  if (i >= s.size()) return false;
  uint64_t v = 0;
  const uint64_t limit = neg ? 9223372036854775808ull : 9223372036854775807ull;
  for (; i < s.size(); ++i) {
    if (s[i] < '0' || s[i] > '9') return false;
    uint64_t d = uint64_t(s[i] - '0');
    if (v > (limit - d) / 10) return false;
    v = v * 10 + d;
  }
  out = neg ? int64_t(0 - v) : int64_t(v);
  return true;
}

int32_t StrToIntDef(std::string_view s, int32_t def) {
  int32_t v;
  return TryStrToInt(s, v) ? v : def;
}

// Bytes of the UTF-8 sequence starting with `lead`, and whether it needs a
// surrogate pair. Malformed bytes count as one unit each.
static size_t SeqLen(unsigned char lead) {
  if (lead < 0x80) return 1;
  if ((lead & 0xE0) == 0xC0) return 2;
  if ((lead & 0xF0) == 0xE0) return 3;
  if ((lead & 0xF8) == 0xF0) return 4;
  return 1;
}

size_t Utf16Length(std::string_view s) {
  size_t units = 0;
  for (size_t i = 0; i < s.size();) {
    size_t n = SeqLen((unsigned char)s[i]);
    if (i + n > s.size()) n = 1;
    units += n == 4 ? 2 : 1;
    i += n;
  }
  return units;
}

std::string Utf16Left(std::string_view s, size_t units) {
  size_t used = 0, i = 0;
  while (i < s.size()) {
    size_t n = SeqLen((unsigned char)s[i]);
    if (i + n > s.size()) n = 1;
    size_t u = n == 4 ? 2 : 1;
    if (used + u > units) break;
    used += u;
    i += n;
  }
  return std::string(s.substr(0, i));
}

std::string StringReplace(std::string_view s, std::string_view from, std::string_view to,
                          bool all) {
  if (from.empty()) return std::string(s);
  std::string r;
  size_t pos = 0;
  while (true) {
    size_t hit = s.find(from, pos);
    if (hit == std::string_view::npos) break;
    r.append(s.substr(pos, hit - pos)).append(to);
    pos = hit + from.size();
    if (!all) break;
  }
  r.append(s.substr(pos));
  return r;
}

std::vector<std::string> SplitList(std::string_view list, std::string_view separators) {
  std::vector<std::string> items;
  for (size_t start = 0, end; start <= list.size(); start = end + 1) {
    end = list.find_first_of(separators, start);
    if (end == std::string_view::npos) end = list.size();
    if (end > start) items.emplace_back(list.substr(start, end - start));
  }
  return items;
}

} // namespace vv
