// The execution loop against a scripted binding: authentication rounds,
// redirects, cookies, certificate decisions and the content stream.
#include <gtest/gtest.h>

#include <deque>

#include "rtl/Stream.h"
#include "soap/client/HTTPClient.h"

using namespace vv;

namespace {

using R = THTTPClient::TExecutionResult;

struct TStep {
  R Result = R::Success;
  TStep(R r = R::Success, int s = 200, TNetHeaders h = {}, std::string b = "",
        std::vector<std::string> c = {})
      : Result(r), Status(s), Headers(std::move(h)), Body(std::move(b)), Cookies(std::move(c)) {}
  int Status;
  TNetHeaders Headers;
  std::string Body;
  std::vector<std::string> Cookies;
};

struct TSeen { // what one pass sent
  std::string Method, URL, Body;
  TNetHeaders Headers;
  std::vector<std::string> Credentials; // "server:user:password" applied before the pass
};

class TFakeRequest : public THTTPRequest {
public:
  TFakeRequest(THTTPClient &c, const std::string &m, const TURI &u) : THTTPRequest(c, m, u) {}
};

class TFakeResponse : public THTTPResponse {
public:
  TFakeResponse(THTTPRequest &r, TStream *s) : THTTPResponse(r, s) {}
};

class TFakeClient : public THTTPClient {
public:
  std::deque<TStep> Script;
  std::vector<TSeen> Seen;
  std::vector<std::string> Pending;
  TCertificate ServerCert{"srv", "01", "", "", "CN=srv", "CN=ca", "", "", "", 0, ""};
  TCertificateList ClientCerts;
  bool CertAccepted = false, ClientCertTaken = false, NoClientCertAllowed = false;

protected:
  std::unique_ptr<THTTPRequest> DoGetHTTPRequestInstance(const std::string &m,
                                                         const TURI &u) override {
    return std::make_unique<TFakeRequest>(*this, m, u);
  }
  std::unique_ptr<THTTPResponse> DoGetHTTPResponseInstance(THTTPRequest &r, TStream *s) override {
    return std::make_unique<TFakeResponse>(r, s);
  }
  void DoPrepareRequest(THTTPRequest &) override {}
  R DoExecuteRequest(THTTPRequest &req, THTTPResponse &resp) override {
    TSeen seen{req.MethodString(), req.URL().ToString(), "", req.GetHeaders(), Pending};
    Pending.clear();
    if (req.SourceStream()) seen.Body = req.SourceStream()->ReadRest();
    Seen.push_back(seen);
    if (Script.empty()) return R::UnknownError;
    TStep step = Script.front();
    Script.pop_front();
    if (step.Result != R::Success) return step.Result;
    resp.SetStatus(step.Status, "Text " + std::to_string(step.Status),
                   THTTPProtocolVersion::HTTP_1_1);
    resp.SetHeaders(step.Headers, step.Cookies);
    resp.ContentStream().WriteString(step.Body);
    return R::Success;
  }
  void DoReadData(THTTPRequest &, THTTPResponse &) override {}
  bool DoSetCredential(TAuthTargetType t, THTTPRequest &, const TCredential &c) override {
    Pending.push_back(std::string(t == TAuthTargetType::Server ? "server:" : "proxy:") +
                      c.UserName + ":" + c.Password);
    return true;
  }
  void DoGetServerCertificate(THTTPRequest &, TCertificate &c) override { c = ServerCert; }
  void DoServerCertificateAccepted(THTTPRequest &) override { CertAccepted = true; }
  void DoGetClientCertificates(THTTPRequest &, TCertificateList &l) override { l = ClientCerts; }
  bool DoClientCertificateAccepted(THTTPRequest &, int32_t) override { return ClientCertTaken; }
  bool DoNoClientCertificate(THTTPRequest &) override { return NoClientCertAllowed; }
};

TStep Redirect(int status, const std::string &location) {
  return TStep{R::Success, status, {{"Location", location}}, "moved", {}};
}
TStep Challenge(int status = 401) {
  return TStep{R::Success,
               status,
               {{status == 401 ? "WWW-Authenticate" : "Proxy-Authenticate", "Basic realm=\"vv\""}},
               "denied",
               {}};
}

class HTTPClientLoopTest : public ::testing::Test {
protected:
  TFakeClient Client;
  TMemoryStream Body{std::string("<request/>")};
  TMemoryStream Content;

  std::unique_ptr<THTTPResponse> Post(const std::string &url = "http://up.example/svc/op") {
    Request = Client.GetRequest("POST", url);
    Request->SetHeaderValue("Content-Type", "text/xml");
    Request->SetSourceStream(&Body);
    return Client.Execute(*Request, &Content);
  }
  std::unique_ptr<THTTPRequest> Request;
};

TEST_F(HTTPClientLoopTest, PreemptiveBasicOffersTheStoredCredentialTwiceThenReturnsThe401) {
  Client.SetPreemptiveAuthentication(true);
  Client.CredentialsStorage().AddCredential(
      TCredential(TAuthTargetType::Server, "", "http://up.example/svc/op", "ann", "pw"));
  Client.Script = {Challenge(), Challenge()};
  auto resp = Post();
  EXPECT_EQ(resp->StatusCode(), 401);
  ASSERT_EQ(Client.Seen.size(), 2u);
  EXPECT_EQ(Client.Seen[0].Credentials, std::vector<std::string>{"server:ann:pw"});
  EXPECT_EQ(Client.Seen[1].Credentials, std::vector<std::string>{"server:ann:pw"});
  EXPECT_EQ(Content.DataString(), "denied") << "only the last body";
}

TEST_F(HTTPClientLoopTest, WithoutPreemptionTheChallengeIsAnsweredOnce) {
  Client.CredentialsStorage().AddCredential(
      TCredential(TAuthTargetType::Server, "vv", "http://up.example/", "ann", "pw"));
  Client.Script = {Challenge(), TStep{R::Success, 200, {}, "<ok/>", {}}};
  auto resp = Post();
  EXPECT_EQ(resp->StatusCode(), 200);
  ASSERT_EQ(Client.Seen.size(), 2u);
  EXPECT_TRUE(Client.Seen[0].Credentials.empty());
  EXPECT_EQ(Client.Seen[1].Credentials, std::vector<std::string>{"server:ann:pw"});
  EXPECT_EQ(Client.Seen[1].Body, "<request/>") << "body rewound for the second pass";
  EXPECT_EQ(Content.DataString(), "<ok/>");
  EXPECT_EQ(Content.Position(), 0);
  EXPECT_EQ(Body.Position(), Body.Size());
}

TEST_F(HTTPClientLoopTest, UrlUserGoesFirstAndCallbackIsAskedWhenTheListRunsOut) {
  Client.CredentialsStorage().AddCredential(
      TCredential(TAuthTargetType::Server, "", "http://up.example/", "stored", "s"));
  int asked = 0;
  Client.AuthCallback = [&](TAuthTargetType, const std::string &realm, const std::string &,
                            std::string &user, std::string &password, bool &,
                            TAuthPersistenceType &) {
    ++asked;
    EXPECT_EQ(realm, "vv");
    user = "cb";
    password = "c";
  };
  Client.Script = {Challenge(), Challenge(), Challenge(), Challenge()};
  auto resp = Post("http://url:u@up.example/svc");
  ASSERT_EQ(Client.Seen.size(), 4u);
  EXPECT_TRUE(Client.Seen[0].Credentials.empty());
  EXPECT_EQ(Client.Seen[1].Credentials, std::vector<std::string>{"server:url:u"});
  EXPECT_EQ(Client.Seen[2].Credentials, std::vector<std::string>{"server:stored:s"});
  EXPECT_EQ(Client.Seen[3].Credentials, std::vector<std::string>{"server:cb:c"});
  EXPECT_EQ(asked, 2) << "a second identical answer ends the rounds";
  EXPECT_EQ(resp->StatusCode(), 401);
}

TEST_F(HTTPClientLoopTest, ProxyChallengeUsesTheProxySettings) {
  Client.SetProxySettings(TProxySettings("http://pu:pp@127.0.0.1:3128"));
  Client.Script = {Challenge(407), TStep{}};
  auto resp = Post();
  EXPECT_EQ(resp->StatusCode(), 200);
  ASSERT_EQ(Client.Seen.size(), 2u);
  EXPECT_TRUE(Client.Seen[0].Credentials.empty());
  EXPECT_EQ(Client.Seen[1].Credentials, std::vector<std::string>{"proxy:pu:pp"});
}

TEST_F(HTTPClientLoopTest, RedirectRulesDecideBetweenGETAndResendingThePOST) {
  struct {
    int Status;
    bool EmptyRules;
    const char *Method;
    bool BodyKept;
  } cases[] = {
      {302, false, "GET", false}, {301, false, "GET", false}, {303, false, "GET", false},
      {307, false, "POST", true}, {308, false, "POST", true}, {302, true, "POST", true},
      {303, true, "POST", true},
  };
  for (auto &c : cases) {
    SCOPED_TRACE(c.Status);
    TFakeClient client;
    if (c.EmptyRules) client.SetRedirectsWithGET({});
    client.Script = {Redirect(c.Status, "../next?x=1"), TStep{}};
    TMemoryStream body(std::string("<request/>"));
    auto req = client.GetRequest("POST", "http://up.example/svc/op");
    req->SetHeaderValue("Content-Type", "text/xml");
    req->SetHeaderValue("Content-Length", "10");
    req->SetSourceStream(&body);
    auto resp = client.Execute(*req);
    ASSERT_EQ(client.Seen.size(), 2u);
    EXPECT_EQ(client.Seen[1].URL, "http://up.example/next?x=1");
    EXPECT_EQ(client.Seen[1].Method, c.Method);
    EXPECT_EQ(client.Seen[1].Body, c.BodyKept ? "<request/>" : "");
    EXPECT_EQ(req->GetHeaderValue("Content-Type"), c.BodyKept ? "text/xml" : "");
    EXPECT_EQ(req->GetHeaderValue("Content-Length"), c.BodyKept ? "10" : "");
  }
}

TEST_F(HTTPClientLoopTest, TheSixthRedirectFails) {
  for (int i = 0; i < 6; ++i) Client.Script.push_back(Redirect(302, "/r" + std::to_string(i)));
  Client.SetRedirectsWithGET({});
  try {
    Post();
    ADD_FAILURE();
  } catch (const ENetHTTPRequestException &e) {
    EXPECT_EQ(e.Message, "Maximum number of redirections (5) exceeded");
  }
  EXPECT_EQ(Client.Seen.size(), 6u);
  EXPECT_EQ(Body.Position(), Body.Size()) << "streams restored after an error";

  TFakeClient five;
  for (int i = 0; i < 5; ++i) five.Script.push_back(Redirect(307, "/r" + std::to_string(i)));
  five.Script.push_back(TStep{R::Success, 200, {}, "<done/>", {}});
  auto req = five.GetRequest("GET", "http://h/");
  auto resp = five.Execute(*req);
  EXPECT_EQ(resp->StatusCode(), 200);
  EXPECT_EQ(resp->ContentAsString(), "<done/>");
}

TEST_F(HTTPClientLoopTest, RedirectsStopWhenOffOrWithoutLocation) {
  Client.SetHandleRedirects(false);
  Client.Script = {Redirect(302, "/elsewhere")};
  EXPECT_EQ(Post()->StatusCode(), 302);
  TFakeClient c2;
  c2.Script = {Redirect(302, "   ")};
  auto req = c2.GetRequest("GET", "http://h/");
  EXPECT_EQ(c2.Execute(*req)->StatusCode(), 302);
  TFakeClient c3;
  c3.Script = {Redirect(302, "/../../x")};
  req = c3.GetRequest("GET", "http://h/a");
  EXPECT_THROW(c3.Execute(*req), ENetURIException);
}

TEST_F(HTTPClientLoopTest, CookiesTravelBetweenPassesOfOneExecution) {
  TStep first = Redirect(302, "second"); // same directory: both cookies apply
  first.Cookies = {"session=abc; Path=/", "theme=dark"};
  Client.Script = {first, TStep{}};
  Client.SetRedirectsWithGET({});
  Post();
  ASSERT_EQ(Client.Seen.size(), 2u);
  std::string cookie;
  for (auto &h : Client.Seen[1].Headers)
    if (h.Name == "Cookie") cookie = h.Value;
  EXPECT_EQ(cookie, "session=abc; theme=dark");
}

TEST_F(HTTPClientLoopTest, NothingMeantForTheServerFollowsARedirectElsewhere) {
  Client.SetPreemptiveAuthentication(true);
  Client.CredentialsStorage().AddCredential(
      TCredential(TAuthTargetType::Server, "", "", "ann", "pw"));
  TStep first = Redirect(307, "http://evil.example:8080/take");
  first.Cookies = {"session=abc"};
  Client.Script = {first, Challenge()};
  auto req = Client.GetRequest("POST", "http://up.example/svc");
  req->SetHeaderValue("Authorization", "Basic secret");
  auto resp = Client.Execute(*req);
  ASSERT_EQ(Client.Seen.size(), 2u);
  EXPECT_EQ(Client.Seen[0].Credentials, std::vector<std::string>{"server:ann:pw"});
  EXPECT_TRUE(Client.Seen[1].Credentials.empty());
  for (auto &h : Client.Seen[1].Headers) {
    EXPECT_NE(h.Name, "Authorization");
    EXPECT_NE(h.Name, "Cookie");
  }
  EXPECT_EQ(resp->StatusCode(), 401);
}

TEST_F(HTTPClientLoopTest, ServerCertificateDecisions) {
  struct {
    bool Handler, Accept, EmptyCert;
    const char *Error;
  } cases[] = {
      {false, false, false, "Error getting Server Certificate"},
      {true, false, true, "Server Certificate Invalid or not present"},
      {true, false, false, "Server Certificate not accepted"},
      {true, true, false, nullptr},
  };
  for (auto &c : cases) {
    TFakeClient client;
    client.Script = {TStep{R::ServerCertificateInvalid}, TStep{}};
    if (c.EmptyCert) client.ServerCert = TCertificate();
    bool asked = false;
    if (c.Handler)
      client.OnValidateServerCertificate = [&](THTTPClient &, THTTPRequest &,
                                               const TCertificate &cert, bool &accepted) {
        asked = true;
        EXPECT_FALSE(accepted);
        EXPECT_EQ(cert.Subject, "CN=srv");
        accepted = c.Accept;
      };
    auto req = client.GetRequest("GET", "https://h/");
    try {
      auto resp = client.Execute(*req);
      EXPECT_EQ(c.Error, nullptr);
      EXPECT_TRUE(client.CertAccepted);
      EXPECT_EQ(client.Seen.size(), 2u) << "sent again after acceptance";
    } catch (const ENetHTTPCertificateException &e) {
      ASSERT_NE(c.Error, nullptr);
      EXPECT_EQ(e.Message, c.Error);
      EXPECT_FALSE(client.CertAccepted);
    }
    EXPECT_EQ(asked, c.Handler && !c.EmptyCert);
  }
}

TEST_F(HTTPClientLoopTest, ClientCertificateDecisions) {
  struct {
    bool Handler, Candidates, NoneAllowed, Taken;
    int Index;
    const char *Error;
  } cases[] = {
      {true, false, false, false, -1, "Empty certificate list"},
      {true, false, true, false, -1, nullptr},
      {false, false, false, false, -1, "Unspecified certificate from client"},
      {true, true, false, false, -1, "Unspecified certificate from client"},
      {true, true, false, false, 0, "Client rejected the certificate"},
      {true, true, false, true, 0, nullptr},
      {true, true, false, false, 7, "Unspecified certificate from client"},
  };
  for (auto &c : cases) {
    TFakeClient client;
    client.Script = {TStep{R::ClientCertificateNeeded}, TStep{}};
    if (c.Candidates)
      client.ClientCerts = {TCertificate{"mine", "", "", "", "CN=me", "", "", "", "", 0, ""}};
    client.NoClientCertAllowed = c.NoneAllowed;
    client.ClientCertTaken = c.Taken;
    if (c.Handler)
      client.OnNeedClientCertificate = [&](THTTPClient &, THTTPRequest &, const TCertificateList &,
                                           int32_t &index) { index = c.Index; };
    auto req = client.GetRequest("GET", "https://h/");
    try {
      client.Execute(*req);
      EXPECT_EQ(c.Error, nullptr);
    } catch (const ENetHTTPCertificateException &e) {
      ASSERT_NE(c.Error, nullptr);
      EXPECT_EQ(e.Message, c.Error);
    }
  }
}

TEST_F(HTTPClientLoopTest, UnknownOutcomeFailsAndTheClientStaysUsable) {
  Client.Script = {TStep{R::UnknownError}};
  try {
    Post();
    ADD_FAILURE();
  } catch (const ENetHTTPClientException &e) {
    EXPECT_EQ(e.Message, "Execution of request terminated with unknown error");
  }
  Client.Script = {TStep{R::Retry}, TStep{R::Success, 500, {}, "<fault/>", {}}};
  Content.Clear();
  auto resp = Post();
  EXPECT_EQ(resp->StatusCode(), 500) << "a 500 is a response, not an error";
  EXPECT_EQ(Content.DataString(), "<fault/>");
}

TEST_F(HTTPClientLoopTest, ContentGoesAfterWhatTheCallerAlreadyHad) {
  Content.WriteString("prefix:");
  Client.Script = {Challenge(), TStep{R::Success, 200, {}, "body", {}}};
  Client.CredentialsStorage().AddCredential(TCredential(TAuthTargetType::Server, "", "", "a", "b"));
  auto resp = Post();
  EXPECT_EQ(Content.DataString(), "prefix:body");
  EXPECT_EQ(Content.Position(), 7);
}

TEST_F(HTTPClientLoopTest, RequestGetsCustomHeadersTimeoutsAndUrlCredential) {
  Client.SetCustomHeaderValue("Accept", "*/*");
  Client.SetSendTimeout(1000);
  Client.SetResponseTimeout(60000);
  Client.SetConnectionTimeout(5000);
  auto req = Client.GetRequest("GET", "http://u:p@h/");
  ASSERT_EQ(req->GetHeaders().size(), 2u);
  EXPECT_EQ(req->GetHeaders()[0].Name, "User-Agent");
  EXPECT_EQ(req->GetHeaders()[0].Value, "Zentrova URI Client/1.0");
  EXPECT_EQ(req->ConnectionTimeout(), 5000);
  EXPECT_EQ(req->SendTimeout(), 60000) << "reads as the response timeout until set on the request";
  req->SetSendTimeout(1000);
  EXPECT_EQ(req->SendTimeout(), 60000) << "the same value is no change";
  req->SetSendTimeout(2000);
  EXPECT_EQ(req->SendTimeout(), 2000);
  EXPECT_EQ(req->LocalCredential().UserName, "u");
  EXPECT_EQ(req->LocalCredential().URL, "h");
  req->AddHeader("Accept", "text/xml");
  EXPECT_EQ(req->GetHeaderValue("accept"), "*/*, text/xml");
  EXPECT_TRUE(req->RemoveHeader("ACCEPT"));
  EXPECT_FALSE(req->RemoveHeader("Accept"));
  EXPECT_THROW(req->SetHeaderValue("X-Evil", "a\r\nInjected: 1"), ENetHTTPRequestException);
  EXPECT_THROW(req->AddHeader("Bad Name", "v"), ENetHTTPRequestException);
}

} // namespace
