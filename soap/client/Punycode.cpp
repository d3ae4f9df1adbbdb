// Host names in their ASCII-compatible form: the punycode encoding of each
// label that is not plain ASCII, behind the "xn--" prefix.
#include <cstdint>
#include <vector>

#include "rtl/StrUtils.h"
#include "rtl/Utf8.h"
#include "soap/client/ClientLimits.h"
#include "soap/client/URI.h"

namespace vv {

namespace {

// The parameters of the encoding: every host name on the wire is made
// with these, so they are fixed, not tuned.
constexpr uint32_t Base = 36, TMin = 1, TMax = 26, Skew = 38, Damp = 700;
constexpr uint32_t InitialBias = 72, InitialN = 128;

// The code points of a label; false when it is not UTF-8.
bool CodePoints(std::string_view s, std::vector<uint32_t> &out) {
  for (size_t i = 0; i < s.size();) {
    char32_t cp;
    size_t len = DecodeUtf8(s, i, cp);
    if (len == 0) return false;
    out.push_back(cp);
    i += len;
  }
  return true;
}

char EncodeDigit(uint32_t d) { return char(d < 26 ? 'a' + d : '0' + (d - 26)); }

uint32_t Adapt(uint32_t delta, uint32_t numPoints, bool first) {
  delta = first ? delta / Damp : delta / 2;
  delta += delta / numPoints;
  uint32_t k = 0;
  while (delta > ((Base - TMin) * TMax) / 2) {
    delta /= Base - TMin;
    k += Base;
  }
  return k + (Base - TMin + 1) * delta / (delta + Skew);
}

} // namespace

bool PunycodeEncode(std::string_view label, std::string &out) {
  std::vector<uint32_t> cps;
  if (!CodePoints(label, cps) || cps.size() > kMaxHostLabel) return false;
  out.clear();
  for (uint32_t c : cps)
    if (c < 0x80) out += char(c);
  uint32_t basic = uint32_t(out.size()), handled = basic;
  if (basic > 0) out += '-';
  uint32_t n = InitialN, delta = 0, bias = InitialBias;
  while (handled < cps.size()) {
    uint32_t m = UINT32_MAX;
    for (uint32_t c : cps)
      if (c >= n && c < m) m = c;
    if (uint64_t(m - n) * (handled + 1) + delta > UINT32_MAX) return false;
    delta += (m - n) * (handled + 1);
    n = m;
    for (uint32_t c : cps) {
      if (c < n && ++delta == 0) return false;
      if (c != n) continue;
      uint32_t q = delta;
      for (uint32_t k = Base;; k += Base) {
        uint32_t t = k <= bias ? TMin : k >= bias + TMax ? TMax : k - bias;
        if (q < t) break;
        out += EncodeDigit(t + (q - t) % (Base - t));
        q = (q - t) / (Base - t);
      }
      out += EncodeDigit(q);
      bias = Adapt(delta, handled + 1, handled == basic);
      delta = 0;
      ++handled;
    }
    ++delta;
    ++n;
  }
  return true;
}

bool IDNAEncodeHost(std::string_view host, std::string &out) {
  out.clear();
  size_t pos = 0;
  while (true) {
    size_t dot = host.find('.', pos);
    std::string_view label = host.substr(pos, dot == std::string_view::npos ? dot : dot - pos);
    bool ascii = true;
    for (char c : label)
      if (static_cast<unsigned char>(c) >= 0x80) ascii = false;
    if (ascii) {
      out += LowerCase(label);
    } else {
      std::string encoded;
      if (!PunycodeEncode(LowerCase(label), encoded)) return false;
      out += "xn--" + encoded;
    }
    if (dot == std::string_view::npos) break;
    out += '.';
    pos = dot + 1;
  }
  return true;
}

} // namespace vv
