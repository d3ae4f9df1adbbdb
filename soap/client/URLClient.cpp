#include "soap/client/URLClient.h"

#include "rtl/StrUtils.h"
#include "rtl/Stream.h"

namespace vv {

TURLRequest::TURLRequest(TURLClient &client, std::string method, TURI url)
    : FClient(client), FURL(std::move(url)), FMethodString(std::move(method)),
      FConnectionTimeout(client.ConnectionTimeout()), FSendTimeout(client.SendTimeout()),
      FResponseTimeout(client.ResponseTimeout()) {
  FLocalCredential =
      TCredential(TAuthTargetType::Server, "", FURL.Host, FURL.Username, FURL.Password);
}

void TURLRequest::SetConnectionTimeout(int32_t ms) {
  FConnectionTimeout = ms;
  DoSetTimeouts();
}

void TURLRequest::SetSendTimeout(int32_t ms) {
  if (ms != FSendTimeout) FSendTimeoutChanged = true;
  FSendTimeout = ms;
  DoSetTimeouts();
}

void TURLRequest::SetResponseTimeout(int32_t ms) {
  FResponseTimeout = ms;
  DoSetTimeouts();
}

void TURLRequest::SetClientCertificate(const std::string &path, const std::string &password) {
  FClientCertPath = path;
  FClientCertData.clear();
  FClientCertPassword = password;
}

void TURLRequest::SetClientCertificate(TStream &data, const std::string &password) {
  FClientCertPath.clear();
  FClientCertData = data.DataString();
  FClientCertPassword = password;
}

TURLResponse::TURLResponse(TStream *content) {
  if (!content) {
    FOwnStream = std::make_unique<TMemoryStream>();
    content = FOwnStream.get();
  }
  FStream = content;
}

TURLResponse::~TURLResponse() = default;

std::string TURLResponse::ContentAsString() const { return FStream->DataString(); }

TURLClient::TURLClient() : FCredentialsStorage(&FOwnCredentials) {
  FCustomHeaders.push_back({"User-Agent", kDefaultUserAgent});
}

TURLClient::~TURLClient() = default;

void TURLClient::SetCustomHeaderValue(const std::string &name, const std::string &value) {
  for (TNameValuePair &p : FCustomHeaders)
    if (SameText(p.Name, name)) {
      p.Value = value;
      return;
    }
  FCustomHeaders.push_back({name, value});
}

std::string TURLClient::GetCustomHeaderValue(const std::string &name) const {
  for (const TNameValuePair &p : FCustomHeaders)
    if (SameText(p.Name, name)) return p.Value;
  return {};
}

void TURLClient::SetCredentialsStorage(TCredentialsStorage *storage) {
  FCredentialsStorage = storage ? storage : &FOwnCredentials;
}

void TURLClient::SetProxySettings(const TProxySettings &settings) {
  FProxySettings = settings;
  if (!settings.UserName().empty()) FCredentialsStorage->AddCredential(settings.Credential());
}

} // namespace vv
