#include "soap/client/CookieManager.h"

#include <algorithm>

#include "rtl/StrUtils.h"
#include "soap/client/ClientLimits.h"

namespace vv {

namespace {

bool DomainMatches(const TCookie &c, const std::string &host) {
  if (c.HostOnly) return host == c.Domain;
  return host == c.Domain || (host.size() > c.Domain.size() && EndsText("." + c.Domain, host));
}

bool PathMatches(const std::string &cookiePath, const std::string &path) {
  if (path.compare(0, cookiePath.size(), cookiePath) != 0) return false;
  return path.size() == cookiePath.size() || cookiePath.back() == '/' ||
         path[cookiePath.size()] == '/';
}

std::string DefaultPath(const std::string &path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos || slash == 0 ? "/" : path.substr(0, slash);
}

} // namespace

void TCookieManager::AddServerCookie(std::string_view setCookie, const TURI &url) {
  if (setCookie.size() > kMaxCookieSize) return;
  std::string_view pair = setCookie.substr(0, setCookie.find(';'));
  size_t eq = pair.find('=');
  if (eq == std::string_view::npos) return;
  TCookie c;
  c.Name = Trim(pair.substr(0, eq));
  c.Value = Trim(pair.substr(eq + 1));
  if (c.Name.empty()) return;
  c.Domain = url.Host;
  c.Path = DefaultPath(url.Path);
  bool expired = c.Value.empty();
  size_t pos = pair.size();
  while (pos < setCookie.size()) {
    size_t next = setCookie.find(';', pos + 1);
    std::string_view attr = setCookie.substr(
        pos + 1, next == std::string_view::npos ? std::string_view::npos : next - pos - 1);
    size_t aeq = attr.find('=');
    std::string name = Trim(attr.substr(0, aeq));
    std::string value = aeq == std::string_view::npos ? "" : Trim(attr.substr(aeq + 1));
    if (SameText(name, "Path") && !value.empty() && value[0] == '/') {
      c.Path = value;
    } else if (SameText(name, "Domain") && !value.empty()) {
      std::string d = LowerCase(value[0] == '.' ? value.substr(1) : value);
      // Only the host itself or a domain it belongs to may be named.
      if (d != url.Host && !EndsText("." + d, url.Host)) return;
      c.Domain = d;
      c.HostOnly = false;
    } else if (SameText(name, "Max-Age")) {
      int32_t age = 0;
      if (TryStrToInt(value, age) && age <= 0) expired = true;
    } else if (SameText(name, "Secure")) {
      c.Secure = true;
    }
    pos = next == std::string_view::npos ? setCookie.size() : next;
  }
  auto same = [&](const TCookie &o) {
    return o.Name == c.Name && o.Domain == c.Domain && o.Path == c.Path;
  };
  FCookies.erase(std::remove_if(FCookies.begin(), FCookies.end(), same), FCookies.end());
  if (!expired && FCookies.size() < kMaxCookies) FCookies.push_back(std::move(c));
}

std::string TCookieManager::CookieHeaders(const TURI &url) const {
  std::string out;
  for (const TCookie &c : FCookies) {
    if (!DomainMatches(c, url.Host) || !PathMatches(c.Path, url.Path)) continue;
    if (c.Secure && url.Scheme != "https") continue;
    if (!out.empty()) out += "; ";
    out += c.Name + "=" + c.Value;
  }
  return out;
}

} // namespace vv
