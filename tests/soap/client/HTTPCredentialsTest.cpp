// The credential store, proxy settings and the client's custom headers.
#include <gtest/gtest.h>

#include "soap/client/HTTPClient.h"

using namespace vv;

namespace {

using T = TAuthTargetType;

TEST(HTTPCredentialsTest, AddRefusesEmptyServerCredentialAndIgnoresDuplicates) {
  TCredentialsStorage s;
  try {
    s.AddCredential(TCredential(T::Server, "", "http://h/", "", ""));
    ADD_FAILURE();
  } catch (const ENetCredentialException &e) {
    EXPECT_EQ(e.Message, "Credential without user and password");
    EXPECT_TRUE(e.InheritsFrom("ENetException"));
  }
  EXPECT_TRUE(s.AddCredential(TCredential(T::Proxy, "", "http://p:3128", "", "")));
  EXPECT_TRUE(s.AddCredential(TCredential(T::Server, "", "http://h/", "u", "p")));
  EXPECT_FALSE(s.AddCredential(TCredential(T::Server, "", "http://h/x", "U", "other")));
  EXPECT_TRUE(s.AddCredential(TCredential(T::Server, "", "http://h/", "v", "p")));
  EXPECT_EQ(s.Count(), 3u);
  s.ClearCredentials();
  EXPECT_EQ(s.Count(), 0u);
}

TEST(HTTPCredentialsTest, FindMatchesTargetRealmHostPrefixAndUser) {
  TCredentialsStorage s;
  s.AddCredential(TCredential(T::Server, "Zone", "http://api.example/", "ann", "1"));
  s.AddCredential(TCredential(T::Server, "", "http://other.example/", "bob", "2"));
  s.AddCredential(TCredential(T::Server, "", "", "cat", "3"));
  s.AddCredential(TCredential(T::Proxy, "", "http://proxy:3128", "dan", "4"));
  struct {
    T Target;
    const char *Realm, *URL, *User;
    const char *Expected; // users found, in store order
  } cases[] = {
      {T::Server, "", "", "", "ann bob cat"},
      {T::Server, "zone", "", "", "ann bob cat"},
      {T::Server, "Elsewhere", "", "", "bob cat"},
      {T::Server, "", "http://API.example:8080/svc", "", "ann cat"},
      {T::Server, "", "https://api.example.org/", "", "ann cat"}, // host begins with the stored one
      {T::Server, "", "http://example/", "", "cat"},
      {T::Server, "", "", "BOB", "bob"},
      {T::Proxy, "", "", "", "dan"},
      {T::Proxy, "any", "http://proxy/", "dan", "dan"},
  };
  for (auto &c : cases) {
    SCOPED_TRACE(std::string(c.Realm) + "|" + c.URL + "|" + c.User);
    std::string users;
    for (const TCredential &f : s.FindCredentials(c.Target, c.Realm, c.URL, c.User))
      users += (users.empty() ? "" : " ") + f.UserName;
    EXPECT_EQ(users, c.Expected);
  }
}

TEST(HTTPCredentialsTest, SortPutsRealmsFirstThenURLDescendingThenUser) {
  TCredentialsStorage::TCredentialList list = {
      TCredential(T::Server, "", "http://a/", "z", ""),
      TCredential(T::Server, "beta", "http://a/", "y", ""),
      TCredential(T::Server, "", "http://b/", "x", ""),
      TCredential(T::Server, "Alpha", "http://a/", "w", ""),
      TCredential(T::Server, "", "http://b/", "a", ""),
  };
  TCredentialsStorage::SortCredentials(list);
  std::string order;
  for (auto &c : list) order += c.UserName;
  EXPECT_EQ(order, "wyaxz");
}

TEST(HTTPCredentialsTest, ProxySettingsParseAndAddTheirCredential) {
  TProxySettings p("http://pu:pp@10.0.0.1:3128");
  EXPECT_EQ(p.Host(), "10.0.0.1");
  EXPECT_EQ(p.Port(), 3128);
  EXPECT_EQ(p.Scheme(), "http");
  EXPECT_EQ(p.Credential().URL, "http://10.0.0.1:3128");
  EXPECT_EQ(p.Credential().AuthTarget, T::Proxy);
  EXPECT_EQ(TProxySettings("proxy", 8080).ToURL(), "http://proxy:8080");
  for (const char *bad : {"10.0.0.1:3128", "proxy.example:8080"}) {
    try {
      TProxySettings q(bad);
      ADD_FAILURE() << bad;
    } catch (const ENetURIException &e) {
      EXPECT_EQ(e.Message, std::string("Invalid URL: \"") + bad + "\"");
    }
  }
  auto client = THTTPClient::Create();
  client->SetProxySettings(TProxySettings("http://10.0.0.1:3128"));
  EXPECT_EQ(client->CredentialsStorage().Count(), 0u) << "no user: nothing stored";
  client->SetProxySettings(p);
  auto found = client->CredentialsStorage().FindCredentials(T::Proxy, "");
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].UserName, "pu");
  EXPECT_EQ(found[0].Password, "pp");
  EXPECT_EQ(found[0].URL, "http://10.0.0.1:3128");
}

TEST(HTTPCredentialsTest, CustomHeadersStartWithUserAgent) {
  auto client = THTTPClient::Create();
  ASSERT_EQ(client->CustomHeaders().size(), 1u);
  EXPECT_EQ(client->CustomHeaders()[0].Name, "User-Agent");
  EXPECT_EQ(client->UserAgent(), "Zentrova URI Client/1.0");
  client->SetCustomHeaderValue("Content-Type", "text/xml");
  client->SetCustomHeaderValue("user-agent", "Zentrova SOAP 1.4");
  client->SetCustomHeaderValue("CONTENT-TYPE", "text/xml; charset=utf-8");
  ASSERT_EQ(client->CustomHeaders().size(), 2u);
  EXPECT_EQ(client->CustomHeaders()[0].Value, "Zentrova SOAP 1.4");
  EXPECT_EQ(client->GetCustomHeaderValue("content-type"), "text/xml; charset=utf-8");
  EXPECT_EQ(client->GetCustomHeaderValue("Accept"), "");
}

TEST(HTTPCredentialsTest, OwnStoreIsRestoredWhenNoneIsSet) {
  auto client = THTTPClient::Create();
  TCredentialsStorage shared;
  client->SetCredentialsStorage(&shared);
  client->CredentialsStorage().AddCredential(TCredential(T::Server, "", "", "u", "p"));
  EXPECT_EQ(shared.Count(), 1u);
  client->SetCredentialsStorage(nullptr);
  EXPECT_EQ(client->CredentialsStorage().Count(), 0u);
}

TEST(HTTPCredentialsTest, ErrorClassesFormTheirTree) {
  struct {
    const char *Name, *Parent;
    bool (*Check)();
  } cases[] = {
      {"ENetHTTPException", "ENetURIException",
       [] { return ENetHTTPException("x").InheritsFrom("ENetURIException"); }},
      {"ENetHTTPCertificateException", "ENetURIException",
       [] { return ENetHTTPCertificateException("x").InheritsFrom("ENetURIException"); }},
      {"ENetHTTPClientException", "ENetURIClientException",
       [] { return ENetHTTPClientException("x").InheritsFrom("ENetURIClientException"); }},
      {"ENetHTTPRequestException", "ENetURIRequestException",
       [] { return ENetHTTPRequestException("x").InheritsFrom("ENetURIRequestException"); }},
      {"ENetHTTPResponseException", "ENetURIResponseException",
       [] { return ENetHTTPResponseException("x").InheritsFrom("ENetURIResponseException"); }},
      {"ENetCredentialException", "ENetException",
       [] { return ENetCredentialException("x").InheritsFrom("ENetException"); }},
  };
  for (auto &c : cases) EXPECT_TRUE(c.Check()) << c.Name << " under " << c.Parent;
  EXPECT_STREQ(ENetHTTPClientException("x").ClassName(), "ENetHTTPClientException");
  EXPECT_TRUE(ENetHTTPClientException("x").InheritsFrom("ENetException"));
  EXPECT_FALSE(ENetHTTPClientException("x").InheritsFrom("ENetURIException"));
}

} // namespace
