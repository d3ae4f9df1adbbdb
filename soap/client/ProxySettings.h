// An explicit proxy for the HTTP client.
#pragma once

#include <cstdint>
#include <string>

#include "soap/client/CredentialsStorage.h"

namespace vv {

class TProxySettings {
public:
  TProxySettings() = default;
  // Parses a proxy URL ("scheme://[user[:password]@]host[:port]"); a text
  // without a scheme raises ENetURIException "Invalid URL: "%s"".
  explicit TProxySettings(const std::string &url);
  TProxySettings(std::string host, int32_t port, std::string user = "", std::string password = "",
                 std::string scheme = "");

  const std::string &Host() const { return FHost; }
  int32_t Port() const { return FPort; }
  const std::string &Scheme() const { return FScheme; }
  const std::string &UserName() const { return FUserName; }
  const std::string &Password() const { return FPassword; }
  // The proxy credential: target Proxy, empty realm, the proxy's address.
  const TCredential &Credential() const { return FCredential; }
  // "scheme://host:port" with the parts that are set ("http" when no scheme).
  std::string ToURL() const;

private:
  void MakeCredential();

  std::string FHost;
  int32_t FPort = -1;
  std::string FScheme;
  std::string FUserName;
  std::string FPassword;
  TCredential FCredential;
};

} // namespace vv
