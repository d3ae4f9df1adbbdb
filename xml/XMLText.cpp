#include "xml/XMLText.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "rtl/StrUtils.h"
#include "rtl/Utf8.h"
#include "xml/XMLDoc.h"
#include "xml/XMLLimits.h"
#include "xml/XMLScan.h"

namespace vv::xmltext {

namespace {

bool IsXmlChar(uint32_t cp) {
  return cp == 0x9 || cp == 0xA || cp == 0xD || (cp >= 0x20 && cp <= 0xD7FF) ||
         (cp >= 0xE000 && cp <= 0xFFFD) || (cp >= 0x10000 && cp <= 0x10FFFF);
}

// The valid UTF-8 start of `s`, at most `units` UTF-16 code units long.
std::string_view ValidPrefix(std::string_view s, size_t units) {
  size_t i = 0, used = 0;
  char32_t cp;
  while (i < s.size()) {
    size_t n = DecodeUtf8(s, i, cp);
    if (n == 0) break;
    size_t u = cp >= 0x10000 ? 2 : 1;
    if (used + u > units) break;
    used += u;
    i += n;
  }
  return s.substr(0, i);
}

// UTF-16 input as UTF-8; an unpaired surrogate or a lone last byte refuses
// the document, with the line it is on.
std::string Utf16Document(std::string_view b, bool bigEndian) {
  std::string out;
  switch (Utf16ToUtf8(b, bigEndian, TUtf16Errors::Stop, out)) {
  case TUtf16Fault::UnpairedSurrogate:
    RaiseParseError("Invalid surrogate in UTF-16 input.", out, out.size());
  case TUtf16Fault::OddLength:
    RaiseParseError("Incomplete character at the end of the input.", out, out.size());
  case TUtf16Fault::None:
    break;
  }
  return out;
}

// Bytes 0x80..0x9F of windows-1252; 0 where the code page has no character.
constexpr uint16_t kCp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

std::string Cp1252ToUtf8(std::string_view b) {
  std::string out;
  out.reserve(b.size() + b.size() / 4);
  for (unsigned char c : b) {
    char32_t cp = c;
    if (c >= 0x80 && c <= 0x9F) {
      cp = kCp1252High[c - 0x80];
      if (cp == 0) RaiseParseError("Invalid character for the declared encoding.", out, out.size());
    }
    AppendUtf8(out, cp);
  }
  return out;
}

// The value of the "encoding" pseudo-attribute of a leading declaration
// written in an ASCII-compatible encoding, or empty.
std::string DeclaredEncoding(std::string_view b) {
  if (b.substr(0, 5) != "<?xml") return {};
  std::string_view head = b.substr(0, kMaxDeclarationScan);
  size_t end = head.find("?>");
  if (end == std::string_view::npos) return {};
  head = head.substr(0, end);
  size_t p = head.find("encoding");
  if (p == std::string_view::npos) return {};
  p += 8;
  while (p < head.size() &&
         (head[p] == ' ' || head[p] == '\t' || head[p] == '\r' || head[p] == '\n'))
    ++p;
  if (p >= head.size() || head[p] != '=') return {};
  ++p;
  while (p < head.size() &&
         (head[p] == ' ' || head[p] == '\t' || head[p] == '\r' || head[p] == '\n'))
    ++p;
  if (p >= head.size() || (head[p] != '"' && head[p] != '\'')) return {};
  char q = head[p++];
  size_t e = head.find(q, p);
  if (e == std::string_view::npos) return {};
  return std::string(head.substr(p, e - p));
}

} // namespace

void RaiseParseError(std::string_view reason, std::string_view text, size_t offset) {
  if (offset > text.size()) offset = text.size();
  const char *p = text.data(), *upTo = p + offset, *start = p;
  size_t line = 1;
  while ((p = xmlscan::Find(p, upTo, '\n', '\r')) < upTo) {
    if (*p == '\r' && p + 1 < upTo && p[1] == '\n') ++p;
    ++line;
    start = ++p;
  }
  const char *end = xmlscan::Find(start, text.data() + text.size(), '\r', '\n');
  std::string_view src =
      ValidPrefix(std::string_view(start, size_t(end - start)), kMaxErrorLineChars);
  std::string msg(reason);
  msg.append("\r\nLine: ").append(IntToStr(int64_t(line))).append("\r\n").append(src);
  throw EDOMParseError(std::move(msg));
}

namespace {
// Encoding names that leave 8-bit input as it is: a UTF-16 name on 8-bit
// input is a mislabel, and the bytes tell the truth.
bool KeepsBytes(const std::string &enc) {
  return enc.empty() || enc == "utf-8" || enc == "utf8" || enc == "utf-16" || enc == "utf-16le" ||
         enc == "utf-16be" || enc == "ucs-2" || enc == "unicode";
}
} // namespace

std::optional<std::string_view> Utf8Body(std::string_view b) {
  auto at = [&](size_t i) -> int { return i < b.size() ? (unsigned char)b[i] : -1; };
  if (at(0) == 0xEF && at(1) == 0xBB && at(2) == 0xBF) return b.substr(3);
  if ((at(0) == 0xFF && at(1) == 0xFE) || (at(0) == 0xFE && at(1) == 0xFF) ||
      (at(0) == '<' && at(1) == 0 && at(2) != 0) || (at(0) == 0 && at(1) == '<'))
    return std::nullopt;
  if (KeepsBytes(LowerCase(DeclaredEncoding(b)))) return b;
  return std::nullopt;
}

std::string DecodeToUtf8(std::string_view b) {
  if (std::optional<std::string_view> body = Utf8Body(b)) return std::string(*body);
  auto at = [&](size_t i) -> int { return i < b.size() ? (unsigned char)b[i] : -1; };
  if (at(0) == 0xFF && at(1) == 0xFE) return Utf16Document(b.substr(2), false);
  if (at(0) == 0xFE && at(1) == 0xFF) return Utf16Document(b.substr(2), true);
  if (at(0) == '<' && at(1) == 0 && at(2) != 0) return Utf16Document(b, false);
  if (at(0) == 0 && at(1) == '<') return Utf16Document(b, true);
  std::string enc = LowerCase(DeclaredEncoding(b));
  if (enc == "iso-8859-1" || enc == "latin1" || enc == "iso_8859-1" || enc == "l1" ||
      enc == "us-ascii" || enc == "ascii")
    return Latin1ToUtf8(b);
  if (enc == "windows-1252" || enc == "cp1252") return Cp1252ToUtf8(b);
  RaiseParseError("System does not support the specified encoding.", b, 0);
}

namespace {
// The offset of the first byte at or after `i` that is not plain printable
// ASCII, tab, LF or CR (text.size() when there is none): sixteen bytes at a
// time where the processor allows, else eight.
size_t SkipPlainAscii(std::string_view text, size_t i) {
  const char *s = text.data();
  const size_t n = text.size();
#ifdef __SSE2__
  // A signed compare with 0x20 catches both the control characters and
  // every byte from 0x80 up; tab, LF and CR are then let through.
  const __m128i space = _mm_set1_epi8(0x20), tab = _mm_set1_epi8('\t'), lf = _mm_set1_epi8('\n'),
                cr = _mm_set1_epi8('\r');
  while (i + 16 <= n) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(s + i));
    __m128i allowed = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, tab), _mm_cmpeq_epi8(v, lf)),
                                   _mm_cmpeq_epi8(v, cr));
    unsigned bad = unsigned(_mm_movemask_epi8(_mm_andnot_si128(allowed, _mm_cmplt_epi8(v, space))));
    if (bad) return i + size_t(__builtin_ctz(bad));
    i += 16;
  }
#else
  // Eight plain ASCII bytes at a time: none with the high bit set and none
  // below 0x20 (the usual bit trick for "some byte is less than n").
  constexpr uint64_t kOnes = 0x0101010101010101ull, kHigh = 0x8080808080808080ull;
  while (i + 8 <= n) {
    uint64_t w;
    std::memcpy(&w, s + i, 8);
    if (((w & kHigh) | ((w - kOnes * 0x20) & ~w & kHigh)) != 0) break;
    i += 8;
  }
#endif
  while (i < n) {
    unsigned char c = (unsigned char)s[i];
    if ((c < 0x20 && c != '\t' && c != '\n' && c != '\r') || c >= 0x80) break;
    ++i;
  }
  return i;
}
} // namespace

void CheckCharacters(std::string_view text) {
  size_t i = 0;
  char32_t cp;
  while ((i = SkipPlainAscii(text, i)) < text.size()) {
    size_t n = DecodeUtf8(text, i, cp);
    if (n == 0) RaiseParseError("Invalid UTF-8 byte sequence in the input.", text, i);
    if (!IsXmlChar(cp)) RaiseParseError("An invalid character was found in text content.", text, i);
    i += n;
  }
}

bool AppendReference(std::string_view ref, std::string &out) {
  if (ref == "lt")
    out += '<';
  else if (ref == "gt")
    out += '>';
  else if (ref == "amp")
    out += '&';
  else if (ref == "apos")
    out += '\'';
  else if (ref == "quot")
    out += '"';
  else if (ref.size() >= 2 && ref[0] == '#') {
    bool hex = ref[1] == 'x';
    std::string_view digits = ref.substr(hex ? 2 : 1);
    if (digits.empty()) return false;
    uint32_t cp = 0;
    for (char d : digits) {
      int v = hex ? HexDigitValue(d) : d >= '0' && d <= '9' ? d - '0' : -1;
      if (v < 0) return false;
      cp = cp * (hex ? 16 : 10) + uint32_t(v);
      if (cp > 0x10FFFF) return false; // leading zeros are as many as one likes
    }
    if (!IsXmlChar(cp)) return false;
    AppendUtf8(out, cp);
  } else {
    return false;
  }
  return true;
}

bool ResolveReferences(std::string_view raw, std::string &out, size_t &badOffset) {
  out.clear();
  out.reserve(raw.size());
  size_t i = 0;
  while (i < raw.size()) {
    size_t amp = raw.find('&', i);
    if (amp == std::string_view::npos) {
      out.append(raw.substr(i));
      break;
    }
    out.append(raw.substr(i, amp - i));
    badOffset = amp;
    size_t semi = raw.find(';', amp);
    if (semi == std::string_view::npos) return false;
    if (!AppendReference(raw.substr(amp + 1, semi - amp - 1), out)) return false;
    i = semi + 1;
  }
  return true;
}

void NormalizeLineEnds(std::string_view raw, std::string &out) {
  out.clear();
  out.reserve(raw.size());
  for (size_t i = 0; i < raw.size(); ++i) {
    out += raw[i] == '\r' ? '\n' : raw[i];
    if (raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n') ++i;
  }
}

bool DecodeValue(std::string_view raw, bool attribute, std::string &out) {
  out.clear();
  out.reserve(raw.size());
  const char lineEnd = attribute ? ' ' : '\n';
  size_t run = 0; // start of the bytes not copied yet
  for (size_t i = 0; i < raw.size(); ++i) {
    char c = raw[i];
    if (c == '\r') {
      out.append(raw.substr(run, i - run)) += lineEnd;
      if (i + 1 < raw.size() && raw[i + 1] == '\n') ++i;
      run = i + 1;
    } else if (attribute && (c == '\n' || c == '\t')) {
      out.append(raw.substr(run, i - run)) += ' ';
      run = i + 1;
    } else if (c == '&') {
      out.append(raw.substr(run, i - run));
      size_t semi = raw.find(';', i);
      if (semi == std::string_view::npos || !AppendReference(raw.substr(i + 1, semi - i - 1), out))
        return false;
      i = semi;
      run = i + 1;
    }
  }
  out.append(raw.substr(run));
  return true;
}

namespace {

// What a byte becomes, per flavour: written as it is, a fixed reference, or
// looked at more closely (the first byte of a UTF-8 sequence, a forbidden
// control character, '>' after "]]" in minimal text).
enum TByteClass : uint8_t { kPlainByte, kAmp, kLt, kGt, kQuot, kTab, kLF, kCR, kCheck };

constexpr unsigned B(char c) { return static_cast<unsigned char>(c); }

struct TEscapeTables {
  uint8_t Class[4][256] = {};
  constexpr TEscapeTables() {
    for (int f = 0; f < 4; ++f) {
      uint8_t *t = Class[f];
      for (int c = 0; c < 0x20; ++c) t[c] = kCheck; // forbidden: U+FFFD
      for (int c = 0x80; c < 256; ++c) t[c] = kCheck;
    }
    uint8_t *text = Class[int(TEscape::Text)], *attr = Class[int(TEscape::Attr)],
            *minimal = Class[int(TEscape::TextMinimal)], *verbatim = Class[int(TEscape::Verbatim)];
    for (uint8_t *t : {text, attr, minimal}) {
      t[B('&')] = kAmp;
      t[B('<')] = kLt;
    }
    verbatim[B('\t')] = verbatim[B('\n')] = verbatim[B('\r')] = kPlainByte;
    text[B('>')] = attr[B('>')] = kGt;
    minimal[B('>')] = kCheck;
    attr[B('"')] = kQuot;
    text[B('\t')] = text[B('\n')] = kPlainByte;
    text[B('\r')] = kCR;  // survives end-of-line normalisation
    attr[B('\t')] = kTab; // survive attribute-value normalisation
    attr[B('\n')] = kLF;
    attr[B('\r')] = kCR;
    minimal[B('\t')] = minimal[B('\n')] = minimal[B('\r')] = kPlainByte;
  }
};
constexpr TEscapeTables kEscape;

constexpr std::string_view kReplacement = "\xEF\xBF\xBD"; // U+FFFD
constexpr std::string_view kReferences[] = {"",       "&amp;", "&lt;",  "&gt;",
                                            "&quot;", "&#9;",  "&#10;", "&#13;"};

constexpr uint64_t kOnes = 0x0101010101010101ull, kHigh = 0x8080808080808080ull;
uint64_t HasZeroByte(uint64_t v) { return (v - kOnes) & ~v & kHigh; }

// True when all eight bytes are printable ASCII that the flavour keeps.
bool PlainWord(const char *p, TEscape how) {
  uint64_t w;
  std::memcpy(&w, p, 8);
  if ((w & kHigh) | ((w - kOnes * 0x20) & ~w & kHigh)) return false; // >= 0x80 or < 0x20
  if (how == TEscape::Verbatim) return true;
  uint64_t hits = HasZeroByte(w ^ (kOnes * '&')) | HasZeroByte(w ^ (kOnes * '<')) |
                  HasZeroByte(w ^ (kOnes * '>'));
  if (how == TEscape::Attr) hits |= HasZeroByte(w ^ (kOnes * '"'));
  return hits == 0;
}

// The output of the escaping loop: a growing string, or a buffer the caller
// sized with MaxEscapedSize.
struct TStringSink {
  std::string &Out;
  void Put(const char *p, size_t n) { Out.append(p, n); }
};
struct TCountSink {
  size_t Size = 0;
  void Put(const char *, size_t n) { Size += n; }
};
struct TBufferSink {
  char *Pos;
  void Put(const char *p, size_t n) {
    std::memcpy(Pos, p, n);
    Pos += n;
  }
};

// The length of the UTF-8 sequence that starts at `p` (a byte of 0x80 or
// more), or 0 when the bytes there are none; `allowed` tells whether XML
// allows its character (not U+FFFE, U+FFFF).
size_t Utf8Sequence(const unsigned char *p, size_t avail, bool &allowed) {
  auto cont = [&](size_t k) { return k < avail && (p[k] & 0xC0) == 0x80; };
  unsigned char c = p[0];
  allowed = true;
  if (c >= 0xC2 && c <= 0xDF) return cont(1) ? 2 : 0;
  if (c >= 0xE0 && c <= 0xEF) {
    if (!cont(1) || !cont(2)) return 0;
    if ((c == 0xE0 && p[1] < 0xA0) || (c == 0xED && p[1] >= 0xA0)) return 0; // overlong, surrogate
    allowed = !(c == 0xEF && p[1] == 0xBF && p[2] >= 0xBE);
    return 3;
  }
  if (c >= 0xF0 && c <= 0xF4) {
    if (!cont(1) || !cont(2) || !cont(3)) return 0;
    if ((c == 0xF0 && p[1] < 0x90) || (c == 0xF4 && p[1] >= 0x90)) return 0; // overlong, too big
    return 4;
  }
  return 0;
}

template <typename TSink> void Escape(TSink &sink, std::string_view s, TEscape how) {
  const uint8_t *cls = kEscape.Class[int(how)];
  const auto *data = reinterpret_cast<const unsigned char *>(s.data());
  size_t n = s.size(), run = 0, i = 0;
  auto flush = [&](std::string_view put, size_t len) {
    sink.Put(s.data() + run, i - run);
    sink.Put(put.data(), put.size());
    i += len;
    run = i;
  };
  while (i < n) {
    if (i + 8 <= n && PlainWord(s.data() + i, how)) { // the common case: plain ASCII
      i += 8;
      continue;
    }
    // Byte by byte until the next word boundary.
    for (size_t stop = std::min(n, i + 8); i < stop;) {
      uint8_t k = cls[data[i]];
      if (k == kPlainByte) {
        ++i;
      } else if (k != kCheck) {
        flush(kReferences[k], 1);
      } else if (data[i] >= 0x80) {
        bool allowed;
        size_t len = Utf8Sequence(data + i, n - i, allowed);
        if (len && allowed)
          i += len;
        else
          flush(kReplacement, std::max<size_t>(len, 1)); // each byte of a broken sequence
      } else if (data[i] == '>') {                       // minimal text: only "]]>" needs it
        if (i >= 2 && data[i - 1] == ']' && data[i - 2] == ']')
          flush(kReferences[kGt], 1);
        else
          ++i;
      } else {
        flush(kReplacement, 1); // a control character XML forbids
      }
    }
  }
  sink.Put(s.data() + run, n - run);
}

} // namespace

void AppendEscaped(std::string &out, std::string_view s, TEscape how) {
  TStringSink sink{out};
  Escape(sink, s, how);
}

size_t EscapedSize(std::string_view s, TEscape how) {
  TCountSink sink;
  Escape(sink, s, how);
  return sink.Size;
}

char *AppendEscaped(char *dest, std::string_view s, TEscape how) {
  TBufferSink sink{dest};
  Escape(sink, s, how);
  return sink.Pos;
}

namespace {
// Character data as writers that escape more than this program do write
// it: both quotes as references, and control characters as references.
std::string EscapedAsOthersDo(std::string_view s, bool quotes, bool hexRefs) {
  static const char *hex = "0123456789ABCDEF";
  std::string out;
  for (char c : s) {
    unsigned char u = static_cast<unsigned char>(c);
    if (c == '&')
      out += "&amp;";
    else if (c == '<')
      out += "&lt;";
    else if (c == '>')
      out += "&gt;";
    else if (quotes && c == '"')
      out += "&quot;";
    else if (quotes && c == '\'')
      out += "&apos;";
    else if (u < 0x20 && hexRefs)
      out.append("&#x").append(u >= 16 ? 1 : 0, hex[u >> 4]).append(1, hex[u & 15]) += ';';
    else if (u < 0x20)
      out.append("&#").append(std::to_string(u)) += ';';
    else
      out += c;
  }
  return out;
}
} // namespace

std::vector<std::string> EscapedSpellings(std::string_view s) {
  std::vector<std::string> out;
  for (TEscape how : {TEscape::Text, TEscape::Attr}) {
    out.emplace_back();
    AppendEscaped(out.back(), s, how);
  }
  for (bool quotes : {false, true})
    for (bool hexRefs : {false, true}) out.push_back(EscapedAsOthersDo(s, quotes, hexRefs));
  return out;
}

} // namespace vv::xmltext
