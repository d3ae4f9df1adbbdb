#include "web/FieldExtract.h"

#include "rtl/StrUtils.h"
#include "rtl/Utf8.h"

namespace vv {

namespace {

const char *const kInvalidEncodedChar = "Invalid URL encoded character (%s) at position %d";
const char *const kIncompleteEncoding =
    "Error decoding URL style (%%XX) encoded string at position %d";
const char *const kNoUnicodeMapping =
    "No mapping for the Unicode character exists in the target multi-byte code page";

// Bytes of the character starting at `s[i]` (an invalid byte counts as one).
size_t CharBytes(std::string_view s, size_t i) {
  size_t n = ValidUtf8Sequence(s.substr(i));
  return n ? n : 1;
}

bool InSet(std::string_view set, char c) {
  return static_cast<unsigned char>(c) < 0x80 && set.find(c) != std::string_view::npos;
}

} // namespace

void CheckUtf8(std::string_view bytes) {
  for (size_t i = 0; i < bytes.size();) {
    size_t n = ValidUtf8Sequence(bytes.substr(i));
    if (!n) throw EEncodingError(kNoUnicodeMapping);
    i += n;
  }
}

std::string URLDecodeField(std::string_view field) {
  std::string out;
  out.reserve(field.size());
  for (size_t i = 0; i < field.size(); ++i) {
    char c = field[i];
    if (c == '+') {
      out += ' ';
    } else if (c != '%') {
      out += c;
    } else if (i + 1 < field.size() && field[i + 1] == '%') {
      out += '%';
      ++i;
    } else {
      // Positions count characters, 1-based, in UTF-16 code units: the
      // unit the program measures texts in, so a message names the same
      // place for the same field wherever it is read.
      int pos = int(Utf16Length(field.substr(0, i))) + 1;
      size_t a = i + 1;
      if (a >= field.size()) throw EURLDecodeError(kIncompleteEncoding, {pos});
      size_t b = a + CharBytes(field, a);
      if (b >= field.size()) throw EURLDecodeError(kIncompleteEncoding, {pos});
      size_t end = b + CharBytes(field, b);
      int hi = b - a == 1 ? HexDigitValue(field[a]) : -1;
      int lo = end - b == 1 ? HexDigitValue(field[b]) : -1;
      if (hi < 0 || lo < 0)
        throw EURLDecodeError(kInvalidEncodedChar,
                              {"%" + std::string(field.substr(a, end - a)), pos});
      out += char(hi * 16 + lo);
      i = end - 1;
    }
  }
  CheckUtf8(out);
  return out;
}

void ExtractHTTPFields(std::string_view separators, std::string_view whiteSpace,
                       std::string_view text, TStringList &list) {
  // The text ends at its first NUL, as the scan below expects.
  text = text.substr(0, text.find('\0'));
  if (text.empty()) return;
  auto at = [&](size_t i) { return i < text.size() ? text[i] : '\0'; };
  auto isWhite = [&](char c) { return c == '\r' || c == '\n' || InSet(whiteSpace, c); };
  auto isSeparator = [&](char c) {
    return c == '\0' || c == '\r' || c == '\n' || c == '"' || InSet(separators, c);
  };
  size_t tail = 0;
  bool eos;
  do {
    while (isWhite(at(tail))) ++tail;
    size_t head = tail;
    bool inQuote = false, leadQuote = false;
    for (;;) {
      while (inQuote ? (at(tail) != '\0' && at(tail) != '"') : !isSeparator(at(tail))) ++tail;
      if (at(tail) != '"') break;
      if (inQuote) { // the closing quote
        inQuote = false;
        break;
      }
      leadQuote = head == tail;
      if (leadQuote) ++head; // a leading quote is not part of the field
      inQuote = true;
      ++tail;
    }
    if (!leadQuote && at(tail) == '"') ++tail;
    eos = at(tail) == '\0';
    if (at(head) != '\0') list.Add(URLDecodeField(text.substr(head, tail - head)));
    ++tail;
  } while (!eos);
}

} // namespace vv
