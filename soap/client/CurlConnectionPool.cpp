#include "soap/client/CurlConnectionPool.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <memory>
#include <mutex>
#include <vector>

#include "soap/client/ClientLimits.h"
#include "soap/client/CurlLibrary.h"
#include "soap/client/CurlOptions.h"

namespace vv {

// The sockets of a group's connections, as libcurl opens and closes them
// (it calls back with this set's address for as long as a connection
// lives, so the set outlives its share).
struct TKeptSockets {
  std::vector<curl_socket_t> Open;
};

namespace {

using TSockets = TKeptSockets;

constexpr size_t DigestSize = 32; // bytes of a SHA-256 digest
// Bytes of the per-process salt: enough that no two processes share one
// and that a digest cannot be looked up in a table made in advance.
constexpr size_t SaltSize = 16;

curl_socket_t OpenSocket(void *set, curlsocktype, curl_sockaddr *address) {
  curl_socket_t fd = socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
  if (fd != CURL_SOCKET_BAD) static_cast<TSockets *>(set)->Open.push_back(fd);
  return fd;
}

int CloseSocket(void *set, curl_socket_t fd) {
  std::erase(static_cast<TSockets *>(set)->Open, fd);
  return close(fd);
}

struct TGroup {
  std::string Key; // digest of the profile
  CURLSH *Share = nullptr;
  std::unique_ptr<TSockets> Sockets;
  uint64_t LastUse = 0;
  bool Busy = false;
  // Input arrived on one of its connections beyond the answer it carried.
  bool Dirty = false;
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

// What a file of trust (certificates) holds, for the profile: a file whose
// content changes keeps its path, but must not keep its connections nor
// the TLS sessions learnt under the old content. "" when it cannot be read
// (the exchange then fails on its own); false when it is too large to read
// on every call, and so cannot be told apart from its next version.
bool FileContent(const std::string &path, std::string &content) {
  content.clear();
  if (path.empty()) return true;
  std::ifstream in(path, std::ios::binary);
  if (!in) return true;
  char piece[16384];
  while (in.read(piece, sizeof piece) || in.gcount() > 0) {
    content.append(piece, size_t(in.gcount()));
    if (content.size() > kMaxTrustFileKeyed) return false;
  }
  return true;
}

// A folder of certificates is named by what changes when certificates are
// added, removed or replaced there (as the system's tools do: by links and
// renames): the folder's own identity and times.
std::string FolderState(const std::string &path) {
  struct stat st;
  if (path.empty() || stat(path.c_str(), &st) != 0) return "";
  return std::to_string(st.st_dev) + "/" + std::to_string(st.st_ino) + "/" +
         std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec) + "/" +
         std::to_string(st.st_ctim.tv_sec) + "." + std::to_string(st.st_ctim.tv_nsec);
}

// True when one of the sockets holds input: a kept connection has no
// business receiving anything between exchanges, and what arrived would be
// read as the next exchange's answer. A socket that only reports its end
// (the upstream closed it) is no such case: libcurl does not reuse it.
bool UnreadInput(const TSockets &sockets) {
  std::vector<pollfd> polls;
  for (curl_socket_t fd : sockets.Open) polls.push_back({fd, POLLIN, 0});
  if (polls.empty() || poll(polls.data(), polls.size(), 0) <= 0) return false;
  for (const pollfd &p : polls) {
    char byte;
    if (p.revents && recv(p.fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT) > 0) return true;
  }
  return false;
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
  std::string text = pool.Salt, caFile, clientCert;
  if (!FileContent(profile.CAFile, caFile) || !FileContent(profile.ClientCertPath, clientCert))
    return {};
  for (const std::string *f : std::initializer_list<const std::string *>{
           &profile.Origin, &profile.Proxy, &profile.NoProxy, &profile.ServerUser,
           &profile.ServerPassword, &profile.ProxyUser, &profile.ProxyPassword, &profile.CAFile,
           &profile.CAPath, &profile.ClientCertPath, &profile.ClientCertData,
           &profile.ClientCertPassword, &profile.AcceptedCertificate, &profile.Scope, &caFile,
           &clientCert})
    Field(text, *f);
  Field(text, FolderState(profile.CAPath));
  Field(text, std::to_string(profile.SSLVersion) + (profile.HTTP2 ? "/2" : "/1"));
  std::string key(DigestSize, '\0');
  unsigned int size = 0;
  bool ok = api.digest(text.data(), text.size(), reinterpret_cast<unsigned char *>(key.data()),
                       &size, pool.Algorithm, nullptr) == 1 &&
            size == DigestSize;
  std::fill(text.begin(), text.end(), '\0');
  std::fill(clientCert.begin(), clientCert.end(), '\0');
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

// A group whose connections must not be used again starts over: its
// connections, TLS sessions and names go, as if it had never been.
bool Renew(TGroup &group) {
  CURLSH *share = NewShare();
  if (!share) return false;
  if (group.Share && CurlApi().share_cleanup(group.Share) != CURLSHE_OK) {
    CurlApi().share_cleanup(share);
    return false;
  }
  group.Share = share;
  group.Sockets = std::make_unique<TSockets>();
  group.Dirty = false;
  return true;
}

// The group for `key`, made if need be (the least recently used idle one
// gives way when all slots are taken); null when none can be had.
TGroup *FindGroup(TPool &pool, const std::string &key) {
  TGroup *oldest = nullptr;
  for (TGroup &g : pool.Groups) {
    if (g.Key == key) {
      if (g.Busy) return nullptr;
      if ((g.Dirty || UnreadInput(*g.Sockets)) && !Renew(g)) return nullptr;
      return &g;
    }
    if (!g.Busy && (!oldest || g.LastUse < oldest->LastUse)) oldest = &g;
  }
  TGroup fresh;
  fresh.Key = key;
  if (pool.Groups.size() < kMaxKeptGroups) {
    if (!Renew(fresh)) return nullptr;
    pool.Groups.push_back(std::move(fresh));
    return &pool.Groups.back();
  }
  if (!oldest || !Renew(*oldest)) return nullptr;
  oldest->Key = key;
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
  FSockets = group->Sockets.get();
  SetOptPointer(handle, CURLOPT_OPENSOCKETFUNCTION, reinterpret_cast<void *>(&OpenSocket));
  SetOptPointer(handle, CURLOPT_OPENSOCKETDATA, FSockets);
  SetOptPointer(handle, CURLOPT_CLOSESOCKETFUNCTION, reinterpret_cast<void *>(&CloseSocket));
  SetOptPointer(handle, CURLOPT_CLOSESOCKETDATA, FSockets);
  SetOpt(handle, CURLOPT_MAXCONNECTS, kMaxConnectionsPerGroup);
  SetOpt(handle, CURLOPT_MAXAGE_CONN, kMaxIdleSeconds);
  SetOpt(handle, CURLOPT_MAXLIFETIME_CONN, kMaxConnectionLifetime);
}

TCurlConnectionLease::~TCurlConnectionLease() {
  if (!FShare) return;
  const TCurlApi &api = CurlApi();
  bool dirty = LeftInput();
  // Connections made from here on are the handle's own again.
  SetOptPointer(FHandle, CURLOPT_OPENSOCKETFUNCTION, nullptr);
  SetOptPointer(FHandle, CURLOPT_CLOSESOCKETFUNCTION, nullptr);
  api.easy_setopt(FHandle, CURLOPT_SHARE, static_cast<CURLSH *>(nullptr));
  TPool &pool = Pool();
  std::lock_guard<std::mutex> guard(pool.Lock);
  for (TGroup &g : pool.Groups)
    if (g.Share == FShare) {
      g.Busy = false;
      g.Dirty = g.Dirty || dirty;
      g.LastUse = ++pool.Clock;
    }
}

void TCurlConnectionLease::NoteConnection(int localPort) {
  const TCurlApi &api = CurlApi();
  FLocalPort = localPort;
  FTLS = nullptr;
  curl_tlssessioninfo *tls = nullptr;
  if (api.easy_getinfo(FHandle, CURLINFO_TLS_SSL_PTR, &tls) == CURLE_OK && tls &&
      tls->backend == CURLSSLBACKEND_OPENSSL)
    FTLS = tls->internals;
}

// After an exchange: the connection it leaves with the group must have
// nothing unread, neither in its socket nor, over TLS, already taken from
// the socket by the TLS library. Its TLS state is the one noted when the
// exchange began, valid while that very connection is still kept.
bool TCurlConnectionLease::LeftInput() const {
  const TCurlApi &api = CurlApi();
  curl_socket_t fd = CURL_SOCKET_BAD;
  if (api.easy_getinfo(FHandle, CURLINFO_ACTIVESOCKET, &fd) != CURLE_OK || fd == CURL_SOCKET_BAD ||
      std::find(FSockets->Open.begin(), FSockets->Open.end(), fd) == FSockets->Open.end())
    return false;
  TSockets one;
  one.Open.push_back(fd);
  if (UnreadInput(one)) return true;
  // The same connection: a connection to the upstream (or its proxy) is
  // told by its local port while it lives.
  sockaddr_storage local;
  socklen_t length = sizeof local;
  if (!FTLS || !api.ssl_has_pending ||
      getsockname(fd, reinterpret_cast<sockaddr *>(&local), &length) != 0)
    return false;
  int port = local.ss_family == AF_INET6  ? ntohs(reinterpret_cast<sockaddr_in6 &>(local).sin6_port)
             : local.ss_family == AF_INET ? ntohs(reinterpret_cast<sockaddr_in &>(local).sin_port)
                                          : -1;
  return port == FLocalPort && api.ssl_has_pending(FTLS) == 1;
}

} // namespace vv
