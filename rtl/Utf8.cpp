#include "rtl/Utf8.h"

namespace vv {

std::string Latin1ToUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 4);
  for (unsigned char c : bytes) AppendUtf8(out, c);
  return out;
}

TUtf16Fault Utf16ToUtf8(std::string_view bytes, bool bigEndian, TUtf16Errors errors,
                        std::string &out) {
  out.clear();
  out.reserve(bytes.size() / 2 + bytes.size() / 8);
  const size_t units = bytes.size() / 2;
  auto unit = [&](size_t k) -> char32_t {
    const auto first = static_cast<unsigned char>(bytes[2 * k]);
    const auto second = static_cast<unsigned char>(bytes[2 * k + 1]);
    return bigEndian ? (char32_t(first) << 8 | second) : (char32_t(second) << 8 | first);
  };
  auto isLow = [](char32_t u) { return u >= 0xDC00 && u <= 0xDFFF; };
  for (size_t k = 0; k < units; ++k) {
    char32_t cp = unit(k);
    if (cp >= 0xD800 && cp <= 0xDBFF && k + 1 < units && isLow(unit(k + 1))) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (unit(k + 1) - 0xDC00);
      ++k;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      if (errors == TUtf16Errors::Stop) return TUtf16Fault::UnpairedSurrogate;
      cp = 0xFFFD;
    }
    AppendUtf8(out, cp);
  }
  if (bytes.size() % 2 && errors == TUtf16Errors::Stop) return TUtf16Fault::OddLength;
  return TUtf16Fault::None;
}

} // namespace vv
