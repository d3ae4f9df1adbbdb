#include "relay/IniFile.h"

#include <algorithm>
#include <cstdio>
#include <memory>

#include "rtl/StrUtils.h"

namespace vv {

namespace {

// UTF-16 text (after its byte-order mark) as UTF-8; unpaired surrogates
// become U+FFFD so that nothing malformed travels on.
std::string Utf16ToUtf8(std::string_view bytes, bool bigEndian) {
  auto unit = [&](size_t i) -> uint32_t {
    auto b0 = uint8_t(bytes[i]), b1 = uint8_t(bytes[i + 1]);
    return bigEndian ? (b0 << 8 | b1) : (b1 << 8 | b0);
  };
  std::string out;
  out.reserve(bytes.size());
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    uint32_t c = unit(i);
    if (c >= 0xD800 && c <= 0xDBFF && i + 3 < bytes.size() && unit(i + 2) >= 0xDC00 &&
        unit(i + 2) <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (unit(i + 2) - 0xDC00);
      i += 2;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    if (c < 0x80) {
      out += char(c);
    } else if (c < 0x800) {
      out += char(0xC0 | c >> 6);
      out += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += char(0xE0 | c >> 12);
      out += char(0x80 | (c >> 6 & 0x3F));
      out += char(0x80 | (c & 0x3F));
    } else {
      out += char(0xF0 | c >> 18);
      out += char(0x80 | (c >> 12 & 0x3F));
      out += char(0x80 | (c >> 6 & 0x3F));
      out += char(0x80 | (c & 0x3F));
    }
  }
  return out;
}

// The file's text as UTF-8, at most MaxIniFileSize bytes of it; empty when
// it cannot be read.
std::string LoadText(const std::string &fileName) {
  std::unique_ptr<FILE, int (*)(FILE *)> f(std::fopen(fileName.c_str(), "rb"), &std::fclose);
  if (!f) return {};
  // Read as it comes: a buffer of the full limit would be cleared on every
  // read of every setting, for a file of a few hundred bytes.
  std::string bytes;
  char chunk[4096];
  while (bytes.size() < MaxIniFileSize) {
    size_t n = std::fread(chunk, 1, std::min(sizeof chunk, MaxIniFileSize - bytes.size()), f.get());
    if (n == 0) break;
    bytes.append(chunk, n);
  }
  if (bytes.starts_with("\xEF\xBB\xBF")) return bytes.substr(3);
  if (bytes.starts_with("\xFF\xFE")) return Utf16ToUtf8(std::string_view(bytes).substr(2), false);
  if (bytes.starts_with("\xFE\xFF")) return Utf16ToUtf8(std::string_view(bytes).substr(2), true);
  return bytes;
}

std::string Unquote(std::string v) {
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
    return v.substr(1, v.size() - 2);
  return v;
}

// The value of key `ident` in section `section`: the first one found.
bool FindValue(std::string_view text, std::string_view section, std::string_view ident,
               std::string &value) {
  bool inSection = false;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t eol = text.find('\n', pos);
    if (eol == std::string_view::npos) eol = text.size();
    std::string line = Trim(text.substr(pos, eol - pos)); // also drops a CR before the LF
    pos = eol + 1;
    if (line.empty()) continue;
    if (line[0] == '[') {
      size_t close = line.find(']');
      std::string name = Trim(std::string_view(line).substr(
          1, close == std::string::npos ? std::string::npos : close - 1));
      inSection = SameText(name, section);
      continue;
    }
    if (!inSection) continue;
    size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    if (!SameText(Trim(std::string_view(line).substr(0, eq)), ident)) continue;
    value = Unquote(Trim(std::string_view(line).substr(eq + 1)));
    return true;
  }
  return false;
}

} // namespace

std::string TIniFile::ReadString(std::string_view Section, std::string_view Ident,
                                 std::string_view Default) const {
  std::string value;
  if (!FindValue(LoadText(FFileName), Section, Ident, value)) value = Default;
  return Utf16Left(value, MaxIniValueLength);
}

int32_t TIniFile::ReadInteger(std::string_view Section, std::string_view Ident,
                              int32_t Default) const {
  std::string s = ReadString(Section, Ident, "");
  if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) s.replace(0, 2, "$");
  int32_t v;
  return TryStrToInt(s, v) ? v : Default;
}

} // namespace vv
