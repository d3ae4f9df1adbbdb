#include "soap/client/CredentialsStorage.h"

#include <algorithm>

#include "rtl/StrUtils.h"
#include "soap/client/NetException.h"
#include "soap/client/URI.h"

namespace vv {

namespace {

// The host of a URL text; a text that is no URL stands for itself.
std::string HostOf(const std::string &url) {
  if (url.empty()) return {};
  try {
    return TURI(url).Host;
  } catch (const ENetURIException &) {
    return LowerCase(url);
  }
}

bool Matches(const TCredential &c, TAuthTargetType target, const std::string &realm,
             const std::string &askedHost, const std::string &user) {
  if (c.AuthTarget != target) return false;
  if (!realm.empty() && !c.Realm.empty() && !SameText(realm, c.Realm)) return false;
  if (!askedHost.empty()) {
    std::string stored = HostOf(c.URL);
    if (!stored.empty() && !StartsText(stored, askedHost)) return false;
  }
  return user.empty() || SameText(user, c.UserName);
}

int CompareText(const std::string &a, const std::string &b) {
  std::string la = LowerCase(a), lb = LowerCase(b);
  return la < lb ? -1 : la > lb ? 1 : 0;
}

} // namespace

bool TCredentialsStorage::AddCredential(const TCredential &credential) {
  if (credential.AuthTarget == TAuthTargetType::Server && credential.IsEmpty())
    throw ENetCredentialException("Credential without user and password");
  std::lock_guard<std::mutex> guard(FLock);
  std::string host = HostOf(credential.URL);
  for (const TCredential &stored : FCredentials)
    if (Matches(stored, credential.AuthTarget, credential.Realm, host, credential.UserName))
      return false;
  FCredentials.push_back(credential);
  return true;
}

bool TCredentialsStorage::RemoveCredential(TAuthTargetType target, const std::string &realm,
                                           const std::string &url, const std::string &user) {
  std::lock_guard<std::mutex> guard(FLock);
  std::string host = HostOf(url);
  auto it = std::remove_if(FCredentials.begin(), FCredentials.end(), [&](const TCredential &c) {
    return Matches(c, target, realm, host, user);
  });
  bool removed = it != FCredentials.end();
  FCredentials.erase(it, FCredentials.end());
  return removed;
}

TCredentialsStorage::TCredentialList
TCredentialsStorage::FindCredentials(TAuthTargetType target, const std::string &realm,
                                     const std::string &url, const std::string &user) const {
  std::lock_guard<std::mutex> guard(FLock);
  std::string host = HostOf(url);
  TCredentialList found;
  for (const TCredential &c : FCredentials)
    if (Matches(c, target, realm, host, user)) found.push_back(c);
  return found;
}

void TCredentialsStorage::ClearCredentials() {
  std::lock_guard<std::mutex> guard(FLock);
  FCredentials.clear();
}

TCredentialsStorage::TCredentialList TCredentialsStorage::Credentials() const {
  std::lock_guard<std::mutex> guard(FLock);
  return FCredentials;
}

size_t TCredentialsStorage::Count() const {
  std::lock_guard<std::mutex> guard(FLock);
  return FCredentials.size();
}

void TCredentialsStorage::SortCredentials(TCredentialList &list) {
  std::stable_sort(list.begin(), list.end(), [](const TCredential &a, const TCredential &b) {
    if (a.Realm.empty() != b.Realm.empty()) return !a.Realm.empty();
    if (int r = CompareText(a.Realm, b.Realm)) return r < 0;
    if (int u = CompareText(a.URL, b.URL)) return u > 0;
    return CompareText(a.UserName, b.UserName) < 0;
  });
}

} // namespace vv
