// The protocol-independent base of the HTTP client: custom headers,
// credentials, proxy settings and timeouts, and the request and response
// bases that carry a URL, a body and a content stream.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "soap/client/ClientLimits.h"
#include "soap/client/CredentialsStorage.h"
#include "soap/client/ProxySettings.h"
#include "soap/client/URI.h"

namespace vv {

class TStream;
class TMemoryStream;

struct TNameValuePair {
  std::string Name;
  std::string Value;
};
// An ordered list of headers; names compare ignoring case.
using TURLHeaders = std::vector<TNameValuePair>;
using TNetHeaders = TURLHeaders;

// The description of a certificate, as offered to the certificate handlers.
struct TCertificate {
  std::string CertName;
  std::string SerialNum;
  std::string Expiry; // as the TLS library prints it
  std::string Start;
  std::string Subject;
  std::string Issuer;
  std::string ProtocolName;
  std::string AlgSignature;
  std::string AlgEncryption;
  int32_t KeySize = 0;
  std::string PublicKey;
  bool IsEmpty() const { return Subject.empty() && Issuer.empty() && SerialNum.empty(); }
};
using TCertificateList = std::vector<TCertificate>;

class TURLRequest;
class TURLClient;

// Progress of the body going out or coming in; setting Abort stops it.
using TSendDataEvent = std::function<void(TURLRequest &Sender, int64_t ContentLength,
                                          int64_t WriteCount, bool &Abort)>;
using TReceiveDataEvent =
    std::function<void(TURLRequest &Sender, int64_t ContentLength, int64_t ReadCount, bool &Abort)>;
// Asked for credentials when a server or proxy wants them.
using TCredentialsStorageCallback =
    std::function<void(TAuthTargetType AuthTarget, const std::string &Realm, const std::string &URL,
                       std::string &UserName, std::string &Password, bool &AbortAuth,
                       TAuthPersistenceType &Persistence)>;

class TURLRequest {
public:
  virtual ~TURLRequest() = default;

  const TURI &URL() const { return FURL; }
  const std::string &MethodString() const { return FMethodString; }
  const TCredential &LocalCredential() const { return FLocalCredential; }

  // The body; not owned. Null for a request without a body.
  TStream *SourceStream() const { return FSourceStream; }
  void SetSourceStream(TStream *stream) { FSourceStream = stream; }

  int32_t ConnectionTimeout() const { return FConnectionTimeout; }
  int32_t ResponseTimeout() const { return FResponseTimeout; }
  // Reads as the response timeout until it is changed on this request.
  int32_t SendTimeout() const { return FSendTimeoutChanged ? FSendTimeout : FResponseTimeout; }
  void SetConnectionTimeout(int32_t ms);
  void SetSendTimeout(int32_t ms);
  void SetResponseTimeout(int32_t ms);

  // Client certificate: a PEM file (certificate and key), or PKCS#12 data.
  void SetClientCertificate(const std::string &path, const std::string &password);
  void SetClientCertificate(TStream &data, const std::string &password);
  const std::string &ClientCertPath() const { return FClientCertPath; }
  const std::string &ClientCertData() const { return FClientCertData; }
  const std::string &ClientCertPassword() const { return FClientCertPassword; }
  bool HasClientCertificate() const { return !FClientCertPath.empty() || !FClientCertData.empty(); }

  bool IsCancelled() const { return FCancelled; }
  virtual void Cancel() { FCancelled = true; }

  TSendDataEvent OnSendData;
  TReceiveDataEvent OnReceiveData;

protected:
  TURLRequest(TURLClient &client, std::string method, TURI url);
  virtual void DoSetTimeouts() {}

  TURLClient &FClient;
  TURI FURL;
  std::string FMethodString;
  TCredential FLocalCredential;
  TStream *FSourceStream = nullptr;
  std::atomic<bool> FCancelled{false};
  int32_t FConnectionTimeout;
  int32_t FSendTimeout;
  int32_t FResponseTimeout;
  bool FSendTimeoutChanged = false;
  std::string FClientCertPath;
  std::string FClientCertData;
  std::string FClientCertPassword;
};

class TURLResponse {
public:
  virtual ~TURLResponse();
  // The stream holding the body: the caller's stream, or the response's own.
  TStream &ContentStream() const { return *FStream; }
  // The body as text (the whole content stream).
  std::string ContentAsString() const;

protected:
  explicit TURLResponse(TStream *content);

  std::unique_ptr<TMemoryStream> FOwnStream;
  TStream *FStream;
};

class TURLClient {
public:
  TURLClient();
  virtual ~TURLClient();
  TURLClient(const TURLClient &) = delete;
  TURLClient &operator=(const TURLClient &) = delete;

  // Replaces the value of the first custom header with that name (ignoring
  // case), or appends it.
  void SetCustomHeaderValue(const std::string &name, const std::string &value);
  std::string GetCustomHeaderValue(const std::string &name) const;
  const TURLHeaders &CustomHeaders() const { return FCustomHeaders; }
  std::string UserAgent() const { return GetCustomHeaderValue("User-Agent"); }
  void SetUserAgent(const std::string &agent) { SetCustomHeaderValue("User-Agent", agent); }

  // The store in use: the client's own unless another was set.
  TCredentialsStorage &CredentialsStorage() const { return *FCredentialsStorage; }
  // Uses `storage` (not owned); null restores the client's own store.
  void SetCredentialsStorage(TCredentialsStorage *storage);

  const TProxySettings &ProxySettings() const { return FProxySettings; }
  // Also stores the proxy credential when the settings carry a user name.
  void SetProxySettings(const TProxySettings &settings);

  int32_t ConnectionTimeout() const { return FConnectionTimeout; }
  int32_t SendTimeout() const { return FSendTimeout; }
  int32_t ResponseTimeout() const { return FResponseTimeout; }
  void SetConnectionTimeout(int32_t ms) { FConnectionTimeout = ms; }
  void SetSendTimeout(int32_t ms) { FSendTimeout = ms; }
  void SetResponseTimeout(int32_t ms) { FResponseTimeout = ms; }

  TCredentialsStorageCallback AuthCallback;
  TCredentialsStorageCallback AuthEvent;

protected:
  TURLHeaders FCustomHeaders;
  TCredentialsStorage FOwnCredentials;
  TCredentialsStorage *FCredentialsStorage;
  TProxySettings FProxySettings;
  int32_t FConnectionTimeout = kDefaultTimeoutMs;
  int32_t FSendTimeout = kDefaultTimeoutMs;
  int32_t FResponseTimeout = kDefaultTimeoutMs;
};

} // namespace vv
