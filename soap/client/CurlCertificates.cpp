#include "soap/client/CurlCertificates.h"

#include <cstring>
#include <fstream>

#include "rtl/StrUtils.h"
#include "soap/client/ClientLimits.h"
#include "soap/client/CurlLibrary.h"

namespace vv {

namespace {

// sha256WithRSAEncryption when it comes as its number: the description
// names it, as it names every other algorithm.
constexpr const char *SHA256RSAOid = "1.2.840.113549.1.1.11";

// The TLS library's verification results that have a reason of their own
// (its X509_V_ERR_* numbers, which are stable across its versions).
enum TVerifyResult : long {
  VerifyOK = 0, // passed, yet libcurl's own host-name check failed
  UnableToGetIssuerCert = 2,
  CertNotYetValid = 9,
  CertHasExpired = 10,
  ErrorInNotBeforeField = 13,
  ErrorInNotAfterField = 14,
  SelfSignedLeaf = 18,
  SelfSignedInChain = 19,
  UnableToGetIssuerCertLocally = 20,
  UnableToVerifyLeafSignature = 21,
  CertRevoked = 23,
  InvalidPurpose = 26,
  CertUntrusted = 27,
  CertRejected = 28,
  HostnameMismatch = 62,
};

// The value of "name:value" in a certificate's field list.
std::string CertField(curl_slist *fields, const char *name) {
  size_t len = std::strlen(name);
  for (curl_slist *f = fields; f; f = f->next)
    if (std::strncmp(f->data, name, len) == 0 && f->data[len] == ':') return f->data + len + 1;
  return {};
}

// The CN of a subject as the TLS library prints it ("C = X, CN = name").
std::string CommonName(const std::string &subject) {
  size_t pos = 0;
  while ((pos = subject.find("CN", pos)) != std::string::npos) {
    bool start =
        pos == 0 || subject[pos - 1] == ' ' || subject[pos - 1] == ',' || subject[pos - 1] == '/';
    size_t eq = subject.find_first_not_of(' ', pos + 2);
    if (start && eq != std::string::npos && subject[eq] == '=') {
      size_t b = subject.find_first_not_of(' ', eq + 1);
      if (b == std::string::npos) return {};
      size_t e = subject.find_first_of(",/", b);
      return Trim(subject.substr(b, e == std::string::npos ? e : e - b));
    }
    pos += 2;
  }
  return {};
}

[[noreturn]] void RefuseClientCertificate(const char *message) {
  throw ENetHTTPRequestException(
      message, {int(CURLE_SSL_CERTPROBLEM), CurlErrorText(CURLE_SSL_CERTPROBLEM)});
}

} // namespace

bool DescribeCertificate(CURL *curl, TCertificate &certificate, std::string &pem) {
  curl_certinfo *info = nullptr;
  if (CurlApi().easy_getinfo(curl, CURLINFO_CERTINFO, &info) != CURLE_OK || !info ||
      info->num_of_certs < 1)
    return false;
  curl_slist *f = info->certinfo[0];
  certificate.Subject = CertField(f, "Subject");
  certificate.Issuer = CertField(f, "Issuer");
  certificate.SerialNum = CertField(f, "Serial Number");
  certificate.Start = CertField(f, "Start date");
  certificate.Expiry = CertField(f, "Expire date");
  certificate.AlgSignature = CertField(f, "Signature Algorithm");
  if (certificate.AlgSignature == SHA256RSAOid)
    certificate.AlgSignature = "sha256WithRSAEncryption";
  certificate.AlgEncryption = CertField(f, "Public Key Algorithm");
  std::string bits = CertField(f, "RSA Public Key");
  if (bits.empty()) bits = CertField(f, "ECC Public Key");
  certificate.KeySize = StrToIntDef(Trim(bits), 0);
  certificate.PublicKey = CertField(f, "rsa(n)");
  certificate.CertName = CommonName(certificate.Subject);
  pem = CertField(f, "Cert");
  curl_tlssessioninfo *tls = nullptr;
  if (CurlApi().ssl_get_version &&
      CurlApi().easy_getinfo(curl, CURLINFO_TLS_SSL_PTR, &tls) == CURLE_OK && tls &&
      tls->backend == CURLSSLBACKEND_OPENSSL && tls->internals)
    certificate.ProtocolName = CurlApi().ssl_get_version(tls->internals);
  return true;
}

THTTPSecureFailureReason SecureFailureReasonOf(long verifyResult) {
  switch (verifyResult) {
  case UnableToGetIssuerCert:
  case SelfSignedLeaf:
  case SelfSignedInChain:
  case UnableToGetIssuerCertLocally:
  case UnableToVerifyLeafSignature:
  case CertUntrusted:
    return THTTPSecureFailureReason::InvalidCA;
  case CertNotYetValid:
  case CertHasExpired:
  case ErrorInNotBeforeField:
  case ErrorInNotAfterField:
    return THTTPSecureFailureReason::CertDateInvalid;
  case CertRevoked:
    return THTTPSecureFailureReason::CertRevoked;
  case InvalidPurpose:
  case CertRejected:
    return THTTPSecureFailureReason::CertWrongUsage;
  case HostnameMismatch:
  case VerifyOK:
    return THTTPSecureFailureReason::CertCNInvalid;
  default:
    return THTTPSecureFailureReason::InvalidCert;
  }
}

void CheckClientCertificate(const THTTPRequest &request) {
  if (!request.ClientCertPath().empty()) {
    std::ifstream in(request.ClientCertPath(), std::ios::binary);
    std::string text(kMaxClientCertificateFile, '\0');
    if (!in) RefuseClientCertificate("Error opening certificate file: (%d) %s");
    in.read(text.data(), std::streamsize(text.size()));
    text.resize(size_t(in.gcount()));
    if (text.find("-----BEGIN CERTIFICATE-----") == std::string::npos)
      RefuseClientCertificate("Certificate is not found in file: (%d) %s");
  } else if (request.ClientCertData().size() > kMaxClientCertificateFile) {
    RefuseClientCertificate("Error opening certificate file: (%d) %s");
  } else if (request.ClientCertData()[0] != 0x30) { // not a DER sequence: no PKCS#12 data
    RefuseClientCertificate("Certificate is not found in file: (%d) %s");
  }
}

} // namespace vv
