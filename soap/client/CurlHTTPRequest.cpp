#include "soap/client/CurlHTTPRequest.h"

#include "soap/client/CurlConnectionPool.h"
#include "soap/client/CurlLibrary.h"
#include "soap/client/HTTPHeaderBlock.h"

namespace vv {

TCurlHTTPRequest::TCurlHTTPRequest(TCurlHTTPClient &client, const std::string &method,
                                   const TURI &url)
    : THTTPRequest(client, method, url) {
  if (!IsHTTPToken(method))
    throw ENetHTTPRequestException("Error opening request: (%d) %s",
                                   {int(CURLE_BAD_FUNCTION_ARGUMENT), "Invalid method"});
  FCurl = TakeCurlHandle();
  if (!FCurl)
    throw ENetHTTPRequestException("Error opening request: (%d) %s",
                                   {int(CURLE_FAILED_INIT), CurlErrorText(CURLE_FAILED_INIT)});
}

TCurlHTTPRequest::~TCurlHTTPRequest() { GiveBackCurlHandle(FCurl, FOwnConnections); }

void TCurlHTTPRequest::Cancel() {
  std::lock_guard<std::mutex> guard(FLock);
  THTTPRequest::Cancel();
}

void TCurlHTTPRequest::DoUpdateURL(const TURI &url) {
  if (url.Scheme == FURL.Scheme && url.Host == FURL.Host && url.Port == FURL.Port) return;
  // Whatever was settled with the old server stays with it, libcurl's
  // authentication state included.
  CurlApi().easy_reset(FCurl);
  FServerUser.clear();
  FServerPassword.clear();
  FServerAuth = 0;
  FLastServerAuthScheme = 0;
  FPreemptiveHeader = false;
  FLastServerChallenge.clear();
  FServerCertificateValidated = false;
  FServerCertificateAccepted = false;
  FProbedCertificate.clear();
  FClientCertificateAsked = false;
}

} // namespace vv
