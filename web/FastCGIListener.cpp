#include "web/FastCGIListener.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "rtl/StrUtils.h"
#include "web/WebLimits.h"

namespace vv {

// ---- the peer filter ----

namespace {

bool ParseAddress(std::string text, std::array<uint8_t, 16> &out) {
  if (text.size() >= 2 && text.front() == '[' && text.back() == ']')
    text = text.substr(1, text.size() - 2);
  in_addr v4;
  if (inet_pton(AF_INET, text.c_str(), &v4) == 1) {
    out = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
    std::memcpy(out.data() + 12, &v4, 4);
    return true;
  }
  in6_addr v6;
  if (inet_pton(AF_INET6, text.c_str(), &v6) != 1) return false;
  std::memcpy(out.data(), &v6, 16);
  return true;
}

} // namespace

TPeerFilter TPeerFilter::Parse(const std::string &list, std::vector<std::string> &bad) {
  TPeerFilter f;
  f.FActive = true;
  for (const std::string &item : SplitList(list, ",")) {
    std::string entry = Trim(item);
    if (entry.empty()) continue;
    std::array<uint8_t, 16> a;
    if (ParseAddress(entry, a))
      f.FAddresses.push_back(a);
    else
      bad.push_back(entry);
  }
  return f;
}

TPeerFilter TPeerFilter::FromEnvironment() {
  const char *list = std::getenv("FCGI_WEB_SERVER_ADDRS");
  if (!list) return TPeerFilter();
  std::vector<std::string> bad;
  TPeerFilter f = Parse(list, bad);
  for (const std::string &entry : bad)
    std::fprintf(stderr, "VEVUDE: FCGI_WEB_SERVER_ADDRS: \"%s\" is not an address; left out\n",
                 entry.c_str());
  if (f.FAddresses.empty())
    std::fprintf(stderr,
                 "VEVUDE: FCGI_WEB_SERVER_ADDRS names no address: no TCP peer is accepted\n");
  return f;
}

bool TPeerFilter::Allows(const sockaddr *peer, socklen_t length) const {
  if (!FActive) return true;
  std::array<uint8_t, 16> a;
  if (peer->sa_family == AF_INET && length >= socklen_t(sizeof(sockaddr_in))) {
    a = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
    std::memcpy(a.data() + 12, &reinterpret_cast<const sockaddr_in *>(peer)->sin_addr, 4);
  } else if (peer->sa_family == AF_INET6 && length >= socklen_t(sizeof(sockaddr_in6))) {
    std::memcpy(a.data(), &reinterpret_cast<const sockaddr_in6 *>(peer)->sin6_addr, 16);
  } else {
    return peer->sa_family == AF_UNIX; // the file's permissions guard a Unix socket
  }
  return std::find(FAddresses.begin(), FAddresses.end(), a) != FAddresses.end();
}

// ---- the listening socket ----

namespace {

// "host:port", ":port" or "[v6-address]:port" is TCP; anything else a path.
bool SplitHostPort(const std::string &address, std::string &host, std::string &port) {
  size_t colon = address.rfind(':');
  if (colon == std::string::npos || colon + 1 == address.size() ||
      address.find_first_not_of("0123456789", colon + 1) != std::string::npos)
    return false;
  host = address.substr(0, colon);
  port = address.substr(colon + 1);
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
    host = host.substr(1, host.size() - 2);
  return true;
}

int ListenTCP(const std::string &host, const std::string &port) {
  addrinfo hints = {};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE;
  addrinfo *list = nullptr;
  if (getaddrinfo(host.empty() ? nullptr : host.c_str(), port.c_str(), &hints, &list) != 0) {
    errno = EADDRNOTAVAIL;
    return -1;
  }
  int fd = -1;
  for (addrinfo *a = list; a && fd < 0; a = a->ai_next) {
    fd = socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
    if (fd < 0) continue;
    int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (bind(fd, a->ai_addr, a->ai_addrlen) != 0 || listen(fd, kFastCGIBacklog) != 0) {
      int saved = errno;
      close(fd);
      fd = -1;
      errno = saved;
    }
  }
  freeaddrinfo(list);
  return fd;
}

bool SocketFile(const std::string &path, struct stat &st) {
  return lstat(path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode);
}

// A socket file left by a worker that died is replaced; one that a live
// worker listens on is not, and neither is anything that is no socket.
int ListenUnix(const std::string &path, const char *&why) {
  sockaddr_un sa = {};
  sa.sun_family = AF_UNIX;
  if (path.size() >= sizeof sa.sun_path) {
    errno = ENAMETOOLONG;
    return -1;
  }
  std::copy(path.begin(), path.end(), sa.sun_path);
  auto *addr = reinterpret_cast<sockaddr *>(&sa);
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  int rc = bind(fd, addr, sizeof sa);
  if (rc != 0 && errno == EADDRINUSE) {
    struct stat st;
    if (!SocketFile(path, st)) {
      why = "it exists and is not a socket";
    } else {
      int probe = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
      bool stale = probe >= 0 && connect(probe, addr, sizeof sa) != 0 && errno == ECONNREFUSED;
      if (probe >= 0) close(probe);
      // Checked once more right before: only a socket is ever removed.
      if (stale && SocketFile(path, st) && unlink(path.c_str()) == 0)
        rc = bind(fd, addr, sizeof sa);
    }
    if (rc != 0) errno = EADDRINUSE;
  }
  if (rc != 0 || listen(fd, kFastCGIBacklog) != 0) {
    int saved = errno;
    close(fd);
    errno = saved;
    return -1;
  }
  return fd;
}

void NoteSocketFile(const std::string &path, TListener &listener) {
  struct stat st;
  if (!SocketFile(path, st)) return;
  listener.Path = path;
  listener.Device = st.st_dev;
  listener.Inode = st.st_ino;
}

} // namespace

bool OpenListener(const std::string &address, TListener &listener) {
  std::string host, port;
  const char *why = nullptr;
  bool tcp = SplitHostPort(address, host, port);
  int fd = tcp ? ListenTCP(host, port) : ListenUnix(address, why);
  if (fd < 0) {
    std::fprintf(stderr, "VEVUDE: cannot listen on %s: %s\n", address.c_str(),
                 why ? why : std::strerror(errno));
    return false;
  }
  listener = TListener();
  listener.Fd = fd;
  if (!tcp) NoteSocketFile(address, listener);
  return true;
}

void AdoptListener(int fd, const std::string &address, TListener &listener) {
  listener = TListener();
  listener.Fd = fd;
  std::string host, port;
  if (!address.empty() && !SplitHostPort(address, host, port)) NoteSocketFile(address, listener);
}

void CloseListener(TListener &listener) {
  if (listener.Fd < 0) return;
  close(listener.Fd);
  listener.Fd = -1;
  struct stat st;
  if (!listener.Path.empty() && SocketFile(listener.Path, st) && st.st_dev == listener.Device &&
      st.st_ino == listener.Inode)
    unlink(listener.Path.c_str());
  listener.Path.clear();
}

} // namespace vv
