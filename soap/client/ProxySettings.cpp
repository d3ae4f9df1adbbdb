#include "soap/client/ProxySettings.h"

#include "rtl/StrUtils.h"
#include "soap/client/URI.h"

namespace vv {

TProxySettings::TProxySettings(const std::string &url) {
  if (url.empty()) return;
  TURI uri(url);
  FHost = uri.Host;
  FPort = uri.Port;
  FScheme = uri.Scheme;
  FUserName = uri.Username;
  FPassword = uri.Password;
  MakeCredential();
}

TProxySettings::TProxySettings(std::string host, int32_t port, std::string user,
                               std::string password, std::string scheme)
    : FHost(std::move(host)), FPort(port), FScheme(std::move(scheme)), FUserName(std::move(user)),
      FPassword(std::move(password)) {
  MakeCredential();
}

std::string TProxySettings::ToURL() const {
  std::string s = (FScheme.empty() ? std::string("http") : FScheme) + "://" + FHost;
  if (FPort > 0) s += ":" + IntToStr(FPort);
  return s;
}

void TProxySettings::MakeCredential() {
  FCredential = TCredential(TAuthTargetType::Proxy, "", ToURL(), FUserName, FPassword);
}

} // namespace vv
