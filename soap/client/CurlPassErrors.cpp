// How a pass that libcurl ended with an error ends for the loop: the
// outcome that lets the loop decide (an invalid server certificate, a
// client certificate wanted), or the error raised, with the message of
// the step the pass was in.
#include <cstring>

#include "soap/client/CurlCertificates.h"
#include "soap/client/CurlHTTPRequest.h"
#include "soap/client/CurlLibrary.h"
#include "soap/client/CurlPass.h"

namespace vv {

namespace {

[[noreturn]] void Raise(const char *step, CURLcode code) {
  throw ENetHTTPClientException(step, {int(code), CurlErrorText(code)});
}

} // namespace

THTTPClient::TExecutionResult TCurlHTTPClient::FailedPass(TCurlHTTPRequest &request, CURLcode code,
                                                          const TCurlPass &pass) {
  const char *step =
      pass.Receiving ? "Error receiving data: (%d) %s" : "Error sending data: (%d) %s";
  if (pass.BodyTooLarge || code == CURLE_FILESIZE_EXCEEDED)
    throw ENetHTTPResponseException(
        "Error reading data: (%d) %s",
        {int(CURLE_FILESIZE_EXCEEDED), CurlErrorText(CURLE_FILESIZE_EXCEEDED)});
  if (pass.HeaderTooLarge)
    throw ENetHTTPClientException("Error receiving data: (%d) %s",
                                  {int(CURLE_RECV_ERROR), "Response header block too large"});
  if (pass.CertRefused) throw ENetHTTPCertificateException("Server Certificate not accepted");
  if (pass.Stalled) Raise(step, CURLE_OPERATION_TIMEDOUT);
  if (code == CURLE_SSL_CERTPROBLEM)
    throw ENetHTTPRequestException("Error opening certificate file: (%d) %s",
                                   {int(code), CurlErrorText(code)});
  if (code == CURLE_PEER_FAILED_VERIFICATION || code == CURLE_SSL_ISSUER_ERROR) {
    long verify = 0;
    CurlApi().easy_getinfo(request.FCurl, CURLINFO_SSL_VERIFYRESULT, &verify);
    FSecureFailureReasons.Include(SecureFailureReasonOf(verify));
    if (FSecureFailureReasons ==
            THTTPSecureFailureReasons{THTTPSecureFailureReason::SecurityChannelError} ||
        request.FServerCertificateAccepted)
      Raise(step, code);
    return TExecutionResult::ServerCertificateInvalid;
  }
  if ((pass.ClientCertRequested || std::strstr(request.FErrorBuffer, "certificate required")) &&
      !request.FClientCertificateAsked) {
    request.FClientCertificateAsked = true;
    return TExecutionResult::ClientCertificateNeeded;
  }
  if (code == CURLE_SSL_CONNECT_ERROR)
    FSecureFailureReasons.Include(THTTPSecureFailureReason::SecurityChannelError);
  Raise(step, code);
}

} // namespace vv
