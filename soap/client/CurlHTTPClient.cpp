#include "soap/client/CurlHTTPClient.h"

#include <algorithm>
#include <bit>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>

#include "rtl/Base64.h"
#include "rtl/StrUtils.h"
#include "rtl/Stream.h"
#include "soap/client/CurlHTTPRequest.h"
#include "soap/client/CurlLibrary.h"
#include "soap/client/HTTPHeaderBlock.h"

namespace vv {

namespace {

using TClock = std::chrono::steady_clock;

static_assert(std::has_single_bit(uint64_t(TCurlHTTPClient::MaxResponseBody)));

constexpr size_t MaxClientCertificateFile = 1 << 20; // bytes
constexpr long MaxAuthProbeTimeout = 60000;          // ms, for the certificate probe
constexpr const char *SHA256RSAOid = "1.2.840.113549.1.1.11";

// ---- small helpers ----

bool IsToken(const std::string &s) {
  if (s.empty()) return false;
  for (char c : s)
    if (c <= ' ' || c >= 127 || std::strchr("()<>@,;:\\\"/[]?={}", c)) return false;
  return true;
}

// The schemes a challenge offers, as CURLAUTH_* bits.
unsigned long OfferedSchemes(const std::string &challenge) {
  unsigned long bits = 0;
  size_t pos = 0;
  while (pos <= challenge.size()) {
    size_t comma = challenge.find(',', pos);
    std::string part =
        Trim(challenge.substr(pos, comma == std::string::npos ? comma : comma - pos));
    std::string word = LowerCase(part.substr(0, part.find(' ')));
    if (word == "negotiate")
      bits |= CURLAUTH_NEGOTIATE;
    else if (word == "ntlm")
      bits |= CURLAUTH_NTLM;
    else if (word == "digest")
      bits |= CURLAUTH_DIGEST;
    else if (word == "basic")
      bits |= CURLAUTH_BASIC;
    if (comma == std::string::npos) break;
    pos = comma + 1;
  }
  return bits;
}

// Preferred scheme among `offered` that this libcurl can speak; 0 for none.
unsigned long ChooseScheme(unsigned long offered) {
  const curl_version_info_data *info = CurlApi().version_info(CURLVERSION_NOW);
  int features = info ? info->features : 0;
  if ((offered & CURLAUTH_NEGOTIATE) && (features & CURL_VERSION_SPNEGO)) return CURLAUTH_NEGOTIATE;
  if ((offered & CURLAUTH_NTLM) && (features & CURL_VERSION_NTLM)) return CURLAUTH_NTLM;
  if (offered & CURLAUTH_DIGEST) return CURLAUTH_DIGEST;
  if (offered & CURLAUTH_BASIC) return CURLAUTH_BASIC;
  return 0;
}

bool ChallengeWantsUTF8(const std::string &challenge) {
  std::string lower = LowerCase(challenge);
  size_t p = lower.find("charset=");
  if (p == std::string::npos) return false;
  std::string v = lower.substr(p + 8, 7);
  return v.rfind("\"utf-8\"", 0) == 0 || v.rfind("utf-8", 0) == 0;
}

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

// The description of the first (the server's own) certificate of a chain.
bool DescribeCertificate(CURL *curl, TCertificate &cert, std::string &pem) {
  curl_certinfo *info = nullptr;
  if (CurlApi().easy_getinfo(curl, CURLINFO_CERTINFO, &info) != CURLE_OK || !info ||
      info->num_of_certs < 1)
    return false;
  curl_slist *f = info->certinfo[0];
  cert.Subject = CertField(f, "Subject");
  cert.Issuer = CertField(f, "Issuer");
  cert.SerialNum = CertField(f, "Serial Number");
  cert.Start = CertField(f, "Start date");
  cert.Expiry = CertField(f, "Expire date");
  cert.AlgSignature = CertField(f, "Signature Algorithm");
  if (cert.AlgSignature == SHA256RSAOid) cert.AlgSignature = "sha256WithRSAEncryption";
  cert.AlgEncryption = CertField(f, "Public Key Algorithm");
  std::string bits = CertField(f, "RSA Public Key");
  if (bits.empty()) bits = CertField(f, "ECC Public Key");
  cert.KeySize = StrToIntDef(Trim(bits), 0);
  cert.PublicKey = CertField(f, "rsa(n)");
  cert.CertName = CommonName(cert.Subject);
  pem = CertField(f, "Cert");
  curl_tlssessioninfo *tls = nullptr;
  if (CurlApi().ssl_get_version &&
      CurlApi().easy_getinfo(curl, CURLINFO_TLS_SSL_PTR, &tls) == CURLE_OK && tls &&
      tls->backend == CURLSSLBACKEND_OPENSSL && tls->internals)
    cert.ProtocolName = CurlApi().ssl_get_version(tls->internals);
  return true;
}

// Verification results of the TLS library, as failure reasons.
THTTPSecureFailureReason ReasonOf(long verifyResult) {
  switch (verifyResult) {
  case 2:
  case 18:
  case 19:
  case 20:
  case 21:
  case 27:
    return THTTPSecureFailureReason::InvalidCA;
  case 9:
  case 10:
  case 13:
  case 14:
    return THTTPSecureFailureReason::CertDateInvalid;
  case 23:
    return THTTPSecureFailureReason::CertRevoked;
  case 26:
  case 28:
    return THTTPSecureFailureReason::CertWrongUsage;
  case 62:
  case 0:
    return THTTPSecureFailureReason::CertCNInvalid;
  default:
    return THTTPSecureFailureReason::InvalidCert;
  }
}

// ---- one pass: the state the libcurl callbacks share ----

struct TPass {
  TCurlHTTPClient *Client;
  TCurlHTTPRequest *Request;
  THTTPResponse *Response;
  THTTPSecureFailureReasons *Reasons;
  bool Https = false;

  TStream *Body = nullptr;
  int64_t BodyStart = 0, Total = 0, Sent = 0;

  TStream *Content = nullptr;
  int64_t Received = 0, Expected = -1;
  bool ReceiveStarted = false, ReceiveAborted = false, BodyTooLarge = false;

  std::string RawHeaders;
  size_t HeaderBytes = 0, HeaderLines = 0;
  bool HeaderTooLarge = false;
  int32_t StatusCode = 0;
  std::string StatusText;
  THTTPProtocolVersion Version = THTTPProtocolVersion::UNKNOWN_HTTP;

  bool Connected = false, Receiving = false;
  bool Stalled = false;
  // One answered request per pass: libcurl may decide to answer a
  // challenge on its own, which is the loop's decision (see OnConnected).
  // Sending again on a fresh connection when a reused one died unanswered
  // is libcurl's to do.
  bool OneRequest = true;
  bool RequestGone = false; // the request itself, not a proxy's CONNECT, went out
  bool Answered = false;    // and its final answer began
  bool SecondRequestRefused = false;
  TClock::time_point LastActivity = TClock::now();
  curl_off_t LastUl = 0, LastDl = 0;

  bool CertRefused = false;
  bool ClientCertRequested = false;
  std::exception_ptr Error;
};

// The pass running on this thread, for the TLS library's callback, which
// carries no user pointer of ours.
thread_local TPass *GCurrentPass = nullptr;

// Called during the handshake when the server asks for a client
// certificate and none is configured: note it and go on without one.
int OnClientCertRequested(void *, void **, void **) {
  if (GCurrentPass) GCurrentPass->ClientCertRequested = true;
  return 0;
}

CURLcode OnSslContext(CURL *, void *ctx, void *) {
  if (auto setCb = CurlApi().ssl_ctx_set_client_cert_cb) setCb(ctx, &OnClientCertRequested);
  return CURLE_OK;
}

size_t OnRead(char *buffer, size_t size, size_t nitems, void *user) {
  TPass &p = *static_cast<TPass *>(user);
  if (p.Request->IsCancelled()) return CURL_READFUNC_ABORT;
  try {
    int64_t want = std::min<int64_t>(
        {int64_t(size * nitems), TCurlHTTPClient::SendChunkSize, p.Total - p.Sent});
    if (want <= 0) return 0;
    int64_t got = p.Body->Read(buffer, want);
    if (got <= 0) return CURL_READFUNC_ABORT; // the body shrank under us
    p.Sent += got;
    bool abort = false;
    if (p.Request->OnSendData) p.Request->OnSendData(*p.Request, p.Total, p.Sent, abort);
    if (abort) {
      p.Request->Cancel();
      return CURL_READFUNC_ABORT;
    }
    return size_t(got);
  } catch (...) {
    p.Error = std::current_exception();
    return CURL_READFUNC_ABORT;
  }
}

int OnSeek(void *user, curl_off_t offset, int origin) {
  TPass &p = *static_cast<TPass *>(user);
  if (origin != SEEK_SET || offset < 0 || offset > p.Total) return CURL_SEEKFUNC_FAIL;
  try {
    p.Body->SetPosition(p.BodyStart + offset);
    p.Sent = offset;
    return CURL_SEEKFUNC_OK;
  } catch (...) {
    return CURL_SEEKFUNC_FAIL;
  }
}

// Every callback catches what it raises: an exception must never unwind
// through libcurl, which would then never free what it holds.
size_t OnHeader(char *buffer, size_t size, size_t nitems, void *user) {
  TPass &p = *static_cast<TPass *>(user);
  size_t len = size * nitems;
  p.Receiving = true;
  p.LastActivity = TClock::now();
  try {
    std::string_view line(buffer, len);
    if (line.rfind("HTTP/", 0) == 0) {
      // A new response begins (after an interim 1xx or a proxy's CONNECT answer).
      p.RawHeaders.clear();
      p.HeaderBytes = 0;
      p.HeaderLines = 0;
      std::string_view status = line.substr(0, line.find_first_of("\r\n"));
      ParseStatusLine(status, p.StatusCode, p.StatusText, p.Version);
      if (p.RequestGone && p.StatusCode >= 200) p.Answered = true;
    }
    p.HeaderBytes += len;
    if (++p.HeaderLines > TCurlHTTPClient::MaxHeaderLines ||
        p.HeaderBytes > TCurlHTTPClient::MaxHeaderBlock) {
      p.HeaderTooLarge = true;
      return 0;
    }
    p.RawHeaders.append(buffer, len);
    return len;
  } catch (...) {
    p.Error = std::current_exception();
    return 0;
  }
}

size_t OnWrite(char *buffer, size_t size, size_t nitems, void *user) {
  TPass &p = *static_cast<TPass *>(user);
  size_t len = size * nitems;
  if (p.Request->IsCancelled()) return 0;
  try {
    p.LastActivity = TClock::now();
    bool report = p.StatusCode < 300 && p.Request->OnReceiveData;
    bool abort = false;
    if (!p.ReceiveStarted) {
      p.ReceiveStarted = true;
      TNetHeaders headers;
      std::vector<std::string> cookies;
      ParseHeaderBlock(p.RawHeaders, headers, cookies);
      p.Response->SetHeaders(std::move(headers), std::move(cookies));
      p.Expected = p.Response->GetContentLength();
      if (p.Expected == 0) p.Expected = -1;
      if (report) p.Request->OnReceiveData(*p.Request, p.Expected, 0, abort);
    }
    if (abort) {
      p.ReceiveAborted = true;
      return 0;
    }
    if (p.Received + int64_t(len) > TCurlHTTPClient::MaxResponseBody) {
      p.BodyTooLarge = true;
      return 0;
    }
    p.Content->WriteBuffer(buffer, int64_t(len));
    p.Received += int64_t(len);
    if (report) p.Request->OnReceiveData(*p.Request, p.Expected, p.Received, abort);
    if (abort) {
      p.ReceiveAborted = true;
      return 0;
    }
    return len;
  } catch (...) {
    p.Error = std::current_exception();
    return 0;
  }
}

// Watches for a peer that stops moving: the send timeout while the body
// goes out, the response timeout while the answer is awaited and read.
int OnProgress(void *user, curl_off_t, curl_off_t dlnow, curl_off_t, curl_off_t ulnow) {
  TPass &p = *static_cast<TPass *>(user);
  if (p.Request->IsCancelled()) return 1;
  if (!p.Connected) return 0; // the connect timeout applies until then
  TClock::time_point now = TClock::now();
  if (ulnow != p.LastUl || dlnow != p.LastDl) {
    p.LastUl = ulnow;
    p.LastDl = dlnow;
    p.LastActivity = now;
  }
  if (ulnow >= p.Total) p.Receiving = true;
  int32_t limit = p.Receiving ? p.Request->ResponseTimeout() : p.Request->SendTimeout();
  if (limit > 0 && now - p.LastActivity > std::chrono::milliseconds(limit)) {
    p.Stalled = true;
    return 1;
  }
  return 0;
}

int OnConnected(void *user, char *, char *, int, int) {
  TPass &p = *static_cast<TPass *>(user);
  if (p.OneRequest && p.Answered) {
    p.SecondRequestRefused = true;
    return CURL_PREREQFUNC_ABORT;
  }
  p.RequestGone = true;
  p.Connected = true;
  p.LastActivity = TClock::now();
  if (p.Total == 0) p.Receiving = true;
  return p.Client->CheckServerCertificate(*p.Request, p.Https, p.CertRefused, p.Error)
             ? CURL_PREREQFUNC_OK
             : CURL_PREREQFUNC_ABORT;
}

void Set(CURL *c, CURLoption o, long v) { CurlApi().easy_setopt(c, o, v); }
// A text option; null restores libcurl's default.
void Set(CURL *c, CURLoption o, const char *v) { CurlApi().easy_setopt(c, o, v); }
void Set(CURL *c, CURLoption o, const std::string &v) { CurlApi().easy_setopt(c, o, v.c_str()); }
void SetPtr(CURL *c, CURLoption o, void *v) { CurlApi().easy_setopt(c, o, v); }
void SetLarge(CURL *c, CURLoption o, int64_t v) { CurlApi().easy_setopt(c, o, curl_off_t(v)); }

std::string CurlURL(const TURI &u) {
  std::string s = u.Scheme + "://" + u.Host;
  if (u.Port > 0) s += ":" + IntToStr(u.Port);
  return s + u.PathAndQuery();
}

// The header list of one pass: freed whatever ends the pass (out of
// memory included), after the handle has let go of it.
class THeaderList {
public:
  explicit THeaderList(CURL *curl) : FCurl(curl) {}
  ~THeaderList() {
    SetPtr(FCurl, CURLOPT_HTTPHEADER, nullptr); // the handle outlives the list
    if (FList) CurlApi().slist_free_all(FList);
  }
  THeaderList(const THeaderList &) = delete;
  THeaderList &operator=(const THeaderList &) = delete;
  curl_slist *Get() const { return FList; }
  void Add(const std::string &line) {
    curl_slist *next = CurlApi().slist_append(FList, line.c_str());
    if (!next)
      throw ENetHTTPRequestException(
          "Error adding header: (%d) %s",
          {int(CURLE_OUT_OF_MEMORY), CurlErrorText(CURLE_OUT_OF_MEMORY)});
    FList = next;
  }

private:
  CURL *FCurl;
  curl_slist *FList = nullptr;
};

void BuildHeaders(const THTTPRequest &r, THeaderList &list) {
  for (const TNameValuePair &h : r.GetHeaders())
    list.Add(h.Value.empty() ? h.Name + ";" : h.Name + ": " + h.Value);
  // libcurl would add these on its own; the request carries what it carries.
  for (const char *name : {"Accept", "Content-Type", "Expect"})
    if (r.GetHeaderValue(name).empty()) list.Add(std::string(name) + ":");
}

} // namespace

// ---- TCurlHTTPRequest ----

TCurlHTTPRequest::TCurlHTTPRequest(TCurlHTTPClient &client, const std::string &method,
                                   const TURI &url)
    : THTTPRequest(client, method, url) {
  if (!IsToken(method))
    throw ENetHTTPRequestException("Error opening request: (%d) %s",
                                   {int(CURLE_BAD_FUNCTION_ARGUMENT), "Invalid method"});
  FCurl = CurlApi().easy_init();
  if (!FCurl)
    throw ENetHTTPRequestException("Error opening request: (%d) %s",
                                   {int(CURLE_FAILED_INIT), CurlErrorText(CURLE_FAILED_INIT)});
}

TCurlHTTPRequest::~TCurlHTTPRequest() {
  if (FCurl) CurlApi().easy_cleanup(FCurl);
}

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

// ---- TCurlHTTPClient ----

std::unique_ptr<THTTPClient> THTTPClient::Create() { return std::make_unique<TCurlHTTPClient>(); }

TCurlHTTPClient::TCurlHTTPClient() = default;
TCurlHTTPClient::~TCurlHTTPClient() = default;

std::unique_ptr<THTTPRequest> TCurlHTTPClient::DoGetHTTPRequestInstance(const std::string &method,
                                                                        const TURI &url) {
  return std::make_unique<TCurlHTTPRequest>(*this, method, url);
}

std::unique_ptr<THTTPResponse> TCurlHTTPClient::DoGetHTTPResponseInstance(THTTPRequest &request,
                                                                          TStream *content) {
  return std::make_unique<TCurlHTTPResponse>(request, content);
}

void TCurlHTTPClient::DoPrepareRequest(THTTPRequest &request) {
  auto &r = static_cast<TCurlHTTPRequest &>(request);
  r.FHTTP2 = ProtocolVersion() == THTTPProtocolVersion::HTTP_2_0;
  PrepareProxy(r);
  PrepareSecureProtocols(r);
  const THTTPCompressionMethods dec = AutomaticDecompression();
  r.FAcceptEncoding.clear();
  if (dec.Contains(THTTPCompressionMethod::Any)) {
    r.FAcceptEncoding = "gzip, deflate";
  } else {
    if (dec.Contains(THTTPCompressionMethod::GZip)) r.FAcceptEncoding = "gzip";
    if (dec.Contains(THTTPCompressionMethod::Deflate))
      r.FAcceptEncoding += r.FAcceptEncoding.empty() ? "deflate" : ", deflate";
  }
  if (r.HasClientCertificate()) CheckClientCertificate(r);
}

void TCurlHTTPClient::PrepareProxy(TCurlHTTPRequest &r) {
  const TProxySettings &ps = ProxySettings();
  r.FProxyUser.clear();
  r.FProxyPassword.clear();
  r.FProxyAuth = 0;
  if (!ps.Host().empty()) {
    r.FProxy = (ps.Scheme().empty() ? "" : ps.Scheme() + "://") + ps.Host();
    if (ps.Port() > 0) r.FProxy += ":" + IntToStr(ps.Port());
    r.FNoProxy.clear();
    if (!ps.UserName().empty()) {
      r.FProxyUser = ps.UserName();
      r.FProxyPassword = ps.Password();
      r.FProxyAuth = r.FLastProxyAuthScheme ? r.FLastProxyAuthScheme : CURLAUTH_BASIC;
    }
    return;
  }
  // The server's own environment, lower-case names only: a CGI request's
  // "Proxy:" header arrives as HTTP_PROXY and must never steer us.
  const char *env = std::getenv(r.URL().Scheme == "https" ? "https_proxy" : "http_proxy");
  const char *no = std::getenv("no_proxy");
  r.FProxy = env ? env : "";
  r.FNoProxy = no ? no : "";
}

void TCurlHTTPClient::PrepareSecureProtocols(TCurlHTTPRequest &r) {
  r.FSSLVersion = CURL_SSLVERSION_DEFAULT;
  THTTPSecureProtocols set = SecureProtocols();
  if (set.Empty()) return;
  static const long mins[] = {CURL_SSLVERSION_SSLv2,   CURL_SSLVERSION_SSLv3,
                              CURL_SSLVERSION_TLSv1_0, CURL_SSLVERSION_TLSv1_1,
                              CURL_SSLVERSION_TLSv1_2, CURL_SSLVERSION_TLSv1_3};
  static const long maxs[] = {0,
                              0,
                              CURL_SSLVERSION_MAX_TLSv1_0,
                              CURL_SSLVERSION_MAX_TLSv1_1,
                              CURL_SSLVERSION_MAX_TLSv1_2,
                              CURL_SSLVERSION_MAX_TLSv1_3};
  int lo = -1, hi = -1;
  for (int i = 0; i < 6; ++i)
    if (set.Contains(THTTPSecureProtocol(i))) {
      if (lo < 0) lo = i;
      hi = i;
    }
  r.FSSLVersion = mins[lo] | maxs[hi];
}

void TCurlHTTPClient::CheckClientCertificate(TCurlHTTPRequest &r) {
  constexpr int code = CURLE_SSL_CERTPROBLEM;
  if (!r.ClientCertPath().empty()) {
    std::ifstream in(r.ClientCertPath(), std::ios::binary);
    std::string text(MaxClientCertificateFile, '\0');
    if (!in)
      throw ENetHTTPRequestException("Error opening certificate file: (%d) %s",
                                     {code, CurlErrorText(CURLE_SSL_CERTPROBLEM)});
    in.read(text.data(), std::streamsize(text.size()));
    text.resize(size_t(in.gcount()));
    if (text.find("-----BEGIN CERTIFICATE-----") == std::string::npos)
      throw ENetHTTPRequestException("Certificate is not found in file: (%d) %s",
                                     {code, CurlErrorText(CURLE_SSL_CERTPROBLEM)});
  } else if (r.ClientCertData().size() > MaxClientCertificateFile) {
    throw ENetHTTPRequestException("Error opening certificate file: (%d) %s",
                                   {code, CurlErrorText(CURLE_SSL_CERTPROBLEM)});
  } else if (r.ClientCertData()[0] != 0x30) { // not a DER sequence: no PKCS#12 data
    throw ENetHTTPRequestException("Certificate is not found in file: (%d) %s",
                                   {code, CurlErrorText(CURLE_SSL_CERTPROBLEM)});
  }
}

bool TCurlHTTPClient::CheckServerCertificate(TCurlHTTPRequest &r, bool https, bool &refused,
                                             std::exception_ptr &error) {
  if (!https) return true;
  try {
    TCertificate cert;
    std::string pem;
    if (r.FServerCertificateAccepted) {
      // The connection must present the very certificate that was accepted.
      if (!r.FProbedCertificate.empty() && DescribeCertificate(r.FCurl, cert, pem) &&
          pem != r.FProbedCertificate) {
        FSecureFailureReasons.Include(THTTPSecureFailureReason::CertNotAccepted);
        refused = true;
        return false;
      }
      return true;
    }
    if (r.FServerCertificateValidated || !FSecureFailureReasons.Empty() ||
        !OnValidateServerCertificate)
      return true;
    r.FServerCertificateValidated = true;
    DescribeCertificate(r.FCurl, cert, pem);
    bool accepted = true;
    OnValidateServerCertificate(*this, r, cert, accepted);
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

void TCurlHTTPClient::ApplyConnectionOptions(TCurlHTTPRequest &r, CURL *c) {
  const TCurlApi &api = CurlApi();
  Set(c, CURLOPT_URL, CurlURL(r.URL()));
  Set(c, CURLOPT_PROTOCOLS_STR, "http,https");
  Set(c, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  Set(c, CURLOPT_NOSIGNAL, 1L);
  // libcurl would offer HTTP/2 on TLS by default.
  Set(c, CURLOPT_HTTP_VERSION,
      r.FHTTP2 ? long(CURL_HTTP_VERSION_2TLS) : long(CURL_HTTP_VERSION_1_1));
  Set(c, CURLOPT_CONNECTTIMEOUT_MS, long(std::max(0, r.ConnectionTimeout())));

  Set(c, CURLOPT_PROXY, r.FProxy);
  Set(c, CURLOPT_NOPROXY, r.FNoProxy);
  bool proxyCred = !r.FProxyUser.empty();
  Set(c, CURLOPT_PROXYUSERNAME, proxyCred ? r.FProxyUser.c_str() : nullptr);
  Set(c, CURLOPT_PROXYPASSWORD, proxyCred ? r.FProxyPassword.c_str() : nullptr);
  Set(c, CURLOPT_PROXYAUTH, long(proxyCred && r.FProxyAuth ? r.FProxyAuth : CURLAUTH_BASIC));

  // TLS: options that do not apply to a plain "http" address are harmless.
  if (api.easy_setopt(c, CURLOPT_SSLVERSION, r.FSSLVersion) != CURLE_OK) {
    long without13 = r.FSSLVersion & 0xFFFF;
    if (without13 == CURL_SSLVERSION_TLSv1_3) without13 = CURL_SSLVERSION_TLSv1_2;
    Set(c, CURLOPT_SSLVERSION, without13 | CURL_SSLVERSION_MAX_TLSv1_2);
  }
  // The hashed system directory is looked up per issuer; the bundle file
  // would be parsed whole on every request. An extra bundle is trusted in
  // addition to the directory.
  Set(c, CURLOPT_CAPATH, DefaultCADirectory);
  Set(c, CURLOPT_CAINFO, FCAFile.empty() ? nullptr : FCAFile.c_str());
  const std::string &certPath = r.ClientCertPath();
  const std::string &certData = r.ClientCertData();
  bool certFile = !certPath.empty(), certBlob = !certFile && !certData.empty();
  Set(c, CURLOPT_SSLCERT, certFile ? certPath.c_str() : nullptr);
  Set(c, CURLOPT_SSLKEY, certFile ? certPath.c_str() : nullptr);
  if (certBlob) {
    curl_blob blob{const_cast<char *>(certData.data()), certData.size(), CURL_BLOB_COPY};
    api.easy_setopt(c, CURLOPT_SSLCERT_BLOB, &blob);
  } else {
    SetPtr(c, CURLOPT_SSLCERT_BLOB, nullptr);
  }
  Set(c, CURLOPT_SSLCERTTYPE, certFile ? "PEM" : certBlob ? "P12" : nullptr);
  Set(c, CURLOPT_KEYPASSWD, certFile || certBlob ? r.ClientCertPassword().c_str() : nullptr);
  bool noticeCertRequest =
      r.URL().Scheme == "https" && !r.HasClientCertificate() && api.ssl_ctx_set_client_cert_cb;
  SetPtr(c, CURLOPT_SSL_CTX_FUNCTION,
         noticeCertRequest ? reinterpret_cast<void *>(&OnSslContext) : nullptr);
}

void TCurlHTTPClient::ApplyOptions(TCurlHTTPRequest &r, void *pass, curl_slist *headers) {
  CURL *c = r.FCurl;
  TPass &p = *static_cast<TPass *>(pass);
  // The handle keeps what it learnt in earlier passes (a Digest challenge
  // above all), so every option is set here, whether used or not.
  ApplyConnectionOptions(r, c);
  Set(c, CURLOPT_FOLLOWLOCATION, 0L);
  Set(c, CURLOPT_PATH_AS_IS, 1L);
  SetPtr(c, CURLOPT_HTTPHEADER, headers);

  const std::string &method = r.MethodString();
  Set(c, CURLOPT_CUSTOMREQUEST, nullptr);
  Set(c, CURLOPT_NOBODY, 0L);
  Set(c, CURLOPT_UPLOAD, 0L);
  if (method == "HEAD") {
    Set(c, CURLOPT_NOBODY, 1L);
  } else if (method == "GET" && p.Total == 0) {
    Set(c, CURLOPT_HTTPGET, 1L);
  } else if (method == "PUT") {
    Set(c, CURLOPT_UPLOAD, 1L);
    SetLarge(c, CURLOPT_INFILESIZE_LARGE, p.Total);
  } else {
    Set(c, CURLOPT_POST, 1L);
    SetLarge(c, CURLOPT_POSTFIELDSIZE_LARGE, p.Total);
    if (method != "POST") Set(c, CURLOPT_CUSTOMREQUEST, method);
  }
  SetPtr(c, CURLOPT_READFUNCTION, reinterpret_cast<void *>(&OnRead));
  SetPtr(c, CURLOPT_READDATA, pass);
  SetPtr(c, CURLOPT_SEEKFUNCTION, reinterpret_cast<void *>(&OnSeek));
  SetPtr(c, CURLOPT_SEEKDATA, pass);
  Set(c, CURLOPT_UPLOAD_BUFFERSIZE, long(SendChunkSize));
  SetPtr(c, CURLOPT_HEADERFUNCTION, reinterpret_cast<void *>(&OnHeader));
  SetPtr(c, CURLOPT_HEADERDATA, pass);
  SetPtr(c, CURLOPT_WRITEFUNCTION, reinterpret_cast<void *>(&OnWrite));
  SetPtr(c, CURLOPT_WRITEDATA, pass);
  SetPtr(c, CURLOPT_XFERINFOFUNCTION, reinterpret_cast<void *>(&OnProgress));
  SetPtr(c, CURLOPT_XFERINFODATA, pass);
  Set(c, CURLOPT_NOPROGRESS, 0L);
  SetPtr(c, CURLOPT_PREREQFUNCTION, reinterpret_cast<void *>(&OnConnected));
  SetPtr(c, CURLOPT_PREREQDATA, pass);
  SetLarge(c, CURLOPT_MAXFILESIZE_LARGE, MaxResponseBody);

  bool serverCred = r.FServerAuth && !(r.FServerUser.empty() && r.FServerPassword.empty());
  Set(c, CURLOPT_USERNAME, serverCred ? r.FServerUser.c_str() : nullptr);
  Set(c, CURLOPT_PASSWORD, serverCred ? r.FServerPassword.c_str() : nullptr);
  Set(c, CURLOPT_HTTPAUTH, long(serverCred ? r.FServerAuth : CURLAUTH_BASIC));
  // Schemes that take several legs on one connection are libcurl's to run.
  constexpr unsigned long multiLeg = CURLAUTH_NTLM | CURLAUTH_NEGOTIATE;
  p.OneRequest = !((serverCred ? r.FServerAuth : 0) & multiLeg) &&
                 !((r.FProxyUser.empty() ? 0 : r.FProxyAuth) & multiLeg);

  if (!r.FAcceptEncoding.empty()) {
    Set(c, CURLOPT_ACCEPT_ENCODING, r.FAcceptEncoding);
    Set(c, CURLOPT_HTTP_CONTENT_DECODING, 1L);
  } else {
    Set(c, CURLOPT_ACCEPT_ENCODING, nullptr);
    Set(c, CURLOPT_HTTP_CONTENT_DECODING, 0L);
  }

  bool https = r.URL().Scheme == "https";
  Set(c, CURLOPT_CERTINFO, https ? 1L : 0L);
  Set(c, CURLOPT_SSL_VERIFYPEER, r.FServerCertificateAccepted ? 0L : 1L);
  Set(c, CURLOPT_SSL_VERIFYHOST, r.FServerCertificateAccepted ? 0L : 2L);
  SetPtr(c, CURLOPT_ERRORBUFFER, r.FErrorBuffer);
  r.FErrorBuffer[0] = '\0';
}

THTTPClient::TExecutionResult TCurlHTTPClient::DoExecuteRequest(THTTPRequest &request,
                                                                THTTPResponse &response) {
  auto &r = static_cast<TCurlHTTPRequest &>(request);
  TPass p;
  p.Client = this;
  p.Request = &r;
  p.Response = &response;
  p.Reasons = &FSecureFailureReasons;
  p.Https = r.URL().Scheme == "https";
  p.Content = &response.ContentStream();
  response.SetStatus(0, "", THTTPProtocolVersion::UNKNOWN_HTTP);
  response.SetHeaders({}, {});
  if (r.URL().Scheme != "http" && !p.Https)
    throw ENetHTTPClientException(
        "Error sending data: (%d) %s",
        {int(CURLE_UNSUPPORTED_PROTOCOL), CurlErrorText(CURLE_UNSUPPORTED_PROTOCOL)});
  THeaderList headers(r.FCurl);
  {
    std::lock_guard<std::mutex> guard(r.FLock);
    if (r.IsCancelled()) return TExecutionResult::Success;
    p.Body = r.SourceStream();
    p.BodyStart = p.Body ? p.Body->Position() : 0;
    p.Total = p.Body ? std::max<int64_t>(0, p.Body->Size() - p.BodyStart) : 0;
    BuildHeaders(r, headers);
    ApplyOptions(r, &p, headers.Get());
  }
  if (p.Total > 0 && r.OnSendData) {
    bool abort = false;
    r.OnSendData(r, p.Total, 0, abort);
    if (abort) r.Cancel();
  }
  GCurrentPass = &p;
  CURLcode rc = r.IsCancelled() ? CURLE_ABORTED_BY_CALLBACK : Perform(r);
  GCurrentPass = nullptr;
  return FinishPass(r, response, rc, &p);
}

CURLcode TCurlHTTPClient::Perform(TCurlHTTPRequest &r) {
  TCurlConnectionProfile profile;
  std::optional<TCurlConnectionLease> lease;
  if (KeepConnections() && ConnectionProfile(r, profile)) lease.emplace(r.FCurl, profile);
  return CurlApi().easy_perform(r.FCurl);
}

bool TCurlHTTPClient::ConnectionProfile(const TCurlHTTPRequest &r,
                                        TCurlConnectionProfile &profile) const {
  // A certificate accepted without its text cannot be told from another.
  if (r.FServerCertificateAccepted && r.FProbedCertificate.empty()) return false;
  const TURI &u = r.URL();
  profile.Origin = u.Scheme + "://" + u.Host + ":" + IntToStr(u.Port);
  profile.Proxy = r.FProxy;
  profile.NoProxy = r.FNoProxy;
  profile.ServerUser = r.FServerUser;
  profile.ServerPassword = r.FServerPassword;
  profile.ProxyUser = r.FProxyUser;
  profile.ProxyPassword = r.FProxyPassword;
  profile.SSLVersion = r.FSSLVersion;
  profile.HTTP2 = r.FHTTP2;
  profile.CAFile = FCAFile;
  profile.CAPath = DefaultCADirectory;
  profile.ClientCertPath = r.ClientCertPath();
  profile.ClientCertData = r.ClientCertData();
  profile.ClientCertPassword = r.ClientCertPassword();
  if (r.FServerCertificateAccepted) profile.AcceptedCertificate = r.FProbedCertificate;
  profile.Scope = FReuseScope;
  return true;
}

THTTPClient::TExecutionResult
TCurlHTTPClient::FinishPass(TCurlHTTPRequest &r, THTTPResponse &response, CURLcode rc, void *pass) {
  TPass &p = *static_cast<TPass *>(pass);
  if (p.Error) std::rethrow_exception(p.Error);
  if (r.IsCancelled()) {
    response.SetStatus(0, "", THTTPProtocolVersion::UNKNOWN_HTTP);
    response.SetHeaders({}, {});
    return TExecutionResult::Success;
  }
  if (p.StatusCode > 0 && !p.HeaderTooLarge) {
    TNetHeaders headers;
    std::vector<std::string> cookies;
    ParseHeaderBlock(p.RawHeaders, headers, cookies);
    response.SetStatus(p.StatusCode, p.StatusText, p.Version);
    response.SetHeaders(std::move(headers), std::move(cookies));
    r.FResponseArrived = true;
    r.FLastServerChallenge = response.GetHeaderValue("WWW-Authenticate");
    r.FServerAuthAvail = OfferedSchemes(r.FLastServerChallenge);
    r.FProxyAuthAvail = OfferedSchemes(response.GetHeaderValue("Proxy-Authenticate"));
  }
  // A request libcurl wanted to add on its own was not sent: the pass ends
  // with the answer that made it want one.
  if (rc == CURLE_OK || p.ReceiveAborted || p.SecondRequestRefused) {
    // An empty body still gets its opening progress report.
    if (!p.ReceiveStarted && p.StatusCode < 300 && r.OnReceiveData && r.MethodString() != "HEAD") {
      bool abort = false;
      int64_t expected = response.GetContentLength();
      r.OnReceiveData(r, expected == 0 ? -1 : expected, 0, abort);
    }
    return TExecutionResult::Success;
  }
  const char *step = p.Receiving ? "Error receiving data: (%d) %s" : "Error sending data: (%d) %s";
  if (p.BodyTooLarge || rc == CURLE_FILESIZE_EXCEEDED)
    throw ENetHTTPResponseException(
        "Error reading data: (%d) %s",
        {int(CURLE_FILESIZE_EXCEEDED), CurlErrorText(CURLE_FILESIZE_EXCEEDED)});
  if (p.HeaderTooLarge)
    throw ENetHTTPClientException("Error receiving data: (%d) %s",
                                  {int(CURLE_RECV_ERROR), "Response header block too large"});
  if (p.CertRefused) throw ENetHTTPCertificateException("Server Certificate not accepted");
  if (p.Stalled)
    throw ENetHTTPClientException(
        step, {int(CURLE_OPERATION_TIMEDOUT), CurlErrorText(CURLE_OPERATION_TIMEDOUT)});
  if (rc == CURLE_SSL_CERTPROBLEM)
    throw ENetHTTPRequestException("Error opening certificate file: (%d) %s",
                                   {int(rc), CurlErrorText(rc)});
  if (rc == CURLE_PEER_FAILED_VERIFICATION || rc == CURLE_SSL_ISSUER_ERROR) {
    long verify = 0;
    CurlApi().easy_getinfo(r.FCurl, CURLINFO_SSL_VERIFYRESULT, &verify);
    FSecureFailureReasons.Include(ReasonOf(verify));
    if (FSecureFailureReasons ==
            THTTPSecureFailureReasons{THTTPSecureFailureReason::SecurityChannelError} ||
        r.FServerCertificateAccepted)
      throw ENetHTTPClientException(step, {int(rc), CurlErrorText(rc)});
    return TExecutionResult::ServerCertificateInvalid;
  }
  if ((p.ClientCertRequested || std::strstr(r.FErrorBuffer, "certificate required")) &&
      !r.FClientCertificateAsked) {
    r.FClientCertificateAsked = true;
    return TExecutionResult::ClientCertificateNeeded;
  }
  if (rc == CURLE_SSL_CONNECT_ERROR)
    FSecureFailureReasons.Include(THTTPSecureFailureReason::SecurityChannelError);
  throw ENetHTTPClientException(step, {int(rc), CurlErrorText(rc)});
}

void TCurlHTTPClient::DoReadData(THTTPRequest &, THTTPResponse &) {
  // The exchange itself streamed the body into the content stream.
}

bool TCurlHTTPClient::DoSetCredential(TAuthTargetType target, THTTPRequest &request,
                                      const TCredential &credential) {
  auto &r = static_cast<TCurlHTTPRequest &>(request);
  bool server = target == TAuthTargetType::Server;
  unsigned long &last = server ? r.FLastServerAuthScheme : r.FLastProxyAuthScheme;
  unsigned long scheme = last;
  if (!scheme) {
    scheme = r.FResponseArrived ? ChooseScheme(server ? r.FServerAuthAvail : r.FProxyAuthAvail) : 0;
    if (scheme)
      last = scheme;
    else
      scheme = CURLAUTH_BASIC; // no challenge yet: Basic, not remembered
  }
  if (server) {
    bool header = scheme == CURLAUTH_BASIC && !credential.UserName.empty() &&
                  (!r.FResponseArrived || ChallengeWantsUTF8(r.FLastServerChallenge));
    if (header) {
      r.SetHeaderValue("Authorization",
                       "Basic " + Base64Encode(credential.UserName + ":" + credential.Password));
    } else if (r.FPreemptiveHeader) {
      r.RemoveHeader("Authorization");
    }
    r.FPreemptiveHeader = header;
    // libcurl is told the credential as well (it sends no Basic of its own
    // beside our header): a challenge that arrives while libcurl knows no
    // credential stays "already seen" in its state, and it would then answer
    // the next one by itself.
    r.FServerUser = credential.UserName;
    r.FServerPassword = credential.Password;
    r.FServerAuth = scheme;
  } else {
    r.FProxyUser = credential.UserName;
    r.FProxyPassword = credential.Password;
    r.FProxyAuth = scheme;
  }
  return true;
}

void TCurlHTTPClient::DoGetServerCertificate(THTTPRequest &request, TCertificate &certificate) {
  auto &r = static_cast<TCurlHTTPRequest &>(request);
  const TCurlApi &api = CurlApi();
  CURL *c = api.easy_init();
  if (!c) return;
  // A handshake of its own, without verification, only to read what the
  // server presents; nothing is sent over it. It is prepared like a pass,
  // so the server sees the same client (protocol version, proxy, TLS).
  ApplyConnectionOptions(r, c);
  Set(c, CURLOPT_CONNECT_ONLY, 1L);
  Set(c, CURLOPT_SSL_VERIFYPEER, 0L);
  Set(c, CURLOPT_SSL_VERIFYHOST, 0L);
  Set(c, CURLOPT_CERTINFO, 1L);
  Set(c, CURLOPT_TIMEOUT_MS, MaxAuthProbeTimeout);
  std::string pem;
  if (api.easy_perform(c) == CURLE_OK && DescribeCertificate(c, certificate, pem))
    r.FProbedCertificate = pem;
  api.easy_cleanup(c);
}

void TCurlHTTPClient::DoServerCertificateAccepted(THTTPRequest &request) {
  auto &r = static_cast<TCurlHTTPRequest &>(request);
  r.FServerCertificateValidated = true;
  r.FServerCertificateAccepted = true;
}

void TCurlHTTPClient::DoGetClientCertificates(THTTPRequest &request, TCertificateList &list) {
  // No personal store here: the one configured certificate, if any.
  if (!request.HasClientCertificate()) return;
  TCertificate c;
  c.CertName = request.ClientCertPath().empty() ? "PKCS#12 data" : request.ClientCertPath();
  c.Subject = c.CertName;
  list.push_back(c);
}

bool TCurlHTTPClient::DoClientCertificateAccepted(THTTPRequest &request, int32_t index) {
  return index == 0 && request.HasClientCertificate();
}

bool TCurlHTTPClient::DoNoClientCertificate(THTTPRequest &) {
  // The server insists on a certificate; going on without one would only fail again.
  return false;
}

} // namespace vv
