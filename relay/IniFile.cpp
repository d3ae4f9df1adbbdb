#include "relay/IniFile.h"

#include "rtl/StrUtils.h"
#include "rtl/Utf8.h"

namespace vv {

namespace {

// UTF-16 text (after its byte-order mark) as UTF-8; unpaired surrogates
// become U+FFFD so that nothing malformed travels on.
std::string Utf16Text(std::string_view bytes, bool bigEndian) {
  std::string out;
  Utf16ToUtf8(bytes, bigEndian, TUtf16Errors::Replace, out);
  return out;
}

// Settings text as UTF-8: a UTF-8 byte-order mark dropped, UTF-16 converted.
std::string AsUtf8(std::string_view bytes) {
  if (bytes.starts_with("\xEF\xBB\xBF")) return std::string(bytes.substr(3));
  if (bytes.starts_with("\xFF\xFE")) return Utf16Text(bytes.substr(2), false);
  if (bytes.starts_with("\xFE\xFF")) return Utf16Text(bytes.substr(2), true);
  return std::string(bytes);
}

std::string_view TrimView(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= ' ') ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ') --e;
  return s.substr(b, e - b);
}

std::string_view Unquote(std::string_view v) {
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
    return v.substr(1, v.size() - 2);
  return v;
}

} // namespace

TMemIniFile::TMemIniFile(const std::string &FileName) {
  std::string bytes;
  bool truncated = false;
  FState = ReadSettingsFile(FileName, kMaxIniFileSize, bytes, truncated);
  if (FState == TSettingsFileState::Read) Parse(bytes);
}

TMemIniFile TMemIniFile::FromText(std::string_view Bytes) {
  TMemIniFile ini;
  ini.FState = TSettingsFileState::Read;
  ini.Parse(Bytes);
  return ini;
}

// One pass over the text; the entries point into it.
void TMemIniFile::Parse(std::string_view bytes) {
  FText = AsUtf8(bytes);
  std::string_view text = FText, section;
  bool inSection = false;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t eol = text.find('\n', pos);
    if (eol == std::string_view::npos) eol = text.size();
    std::string_view line = TrimView(text.substr(pos, eol - pos)); // drops a CR before the LF
    pos = eol + 1;
    if (line.empty()) continue;
    if (line[0] == '[') {
      size_t close = line.find(']');
      section = TrimView(line.substr(1, close == std::string_view::npos ? close : close - 1));
      inSection = true;
      continue;
    }
    size_t eq = line.find('=');
    if (!inSection || eq == std::string_view::npos) continue;
    FEntries.push_back({Span(section), Span(TrimView(line.substr(0, eq))),
                        Span(Unquote(TrimView(line.substr(eq + 1))))});
  }
}

TMemIniFile::TSpan TMemIniFile::Span(std::string_view piece) const {
  return {size_t(piece.data() - FText.data()), piece.size()};
}

std::string TMemIniFile::ReadString(std::string_view Section, std::string_view Ident,
                                    std::string_view Default) const {
  for (const TEntry &e : FEntries)
    if (SameText(Text(e.Key), Ident) && SameText(Text(e.Section), Section))
      return Utf16Left(Text(e.Value), kMaxIniValueLength);
  return Utf16Left(Default, kMaxIniValueLength);
}

int32_t TMemIniFile::ReadInteger(std::string_view Section, std::string_view Ident,
                                 int32_t Default) const {
  std::string s = ReadString(Section, Ident, "");
  if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) s.replace(0, 2, "$");
  int32_t v;
  return TryStrToInt(s, v) ? v : Default;
}

std::string TIniFile::ReadString(std::string_view Section, std::string_view Ident,
                                 std::string_view Default) const {
  return TMemIniFile(FFileName).ReadString(Section, Ident, Default);
}

int32_t TIniFile::ReadInteger(std::string_view Section, std::string_view Ident,
                              int32_t Default) const {
  return TMemIniFile(FFileName).ReadInteger(Section, Ident, Default);
}

} // namespace vv
