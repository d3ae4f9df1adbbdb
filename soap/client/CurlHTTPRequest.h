// The request and response of the libcurl binding. A request owns one
// libcurl handle for its whole life: connections, and what libcurl learnt
// from a challenge (a Digest nonce), carry over from one pass to the next,
// so the pass after a challenge answers it with the whole body. Each pass
// sets every option afresh from the request, so no setting of an earlier
// pass leaks into the next; a new server (redirect) gets a reset handle.
#pragma once

#include <curl/curl.h>

#include <exception>
#include <mutex>
#include <string>
#include <vector>

#include "soap/client/CurlHTTPClient.h"
#include "soap/client/HTTPChallenge.h"

namespace vv {

class TCurlHTTPResponse;

class TCurlHTTPRequest : public THTTPRequest {
public:
  TCurlHTTPRequest(TCurlHTTPClient &client, const std::string &method, const TURI &url);
  ~TCurlHTTPRequest() override;

  void Cancel() override;

  // The authentication schemes remembered for this request (CURLAUTH_*
  // bits; 0 while none was chosen), and what libcurl was last asked to use.
  unsigned long LastServerAuthScheme() const { return FLastServerAuthScheme; }
  unsigned long LastProxyAuthScheme() const { return FLastProxyAuthScheme; }
  unsigned long AppliedServerAuthScheme() const { return FServerAuth; }
  unsigned long AppliedProxyAuthScheme() const { return FProxyAuth; }
  // The send timeout given to libcurl's stall watch in the last pass.
  int32_t EffectiveSendTimeout() const { return SendTimeout(); }

protected:
  void DoUpdateURL(const TURI &url) override;

private:
  friend class TCurlHTTPClient;

  // Settings computed by the client before a pass.
  std::string FProxy;   // empty: no proxy
  std::string FNoProxy; // bypass list
  std::string FProxyUser, FProxyPassword;
  unsigned long FProxyAuth = 0;
  std::string FServerUser, FServerPassword;
  unsigned long FServerAuth = 0;
  long FSSLVersion = CURL_SSLVERSION_DEFAULT;
  std::string FAcceptEncoding; // empty: no decompression
  bool FHTTP2 = false;

  unsigned long FLastServerAuthScheme = 0;
  unsigned long FLastProxyAuthScheme = 0;
  bool FPreemptiveHeader = false; // "Authorization" was set by the client itself
  bool FResponseArrived = false;
  std::string FLastServerChallenge;
  THTTPAuthSchemes FServerAuthAvail, FProxyAuthAvail; // offered by the last challenges

  bool FServerCertificateValidated = false;
  bool FServerCertificateAccepted = false;
  std::string FProbedCertificate; // PEM of the certificate the handler accepted
  bool FClientCertificateAsked = false;

  CURL *FCurl = nullptr;
  // An exchange ran without a group's connections: the handle holds a
  // connection (or TLS session) of its own.
  bool FOwnConnections = false;
  char FErrorBuffer[CURL_ERROR_SIZE] = {};
  std::mutex FLock;
};

class TCurlHTTPResponse : public THTTPResponse {
public:
  TCurlHTTPResponse(THTTPRequest &request, TStream *content) : THTTPResponse(request, content) {}
};

} // namespace vv
