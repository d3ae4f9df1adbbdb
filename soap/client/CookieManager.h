// Cookies that a client keeps between the passes of one execution
// (authentication rounds, redirects). Bounded in number and size, since
// every one of them comes from a peer.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "soap/client/URI.h"

namespace vv {

struct TCookie {
  std::string Name;
  std::string Value;
  std::string Domain; // lower case, without a leading "."
  std::string Path;
  bool HostOnly = true;
  bool Secure = false;
};

class TCookieManager {
public:
  // Takes one "Set-Cookie" value received from `url`. A cookie with an
  // empty value or an expiry in the past removes the stored one.
  void AddServerCookie(std::string_view setCookie, const TURI &url);
  // The "Cookie" header value for `url` ("a=1; b=2"), empty when none apply.
  std::string CookieHeaders(const TURI &url) const;
  const std::vector<TCookie> &Cookies() const { return FCookies; }
  void Clear() { FCookies.clear(); }

private:
  std::vector<TCookie> FCookies;
};

} // namespace vv
