#include "soap/client/HTTPClient.h"

#include "rtl/ScopeGuard.h"
#include "rtl/StrUtils.h"
#include "rtl/Stream.h"

namespace vv {

namespace {

// A safety net against a binding that keeps asking for another pass; far
// above what redirects and authentication rounds need.
constexpr int32_t MaxPassesPerExecute = 64;

bool IsRedirectStatus(int32_t code) {
  return (code >= 300 && code <= 303) || code == 307 || code == 308;
}

// The redirect rule that matches a method and a status, if any.
bool RedirectRule(const std::string &method, int32_t code, THTTPRedirectWithGET &rule) {
  int col = code == 301   ? 0
            : code == 302 ? 1
            : code == 303 ? 2
            : code == 307 ? 3
            : code == 308 ? 4
                          : -1;
  int row = SameText(method, "POST")     ? 0
            : SameText(method, "PUT")    ? 1
            : SameText(method, "DELETE") ? 2
                                         : -1;
  if (col < 0 || row < 0) return false;
  rule = THTTPRedirectWithGET(row * 5 + col);
  return true;
}

// The value of the quoted realm parameter of a challenge.
std::string RealmOf(const std::string &challenge) {
  std::string lower = LowerCase(challenge);
  size_t p = lower.find("realm=");
  if (p == std::string::npos) return {};
  p += 6;
  if (p < challenge.size() && challenge[p] == '"') {
    size_t end = challenge.find('"', p + 1);
    return challenge.substr(p + 1, end == std::string::npos ? std::string::npos : end - p - 1);
  }
  size_t end = challenge.find_first_of(", ", p);
  return challenge.substr(p, end == std::string::npos ? std::string::npos : end - p);
}

void CutBack(TStream &s, int64_t size, int64_t pos) {
  if (s.Size() != size) s.SetSize(size);
  s.SetPosition(pos);
}

} // namespace

// ---- THTTPRequest ----

THTTPRequest::THTTPRequest(THTTPClient &client, std::string method, TURI url)
    : TURLRequest(client, std::move(method), std::move(url)) {}

THTTPRequest::~THTTPRequest() = default;

std::string THTTPRequest::GetHeaderValue(const std::string &name) const {
  for (const TNameValuePair &h : FHeaders)
    if (SameText(h.Name, name)) return h.Value;
  return {};
}

void THTTPRequest::SetHeaderValue(const std::string &name, const std::string &value) {
  CheckHeader(name, value);
  for (TNameValuePair &h : FHeaders)
    if (SameText(h.Name, name)) {
      h.Value = value;
      return;
    }
  FHeaders.push_back({name, value});
}

void THTTPRequest::AddHeader(const std::string &name, const std::string &value) {
  CheckHeader(name, value);
  for (TNameValuePair &h : FHeaders)
    if (SameText(h.Name, name)) {
      h.Value += ", " + value;
      return;
    }
  FHeaders.push_back({name, value});
}

bool THTTPRequest::RemoveHeader(const std::string &name) {
  bool found = false;
  for (size_t i = FHeaders.size(); i-- > 0;)
    if (SameText(FHeaders[i].Name, name)) {
      FHeaders.erase(FHeaders.begin() + i);
      found = true;
    }
  return found;
}

void THTTPRequest::CheckHeader(const std::string &name, const std::string &value) {
  // A line break would let a value start a header of its own (or a body).
  constexpr int32_t BadArgument = 43;
  bool ok = !name.empty() && name.find_first_of(":\r\n \t") == std::string::npos &&
            value.find_first_of("\r\n") == std::string::npos &&
            value.find('\0') == std::string::npos;
  if (!ok)
    throw ENetHTTPRequestException("Error adding header: (%d) %s",
                                   {BadArgument, "Header name or value not allowed"});
}

// ---- THTTPResponse ----

THTTPResponse::THTTPResponse(THTTPRequest &request, TStream *content)
    : TURLResponse(content), FRequest(request) {}

THTTPResponse::~THTTPResponse() = default;

std::string THTTPResponse::GetHeaderValue(const std::string &name) const {
  for (const TNameValuePair &h : FHeaders)
    if (SameText(h.Name, name)) return h.Value;
  return {};
}

bool THTTPResponse::ContainsHeader(const std::string &name) const {
  for (const TNameValuePair &h : FHeaders)
    if (SameText(h.Name, name)) return true;
  return false;
}

int64_t THTTPResponse::GetContentLength() const {
  std::string v = Trim(GetHeaderValue("Content-Length"));
  if (v.empty() || v.size() > 18) return -1;
  int64_t n = 0;
  for (char c : v) {
    if (c < '0' || c > '9') return -1;
    n = n * 10 + (c - '0');
  }
  return n;
}

void THTTPResponse::SetStatus(int32_t code, std::string text, THTTPProtocolVersion version) {
  FStatusCode = code;
  FStatusText = std::move(text);
  FVersion = version;
}

void THTTPResponse::SetHeaders(TNetHeaders headers, std::vector<std::string> cookies) {
  FHeaders = std::move(headers);
  FCookies = std::move(cookies);
}

// ---- THTTPClient ----

THTTPClient::THTTPClient() = default;
THTTPClient::~THTTPClient() = default;

std::unique_ptr<THTTPRequest> THTTPClient::GetRequest(const std::string &method,
                                                      const std::string &url) {
  TURI uri(url);
  std::unique_ptr<THTTPRequest> request = DoGetHTTPRequestInstance(method, uri);
  for (const TNameValuePair &h : FCustomHeaders) request->AddHeader(h.Name, h.Value);
  request->OnSendData = OnSendData;
  request->OnReceiveData = OnReceiveData;
  return request;
}

std::unique_ptr<THTTPResponse> THTTPClient::Execute(THTTPRequest &request, TStream *content,
                                                    const TNetHeaders &headers) {
  if (request.IsCancelled()) {
    request.FCancelled = false;
    request.DoResetCancel();
  }
  for (const TNameValuePair &h : headers) request.SetHeaderValue(h.Name, h.Value);
  std::unique_ptr<THTTPResponse> response = DoGetHTTPResponseInstance(request, content);
  TStream *body = request.SourceStream();
  TStream &out = response->ContentStream();
  int64_t bodyPos = body ? body->Position() : 0;
  int64_t contentPos = out.Position(), contentSize = out.Size();
  {
    TScopeGuard restore([&] {
      if (body) body->Seek(0, TSeekOrigin::soEnd);
      out.SetPosition(contentPos);
    });
    RunLoop(request, *response, bodyPos, contentPos, contentSize);
  }
  return response;
}

void THTTPClient::RunLoop(THTTPRequest &request, THTTPResponse &response, int64_t bodyPos,
                          int64_t contentPos, int64_t contentSize) {
  FState = THTTPState{};
  FSecureFailureReasons.Clear();
  FServerCredentialsBlocked = false;
  FServerRealm.clear();
  FProxyRealm.clear();
  TCertificateList offered;
  for (int32_t pass = 0;; ++pass) {
    if (request.IsCancelled()) break;
    if (pass >= MaxPassesPerExecute)
      throw ENetHTTPClientException("Execution of request terminated with unknown error");
    DoPrepareRequest(request);
    std::string cookies = FCookieManager.CookieHeaders(request.URL());
    if (!cookies.empty()) request.SetHeaderValue("Cookie", cookies);
    if (!SetServerCredential(request, response) || !SetProxyCredential(request, response)) break;
    FState.Status = InternalState::Other;
    if (request.SourceStream()) request.SourceStream()->SetPosition(bodyPos);
    CutBack(response.ContentStream(), contentSize, contentPos);

    bool stop = false;
    switch (DoExecuteRequest(request, response)) {
    case TExecutionResult::Success:
      // Cookies belong to the URL that answered, before a redirect moves on.
      TakeCookies(request, response);
      stop = HandleStatus(request, response);
      break;
    case TExecutionResult::ServerCertificateInvalid:
      ValidateServerCertificate(request);
      break;
    case TExecutionResult::ClientCertificateNeeded:
      ChooseClientCertificate(request, offered);
      break;
    case TExecutionResult::Retry:
      continue;
    default:
      throw ENetHTTPClientException("Execution of request terminated with unknown error");
    }
    if (stop) break;
  }
}

bool THTTPClient::HandleStatus(THTTPRequest &request, THTTPResponse &response) {
  if (!SameText(request.MethodString(), "HEAD")) DoReadData(request, response);
  int32_t code = response.StatusCode();
  if (request.IsCancelled() || code == 200) return true;
  if (code == 401) {
    if (FPreemptiveAuthentication) FState.ServerCredential = TCredential();
    FState.Status = InternalState::ServerAuthRequired;
    return false;
  }
  if (code == 407) {
    if (FPreemptiveAuthentication) FState.ProxyCredential = TCredential();
    FState.Status = InternalState::ProxyAuthRequired;
    return false;
  }
  if (IsRedirectStatus(code)) {
    FSecureFailureReasons.Clear();
    if (!FHandleRedirects) return true;
    if (++FState.Redirections > FMaxRedirects)
      throw ENetHTTPRequestException("Maximum number of redirections (%d) exceeded",
                                     {FMaxRedirects});
  }
  FState.Status = InternalState::Other;
  return !FollowRedirect(request, response);
}

void THTTPClient::TakeCookies(THTTPRequest &request, THTTPResponse &response) {
  if (!FAllowCookies) return;
  for (const std::string &c : response.Cookies()) FCookieManager.AddServerCookie(c, request.URL());
}

bool THTTPClient::FollowRedirect(THTTPRequest &request, THTTPResponse &response) {
  int32_t code = response.StatusCode();
  std::string location = Trim(response.GetHeaderValue("Location"));
  if (!FHandleRedirects || !IsRedirectStatus(code) || location.empty()) return false;
  TURI target = TURI::Resolve(request.URL(), location);
  THTTPRedirectWithGET rule;
  if (RedirectRule(request.MethodString(), code, rule) && FRedirectsWithGET.Contains(rule)) {
    request.FMethodString = "GET";
    request.SetSourceStream(nullptr);
    request.RemoveHeader("Content-Length");
    request.RemoveHeader("Content-Type");
  }
  // Credentials and cookies meant for one server never travel to another.
  if (target.Scheme != request.URL().Scheme || target.Host != request.URL().Host ||
      target.Port != request.URL().Port) {
    request.RemoveHeader("Authorization");
    request.RemoveHeader("Cookie");
    FServerCredentialsBlocked = true;
    FState.ServerCredential = TCredential();
    FState.NeedServerCredential = false;
  }
  request.DoUpdateURL(target); // the binding still sees the old URL
  request.FURL = target;
  return true;
}

bool THTTPClient::AskCallback(TAuthTargetType target, const std::string &realm,
                              const std::string &url, std::string &user, std::string &password,
                              TAuthPersistenceType &persistence) {
  bool abort = false;
  if (AuthCallback)
    AuthCallback(target, realm, url, user, password, abort, persistence);
  else if (AuthEvent)
    AuthEvent(target, realm, url, user, password, abort, persistence);
  return abort;
}

bool THTTPClient::SetServerCredential(THTTPRequest &request, THTTPResponse &response) {
  if (FServerCredentialsBlocked) return FState.Status != InternalState::ServerAuthRequired;
  THTTPState &st = FState;
  bool hasCallback = AuthCallback || AuthEvent;
  if (st.Status == InternalState::Other && FPreemptiveAuthentication) {
    TCredentialsStorage::TCredentialList stored =
        CredentialsStorage().FindCredentials(TAuthTargetType::Server, "");
    const TCredential &own = request.LocalCredential();
    if (!own.IsEmpty() || stored.size() == 1 || hasCallback) {
      st.ServerCredential = !own.IsEmpty() ? own : stored.size() == 1 ? stored[0] : TCredential();
      bool abort = false;
      if (hasCallback) {
        TAuthPersistenceType persistence = TAuthPersistenceType::Request;
        abort = AskCallback(TAuthTargetType::Server, st.ServerCredential.Realm,
                            request.URL().ToString(), st.ServerCredential.UserName,
                            st.ServerCredential.Password, persistence);
      }
      st.NeedServerCredential = !abort && !st.ServerCredential.IsEmpty();
    }
  }
  if (st.Status == InternalState::ServerAuthRequired && st.ServerCredential.UserName.empty()) {
    std::string challenge = response.GetHeaderValue("WWW-Authenticate");
    if (challenge.empty()) challenge = response.GetHeaderValue("Proxy-Authenticate");
    std::string realm = RealmOf(challenge);
    FServerRealm = realm;
    st.ServerCredentials = CredentialsStorage().FindCredentials(TAuthTargetType::Server, realm,
                                                                request.URL().ToString());
    TCredentialsStorage::SortCredentials(st.ServerCredentials);
    if (!request.LocalCredential().UserName.empty())
      st.ServerCredentials.insert(st.ServerCredentials.begin(), request.LocalCredential());
    st.NeedServerCredential = true;
  }
  return ApplyCredential(TAuthTargetType::Server, request, response);
}

bool THTTPClient::SetProxyCredential(THTTPRequest &request, THTTPResponse &response) {
  THTTPState &st = FState;
  bool hasCallback = AuthCallback || AuthEvent;
  if (st.Status == InternalState::Other && FPreemptiveAuthentication) {
    TCredentialsStorage::TCredentialList stored =
        CredentialsStorage().FindCredentials(TAuthTargetType::Proxy, "");
    const TCredential &own = FProxySettings.Credential();
    if (!own.IsEmpty() || stored.size() == 1 || hasCallback) {
      st.ProxyCredential = !own.IsEmpty() ? own : stored.size() == 1 ? stored[0] : TCredential();
      bool abort = false;
      if (hasCallback) {
        TAuthPersistenceType persistence = TAuthPersistenceType::Request;
        abort =
            AskCallback(TAuthTargetType::Proxy, st.ProxyCredential.Realm, FProxySettings.ToURL(),
                        st.ProxyCredential.UserName, st.ProxyCredential.Password, persistence);
      }
      st.NeedProxyCredential = !abort && !st.ProxyCredential.IsEmpty();
    }
  }
  if (st.Status == InternalState::ProxyAuthRequired && st.ProxyCredential.UserName.empty()) {
    std::string challenge = response.GetHeaderValue("Proxy-Authenticate");
    if (challenge.empty()) challenge = response.GetHeaderValue("WWW-Authenticate");
    std::string realm = RealmOf(challenge);
    FProxyRealm = realm;
    st.ProxyCredentials.clear();
    if (!FProxySettings.Host().empty()) st.ProxyCredentials.push_back(FProxySettings.Credential());
    for (const TCredential &c :
         CredentialsStorage().FindCredentials(TAuthTargetType::Proxy, realm)) {
      bool same = false;
      for (const TCredential &o : st.ProxyCredentials)
        same = same || (o.UserName == c.UserName && o.Password == c.Password);
      if (!same) st.ProxyCredentials.push_back(c);
    }
    st.NeedProxyCredential = true;
  }
  return ApplyCredential(TAuthTargetType::Proxy, request, response);
}

bool THTTPClient::ApplyCredential(TAuthTargetType target, THTTPRequest &request,
                                  THTTPResponse &response) {
  (void)response;
  bool proxy = target == TAuthTargetType::Proxy;
  THTTPState &st = FState;
  bool need = proxy ? st.NeedProxyCredential : st.NeedServerCredential;
  if (!need) return true;
  TCredential &cred = proxy ? st.ProxyCredential : st.ServerCredential;
  TCredentialsStorage::TCredentialList &list = proxy ? st.ProxyCredentials : st.ServerCredentials;
  size_t &it = proxy ? st.ProxyIterator : st.ServerIterator;
  InternalState wanted =
      proxy ? InternalState::ProxyAuthRequired : InternalState::ServerAuthRequired;
  if (st.Status == wanted) {
    if (it < list.size()) {
      cred.UserName = list[it].UserName;
      cred.Password = list[it].Password;
      cred.Realm = list[it].Realm;
      ++it;
    } else {
      std::string oldUser = cred.UserName, oldPassword = cred.Password;
      cred.UserName.clear();
      cred.Password.clear();
      TAuthPersistenceType persistence = TAuthPersistenceType::Request;
      std::string url = proxy ? FProxySettings.ToURL() : request.URL().ToString();
      cred.Realm = proxy ? FProxyRealm : FServerRealm;
      bool abort = (AuthCallback || AuthEvent) &&
                   AskCallback(target, cred.Realm, url, cred.UserName, cred.Password, persistence);
      if (abort || (cred.UserName == oldUser && cred.Password == oldPassword)) {
        cred.UserName.clear();
        cred.Password.clear();
      } else if (persistence == TAuthPersistenceType::Client && !cred.IsEmpty()) {
        CredentialsStorage().AddCredential(
            TCredential(target, cred.Realm, url, cred.UserName, cred.Password));
      }
    }
  }
  if (cred.IsEmpty()) return false;
  cred.AuthTarget = target;
  DoSetCredential(target, request, cred);
  (proxy ? request.FAppliedProxy : request.FAppliedServer) = cred;
  return true;
}

void THTTPClient::ValidateServerCertificate(THTTPRequest &request) {
  if (!OnValidateServerCertificate)
    throw ENetHTTPCertificateException("Error getting Server Certificate");
  TCertificate certificate;
  DoGetServerCertificate(request, certificate);
  if (certificate.IsEmpty())
    throw ENetHTTPCertificateException("Server Certificate Invalid or not present");
  bool accepted = false;
  OnValidateServerCertificate(*this, request, certificate, accepted);
  if (!accepted) throw ENetHTTPCertificateException("Server Certificate not accepted");
  DoServerCertificateAccepted(request);
}

void THTTPClient::ChooseClientCertificate(THTTPRequest &request, TCertificateList &offered) {
  int32_t index = -1;
  if (OnNeedClientCertificate) {
    if (offered.empty()) DoGetClientCertificates(request, offered);
    if (offered.empty()) {
      if (DoNoClientCertificate(request)) return;
      throw ENetHTTPCertificateException("Empty certificate list");
    }
    OnNeedClientCertificate(*this, request, offered, index);
  }
  if (index < 0 || size_t(index) >= offered.size()) {
    if (!DoNoClientCertificate(request))
      throw ENetHTTPCertificateException("Unspecified certificate from client");
    return;
  }
  if (!DoClientCertificateAccepted(request, index))
    throw ENetHTTPCertificateException("Client rejected the certificate");
}

} // namespace vv
