#include "soap/client/HTTPHeaderBlock.h"

#include <algorithm>
#include <cstring>

#include "rtl/StrUtils.h"

namespace vv {

namespace {

bool StartsWithMethod(std::string_view line) {
  static const char *methods[] = {"GET",     "POST",    "PUT",   "DELETE", "HEAD",
                                  "CONNECT", "OPTIONS", "TRACE", "MERGE",  "PATCH"};
  for (const char *m : methods)
    if (line.rfind(m, 0) == 0) return true;
  return false;
}

} // namespace

void ParseStatusLine(std::string_view line, int32_t &code, std::string &text,
                     THTTPProtocolVersion &version) {
  size_t sp = line.find(' ');
  std::string_view ver = line.substr(0, sp);
  version = ver == "HTTP/1.0"   ? THTTPProtocolVersion::HTTP_1_0
            : ver == "HTTP/1.1" ? THTTPProtocolVersion::HTTP_1_1
            : ver == "HTTP/2"   ? THTTPProtocolVersion::HTTP_2_0
                                : THTTPProtocolVersion::UNKNOWN_HTTP;
  code = 0;
  text.clear();
  if (sp == std::string_view::npos) return;
  std::string_view rest = line.substr(sp + 1);
  size_t i = 0;
  for (; i < rest.size() && i < 3 && rest[i] >= '0' && rest[i] <= '9'; ++i)
    code = code * 10 + (rest[i] - '0');
  if (i < rest.size()) text = Trim(rest.substr(i));
}

void ParseHeaderBlock(std::string_view raw, TNetHeaders &headers,
                      std::vector<std::string> &cookies) {
  size_t pos = 0;
  while (pos < raw.size()) {
    // Servers end lines in CR LF, some in LF alone (which libcurl accepts).
    size_t eol = raw.find('\n', pos);
    std::string_view line = raw.substr(pos, (eol == std::string::npos ? raw.size() : eol) - pos);
    pos = eol == std::string::npos ? raw.size() : eol + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    size_t colon = line.find(':');
    if (colon == std::string_view::npos || StartsWithMethod(line) || line.rfind("HTTP/", 0) == 0)
      continue;
    std::string name = Trim(line.substr(0, colon)), value = Trim(line.substr(colon + 1));
    // A CR within a line ends nothing: it becomes a blank, as HTTP asks.
    std::replace(name.begin(), name.end(), '\r', ' ');
    std::replace(value.begin(), value.end(), '\r', ' ');
    if (SameText(name, "Set-Cookie")) {
      cookies.push_back(value);
      continue;
    }
    auto same = std::find_if(headers.begin(), headers.end(),
                             [&](const TNameValuePair &h) { return SameText(h.Name, name); });
    if (same != headers.end())
      same->Value += ", " + value;
    else
      headers.push_back({name, value});
  }
}

bool IsHTTPToken(std::string_view text) {
  if (text.empty()) return false;
  for (char c : text)
    if (c <= ' ' || c >= 127 || std::strchr("()<>@,;:\\\"/[]?={}", c)) return false;
  return true;
}

} // namespace vv
