#include "soap/client/CurlOptions.h"

#include <algorithm>

#include "rtl/StrUtils.h"
#include "soap/client/ClientLimits.h"
#include "soap/client/CurlHTTPRequest.h"
#include "soap/client/CurlPass.h"

namespace vv {

bool PostsBody(const std::string &method, int64_t total) {
  return method != "HEAD" && method != "PUT" && !(method == "GET" && total == 0);
}

namespace {

// The request line's method, and the body of `total` bytes that goes with
// it: read through the pass's callback, or handed over whole (`inline`).
void ApplyMethodOptions(CURL *curl, const std::string &method, int64_t total,
                        const char *inlineBody) {
  SetOptPointer(curl, CURLOPT_POSTFIELDS, nullptr);
  SetOpt(curl, CURLOPT_CUSTOMREQUEST, nullptr);
  SetOpt(curl, CURLOPT_NOBODY, 0L);
  SetOpt(curl, CURLOPT_UPLOAD, 0L);
  if (PostsBody(method, total)) {
    SetOpt(curl, CURLOPT_POST, 1L);
    SetOptSize(curl, CURLOPT_POSTFIELDSIZE_LARGE, total);
    if (inlineBody) SetOptPointer(curl, CURLOPT_POSTFIELDS, const_cast<char *>(inlineBody));
    if (method != "POST") SetOpt(curl, CURLOPT_CUSTOMREQUEST, method);
  } else if (method == "HEAD") {
    SetOpt(curl, CURLOPT_NOBODY, 1L);
  } else if (method == "PUT") {
    SetOpt(curl, CURLOPT_UPLOAD, 1L);
    SetOptSize(curl, CURLOPT_INFILESIZE_LARGE, total);
  } else {
    SetOpt(curl, CURLOPT_HTTPGET, 1L); // a GET without a body
  }
}

// The protocol range of the request; a libcurl that knows no TLS 1.3 gets
// the same range capped at TLS 1.2.
void ApplySSLVersion(CURL *curl, long version) {
  if (CurlApi().easy_setopt(curl, CURLOPT_SSLVERSION, version) == CURLE_OK) return;
  long without13 = version & 0xFFFF;
  if (without13 == CURL_SSLVERSION_TLSv1_3) without13 = CURL_SSLVERSION_TLSv1_2;
  SetOpt(curl, CURLOPT_SSLVERSION, without13 | CURL_SSLVERSION_MAX_TLSv1_2);
}

// The client certificate: a PEM file (certificate and key), or PKCS#12 data.
void ApplyClientCertificate(CURL *curl, const TCurlHTTPRequest &request) {
  const std::string &certPath = request.ClientCertPath();
  const std::string &certData = request.ClientCertData();
  bool certFile = !certPath.empty(), certBlob = !certFile && !certData.empty();
  SetOpt(curl, CURLOPT_SSLCERT, certFile ? certPath.c_str() : nullptr);
  SetOpt(curl, CURLOPT_SSLKEY, certFile ? certPath.c_str() : nullptr);
  if (certBlob) {
    curl_blob blob{const_cast<char *>(certData.data()), certData.size(), CURL_BLOB_COPY};
    CurlApi().easy_setopt(curl, CURLOPT_SSLCERT_BLOB, &blob);
  } else {
    SetOptPointer(curl, CURLOPT_SSLCERT_BLOB, nullptr);
  }
  SetOpt(curl, CURLOPT_SSLCERTTYPE, certFile ? "PEM" : certBlob ? "P12" : nullptr);
  SetOpt(curl, CURLOPT_KEYPASSWD,
         certFile || certBlob ? request.ClientCertPassword().c_str() : nullptr);
}

} // namespace

std::string CurlURL(const TURI &url) {
  std::string s = url.Scheme + "://" + url.Host;
  if (url.Port > 0) s += ":" + IntToStr(url.Port);
  return s + url.PathAndQuery();
}

void TCurlHTTPClient::ApplyConnectionOptions(TCurlHTTPRequest &request, CURL *curl) {
  SetOpt(curl, CURLOPT_URL, CurlURL(request.URL()));
  SetOpt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
  SetOpt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  SetOpt(curl, CURLOPT_NOSIGNAL, 1L);
  // libcurl would offer HTTP/2 on TLS by default.
  SetOpt(curl, CURLOPT_HTTP_VERSION,
         request.FHTTP2 ? long(CURL_HTTP_VERSION_2TLS) : long(CURL_HTTP_VERSION_1_1));
  SetOpt(curl, CURLOPT_CONNECTTIMEOUT_MS, long(std::max(0, request.ConnectionTimeout())));

  SetOpt(curl, CURLOPT_PROXY, request.FProxy);
  SetOpt(curl, CURLOPT_NOPROXY, request.FNoProxy);
  bool proxyCred = !request.FProxyUser.empty();
  SetOpt(curl, CURLOPT_PROXYUSERNAME, proxyCred ? request.FProxyUser.c_str() : nullptr);
  SetOpt(curl, CURLOPT_PROXYPASSWORD, proxyCred ? request.FProxyPassword.c_str() : nullptr);
  SetOpt(curl, CURLOPT_PROXYAUTH,
         long(proxyCred && request.FProxyAuth ? request.FProxyAuth : CURLAUTH_BASIC));

  // TLS: options that do not apply to a plain "http" address are harmless.
  ApplySSLVersion(curl, request.FSSLVersion);
  // An extra bundle is trusted in addition to the system's directory.
  SetOpt(curl, CURLOPT_CAPATH, kDefaultCADirectory);
  SetOpt(curl, CURLOPT_CAINFO, CAFile().empty() ? nullptr : CAFile().c_str());
  // A handle kept for later requests must read the certificate files anew
  // for each connection it makes: libcurl would otherwise keep what they
  // held, by their names, for a day.
  SetOpt(curl, CURLOPT_CA_CACHE_TIMEOUT, 0L);
  ApplyClientCertificate(curl, request);
  bool noticeCertRequest = request.URL().Scheme == "https" && !request.HasClientCertificate() &&
                           CurlApi().ssl_ctx_set_client_cert_cb;
  SetOptPointer(curl, CURLOPT_SSL_CTX_FUNCTION,
                noticeCertRequest ? reinterpret_cast<void *>(&NoticeClientCertificateRequest)
                                  : nullptr);
}

void TCurlHTTPClient::ApplyPassOptions(TCurlHTTPRequest &request, TCurlPass &pass,
                                       curl_slist *headers) {
  CURL *curl = request.FCurl;
  // The handle keeps what it learnt in earlier passes (a Digest challenge
  // above all), so every option is set here, whether used or not.
  ApplyConnectionOptions(request, curl);
  SetOpt(curl, CURLOPT_FOLLOWLOCATION, 0L);
  SetOpt(curl, CURLOPT_PATH_AS_IS, 1L);
  SetOptPointer(curl, CURLOPT_HTTPHEADER, headers);
  ApplyMethodOptions(curl, request.MethodString(), pass.Total,
                     pass.InlineBody ? pass.Inline.data() : nullptr);
  SetPassCallbacks(curl, pass);
  SetOpt(curl, CURLOPT_UPLOAD_BUFFERSIZE, long(kSendChunkSize));
  SetOptSize(curl, CURLOPT_MAXFILESIZE_LARGE, kMaxResponseBody);
  ApplyCredentialOptions(request, pass);

  if (!request.FAcceptEncoding.empty()) {
    SetOpt(curl, CURLOPT_ACCEPT_ENCODING, request.FAcceptEncoding);
    SetOpt(curl, CURLOPT_HTTP_CONTENT_DECODING, 1L);
  } else {
    SetOpt(curl, CURLOPT_ACCEPT_ENCODING, nullptr);
    SetOpt(curl, CURLOPT_HTTP_CONTENT_DECODING, 0L);
  }

  bool accepted = request.FServerCertificateAccepted;
  SetOpt(curl, CURLOPT_CERTINFO, pass.Https ? 1L : 0L);
  SetOpt(curl, CURLOPT_SSL_VERIFYPEER, accepted ? 0L : 1L);
  SetOpt(curl, CURLOPT_SSL_VERIFYHOST, accepted ? 0L : 2L);
  SetOptPointer(curl, CURLOPT_ERRORBUFFER, request.FErrorBuffer);
  request.FErrorBuffer[0] = '\0';
}

} // namespace vv
