// What the libcurl binding reads of certificates: the description of the
// server's certificate, the TLS library's verification result as a failure
// reason, and a first look at the configured client certificate.
#pragma once

#include <curl/curl.h>

#include <string>

#include "soap/client/HTTPClient.h"

namespace vv {

// Describes the first (the server's own) certificate of the chain the
// handle last received, and gives its text (PEM) in `pem`; false when the
// handle holds none.
bool DescribeCertificate(CURL *curl, TCertificate &certificate, std::string &pem);

// The failure reason of a verification result of the TLS library.
THTTPSecureFailureReason SecureFailureReasonOf(long verifyResult);

// Raises ENetHTTPRequestException when the request's client certificate
// cannot be what it claims: a file that cannot be read or holds no
// certificate, or data too large or not a DER sequence (PKCS#12).
void CheckClientCertificate(const THTTPRequest &request);

} // namespace vv
