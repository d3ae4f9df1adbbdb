// The HTTP client: executes one request with its body, running
// authentication rounds, redirects, cookies and certificate decisions, and
// fills a response with status, headers and body. Everything that touches
// the network is left to a platform binding, a class derived from these
// three (see CurlHTTPClient.h); THTTPClient::Create gives that binding.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "rtl/EnumSet.h"
#include "soap/client/ClientLimits.h"
#include "soap/client/CookieManager.h"
#include "soap/client/NetException.h"
#include "soap/client/URLClient.h"

namespace vv {

enum class THTTPRedirectWithGET {
  Post301,
  Post302,
  Post303,
  Post307,
  Post308,
  Put301,
  Put302,
  Put303,
  Put307,
  Put308,
  Delete301,
  Delete302,
  Delete303,
  Delete307,
  Delete308
};
using THTTPRedirectsWithGET = TEnumSet<THTTPRedirectWithGET>;

enum class THTTPSecureProtocol { SSL2, SSL3, TLS1, TLS11, TLS12, TLS13 };
using THTTPSecureProtocols = TEnumSet<THTTPSecureProtocol>;

enum class THTTPCompressionMethod { Deflate, GZip, Brotli, Any };
using THTTPCompressionMethods = TEnumSet<THTTPCompressionMethod>;

enum class THTTPProtocolVersion { UNKNOWN_HTTP, HTTP_1_0, HTTP_1_1, HTTP_2_0 };

enum class THTTPSecureFailureReason {
  CertRevFailed,
  InvalidCert,
  CertRevoked,
  InvalidCA,
  CertCNInvalid,
  CertDateInvalid,
  CertWrongUsage,
  SecurityChannelError,
  CertNotAccepted
};
using THTTPSecureFailureReasons = TEnumSet<THTTPSecureFailureReason>;

class THTTPClient;
class THTTPRequest;
class THTTPResponse;

using TNeedClientCertificateEvent =
    std::function<void(THTTPClient &Sender, THTTPRequest &Request,
                       const TCertificateList &Certificates, int32_t &Index)>;
using TValidateCertificateEvent = std::function<void(
    THTTPClient &Sender, THTTPRequest &Request, const TCertificate &Certificate, bool &Accepted)>;

class THTTPRequest : public TURLRequest {
public:
  ~THTTPRequest() override;

  // Headers of the request, in the order they were added.
  std::string GetHeaderValue(const std::string &name) const;
  // Replaces the first header of that name, or adds it.
  void SetHeaderValue(const std::string &name, const std::string &value);
  // Adds the header, merging into an existing one of that name with ", ".
  void AddHeader(const std::string &name, const std::string &value);
  // Removes every header of that name; false when there was none.
  bool RemoveHeader(const std::string &name);
  const TNetHeaders &GetHeaders() const { return FHeaders; }

  // Credentials the client applied for this request (see THTTPClient).
  const TCredential &ServerCredential() const { return FAppliedServer; }
  const TCredential &ProxyCredential() const { return FAppliedProxy; }

protected:
  THTTPRequest(THTTPClient &client, std::string method, TURI url);
  // The binding re-creates its platform request for a new URL (redirect)
  // or after a cancel.
  virtual void DoUpdateURL(const TURI &) {}
  virtual void DoResetCancel() {}
  static void CheckHeader(const std::string &name, const std::string &value);

  TNetHeaders FHeaders;
  TCredential FAppliedServer;
  TCredential FAppliedProxy;

  friend class THTTPClient;
};

class THTTPResponse : public TURLResponse {
public:
  ~THTTPResponse() override;

  int32_t StatusCode() const { return FStatusCode; }
  const std::string &StatusText() const { return FStatusText; }
  THTTPProtocolVersion Version() const { return FVersion; }
  // The first header with that name (ignoring case), else empty.
  std::string GetHeaderValue(const std::string &name) const;
  bool ContainsHeader(const std::string &name) const;
  const TNetHeaders &Headers() const { return FHeaders; }
  // The whole "Content-Type" value.
  std::string GetMimeType() const { return GetHeaderValue("Content-Type"); }
  // "Content-Length", or -1 when absent or not a number.
  int64_t GetContentLength() const;
  // The "Set-Cookie" values of the last pass.
  const std::vector<std::string> &Cookies() const { return FCookies; }

  // Filled by the binding at the end of each pass.
  void SetStatus(int32_t code, std::string text, THTTPProtocolVersion version);
  void SetHeaders(TNetHeaders headers, std::vector<std::string> cookies);

protected:
  THTTPResponse(THTTPRequest &request, TStream *content);

  THTTPRequest &FRequest;
  int32_t FStatusCode = 0;
  std::string FStatusText;
  THTTPProtocolVersion FVersion = THTTPProtocolVersion::UNKNOWN_HTTP;
  TNetHeaders FHeaders;
  std::vector<std::string> FCookies;

  friend class THTTPClient;
};

class THTTPClient : public TURLClient {
public:
  // Outcome of one pass of send and receive.
  enum class TExecutionResult {
    Success,
    UnknownError,
    ServerCertificateInvalid,
    ClientCertificateNeeded,
    Retry
  };
  enum class InternalState { Other, ProxyAuthRequired, ServerAuthRequired };
  struct THTTPState {
    bool NeedProxyCredential = false;
    TCredential ProxyCredential;
    TCredentialsStorage::TCredentialList ProxyCredentials;
    size_t ProxyIterator = 0;
    bool NeedServerCredential = false;
    TCredential ServerCredential;
    TCredentialsStorage::TCredentialList ServerCredentials;
    size_t ServerIterator = 0;
    InternalState Status = InternalState::Other;
    int32_t Redirections = 0;
  };

  // The client for the schemes "http" and "https": the platform binding.
  static std::unique_ptr<THTTPClient> Create();
  ~THTTPClient() override;

  // Parses `url` and creates a request with the client's timeouts, custom
  // headers and progress handlers.
  std::unique_ptr<THTTPRequest> GetRequest(const std::string &method, const std::string &url);
  // Runs the request to its final response; the body lands in `content`
  // (or in the response's own stream when null), which ends at its old position.
  std::unique_ptr<THTTPResponse> Execute(THTTPRequest &request, TStream *content = nullptr,
                                         const TNetHeaders &headers = {});

  bool AllowCookies() const { return FAllowCookies; }
  void SetAllowCookies(bool value) { FAllowCookies = value; }
  bool HandleRedirects() const { return FHandleRedirects; }
  void SetHandleRedirects(bool value) { FHandleRedirects = value; }
  int32_t MaxRedirects() const { return FMaxRedirects; }
  void SetMaxRedirects(int32_t value) { FMaxRedirects = value; }
  THTTPRedirectsWithGET RedirectsWithGET() const { return FRedirectsWithGET; }
  void SetRedirectsWithGET(THTTPRedirectsWithGET value) { FRedirectsWithGET = value; }
  THTTPSecureProtocols SecureProtocols() const { return FSecureProtocols; }
  void SetSecureProtocols(THTTPSecureProtocols value) { FSecureProtocols = value; }
  bool PreemptiveAuthentication() const { return FPreemptiveAuthentication; }
  void SetPreemptiveAuthentication(bool value) { FPreemptiveAuthentication = value; }
  THTTPCompressionMethods AutomaticDecompression() const { return FAutomaticDecompression; }
  void SetAutomaticDecompression(THTTPCompressionMethods value) { FAutomaticDecompression = value; }
  bool UseDefaultCredentials() const { return FUseDefaultCredentials; }
  void SetUseDefaultCredentials(bool value) { FUseDefaultCredentials = value; }
  THTTPProtocolVersion ProtocolVersion() const { return FProtocolVersion; }
  void SetProtocolVersion(THTTPProtocolVersion value) { FProtocolVersion = value; }
  TCookieManager &CookieManager() { return FCookieManager; }
  // A CA bundle file trusted in addition to the system's certificates;
  // empty for the system's alone.
  const std::string &CAFile() const { return FCAFile; }
  void SetCAFile(const std::string &path) { FCAFile = path; }
  // Where connections are kept between requests (persistent mode),
  // requests of different scopes never share one, even to the same server
  // with the same settings. The SOAP transport names its certificate
  // policy, so that a connection made under a lenient policy never serves
  // a strict one. Empty by default.
  const std::string &ReuseScope() const { return FReuseScope; }
  void SetReuseScope(const std::string &scope) { FReuseScope = scope; }
  THTTPSecureFailureReasons SecureFailureReasons() const { return FSecureFailureReasons; }

  TSendDataEvent OnSendData;
  TReceiveDataEvent OnReceiveData;
  TNeedClientCertificateEvent OnNeedClientCertificate;
  TValidateCertificateEvent OnValidateServerCertificate;

protected:
  THTTPClient();

  // ---- what a platform binding provides ----
  virtual std::unique_ptr<THTTPRequest> DoGetHTTPRequestInstance(const std::string &method,
                                                                 const TURI &url) = 0;
  virtual std::unique_ptr<THTTPResponse> DoGetHTTPResponseInstance(THTTPRequest &request,
                                                                   TStream *content) = 0;
  // Applies version, proxy, TLS, decompression, logon and client-certificate settings.
  virtual void DoPrepareRequest(THTTPRequest &request) = 0;
  // One exchange; the body goes to the response's content stream.
  virtual TExecutionResult DoExecuteRequest(THTTPRequest &request, THTTPResponse &response) = 0;
  // Finishes reading the body of a successful pass (the exchange may have read it already).
  virtual void DoReadData(THTTPRequest &request, THTTPResponse &response) = 0;
  virtual bool DoSetCredential(TAuthTargetType target, THTTPRequest &request,
                               const TCredential &credential) = 0;
  virtual void DoGetServerCertificate(THTTPRequest &request, TCertificate &certificate) = 0;
  virtual void DoServerCertificateAccepted(THTTPRequest &request) = 0;
  virtual void DoGetClientCertificates(THTTPRequest &request, TCertificateList &list) = 0;
  virtual bool DoClientCertificateAccepted(THTTPRequest &request, int32_t index) = 0;
  virtual bool DoNoClientCertificate(THTTPRequest &request) = 0;

  // For bindings: the loop's record and the failure reasons of this execution.
  const THTTPState &State() const { return FState; }
  THTTPSecureFailureReasons FSecureFailureReasons;

private:
  struct TAuthSlot;
  TAuthSlot Slot(TAuthTargetType target);
  std::string TargetURL(TAuthTargetType target, const THTTPRequest &request) const;
  // Settles the credential of a target before a pass: offered at once
  // (preemptive), or the next candidate after a challenge. False when
  // there is none left to try.
  bool SetCredential(TAuthTargetType target, THTTPRequest &request, const THTTPResponse &response);
  void OfferPreemptively(TAuthSlot &slot, THTTPRequest &request);
  TCredentialsStorage::TCredentialList ServerCandidates(const THTTPRequest &request,
                                                        const std::string &realm);
  TCredentialsStorage::TCredentialList ProxyCandidates(const std::string &realm);
  bool ApplyCredential(TAuthSlot &slot, THTTPRequest &request);
  bool AskCallback(TAuthTargetType target, const std::string &realm, const std::string &url,
                   std::string &user, std::string &password, TAuthPersistenceType &persistence);
  bool FollowRedirect(THTTPRequest &request, THTTPResponse &response);
  bool HandleStatus(THTTPRequest &request, THTTPResponse &response);
  void TakeCookies(THTTPRequest &request, THTTPResponse &response);
  void ValidateServerCertificate(THTTPRequest &request);
  void ChooseClientCertificate(THTTPRequest &request, TCertificateList &offered);
  void RunLoop(THTTPRequest &request, THTTPResponse &response, int64_t bodyPos, int64_t contentPos,
               int64_t contentSize);

  bool FAllowCookies = true;
  bool FHandleRedirects = true;
  int32_t FMaxRedirects = kDefaultMaxRedirects;
  THTTPRedirectsWithGET FRedirectsWithGET{
      THTTPRedirectWithGET::Post301, THTTPRedirectWithGET::Post302, THTTPRedirectWithGET::Post303,
      THTTPRedirectWithGET::Put303, THTTPRedirectWithGET::Delete303};
  THTTPSecureProtocols FSecureProtocols;
  bool FPreemptiveAuthentication = false;
  THTTPCompressionMethods FAutomaticDecompression;
  bool FUseDefaultCredentials = true;
  THTTPProtocolVersion FProtocolVersion = THTTPProtocolVersion::UNKNOWN_HTTP;
  TCookieManager FCookieManager;
  std::string FCAFile;
  std::string FReuseScope;
  THTTPState FState;
  // Set when a redirect left the origin: server credentials stay behind.
  bool FServerCredentialsBlocked = false;
  // Realms of the last challenges, for the authentication callback.
  std::string FServerRealm, FProxyRealm;
};

} // namespace vv
