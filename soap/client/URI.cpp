#include "soap/client/URI.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "rtl/StrUtils.h"
#include "soap/client/NetException.h"

namespace vv {

namespace {

constexpr int32_t MaxPort = 65535;

bool IsSchemeChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '+' ||
         c == '-' || c == '.';
}

bool IsSlash(char c) { return c == '/' || c == '\\'; }

// The text with the password of its user information masked: error
// messages travel far (into SOAP faults and logs) and never carry one.
std::string WithoutPassword(std::string_view text) {
  size_t start = text.find("://");
  start = start == std::string_view::npos ? text.find(':') + 1 : start + 3;
  size_t end = text.find_first_of("/\\?#", start);
  size_t at = text.substr(0, end).rfind('@');
  if (at == std::string_view::npos || at < start) return std::string(text);
  size_t colon = text.find(':', start);
  if (colon == std::string_view::npos || colon > at) return std::string(text);
  return std::string(text.substr(0, colon + 1)) + "***" + std::string(text.substr(at));
}

[[noreturn]] void InvalidURL(std::string_view text) {
  throw ENetURIException("Invalid URL: \"%s\"", {WithoutPassword(text)});
}

// The scheme of `text` when it starts with one followed by ":", else empty.
std::string SchemeOf(std::string_view text) {
  size_t colon = text.find(':');
  if (colon == std::string_view::npos || colon == 0) return {};
  for (size_t i = 0; i < colon; ++i)
    if (!IsSchemeChar(text[i])) return {};
  return LowerCase(text.substr(0, colon));
}

std::string TrimURL(std::string_view s) {
  auto blank = [](char c) { return c == '\t' || c == '\n' || c == '\f' || c == '\r' || c == ' '; };
  size_t b = 0, e = s.size();
  while (b < e && blank(s[b])) ++b;
  while (e > b && blank(s[e - 1])) --e;
  return std::string(s.substr(b, e - b));
}

std::string PercentDecode(std::string_view s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '%' && i + 2 < s.size() && HexDigitValue(s[i + 1]) >= 0 &&
        HexDigitValue(s[i + 2]) >= 0) {
      out += char(HexDigitValue(s[i + 1]) * 16 + HexDigitValue(s[i + 2]));
      i += 2;
    } else {
      out += s[i];
    }
  }
  return out;
}

// "%XX" for one byte.
void AppendPercentEscape(std::string &out, unsigned char c, bool lowerHex = false) {
  const char *hex = lowerHex ? "0123456789abcdef" : "0123456789ABCDEF";
  out += '%';
  out += hex[c >> 4];
  out += hex[c & 15];
}

// Percent-encodes the bytes that may not appear in a path or query as they
// are; an existing "%XX" escape is kept.
std::string EncodeComponent(std::string_view s, bool isPath) {
  std::string out;
  for (char ch : s) {
    unsigned char c = static_cast<unsigned char>(ch);
    if (isPath && c == '\\') {
      out += '/';
      continue;
    }
    bool plain = c > 0x20 && c < 0x7F && c != '"' && c != '<' && c != '>' && c != '`' && c != '{' &&
                 c != '}' && c != '|' && c != '^' && c != '\\' && (isPath || c != '#');
    if (plain) {
      out += ch;
    } else {
      AppendPercentEscape(out, c);
    }
  }
  return out;
}

// What may stand in a host once it is in its ASCII form: a name, an IPv4
// address, or a bracketed IPv6 literal. Anything else could smuggle bytes
// into a request line.
bool IsHostText(std::string_view h) {
  if (!h.empty() && h[0] == '[') {
    if (h.size() < 3 || h.back() != ']') return false;
    for (char c : h.substr(1, h.size() - 2))
      if (!(HexDigitValue(c) >= 0 || c == ':' || c == '.')) return false;
    return true;
  }
  for (char c : h)
    if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_'))
      return false;
  return true;
}

void ParseAuthority(std::string_view auth, std::string_view whole, TURI &uri, bool hostRequired) {
  size_t at = auth.rfind('@');
  if (at != std::string_view::npos) {
    std::string_view info = auth.substr(0, at);
    size_t colon = info.find(':');
    uri.Username = PercentDecode(info.substr(0, colon));
    if (colon != std::string_view::npos) uri.Password = PercentDecode(info.substr(colon + 1));
    auth.remove_prefix(at + 1);
  }
  std::string_view host = auth, port;
  bool hasPort = false;
  if (!auth.empty() && auth[0] == '[') {
    size_t close = auth.find(']');
    if (close == std::string_view::npos) InvalidURL(whole);
    host = auth.substr(0, close + 1);
    std::string_view rest = auth.substr(close + 1);
    if (!rest.empty()) {
      if (rest[0] != ':') InvalidURL(whole);
      port = rest.substr(1);
      hasPort = true;
    }
  } else {
    size_t colon = auth.rfind(':');
    if (colon != std::string_view::npos) {
      host = auth.substr(0, colon);
      port = auth.substr(colon + 1);
      hasPort = true;
    }
  }
  if (hasPort) {
    if (port.empty() || port.size() > 5) InvalidURL(whole);
    int32_t v = 0;
    for (char c : port) {
      if (c < '0' || c > '9') InvalidURL(whole);
      v = v * 10 + (c - '0');
    }
    if (v > MaxPort) InvalidURL(whole);
    uri.Port = v;
  } else {
    uri.Port = TURI::DefaultPort(uri.Scheme);
  }
  if (host.empty() && hostRequired) InvalidURL(whole);
  if (!IDNAEncodeHost(PercentDecode(host), uri.Host) || !IsHostText(uri.Host)) InvalidURL(whole);
}

void ParsePathQueryFragment(std::string_view rest, TURI &uri) {
  size_t hash = rest.find('#');
  if (hash != std::string_view::npos) {
    uri.Fragment = std::string(rest.substr(hash + 1));
    rest = rest.substr(0, hash);
  }
  size_t q = rest.find('?');
  if (q != std::string_view::npos) {
    uri.Query = EncodeComponent(rest.substr(q + 1), false);
    rest = rest.substr(0, q);
  }
  uri.Path = EncodeComponent(rest, true);
}

} // namespace

int32_t TURI::DefaultPort(std::string_view scheme) {
  if (scheme == "http") return 80;
  if (scheme == "https") return 443;
  return -1;
}

TURI::TURI(std::string_view text) {
  std::string whole = TrimURL(text);
  Scheme = SchemeOf(whole);
  if (Scheme.empty()) InvalidURL(whole);
  std::string_view rest = std::string_view(whole).substr(Scheme.size() + 1);
  size_t slashes = 0;
  while (slashes < rest.size() && IsSlash(rest[slashes])) ++slashes;
  if (slashes >= 2 || Scheme == "mailto") {
    rest.remove_prefix(slashes >= 2 ? 2 : 0);
    size_t end = rest.find_first_of("/\\?#");
    std::string_view auth = rest.substr(0, end);
    ParseAuthority(auth, whole, *this, slashes == 2);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end);
    ParsePathQueryFragment(rest, *this);
    if (Path.empty()) Path = "/";
  } else if (Scheme == "news" || Scheme == "tel" || Scheme == "urn") {
    ParsePathQueryFragment(rest, *this);
  } else {
    InvalidURL(whole);
  }
}

bool TURI::RemoveDotSegments(std::string_view path, std::string &out) {
  std::vector<std::string_view> segs;
  bool trailing = false;
  size_t pos = 0;
  if (!path.empty() && path[0] == '/') pos = 1;
  while (pos <= path.size()) {
    size_t next = path.find('/', pos);
    std::string_view seg = path.substr(pos, next == std::string_view::npos ? next : next - pos);
    bool last = next == std::string_view::npos;
    trailing = false;
    if (seg == ".") {
      trailing = last;
    } else if (seg == "..") {
      if (segs.empty()) return false;
      segs.pop_back();
      trailing = last;
    } else {
      segs.push_back(seg);
    }
    if (last) break;
    pos = next + 1;
  }
  out = "/";
  for (size_t i = 0; i < segs.size(); ++i) {
    if (i) out += '/';
    out += segs[i];
  }
  if (trailing && !segs.empty()) out += '/';
  return true;
}

TURI TURI::Resolve(const TURI &base, std::string_view location) {
  std::string loc = TrimURL(location);
  TURI result;
  size_t stop = loc.find_first_of("/?#");
  if (!SchemeOf(std::string_view(loc).substr(0, stop)).empty()) {
    result = TURI(loc);
  } else if (loc.size() >= 2 && IsSlash(loc[0]) && IsSlash(loc[1])) {
    result = TURI(base.Scheme + ":" + loc);
  } else {
    result = base;
    result.Fragment.clear();
    TURI rel;
    ParsePathQueryFragment(loc, rel);
    result.Fragment = rel.Fragment;
    if (rel.Path.empty()) {
      if (loc.find('?') != std::string::npos) result.Query = rel.Query;
    } else {
      result.Query = rel.Query;
      if (rel.Path[0] == '/') {
        result.Path = rel.Path;
      } else {
        size_t slash = base.Path.rfind('/');
        result.Path =
            (slash == std::string::npos ? "/" : base.Path.substr(0, slash + 1)) + rel.Path;
      }
    }
  }
  std::string clean;
  if (!RemoveDotSegments(result.Path, clean))
    throw ENetURIException("Invalid relative URL path: \"%s\"", {loc});
  result.Path = clean;
  if (result.Fragment.empty()) result.Fragment = base.Fragment;
  return result;
}

std::string TURI::Origin() const {
  std::string s = Scheme + "://" + Host;
  if (Port >= 0 && Port != DefaultPort(Scheme)) s += ":" + IntToStr(Port);
  return s;
}

std::string TURI::PathAndQuery() const {
  std::string s = Path.empty() ? "/" : Path;
  if (!Query.empty()) s += "?" + Query;
  return s;
}

std::string TURI::ToString() const {
  if (Scheme == "news" || Scheme == "tel" || Scheme == "urn") return Scheme + ":" + Path;
  std::string s = Scheme + "://";
  if (!Username.empty() || !Password.empty()) {
    s += PercentEncode(Username, TPercentPlain::UserInfo);
    if (!Password.empty()) s += ":" + PercentEncode(Password, TPercentPlain::UserInfo);
    s += "@";
  }
  s += Host;
  if (Port >= 0 && Port != DefaultPort(Scheme)) s += ":" + IntToStr(Port);
  s += PathAndQuery();
  if (!Fragment.empty()) s += "#" + Fragment;
  return s;
}

std::string PercentEncode(std::string_view s, TPercentPlain plain, bool lowerHex) {
  std::string out;
  out.reserve(s.size());
  for (char ch : s) {
    unsigned char c = static_cast<unsigned char>(ch);
    bool alnum = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
    bool keep = alnum;
    if (plain != TPercentPlain::AlphaNumeric && c != 0)
      keep = keep || std::strchr("-._~", ch) != nullptr;
    // Sub-delimiters stand in user information as they are: nothing there
    // reads them as separators.
    if (plain == TPercentPlain::UserInfo && c != 0)
      keep = keep || std::strchr("!$&'()*+,;=", ch) != nullptr;
    if (keep)
      out += ch;
    else
      AppendPercentEscape(out, c, lowerHex);
  }
  return out;
}

} // namespace vv
