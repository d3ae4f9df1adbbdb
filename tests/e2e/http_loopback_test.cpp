// The HTTP client over libcurl against real peers on loopback (started by
// http_peer.py): statuses, bodies, progress, authentication, redirects,
// cookies, compression, timeouts, limits, TLS and proxies.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include "rtl/Stream.h"
#include "soap/client/CurlHTTPClient.h"
#include "soap/client/CurlHTTPRequest.h"
#include "soap/client/CurlLibrary.h"

using namespace vv;

namespace {

std::string Env(const char *name) {
  const char *v = std::getenv(name);
  return v ? v : "";
}

std::string Http(const std::string &path) {
  return "http://127.0.0.1:" + Env("VV_HTTP_PORT") + path;
}
std::string Https(const std::string &path, const char *host = "localhost") {
  return std::string("https://") + host + ":" + Env("VV_HTTPS_PORT") + path;
}
std::string CertDir() { return Env("VV_CERT_DIR"); }

std::string ReadFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// A header as the echo page lists it: ["Name", "Value"].
std::string EchoHeader(const std::string &name, const std::string &value) {
  return "[\"" + name + "\", \"" + value + "\"]";
}

class HTTPLoopbackTest : public ::testing::Test {
protected:
  void SetUp() override {
    if (Env("VV_HTTP_PORT").empty()) GTEST_SKIP() << "run through http_peer.py";
    Client = std::make_unique<TCurlHTTPClient>();
    Client->SetResponseTimeout(20000);
  }

  std::unique_ptr<THTTPResponse> Run(const std::string &method, const std::string &url,
                                     TStream *body = nullptr) {
    Request = Client->GetRequest(method, url);
    if (body) Request->SetSourceStream(body);
    Content.Clear();
    return Client->Execute(*Request, &Content);
  }
  // The message of the error `method url` raises, or "" when none.
  template <typename E> std::string ErrorOf(const std::string &method, const std::string &url) {
    try {
      Run(method, url);
    } catch (const E &e) {
      return e.Message;
    }
    return "";
  }
  // A page of the plain peer, fetched with a client of its own.
  static std::string Peer(const std::string &pathAndQuery) {
    TCurlHTTPClient c;
    auto req = c.GetRequest("GET", Http(pathAndQuery));
    return c.Execute(*req)->ContentAsString();
  }
  int Hits(const std::string &path) { return std::stoi(Peer("/hits?p=" + path)); }
  // The requests the peers took for `path`: [method, body length, auth scheme] each.
  std::string Log(const std::string &path) { return Peer("/log?p=" + path); }

  std::unique_ptr<TCurlHTTPClient> Client;
  std::unique_ptr<THTTPRequest> Request;
  TMemoryStream Content;
};

TEST_F(HTTPLoopbackTest, StatusesAndTheirTexts) {
  struct {
    const char *Path;
    int Code;
    const char *Text;
  } cases[] = {{"/status/200", 200, "OK"},
               {"/status/201", 201, "Created"},
               {"/status/404", 404, "Not Found"},
               {"/status/400", 400, "Bad Request"},
               {"/status/503", 503, "Service Unavailable"},
               {"/nowhere", 404, "Not Found"}};
  for (auto &c : cases) {
    auto resp = Run("GET", Http(c.Path));
    EXPECT_EQ(resp->StatusCode(), c.Code) << c.Path;
    EXPECT_EQ(resp->StatusText(), c.Text) << c.Path;
    EXPECT_EQ(resp->Version(), THTTPProtocolVersion::HTTP_1_1);
  }
  auto head = Run("HEAD", Http("/status/200"));
  EXPECT_EQ(head->StatusCode(), 200);
  EXPECT_EQ(Content.Size(), 0);
}

TEST_F(HTTPLoopbackTest, SendsTheRequestAsGivenWithoutAddedHeaders) {
  Client->SetUserAgent("Zentrova SOAP 1.4");
  Client->SetCustomHeaderValue("Content-Type", "text/xml; charset=utf-8");
  Client->SetCustomHeaderValue("SOAPAction", "urn:x#Op");
  Client->SetCustomHeaderValue("Accept", "*/*");
  TMemoryStream body(std::string("<env/>"));
  auto resp = Run("POST", Http("/echo"), &body);
  std::string echo = Content.DataString();
  size_t ua = echo.find(EchoHeader("User-Agent", "Zentrova SOAP 1.4"));
  size_t ct = echo.find(EchoHeader("Content-Type", "text/xml; charset=utf-8"));
  size_t sa = echo.find(EchoHeader("SOAPAction", "urn:x#Op"));
  size_t ac = echo.find(EchoHeader("Accept", "*/*"));
  ASSERT_NE(ua, std::string::npos) << echo;
  EXPECT_TRUE(ua < ct && ct < sa && sa < ac) << echo;
  EXPECT_NE(echo.find("\"body\": \"<env/>\""), std::string::npos);
  EXPECT_EQ(echo.find("Expect"), std::string::npos);
  EXPECT_EQ(echo.find("Authorization"), std::string::npos);
  EXPECT_EQ(echo.find("Accept-Encoding"), std::string::npos);
}

TEST_F(HTTPLoopbackTest, BodyGoesOutInPiecesWithProgress) {
  std::vector<std::pair<int64_t, int64_t>> progress;
  Client->OnSendData = [&](TURLRequest &, int64_t total, int64_t sent, bool &) {
    progress.push_back({total, sent});
  };
  std::string data(150000, 'b');
  for (size_t i = 0; i < data.size(); ++i) data[i] = char('a' + i % 26);
  TMemoryStream body(data);
  auto resp = Run("POST", Http("/echo"), &body);
  ASSERT_EQ(resp->StatusCode(), 200);
  std::vector<std::pair<int64_t, int64_t>> expected = {
      {150000, 0}, {150000, 65536}, {150000, 131072}, {150000, 150000}};
  EXPECT_EQ(progress, expected);
  EXPECT_NE(Content.DataString().find("\"length\": 150000"), std::string::npos);
  EXPECT_EQ(body.Position(), body.Size());
}

TEST_F(HTTPLoopbackTest, AbortFromSendProgressCancelsTheRequest) {
  Client->OnSendData = [&](TURLRequest &, int64_t, int64_t sent, bool &abort) { abort = sent > 0; };
  TMemoryStream body(std::string(200000, 'x'));
  auto resp = Run("POST", Http("/echo"), &body);
  EXPECT_EQ(resp->StatusCode(), 0);
  EXPECT_TRUE(Request->IsCancelled());
}

TEST_F(HTTPLoopbackTest, CancelFromAnotherThreadEndsTheExchange) {
  Request = Client->GetRequest("GET", Http("/slow-headers?ms=3000"));
  THTTPRequest *req = Request.get();
  std::thread canceller([req] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    req->Cancel();
  });
  auto resp = Client->Execute(*Request, &Content);
  canceller.join();
  EXPECT_EQ(resp->StatusCode(), 0);
  EXPECT_EQ(resp->StatusText(), "");
  Request->SetSourceStream(nullptr);
  EXPECT_EQ(Client->Execute(*Request, &Content)->StatusCode(), 200) << "reset by the next Execute";
}

TEST_F(HTTPLoopbackTest, ReceiveProgressOnlyBelow300AndErrorBodiesKeptWhole) {
  std::vector<std::pair<int64_t, int64_t>> progress;
  Client->OnReceiveData = [&](TURLRequest &, int64_t total, int64_t read, bool &) {
    progress.push_back({total, read});
  };
  auto resp = Run("POST", Http("/status/500"));
  EXPECT_EQ(resp->StatusCode(), 500);
  EXPECT_EQ(Content.Size(), 3015);
  EXPECT_EQ(resp->GetMimeType(), "text/xml");
  EXPECT_TRUE(progress.empty());
  resp = Run("GET", Http("/status/200"));
  ASSERT_GE(progress.size(), 2u);
  EXPECT_EQ(progress.front(), std::make_pair(int64_t(10), int64_t(0)));
  EXPECT_EQ(progress.back(), std::make_pair(int64_t(10), int64_t(10)));
}

TEST_F(HTTPLoopbackTest, HeadersJoinAndCookiesStandApart) {
  auto resp = Run("GET", Http("/warning"));
  EXPECT_EQ(resp->GetHeaderValue("warning"), "199 - \"one\", 199 - \"two\"");
  EXPECT_FALSE(resp->ContainsHeader("Set-Cookie"));
  EXPECT_EQ(resp->Cookies(), (std::vector<std::string>{"x=1", "y=2"}));
  EXPECT_EQ(resp->GetContentLength(), 2);
  EXPECT_EQ(resp->GetHeaderValue("X-Missing"), "");
}

TEST_F(HTTPLoopbackTest, HeaderLinesEndedByLFAloneAreReadAsLines) {
  Client->SetHandleRedirects(false);
  auto resp = Run("GET", Http("/bare-lf"));
  EXPECT_EQ(resp->StatusCode(), 302);
  EXPECT_EQ(resp->GetMimeType(), "text/xml");
  EXPECT_EQ(resp->GetHeaderValue("X-Two"), "2");
  EXPECT_EQ(resp->GetHeaderValue("Location"), "/echo");
  EXPECT_EQ(resp->GetContentLength(), 2);
  EXPECT_EQ(resp->Cookies(), std::vector<std::string>{"c=1"});
}

TEST_F(HTTPLoopbackTest, PreemptiveBasicOnTheFirstPost) {
  Client->SetPreemptiveAuthentication(true);
  Client->CredentialsStorage().AddCredential(
      TCredential(TAuthTargetType::Server, "", Http("/basic"), "alice", "s3cret"));
  TMemoryStream body(std::string("<env/>"));
  int before = Hits("/basic");
  auto resp = Run("POST", Http("/basic"), &body);
  EXPECT_EQ(resp->StatusCode(), 200);
  EXPECT_EQ(Hits("/basic") - before, 1) << "no challenge was needed";
  std::string echo = Content.DataString();
  size_t at = echo.find(EchoHeader("Authorization", "Basic YWxpY2U6czNjcmV0"));
  EXPECT_NE(at, std::string::npos) << echo;
  EXPECT_EQ(echo.find("Authorization", at + 20), std::string::npos) << "sent once: " << echo;
}

TEST_F(HTTPLoopbackTest, ASecond401IsTheResultAfterTwoPosts) {
  Client->SetPreemptiveAuthentication(true);
  Client->CredentialsStorage().AddCredential(
      TCredential(TAuthTargetType::Server, "", "", "alice", "wrong"));
  TMemoryStream body(std::string("<env/>"));
  int before = Hits("/basic-never");
  auto resp = Run("POST", Http("/basic-never"), &body);
  EXPECT_EQ(resp->StatusCode(), 401);
  EXPECT_EQ(Hits("/basic-never") - before, 2);
  EXPECT_EQ(Content.DataString(), "denied");
}

TEST_F(HTTPLoopbackTest, DigestAnswersTheChallenge) {
  Client->CredentialsStorage().AddCredential(
      TCredential(TAuthTargetType::Server, "vv", "", "alice", "s3cret"));
  auto resp = Run("GET", Http("/digest"));
  EXPECT_EQ(resp->StatusCode(), 200);
  auto &req = dynamic_cast<TCurlHTTPRequest &>(*Request);
  EXPECT_EQ(req.LastServerAuthScheme(), CURLAUTH_DIGEST);
  TMemoryStream body(std::string(100000, 'd'));
  resp = Run("POST", Http("/digest"), &body);
  EXPECT_EQ(resp->StatusCode(), 200);
  EXPECT_NE(Content.DataString().find("\"length\": 100000"), std::string::npos)
      << "the body arrives whole after the challenge";
}

// Digest answers the challenge of the first request in the second, and
// both carry the whole body: an empty probe in between would let a lenient
// server answer a request that never carried the message.
TEST_F(HTTPLoopbackTest, DigestTakesTwoRequestsEachWithTheWholeBody) {
  struct {
    const char *Name;
    bool Proxy, Preemptive;
    const char *Password;
    int Status;
    const char *Requests;
  } cases[] = {
      {"server", false, true, "s3cret", 200, R"([["POST", 6, "Basic"], ["POST", 6, "Digest"]])"},
      {"server-wrong", false, true, "wrong", 401,
       R"([["POST", 6, "Basic"], ["POST", 6, "Digest"]])"},
      {"server-asked", false, false, "s3cret", 200, R"([["POST", 6, ""], ["POST", 6, "Digest"]])"},
      {"server-asked-wrong", false, false, "wrong", 401,
       R"([["POST", 6, ""], ["POST", 6, "Digest"]])"},
      {"proxy", true, true, "s3cret", 200, R"([["POST", 6, "Basic"], ["POST", 6, "Digest"]])"},
      {"proxy-wrong", true, true, "wrong", 407, R"([["POST", 6, "Basic"], ["POST", 6, "Digest"]])"},
  };
  for (auto &c : cases) {
    Client = std::make_unique<TCurlHTTPClient>();
    Client->SetPreemptiveAuthentication(c.Preemptive);
    std::string path = std::string(c.Proxy ? "/proxied/" : "/digest-lenient/") + c.Name;
    std::string url = Http(path);
    if (c.Proxy) {
      Client->SetProxySettings(TProxySettings("127.0.0.1", std::stoi(Env("VV_DIGEST_PROXY_PORT")),
                                              "alice", c.Password, "http"));
    } else {
      Client->CredentialsStorage().AddCredential(
          TCredential(TAuthTargetType::Server, "", "", "alice", c.Password));
    }
    TMemoryStream body(std::string("<env/>"));
    auto resp = Run("POST", url, &body);
    EXPECT_EQ(resp->StatusCode(), c.Status) << c.Name;
    EXPECT_EQ(Log(path), c.Requests) << c.Name;
    if (c.Status == 200) {
      EXPECT_NE(Content.DataString().find("\"length\": 6"), std::string::npos) << c.Name;
    }
  }
}

// A reused connection that dies before answering is libcurl's to retry on a
// fresh one within the pass: only an answered request ends a pass.
TEST_F(HTTPLoopbackTest, AConnectionThatDiesUnansweredIsRetried) {
  Client->CredentialsStorage().AddCredential(
      TCredential(TAuthTargetType::Server, "", "", "alice", "s3cret"));
  auto resp = Run("GET", Http("/drop-reused"));
  EXPECT_EQ(resp->StatusCode(), 200);
  EXPECT_EQ(Log("/drop-reused"), R"([["GET", 0, ""], ["GET", 0, "Basic"], ["GET", 0, "Basic"]])");
}

TEST_F(HTTPLoopbackTest, NegotiateIsPreferredOverBasic) {
  Client->SetPreemptiveAuthentication(true);
  Client->CredentialsStorage().AddCredential(
      TCredential(TAuthTargetType::Server, "", "", "alice", "not-the-password"));
  auto resp = Run("GET", Http("/negbasic"));
  auto &req = dynamic_cast<TCurlHTTPRequest &>(*Request);
  // The first pass carried Basic on its own; the challenge then chose Negotiate.
  EXPECT_EQ(req.LastServerAuthScheme(), CURLAUTH_NEGOTIATE);
  EXPECT_EQ(req.AppliedServerAuthScheme(), CURLAUTH_NEGOTIATE);
  EXPECT_EQ(req.GetHeaderValue("Authorization"), "");
}

TEST_F(HTTPLoopbackTest, RedirectsKeepThePostOrFailOnTheSixth) {
  Client->SetRedirectsWithGET({});
  TMemoryStream body(std::string("<env/>"));
  auto resp = Run("POST", Http("/redirect?n=2&code=302"), &body);
  EXPECT_EQ(resp->StatusCode(), 200);
  std::string echo = Content.DataString();
  EXPECT_NE(echo.find("\"method\": \"POST\""), std::string::npos) << echo;
  EXPECT_NE(echo.find("\"body\": \"<env/>\""), std::string::npos) << echo;

  {
    TCurlHTTPClient withGet; // default rules: a 303 turns a POST into a GET
    TMemoryStream b2(std::string("<env/>"));
    auto req = withGet.GetRequest("POST", Http("/redirect?n=1&code=303"));
    req->SetSourceStream(&b2);
    auto r2 = withGet.Execute(*req);
    EXPECT_NE(r2->ContentAsString().find("\"method\": \"GET\""), std::string::npos);
  }
  EXPECT_EQ(ErrorOf<ENetHTTPRequestException>("GET", Http("/redirect?n=6&code=307")),
            "Maximum number of redirections (5) exceeded");
  EXPECT_EQ(Run("GET", Http("/redirect?n=5&code=307"))->StatusCode(), 200);
}

TEST_F(HTTPLoopbackTest, ARedirectToAnotherSchemeIsNeverRead) {
  std::string msg =
      ErrorOf<ENetHTTPClientException>("GET", Http("/redirect-to?code=302&loc=file:///etc/passwd"));
  EXPECT_EQ(msg, "Error sending data: (1) Unsupported protocol");
  EXPECT_EQ(Content.DataString().find("root:"), std::string::npos);
}

TEST_F(HTTPLoopbackTest, CookiesOfOnePassGoWithTheNext) {
  auto resp = Run("GET", Http("/cookies"));
  EXPECT_NE(Content.DataString().find(EchoHeader("Cookie", "a=1; b=2")), std::string::npos)
      << Content.DataString();
}

TEST_F(HTTPLoopbackTest, DecompressionOnlyWhenAsked) {
  Run("GET", Http("/gzip"));
  ASSERT_GE(Content.Size(), 2);
  EXPECT_EQ(uint8_t(Content.Data()[0]), 0x1f) << "raw gzip bytes";
  Client->SetAutomaticDecompression({THTTPCompressionMethod::GZip});
  Run("GET", Http("/gzip"));
  EXPECT_EQ(Content.Size(), 1700);
  EXPECT_EQ(Content.DataString().substr(0, 17), "hello gzip world ");
}

TEST_F(HTTPLoopbackTest, ChunkedBodyArrivesWhole) {
  auto resp = Run("GET", Http("/chunked"));
  EXPECT_EQ(Content.Size(), 50000);
  EXPECT_EQ(resp->GetContentLength(), -1);
}

TEST_F(HTTPLoopbackTest, TimeoutsAndRefusedConnections) {
  Client->SetResponseTimeout(1000);
  EXPECT_EQ(ErrorOf<ENetHTTPClientException>("GET", Http("/slow-headers?ms=4000")),
            "Error receiving data: (28) Timeout was reached");
  EXPECT_EQ(ErrorOf<ENetHTTPClientException>("GET", Http("/slow-body?ms=4000")),
            "Error receiving data: (28) Timeout was reached");
  Client->SetResponseTimeout(20000);
  EXPECT_EQ(ErrorOf<ENetHTTPClientException>("GET", "http://127.0.0.1:1/"),
            "Error sending data: (7) Couldn't connect to server");
  EXPECT_EQ(Run("GET", Http("/status/200"))->StatusCode(), 200) << "the client stays usable";
}

TEST_F(HTTPLoopbackTest, SendTimeoutFollowsTheResponseTimeoutUnlessSetOnTheRequest) {
  Client->SetSendTimeout(1000);
  Client->SetResponseTimeout(60000);
  auto req = Client->GetRequest("POST", Http("/echo"));
  EXPECT_EQ(dynamic_cast<TCurlHTTPRequest &>(*req).EffectiveSendTimeout(), 60000);
}

// A body is kept up to the limit and no further, and the room kept for it
// never grows past the limit either, nor follows what a header announces.
TEST_F(HTTPLoopbackTest, BodiesStopAtTheLimitAndTheirRoomToo) {
  EXPECT_EQ(ErrorOf<ENetHTTPResponseException>("GET", Http("/huge")),
            "Error reading data: (63) Maximum file size exceeded");
  EXPECT_LT(Content.Data().capacity(), size_t(1) << 20) << "300 MiB announced, 1000 bytes sent";
  EXPECT_EQ(ErrorOf<ENetHTTPResponseException>("GET", Http("/endless")),
            "Error reading data: (63) Maximum file size exceeded");
  EXPECT_EQ(Content.Size(), kMaxResponseBody - (kMaxResponseBody % 65536));
  EXPECT_LE(Content.Data().capacity(), size_t(kMaxResponseBody));
}

TEST_F(HTTPLoopbackTest, HeaderBlocksAreBounded) {
  EXPECT_EQ(Run("GET", Http("/big-headers?n=200"))->GetHeaderValue("X-Filler-199").size(), 500u);
  EXPECT_EQ(ErrorOf<ENetHTTPClientException>("GET", Http("/big-headers?n=600")),
            "Error receiving data: (56) Response header block too large");
}

TEST_F(HTTPLoopbackTest, InvalidServerCertificateNeedsTheHandler) {
  EXPECT_EQ(ErrorOf<ENetHTTPCertificateException>("GET", Https("/echo")),
            "Error getting Server Certificate");
  int calls = 0;
  TCertificate seen;
  Client->OnValidateServerCertificate = [&](THTTPClient &, THTTPRequest &, const TCertificate &c,
                                            bool &accepted) {
    ++calls;
    seen = c;
    accepted = false;
  };
  EXPECT_EQ(ErrorOf<ENetHTTPCertificateException>("GET", Https("/echo")),
            "Server Certificate not accepted");
  EXPECT_EQ(calls, 1);
  EXPECT_NE(seen.Subject.find("localhost"), std::string::npos) << seen.Subject;
  EXPECT_EQ(seen.AlgSignature, "sha256WithRSAEncryption");
  EXPECT_EQ(seen.KeySize, 2048);
  EXPECT_EQ(seen.CertName, "localhost");

  Client->OnValidateServerCertificate = [&](THTTPClient &, THTTPRequest &, const TCertificate &,
                                            bool &accepted) {
    ++calls;
    accepted = true;
  };
  auto resp = Run("GET", Https("/echo"));
  EXPECT_EQ(resp->StatusCode(), 200);
  EXPECT_EQ(calls, 2) << "asked once, then sent again";
  EXPECT_EQ(ErrorOf<ENetHTTPCertificateException>("GET", Https("/echo")), "")
      << "each request decides again";
}

TEST_F(HTTPLoopbackTest, AValidCertificateIsShownToTheHandlerBeforeSending) {
  Client->SetCAFile(CertDir() + "/server.crt");
  EXPECT_EQ(Run("GET", Https("/echo"))->StatusCode(), 200);
  int before = Hits("/echo");
  Client->OnValidateServerCertificate = [&](THTTPClient &, THTTPRequest &, const TCertificate &c,
                                            bool &accepted) {
    EXPECT_TRUE(accepted);
    EXPECT_NE(c.Subject.find("localhost"), std::string::npos);
    accepted = false;
  };
  EXPECT_EQ(ErrorOf<ENetHTTPCertificateException>("GET", Https("/echo")),
            "Server Certificate not accepted");
  EXPECT_EQ(Hits("/echo"), before + 0) << "nothing was sent";
  Client->OnValidateServerCertificate = nullptr;
  std::string msg = ErrorOf<ENetHTTPClientException>("GET", Https("/echo", "127.0.0.2"));
  EXPECT_EQ(msg.rfind("Error sending data: (", 0), 0u) << msg;
}

TEST_F(HTTPLoopbackTest, SecureProtocolsLimitTheHandshake) {
  Client->SetCAFile(CertDir() + "/server.crt");
  std::string protocol;
  Client->OnValidateServerCertificate = [&](THTTPClient &, THTTPRequest &, const TCertificate &c,
                                            bool &) { protocol = c.ProtocolName; };
  Run("GET", Https("/echo"));
  EXPECT_EQ(protocol, "TLSv1.3");
  Client->SetSecureProtocols({THTTPSecureProtocol::TLS1, THTTPSecureProtocol::TLS12});
  EXPECT_EQ(Run("GET", Https("/echo"))->StatusCode(), 200);
  EXPECT_EQ(protocol, "TLSv1.2");
  Client->SetProtocolVersion(THTTPProtocolVersion::HTTP_2_0);
  EXPECT_EQ(Run("GET", Https("/echo"))->Version(), THTTPProtocolVersion::HTTP_1_1)
      << "HTTP/2 is only offered; the peer speaks 1.1";
}

// The peer offers HTTP/2 and notes what each TLS connection negotiated:
// the certificate probe and the repeat after acceptance speak HTTP/1.1
// like every other pass.
TEST_F(HTTPLoopbackTest, EveryConnectionSpeaksHTTP1UnlessHTTP2IsAsked) {
  Client->OnValidateServerCertificate = [](THTTPClient &, THTTPRequest &, const TCertificate &,
                                           bool &accepted) { accepted = true; };
  TMemoryStream body(std::string("<env/>"));
  std::string url = "https://localhost:" + Env("VV_ALPN_PORT") + "/echo/alpn";
  auto resp = Run("POST", url, &body);
  EXPECT_EQ(resp->StatusCode(), 200);
  EXPECT_EQ(resp->Version(), THTTPProtocolVersion::HTTP_1_1);
  EXPECT_EQ(Log("/echo/alpn"), R"([["POST", 6, ""]])");
  EXPECT_EQ(Peer("/connections"), R"(["http/1.1", "http/1.1"])") << "the probe, then the request";
}

TEST_F(HTTPLoopbackTest, ClientCertificatesFromPemOrPkcs12) {
  std::string url = "https://localhost:" + Env("VV_MTLS_PORT") + "/echo";
  Client->SetCAFile(CertDir() + "/server.crt");
  Client->OnNeedClientCertificate = [](THTTPClient &, THTTPRequest &, const TCertificateList &,
                                       int32_t &index) { index = 0; };
  auto withCert = [&](auto set) -> std::string {
    Request = Client->GetRequest("GET", url);
    set(*Request);
    Content.Clear();
    try {
      return std::to_string(Client->Execute(*Request, &Content)->StatusCode());
    } catch (const ENetException &e) {
      return e.Message;
    }
  };
  EXPECT_EQ(withCert([](THTTPRequest &) {}), "Empty certificate list");
  EXPECT_EQ(
      withCert([](THTTPRequest &r) { r.SetClientCertificate(CertDir() + "/client.pem", ""); }),
      "200");
  TMemoryStream p12(ReadFile(CertDir() + "/client.p12"));
  EXPECT_EQ(withCert([&](THTTPRequest &r) { r.SetClientCertificate(p12, "p12pass"); }), "200");
  EXPECT_EQ(
      withCert([](THTTPRequest &r) { r.SetClientCertificate(CertDir() + "/missing.pem", ""); }),
      "Error opening certificate file: (58) Problem with the local SSL certificate");
  EXPECT_EQ(
      withCert([](THTTPRequest &r) { r.SetClientCertificate(CertDir() + "/nocert.pem", ""); }),
      "Certificate is not found in file: (58) Problem with the local SSL certificate");
  std::string wrong = withCert([&](THTTPRequest &r) { r.SetClientCertificate(p12, "wrong"); });
  EXPECT_EQ(wrong.find("wrong"), std::string::npos) << "no password in messages: " << wrong;
}

TEST_F(HTTPLoopbackTest, NamedProxyWithAndWithoutCredentials) {
  if (Env("VV_PROXY_PORT").empty()) GTEST_SKIP() << "no tinyproxy";
  Client->SetProxySettings(TProxySettings("http://127.0.0.1:" + Env("VV_PROXY_PORT")));
  auto resp = Run("GET", Http("/echo"));
  EXPECT_EQ(resp->StatusCode(), 200);
  EXPECT_NE(Content.DataString().find("tinyproxy"), std::string::npos) << "went through the proxy";

  TCurlHTTPClient noCred;
  noCred.SetProxySettings(TProxySettings("http://127.0.0.1:" + Env("VV_PROXYAUTH_PORT")));
  auto req = noCred.GetRequest("GET", Http("/echo"));
  EXPECT_EQ(noCred.Execute(*req)->StatusCode(), 407);

  Client = std::make_unique<TCurlHTTPClient>();
  Client->SetPreemptiveAuthentication(true);
  Client->SetProxySettings(TProxySettings("127.0.0.1", std::stoi(Env("VV_PROXYAUTH_PORT")),
                                          Env("VV_PROXY_USER"), Env("VV_PROXY_PASSWORD"), "http"));
  EXPECT_EQ(Run("GET", Http("/echo"))->StatusCode(), 200);
  Client->OnValidateServerCertificate = [](THTTPClient &, THTTPRequest &, const TCertificate &,
                                           bool &accepted) { accepted = true; };
  EXPECT_EQ(Run("GET", Https("/echo", "127.0.0.1"))->StatusCode(), 200) << "CONNECT through it";
}

TEST_F(HTTPLoopbackTest, SystemProxyComesOnlyFromLowerCaseVariables) {
  if (Env("VV_PROXY_PORT").empty()) GTEST_SKIP() << "no tinyproxy";
  setenv("HTTP_PROXY", "http://127.0.0.1:1", 1); // what a client's "Proxy:" header becomes
  auto resp = Run("GET", Http("/echo"));
  EXPECT_EQ(resp->StatusCode(), 200);
  EXPECT_EQ(Content.DataString().find("tinyproxy"), std::string::npos);
  setenv("http_proxy", ("http://127.0.0.1:" + Env("VV_PROXY_PORT")).c_str(), 1);
  Run("GET", Http("/echo"));
  EXPECT_NE(Content.DataString().find("tinyproxy"), std::string::npos);
  setenv("no_proxy", "127.0.0.1", 1);
  Run("GET", Http("/echo"));
  EXPECT_EQ(Content.DataString().find("tinyproxy"), std::string::npos);
  unsetenv("HTTP_PROXY");
  unsetenv("http_proxy");
  unsetenv("no_proxy");
}

} // namespace
