#include "soap/client/CurlConnectionPool.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <ctime>
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
// lives, so the set outlives its share), each with the time the request of
// its last exchange went out (0 while it has had none).
struct TKeptSockets {
  struct TSocket {
    curl_socket_t Fd;
    int64_t LastSentUs;
  };
  std::vector<TSocket> Open;

  TSocket *Find(curl_socket_t fd) {
    for (TSocket &s : Open)
      if (s.Fd == fd) return &s;
    return nullptr;
  }
};

namespace {

constexpr size_t DigestSize = 32; // bytes of a SHA-256 digest
// Bytes of the per-process salt: enough that no two processes share one
// and that a digest cannot be looked up in a table made in advance.
constexpr size_t SaltSize = 16;

int64_t NowUs() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return int64_t(t.tv_sec) * 1000000 + t.tv_nsec / 1000;
}

curl_socket_t OpenSocket(void *set, curlsocktype, curl_sockaddr *address) {
  curl_socket_t fd = socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
  if (fd != CURL_SOCKET_BAD) static_cast<TKeptSockets *>(set)->Open.push_back({fd, 0});
  return fd;
}

int CloseSocket(void *set, curl_socket_t fd) {
  std::erase_if(static_cast<TKeptSockets *>(set)->Open,
                [fd](const TKeptSockets::TSocket &s) { return s.Fd == fd; });
  return close(fd);
}

struct TGroup {
  std::string Key; // digest of the profile
  CURLSH *Share = nullptr;
  std::unique_ptr<TKeptSockets> Sockets;
  uint64_t LastUse = 0;
  bool Busy = false;
  // Input arrived on one of its connections beyond the answer it carried.
  bool Dirty = false;
  // How long the upstream took to answer in the group's last exchanges
  // (from the request's going out to the answer's end), in microseconds.
  std::array<int64_t, kAnswerWaitsKept> Waits{};
  size_t NextWait = 0;

  // How long after a connection's last request went out it may serve
  // again: an answer still owed to that request (should the exchange have
  // been answered early by bytes nobody asked for) would have come by then.
  int64_t QuietUs() const {
    return *std::max_element(Waits.begin(), Waits.end()) * kQuietPercent / 100;
  }
};

struct TPool {
  std::mutex Lock;
  bool Enabled = false;
  std::vector<TGroup> Groups;
  std::vector<CURL *> SpareHandles;
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

// True when one of the sockets holds input now, or receives any within
// `waitUs`: a kept connection has no business receiving anything between
// exchanges, and what arrived would be read as the next exchange's answer.
// A socket that only reports its end (the upstream closed it) is no such
// case: libcurl does not reuse it.
bool UnreadInput(const TKeptSockets &sockets, int64_t waitUs = 0) {
  std::vector<pollfd> polls;
  for (const TKeptSockets::TSocket &s : sockets.Open) polls.push_back({s.Fd, POLLIN, 0});
  int64_t deadline = NowUs() + waitUs;
  while (!polls.empty()) {
    int64_t left = std::max<int64_t>(0, deadline - NowUs());
    timespec limit = {time_t(left / 1000000), long(left % 1000000) * 1000L};
    int n = ppoll(polls.data(), polls.size(), &limit, nullptr);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    for (pollfd &p : polls) {
      char byte;
      if (p.revents && recv(p.fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT) > 0) return true;
    }
    std::erase_if(polls, [](const pollfd &p) { return p.revents != 0; }); // ended ones
  }
  return false;
}

// The time still to wait before every kept connection of the group has
// been quiet long enough to serve.
int64_t QuietStillDue(const TGroup &group) {
  int64_t now = NowUs(), due = 0, quiet = group.QuietUs();
  for (const TKeptSockets::TSocket &s : group.Sockets->Open)
    if (s.LastSentUs) due = std::max(due, s.LastSentUs + quiet - now);
  return due;
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
  std::string text = pool.Salt, caFile, clientCert, folder;
  // Certificates count only where TLS is spoken: to the server or to the
  // proxy.
  bool tls = profile.Origin.starts_with("https:") || profile.Proxy.starts_with("https:");
  if (tls &&
      (!FileContent(profile.CAFile, caFile) || !FileContent(profile.ClientCertPath, clientCert)))
    return {};
  if (tls) folder = FolderState(profile.CAPath);
  for (const std::string *f : std::initializer_list<const std::string *>{
           &profile.Origin, &profile.Proxy, &profile.NoProxy, &profile.ServerUser,
           &profile.ServerPassword, &profile.ProxyUser, &profile.ProxyPassword, &profile.CAFile,
           &profile.CAPath, &profile.ClientCertPath, &profile.ClientCertData,
           &profile.ClientCertPassword, &profile.AcceptedCertificate, &profile.Scope, &caFile,
           &clientCert})
    Field(text, *f);
  Field(text, folder);
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
  group.Sockets = std::make_unique<TKeptSockets>();
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
  for (CURL *handle : pool.SpareHandles) CurlApi().easy_cleanup(handle);
  pool.SpareHandles.clear();
  std::erase_if(pool.Groups, [](const TGroup &g) {
    return !g.Busy && CurlApi().share_cleanup(g.Share) == CURLSHE_OK;
  });
}

CURL *TakeCurlHandle() {
  TPool &pool = Pool();
  {
    std::lock_guard<std::mutex> guard(pool.Lock);
    if (pool.Enabled && !pool.SpareHandles.empty()) {
      CURL *handle = pool.SpareHandles.back();
      pool.SpareHandles.pop_back();
      return handle;
    }
  }
  return CurlApi().easy_init();
}

void GiveBackCurlHandle(CURL *handle, bool ownConnections) {
  if (!handle) return;
  const TCurlApi &api = CurlApi();
  TPool &pool = Pool();
  {
    std::lock_guard<std::mutex> guard(pool.Lock);
    if (pool.Enabled && !ownConnections && pool.SpareHandles.size() < kMaxSpareHandles) {
      api.easy_reset(handle);
      pool.SpareHandles.push_back(handle);
      return;
    }
  }
  api.easy_cleanup(handle);
}

TCurlConnectionLease::TCurlConnectionLease(CURL *handle, const TCurlConnectionProfile &profile)
    : FHandle(handle) {
  TPool &pool = Pool();
  std::lock_guard<std::mutex> guard(pool.Lock);
  if (!pool.Enabled) return;
  std::string key = GroupKey(pool, profile);
  TGroup *group = key.empty() ? nullptr : FindGroup(pool, key);
  if (!group) return;
  // A connection not yet quiet long enough is waited for a little; rather
  // than wait longer, the exchange takes a new connection.
  int64_t due = QuietStillDue(*group);
  if (due > kMaxQuietWaitUs) {
    FFresh = true;
  } else if (due > 0 && UnreadInput(*group->Sockets, due) && !Renew(*group)) {
    return;
  }
  if (CurlApi().easy_setopt(handle, CURLOPT_SHARE, group->Share) != CURLE_OK) return;
  if (FFresh) SetOpt(handle, CURLOPT_FRESH_CONNECT, 1L);
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
  // From the request's going out to the whole answer: what an answer
  // takes on this upstream.
  int64_t took = FSentUs ? NowUs() - FSentUs : -1;
  if (FFresh) SetOpt(FHandle, CURLOPT_FRESH_CONNECT, 0L);
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
      if (took >= 0) {
        g.Waits[g.NextWait] = took;
        g.NextWait = (g.NextWait + 1) % g.Waits.size();
      }
    }
}

void TCurlConnectionLease::NoteConnection(int localPort) {
  const TCurlApi &api = CurlApi();
  FLocalPort = localPort;
  FSentUs = NowUs();
  FTLS = nullptr;
  curl_tlssessioninfo *tls = nullptr;
  if (api.easy_getinfo(FHandle, CURLINFO_TLS_SSL_PTR, &tls) == CURLE_OK && tls &&
      tls->backend == CURLSSLBACKEND_OPENSSL)
    FTLS = tls->internals;
}

// After an exchange: the connection it leaves with the group must have
// nothing unread. Bytes in its socket are seen by the next lease's check,
// right before the connection could serve again; bytes the TLS library has
// already taken from the socket are not, so they are looked for here. Its
// TLS state is the one noted when the exchange began, valid while that
// very connection is still kept.
bool TCurlConnectionLease::LeftInput() const {
  const TCurlApi &api = CurlApi();
  curl_socket_t fd = CURL_SOCKET_BAD;
  if (api.easy_getinfo(FHandle, CURLINFO_ACTIVESOCKET, &fd) != CURLE_OK || fd == CURL_SOCKET_BAD)
    return false;
  TKeptSockets::TSocket *kept = FSockets->Find(fd);
  if (!kept) return false;
  kept->LastSentUs = FSentUs ? FSentUs : NowUs();
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
