// Unicode text conversions. Text is UTF-8 inside the program; these are the
// one decoder and the one encoder of UTF-8 every layer uses, and the
// conversions of the other encodings input arrives in.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vv {

// Decodes the UTF-8 sequence that starts at `s[i]` into `cp`. Returns its
// length in bytes, or 0 when the bytes there are not UTF-8: a stray
// continuation byte, a sequence cut short, an overlong form, a surrogate or
// a value above U+10FFFF.
inline size_t DecodeUtf8(std::string_view s, size_t i, char32_t &cp) {
  const auto lead = static_cast<unsigned char>(s[i]);
  if (lead < 0x80) {
    cp = lead;
    return 1;
  }
  size_t len;
  char32_t least;
  if ((lead & 0xE0) == 0xC0) {
    len = 2, cp = lead & 0x1F, least = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    len = 3, cp = lead & 0x0F, least = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    len = 4, cp = lead & 0x07, least = 0x10000;
  } else {
    return 0;
  }
  if (i + len > s.size()) return 0;
  for (size_t k = 1; k < len; ++k) {
    const auto next = static_cast<unsigned char>(s[i + k]);
    if ((next & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (next & 0x3F);
  }
  if (cp < least || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return len;
}

// The length in bytes of the UTF-8 sequence at the start of `s`, or 0 when
// `s` is empty or does not start with one (the rules of DecodeUtf8).
inline size_t ValidUtf8Sequence(std::string_view s) {
  char32_t cp;
  return s.empty() ? 0 : DecodeUtf8(s, 0, cp);
}

// Appends the UTF-8 form of `cp`, which must be at most U+10FFFF.
inline void AppendUtf8(std::string &out, char32_t cp) {
  if (cp < 0x80) {
    out += char(cp);
  } else if (cp < 0x800) {
    out += char(0xC0 | (cp >> 6));
    out += char(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += char(0xE0 | (cp >> 12));
    out += char(0x80 | ((cp >> 6) & 0x3F));
    out += char(0x80 | (cp & 0x3F));
  } else {
    out += char(0xF0 | (cp >> 18));
    out += char(0x80 | ((cp >> 12) & 0x3F));
    out += char(0x80 | ((cp >> 6) & 0x3F));
    out += char(0x80 | (cp & 0x3F));
  }
}

// ISO-8859-1 bytes as UTF-8: each byte is the character of that number.
std::string Latin1ToUtf8(std::string_view bytes);

// What Utf16ToUtf8 does with input that is not UTF-16.
enum class TUtf16Errors {
  // An unpaired surrogate becomes U+FFFD and a lone last byte is dropped:
  // for text a person keeps (a settings file), where the rest still counts.
  Replace,
  // Conversion stops at an unpaired surrogate, or after the last whole unit
  // when a byte is left over: for input that must be refused whole (an XML
  // document), with the text converted so far there to say where.
  Stop,
};

// Where Utf16ToUtf8 stopped under TUtf16Errors::Stop.
enum class TUtf16Fault {
  None,
  UnpairedSurrogate, // `out` holds the text before it
  OddLength,         // `out` holds the whole text but the lone last byte
};

// UTF-16 bytes (without byte-order mark) as UTF-8, into `out` (replacing
// it). Surrogate pairs become one character. Under TUtf16Errors::Replace the
// result is always TUtf16Fault::None.
TUtf16Fault Utf16ToUtf8(std::string_view bytes, bool bigEndian, TUtf16Errors errors,
                        std::string &out);

} // namespace vv
