// Where a FastCGI worker takes its connections from: the listening socket
// a process manager hands over on standard input, or one it opens itself
// for "--fastcgi ADDRESS"; and which peers it takes them from.
#pragma once

#include <sys/socket.h>
#include <sys/types.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace vv {

// The peers a TCP listener accepts, from FCGI_WEB_SERVER_ADDRS (a list of
// IPv4 and IPv6 addresses separated by commas). A peer is compared by its
// address alone, an IPv4 peer arriving on an IPv6 socket (::ffff:a.b.c.d)
// as the IPv4 address it is. Unix sockets are not filtered.
class TPeerFilter {
public:
  // Everyone, until Parse says otherwise.
  TPeerFilter() = default;
  // The list as given; `bad` receives the entries that are no address.
  // Set but naming no valid address, the filter lets no TCP peer in.
  static TPeerFilter Parse(const std::string &list, std::vector<std::string> &bad);
  // From the process environment; unset: everyone. Entries that are no
  // address are named on standard error.
  static TPeerFilter FromEnvironment();

  bool Allows(const sockaddr *peer, socklen_t length) const;

private:
  bool FActive = false;
  std::vector<std::array<uint8_t, 16>> FAddresses; // IPv4 in its IPv6-mapped form
};

// The listening socket of a worker.
struct TListener {
  int Fd = -1;
  // A Unix socket file this worker made, removed at its end only while it
  // is still that very socket.
  std::string Path;
  dev_t Device = 0;
  ino_t Inode = 0;
};

// Opens "host:port", ":port", "[v6-address]:port" (TCP) or a Unix socket
// path, listening. A path may replace only a socket that no live worker
// listens on: anything else there (a regular file, a link, a folder) is
// left alone and the worker does not start. Returns false with one line on
// standard error.
bool OpenListener(const std::string &address, TListener &listener);
// Takes `fd`, a listening socket handed over, as the listener of
// `address` (empty: the process manager's).
void AdoptListener(int fd, const std::string &address, TListener &listener);
// Closes the listener and removes the socket file it made.
void CloseListener(TListener &listener);

} // namespace vv
