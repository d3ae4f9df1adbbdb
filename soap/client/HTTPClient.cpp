#include "soap/client/HTTPClient.h"

#include "rtl/ScopeGuard.h"
#include "rtl/StrUtils.h"
#include "rtl/Stream.h"
#include "soap/client/HTTPChallenge.h"

namespace vv {

namespace {

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

void CutBack(TStream &stream, int64_t size, int64_t pos) {
  if (stream.Size() != size) stream.SetSize(size);
  stream.SetPosition(pos);
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
  // The code is the binding's for a bad argument (libcurl's 43), so that a
  // refused header reads alike whichever layer refuses it; the loop itself
  // knows nothing of libcurl.
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
    if (pass >= kMaxPassesPerExecute)
      throw ENetHTTPClientException("Execution of request terminated with unknown error");
    DoPrepareRequest(request);
    std::string cookies = FCookieManager.CookieHeaders(request.URL());
    if (!cookies.empty()) request.SetHeaderValue("Cookie", cookies);
    if (!SetCredential(TAuthTargetType::Server, request, response) ||
        !SetCredential(TAuthTargetType::Proxy, request, response))
      break;
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

// One target's share of the loop's record: the server's or the proxy's.
struct THTTPClient::TAuthSlot {
  TAuthTargetType Target;
  InternalState Challenged; // the state a challenge of this target leaves
  bool &Need;
  TCredential &Credential;
  TCredentialsStorage::TCredentialList &Candidates;
  size_t &Next;
  std::string &Realm; // of the last challenge, for the callback
};

THTTPClient::TAuthSlot THTTPClient::Slot(TAuthTargetType target) {
  THTTPState &st = FState;
  if (target == TAuthTargetType::Proxy)
    return {target,
            InternalState::ProxyAuthRequired,
            st.NeedProxyCredential,
            st.ProxyCredential,
            st.ProxyCredentials,
            st.ProxyIterator,
            FProxyRealm};
  return {target,
          InternalState::ServerAuthRequired,
          st.NeedServerCredential,
          st.ServerCredential,
          st.ServerCredentials,
          st.ServerIterator,
          FServerRealm};
}

std::string THTTPClient::TargetURL(TAuthTargetType target, const THTTPRequest &request) const {
  return target == TAuthTargetType::Proxy ? FProxySettings.ToURL() : request.URL().ToString();
}

bool THTTPClient::SetCredential(TAuthTargetType target, THTTPRequest &request,
                                const THTTPResponse &response) {
  bool proxy = target == TAuthTargetType::Proxy;
  if (!proxy && FServerCredentialsBlocked)
    return FState.Status != InternalState::ServerAuthRequired;
  TAuthSlot slot = Slot(target);
  if (FState.Status == InternalState::Other && FPreemptiveAuthentication)
    OfferPreemptively(slot, request);
  if (FState.Status == slot.Challenged && slot.Credential.UserName.empty()) {
    // A challenge of the other kind serves when the expected one is missing.
    std::string challenge =
        response.GetHeaderValue(proxy ? "Proxy-Authenticate" : "WWW-Authenticate");
    if (challenge.empty())
      challenge = response.GetHeaderValue(proxy ? "WWW-Authenticate" : "Proxy-Authenticate");
    slot.Realm = ChallengeRealm(challenge);
    slot.Candidates = proxy ? ProxyCandidates(slot.Realm) : ServerCandidates(request, slot.Realm);
    slot.Need = true;
  }
  return ApplyCredential(slot, request);
}

void THTTPClient::OfferPreemptively(TAuthSlot &slot, THTTPRequest &request) {
  TCredentialsStorage::TCredentialList stored =
      CredentialsStorage().FindCredentials(slot.Target, "");
  const TCredential &own = slot.Target == TAuthTargetType::Proxy ? FProxySettings.Credential()
                                                                 : request.LocalCredential();
  bool hasCallback = AuthCallback || AuthEvent;
  if (own.IsEmpty() && stored.size() != 1 && !hasCallback) return;
  slot.Credential = !own.IsEmpty() ? own : stored.size() == 1 ? stored[0] : TCredential();
  bool abort = false;
  if (hasCallback) {
    TAuthPersistenceType persistence = TAuthPersistenceType::Request;
    abort = AskCallback(slot.Target, slot.Credential.Realm, TargetURL(slot.Target, request),
                        slot.Credential.UserName, slot.Credential.Password, persistence);
  }
  slot.Need = !abort && !slot.Credential.IsEmpty();
}

// The request's own credential first, then the stored ones for the realm
// and the URL's host, in offering order.
TCredentialsStorage::TCredentialList THTTPClient::ServerCandidates(const THTTPRequest &request,
                                                                   const std::string &realm) {
  TCredentialsStorage::TCredentialList list = CredentialsStorage().FindCredentials(
      TAuthTargetType::Server, realm, request.URL().ToString());
  TCredentialsStorage::SortCredentials(list);
  if (!request.LocalCredential().UserName.empty())
    list.insert(list.begin(), request.LocalCredential());
  return list;
}

// The proxy settings' credential first, then the stored ones for the realm
// that are not the same user and password again.
TCredentialsStorage::TCredentialList THTTPClient::ProxyCandidates(const std::string &realm) {
  TCredentialsStorage::TCredentialList list;
  if (!FProxySettings.Host().empty()) list.push_back(FProxySettings.Credential());
  for (const TCredential &c : CredentialsStorage().FindCredentials(TAuthTargetType::Proxy, realm)) {
    bool same = false;
    for (const TCredential &o : list)
      same = same || (o.UserName == c.UserName && o.Password == c.Password);
    if (!same) list.push_back(c);
  }
  return list;
}

bool THTTPClient::ApplyCredential(TAuthSlot &slot, THTTPRequest &request) {
  if (!slot.Need) return true;
  TCredential &cred = slot.Credential;
  if (FState.Status == slot.Challenged) {
    if (slot.Next < slot.Candidates.size()) {
      const TCredential &next = slot.Candidates[slot.Next++];
      cred.UserName = next.UserName;
      cred.Password = next.Password;
      cred.Realm = next.Realm;
    } else {
      std::string oldUser = cred.UserName, oldPassword = cred.Password;
      cred.UserName.clear();
      cred.Password.clear();
      TAuthPersistenceType persistence = TAuthPersistenceType::Request;
      std::string url = TargetURL(slot.Target, request);
      cred.Realm = slot.Realm;
      bool abort =
          (AuthCallback || AuthEvent) &&
          AskCallback(slot.Target, cred.Realm, url, cred.UserName, cred.Password, persistence);
      if (abort || (cred.UserName == oldUser && cred.Password == oldPassword)) {
        cred.UserName.clear();
        cred.Password.clear();
      } else if (persistence == TAuthPersistenceType::Client && !cred.IsEmpty()) {
        CredentialsStorage().AddCredential(
            TCredential(slot.Target, cred.Realm, url, cred.UserName, cred.Password));
      }
    }
  }
  if (cred.IsEmpty()) return false;
  cred.AuthTarget = slot.Target;
  DoSetCredential(slot.Target, request, cred);
  (slot.Target == TAuthTargetType::Proxy ? request.FAppliedProxy : request.FAppliedServer) = cred;
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
