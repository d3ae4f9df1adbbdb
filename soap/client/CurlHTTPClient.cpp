#include "soap/client/CurlHTTPClient.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <optional>

#include "rtl/StrUtils.h"
#include "rtl/Stream.h"
#include "soap/client/ClientLimits.h"
#include "soap/client/CurlCertificates.h"
#include "soap/client/CurlHTTPRequest.h"
#include "soap/client/CurlHeaderList.h"
#include "soap/client/CurlLibrary.h"
#include "soap/client/CurlOptions.h"
#include "soap/client/CurlPass.h"
#include "soap/client/HTTPChallenge.h"
#include "soap/client/HTTPHeaderBlock.h"

namespace vv {

static_assert(std::has_single_bit(uint64_t(kMaxResponseBody)));

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

// ---- before a pass ----

void TCurlHTTPClient::DoPrepareRequest(THTTPRequest &request) {
  auto &r = static_cast<TCurlHTTPRequest &>(request);
  r.FHTTP2 = ProtocolVersion() == THTTPProtocolVersion::HTTP_2_0;
  PrepareProxy(r);
  PrepareSecureProtocols(r);
  PrepareDecompression(r);
  if (r.HasClientCertificate()) CheckClientCertificate(r);
}

void TCurlHTTPClient::PrepareProxy(TCurlHTTPRequest &request) {
  const TProxySettings &ps = ProxySettings();
  request.FProxyUser.clear();
  request.FProxyPassword.clear();
  request.FProxyAuth = 0;
  if (!ps.Host().empty()) {
    request.FProxy = (ps.Scheme().empty() ? "" : ps.Scheme() + "://") + ps.Host();
    if (ps.Port() > 0) request.FProxy += ":" + IntToStr(ps.Port());
    request.FNoProxy.clear();
    if (!ps.UserName().empty()) {
      request.FProxyUser = ps.UserName();
      request.FProxyPassword = ps.Password();
      request.FProxyAuth =
          request.FLastProxyAuthScheme ? request.FLastProxyAuthScheme : CURLAUTH_BASIC;
    }
    return;
  }
  // The server's own environment, lower-case names only: a CGI request's
  // "Proxy:" header arrives as HTTP_PROXY and must never steer us.
  const char *env = std::getenv(request.URL().Scheme == "https" ? "https_proxy" : "http_proxy");
  const char *no = std::getenv("no_proxy");
  request.FProxy = env ? env : "";
  request.FNoProxy = no ? no : "";
}

void TCurlHTTPClient::PrepareSecureProtocols(TCurlHTTPRequest &request) {
  request.FSSLVersion = CURL_SSLVERSION_DEFAULT;
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
  request.FSSLVersion = mins[lo] | maxs[hi];
}

void TCurlHTTPClient::PrepareDecompression(TCurlHTTPRequest &request) {
  const THTTPCompressionMethods methods = AutomaticDecompression();
  request.FAcceptEncoding.clear();
  if (methods.Contains(THTTPCompressionMethod::Any)) {
    request.FAcceptEncoding = "gzip, deflate";
    return;
  }
  if (methods.Contains(THTTPCompressionMethod::GZip)) request.FAcceptEncoding = "gzip";
  if (methods.Contains(THTTPCompressionMethod::Deflate))
    request.FAcceptEncoding += request.FAcceptEncoding.empty() ? "deflate" : ", deflate";
}

// ---- the pass ----

THTTPClient::TExecutionResult TCurlHTTPClient::DoExecuteRequest(THTTPRequest &request,
                                                                THTTPResponse &response) {
  auto &r = static_cast<TCurlHTTPRequest &>(request);
  TCurlPass pass(*this, r, response);
  response.SetStatus(0, "", THTTPProtocolVersion::UNKNOWN_HTTP);
  response.SetHeaders({}, {});
  if (r.URL().Scheme != "http" && !pass.Https)
    throw ENetHTTPClientException(
        "Error sending data: (%d) %s",
        {int(CURLE_UNSUPPORTED_PROTOCOL), CurlErrorText(CURLE_UNSUPPORTED_PROTOCOL)});
  TCurlHeaderList headers(r.FCurl);
  {
    std::lock_guard<std::mutex> guard(r.FLock);
    if (r.IsCancelled()) return TExecutionResult::Success;
    pass.Body = r.SourceStream();
    pass.BodyStart = pass.Body ? pass.Body->Position() : 0;
    pass.Total = pass.Body ? std::max<int64_t>(0, pass.Body->Size() - pass.BodyStart) : 0;
    TakeInlineBody(r, pass);
    BuildHeaderList(r, headers);
    ApplyPassOptions(r, pass, headers.Get());
  }
  if (pass.Total > 0 && r.OnSendData) {
    bool abort = false;
    r.OnSendData(r, pass.Total, 0, abort);
    if (abort) r.Cancel();
  }
  CURLcode code = CURLE_ABORTED_BY_CALLBACK;
  if (!r.IsCancelled()) {
    TCurrentPass current(pass);
    code = Perform(r, pass);
  }
  return FinishPass(r, response, code, pass);
}

// A small body sent as a POST (POST and its kind, not PUT) is handed to libcurl whole, which sends
// it in one write with the head: the server reads the request at once instead of waking for the
// head and again for the body. The bytes are the same.
void TCurlHTTPClient::TakeInlineBody(TCurlHTTPRequest &request, TCurlPass &pass) {
  if (!pass.Body || pass.Total <= 0 || pass.Total > kMaxInlineBody ||
      !PostsBody(request.MethodString(), pass.Total))
    return;
  pass.Inline.resize(size_t(pass.Total));
  int64_t have = 0;
  while (have < pass.Total) {
    int64_t got = pass.Body->Read(pass.Inline.data() + have, pass.Total - have);
    if (got <= 0) break;
    have += got;
  }
  if (have == pass.Total) {
    pass.InlineBody = true;
    return;
  }
  // The body shrank under us: the streamed road tells it.
  pass.Body->SetPosition(pass.BodyStart);
  pass.Inline = std::string();
}

CURLcode TCurlHTTPClient::Perform(TCurlHTTPRequest &request, TCurlPass &pass) {
  TCurlConnectionProfile profile;
  std::optional<TCurlConnectionLease> lease;
  if (KeepConnections() && ConnectionProfile(request, profile)) {
    lease.emplace(request.FCurl, profile);
    if (lease->Attached()) pass.Lease = &*lease;
  }
  if (!pass.Lease) request.FOwnConnections = true;
  CURLcode code = CurlApi().easy_perform(request.FCurl);
  pass.Lease = nullptr;
  return code;
}

bool TCurlHTTPClient::ConnectionProfile(const TCurlHTTPRequest &request,
                                        TCurlConnectionProfile &profile) const {
  // A certificate accepted without its text cannot be told from another.
  if (request.FServerCertificateAccepted && request.FProbedCertificate.empty()) return false;
  const TURI &url = request.URL();
  profile.Origin = url.Scheme + "://" + url.Host + ":" + IntToStr(url.Port);
  profile.Proxy = request.FProxy;
  profile.NoProxy = request.FNoProxy;
  profile.ServerUser = request.FServerUser;
  profile.ServerPassword = request.FServerPassword;
  profile.ProxyUser = request.FProxyUser;
  profile.ProxyPassword = request.FProxyPassword;
  profile.SSLVersion = request.FSSLVersion;
  profile.HTTP2 = request.FHTTP2;
  profile.CAFile = CAFile();
  profile.CAPath = kDefaultCADirectory;
  profile.ClientCertPath = request.ClientCertPath();
  profile.ClientCertData = request.ClientCertData();
  profile.ClientCertPassword = request.ClientCertPassword();
  if (request.FServerCertificateAccepted) profile.AcceptedCertificate = request.FProbedCertificate;
  profile.Scope = ReuseScope();
  return true;
}

THTTPClient::TExecutionResult TCurlHTTPClient::FinishPass(TCurlHTTPRequest &request,
                                                          THTTPResponse &response, CURLcode code,
                                                          TCurlPass &pass) {
  if (pass.Error) std::rethrow_exception(pass.Error);
  if (request.IsCancelled()) {
    response.SetStatus(0, "", THTTPProtocolVersion::UNKNOWN_HTTP);
    response.SetHeaders({}, {});
    return TExecutionResult::Success;
  }
  if (pass.StatusCode > 0 && !pass.HeaderTooLarge) {
    TNetHeaders headers;
    std::vector<std::string> cookies;
    ParseHeaderBlock(pass.RawHeaders, headers, cookies);
    response.SetStatus(pass.StatusCode, pass.StatusText, pass.Version);
    response.SetHeaders(std::move(headers), std::move(cookies));
    request.FResponseArrived = true;
    request.FLastServerChallenge = response.GetHeaderValue("WWW-Authenticate");
    request.FServerAuthAvail = ChallengeSchemes(request.FLastServerChallenge);
    request.FProxyAuthAvail = ChallengeSchemes(response.GetHeaderValue("Proxy-Authenticate"));
  }
  // A request libcurl wanted to add on its own was not sent: the pass ends
  // with the answer that made it want one.
  if (code != CURLE_OK && !pass.ReceiveAborted && !pass.SecondRequestRefused)
    return FailedPass(request, code, pass);
  // An empty body still gets its opening progress report.
  if (!pass.ReceiveStarted && pass.StatusCode < 300 && request.OnReceiveData &&
      request.MethodString() != "HEAD") {
    bool abort = false;
    int64_t expected = response.GetContentLength();
    request.OnReceiveData(request, expected == 0 ? -1 : expected, 0, abort);
  }
  return TExecutionResult::Success;
}

void TCurlHTTPClient::DoReadData(THTTPRequest &, THTTPResponse &) {
  // The exchange itself streamed the body into the content stream.
}

} // namespace vv
