// Credentials for servers and proxies, kept by the HTTP client and looked up
// when a server or proxy asks for authentication.
#pragma once

#include <mutex>
#include <string>
#include <vector>

namespace vv {

enum class TAuthTargetType { Proxy, Server };
// Where a credential given by the authentication callback is kept.
enum class TAuthPersistenceType { Request, Client };

class TCredentialsStorage {
public:
  struct TCredential {
    TAuthTargetType AuthTarget = TAuthTargetType::Server;
    std::string Realm;
    std::string URL;
    std::string UserName;
    std::string Password;

    TCredential() = default;
    TCredential(TAuthTargetType target, std::string realm, std::string url, std::string user,
                std::string password)
        : AuthTarget(target), Realm(std::move(realm)), URL(std::move(url)),
          UserName(std::move(user)), Password(std::move(password)) {}
    bool IsEmpty() const { return UserName.empty() && Password.empty(); }
  };
  using TCredentialList = std::vector<TCredential>;

  // Stores `credential`; raises ENetCredentialException "Credential without user and
  // password" for an empty server credential. A credential that the store
  // already matches (target, realm, URL, user) is ignored: returns false.
  bool AddCredential(const TCredential &credential);
  bool RemoveCredential(TAuthTargetType target, const std::string &realm,
                        const std::string &url = "", const std::string &user = "");
  // The stored credentials matching target, realm, URL host and user (see the .cpp).
  TCredentialList FindCredentials(TAuthTargetType target, const std::string &realm,
                                  const std::string &url = "", const std::string &user = "") const;
  void ClearCredentials();
  TCredentialList Credentials() const;
  size_t Count() const;

  // Order for offering: credentials with a realm first, by realm ignoring
  // case; then by URL, descending; then by user name.
  static void SortCredentials(TCredentialList &list);

private:
  mutable std::mutex FLock;
  TCredentialList FCredentials;
};

using TCredential = TCredentialsStorage::TCredential;

} // namespace vv
