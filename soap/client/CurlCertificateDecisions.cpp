// The libcurl binding's certificate decisions: the server certificate
// shown to the validation handler during a pass, the probe that reads a
// certificate which failed validation, and the one configured client
// certificate offered when a server asks.
#include "soap/client/ClientLimits.h"
#include "soap/client/CurlCertificates.h"
#include "soap/client/CurlHTTPRequest.h"
#include "soap/client/CurlLibrary.h"
#include "soap/client/CurlOptions.h"

namespace vv {

bool TCurlHTTPClient::CheckServerCertificate(TCurlHTTPRequest &request, bool https, bool &refused,
                                             std::exception_ptr &error) {
  if (!https) return true;
  try {
    TCertificate certificate;
    std::string pem;
    if (request.FServerCertificateAccepted) {
      // The connection must present the very certificate that was accepted.
      if (!request.FProbedCertificate.empty() &&
          DescribeCertificate(request.FCurl, certificate, pem) &&
          pem != request.FProbedCertificate) {
        FSecureFailureReasons.Include(THTTPSecureFailureReason::CertNotAccepted);
        refused = true;
        return false;
      }
      return true;
    }
    if (request.FServerCertificateValidated || !FSecureFailureReasons.Empty() ||
        !OnValidateServerCertificate)
      return true;
    request.FServerCertificateValidated = true;
    DescribeCertificate(request.FCurl, certificate, pem);
    bool accepted = true;
    OnValidateServerCertificate(*this, request, certificate, accepted);
    if (!accepted) {
      FSecureFailureReasons.Include(THTTPSecureFailureReason::CertNotAccepted);
      refused = true;
      return false;
    }
    return true;
  } catch (...) {
    error = std::current_exception();
    return false;
  }
}

void TCurlHTTPClient::DoGetServerCertificate(THTTPRequest &request, TCertificate &certificate) {
  auto &r = static_cast<TCurlHTTPRequest &>(request);
  const TCurlApi &api = CurlApi();
  CURL *curl = api.easy_init();
  if (!curl) return;
  // A handshake of its own, without verification, only to read what the
  // server presents; nothing is sent over it. Its connection is prepared
  // as a pass's is (protocol version, proxy, TLS), so the server sees the
  // same client.
  ApplyConnectionOptions(r, curl);
  SetOpt(curl, CURLOPT_CONNECT_ONLY, 1L);
  SetOpt(curl, CURLOPT_SSL_VERIFYPEER, 0L);
  SetOpt(curl, CURLOPT_SSL_VERIFYHOST, 0L);
  SetOpt(curl, CURLOPT_CERTINFO, 1L);
  SetOpt(curl, CURLOPT_TIMEOUT_MS, kCertificateProbeTimeoutMs);
  std::string pem;
  if (api.easy_perform(curl) == CURLE_OK && DescribeCertificate(curl, certificate, pem))
    r.FProbedCertificate = pem;
  api.easy_cleanup(curl);
}

void TCurlHTTPClient::DoServerCertificateAccepted(THTTPRequest &request) {
  auto &r = static_cast<TCurlHTTPRequest &>(request);
  r.FServerCertificateValidated = true;
  r.FServerCertificateAccepted = true;
}

void TCurlHTTPClient::DoGetClientCertificates(THTTPRequest &request, TCertificateList &list) {
  // No personal store here: the one configured certificate, if any.
  if (!request.HasClientCertificate()) return;
  TCertificate certificate;
  certificate.CertName =
      request.ClientCertPath().empty() ? "PKCS#12 data" : request.ClientCertPath();
  certificate.Subject = certificate.CertName;
  list.push_back(certificate);
}

bool TCurlHTTPClient::DoClientCertificateAccepted(THTTPRequest &request, int32_t index) {
  return index == 0 && request.HasClientCertificate();
}

bool TCurlHTTPClient::DoNoClientCertificate(THTTPRequest &) {
  // The server insists on a certificate; going on without one would only fail again.
  return false;
}

} // namespace vv
