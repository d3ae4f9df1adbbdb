#include "soap/client/CurlConnectionPool.h"

#include <sys/random.h>

#include <algorithm>
#include <cstdint>
#include <mutex>
#include <vector>

#include "soap/client/ClientLimits.h"
#include "soap/client/CurlLibrary.h"
#include "soap/client/CurlOptions.h"

namespace vv {

namespace {

constexpr size_t DigestSize = 32; // bytes of a SHA-256 digest
// Bytes of the per-process salt: enough that no two processes share one
// and that a digest cannot be looked up in a table made in advance.
constexpr size_t SaltSize = 16;

struct TGroup {
  std::string Key; // digest of the profile
  CURLSH *Share = nullptr;
  uint64_t LastUse = 0;
  bool Busy = false;
};

struct TPool {
  std::mutex Lock;
  bool Enabled = false;
  std::vector<TGroup> Groups;
  uint64_t Clock = 0;
  std::string Salt;                // empty until made; never leaves the process
  const void *Algorithm = nullptr; // the digest's, fetched once
};

TPool &Pool() {
  static TPool pool; // reachable to the end: nothing of it is lost at exit
  return pool;
}

void Field(std::string &out, const std::string &value) {
  out += std::to_string(value.size());
  out += ':';
  out += value;
}

// The digest the group of a profile is filed under, salted per process so
// that nothing kept in memory reads back as a password; empty when it
// cannot be made (no digest function or no randomness).
std::string GroupKey(TPool &pool, const TCurlConnectionProfile &profile) {
  const TCurlApi &api = CurlApi();
  if (!api.md_fetch) return {};
  if (!pool.Algorithm) pool.Algorithm = api.md_fetch(nullptr, "SHA256", nullptr);
  if (!pool.Algorithm) return {};
  if (pool.Salt.empty()) {
    std::string salt(SaltSize, '\0');
    if (getrandom(salt.data(), salt.size(), 0) != ssize_t(salt.size())) return {};
    pool.Salt = salt;
  }
  std::string text = pool.Salt;
  for (const std::string *f :
       {&profile.Origin, &profile.Proxy, &profile.NoProxy, &profile.ServerUser,
        &profile.ServerPassword, &profile.ProxyUser, &profile.ProxyPassword, &profile.CAFile,
        &profile.CAPath, &profile.ClientCertPath, &profile.ClientCertData,
        &profile.ClientCertPassword, &profile.AcceptedCertificate, &profile.Scope})
    Field(text, *f);
  Field(text, std::to_string(profile.SSLVersion) + (profile.HTTP2 ? "/2" : "/1"));
  std::string key(DigestSize, '\0');
  unsigned int size = 0;
  bool ok = api.digest(text.data(), text.size(), reinterpret_cast<unsigned char *>(key.data()),
                       &size, pool.Algorithm, nullptr) == 1 &&
            size == DigestSize;
  std::fill(text.begin(), text.end(), '\0');
  return ok ? key : std::string();
}

CURLSH *NewShare() {
  const TCurlApi &api = CurlApi();
  CURLSH *share = api.share_init();
  if (!share) return nullptr;
  for (curl_lock_data what :
       {CURL_LOCK_DATA_CONNECT, CURL_LOCK_DATA_SSL_SESSION, CURL_LOCK_DATA_DNS})
    if (api.share_setopt(share, CURLSHOPT_SHARE, what) != CURLSHE_OK) {
      api.share_cleanup(share);
      return nullptr;
    }
  return share;
}

// The group for `key`, made if need be (the least recently used idle one
// gives way when all slots are taken); null when none can be had.
TGroup *FindGroup(TPool &pool, const std::string &key) {
  TGroup *oldest = nullptr;
  for (TGroup &g : pool.Groups) {
    if (g.Key == key) return g.Busy ? nullptr : &g;
    if (!g.Busy && (!oldest || g.LastUse < oldest->LastUse)) oldest = &g;
  }
  CURLSH *share = NewShare();
  if (!share) return nullptr;
  if (pool.Groups.size() < kMaxKeptGroups) {
    pool.Groups.push_back(TGroup{key, share});
    return &pool.Groups.back();
  }
  if (!oldest || CurlApi().share_cleanup(oldest->Share) != CURLSHE_OK) {
    CurlApi().share_cleanup(share);
    return nullptr;
  }
  *oldest = TGroup{key, share};
  return oldest;
}

} // namespace

void SetKeepConnections(bool on) {
  TPool &pool = Pool();
  std::lock_guard<std::mutex> guard(pool.Lock);
  pool.Enabled = on;
}

bool KeepConnections() {
  TPool &pool = Pool();
  std::lock_guard<std::mutex> guard(pool.Lock);
  return pool.Enabled;
}

void CloseKeptConnections() {
  TPool &pool = Pool();
  std::lock_guard<std::mutex> guard(pool.Lock);
  std::erase_if(pool.Groups, [](const TGroup &g) {
    return !g.Busy && CurlApi().share_cleanup(g.Share) == CURLSHE_OK;
  });
}

TCurlConnectionLease::TCurlConnectionLease(CURL *handle, const TCurlConnectionProfile &profile)
    : FHandle(handle) {
  TPool &pool = Pool();
  std::lock_guard<std::mutex> guard(pool.Lock);
  if (!pool.Enabled) return;
  std::string key = GroupKey(pool, profile);
  TGroup *group = key.empty() ? nullptr : FindGroup(pool, key);
  if (!group) return;
  if (CurlApi().easy_setopt(handle, CURLOPT_SHARE, group->Share) != CURLE_OK) return;
  group->Busy = true;
  FShare = group->Share;
  SetOpt(handle, CURLOPT_MAXCONNECTS, kMaxConnectionsPerGroup);
  SetOpt(handle, CURLOPT_MAXAGE_CONN, kMaxIdleSeconds);
  SetOpt(handle, CURLOPT_MAXLIFETIME_CONN, kMaxConnectionLifetime);
}

TCurlConnectionLease::~TCurlConnectionLease() {
  if (!FShare) return;
  CurlApi().easy_setopt(FHandle, CURLOPT_SHARE, static_cast<CURLSH *>(nullptr));
  TPool &pool = Pool();
  std::lock_guard<std::mutex> guard(pool.Lock);
  for (TGroup &g : pool.Groups)
    if (g.Share == FShare) {
      g.Busy = false;
      g.LastUse = ++pool.Clock;
    }
}

} // namespace vv
