// Which descriptors count as a FastCGI listening socket handed over by a
// web server: only a socket without a peer.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <utility>

#include "web/ServerLaunch.h"

using namespace vv;

namespace {

// A TCP socket listening on a free loopback port.
int ListeningTcp() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 || listen(fd, 1) != 0) return -1;
  return fd;
}

int ListeningUnix() {
  int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un a{};
  a.sun_family = AF_UNIX;
  // An abstract address: nothing to clean up in the file system.
  std::string name = "vevude-launch-test-" + std::to_string(getpid());
  name.copy(a.sun_path + 1, sizeof a.sun_path - 2);
  if (bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof(sa_family_t) + 1 + name.size()) != 0 ||
      listen(fd, 1) != 0)
    return -1;
  return fd;
}

int gPeer = -1; // the other end of the connected pair, closed after the case

int ConnectedPairEnd() {
  int fds[2];
  if (socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) return -1;
  gPeer = fds[1];
  return fds[0];
}

int PipeEnd() {
  int fds[2];
  if (pipe(fds) != 0) return -1;
  close(fds[1]);
  return fds[0];
}

} // namespace

TEST(ServerLaunch, OnlyASocketWithoutPeerIsAFastCGIListener) {
  struct Case {
    const char *name;
    std::function<int()> open;
    bool listener;
  } cases[] = {
      {"listening TCP socket", ListeningTcp, true},
      {"listening Unix socket", ListeningUnix, true},
      {"connected socket", ConnectedPairEnd, false},
      {"pipe", PipeEnd, false},
      {"file", [] { return open("/dev/null", O_RDONLY); }, false},
  };
  for (auto &c : cases) {
    SCOPED_TRACE(c.name);
    int fd = c.open();
    ASSERT_GE(fd, 0);
    EXPECT_EQ(IsFastCGIListenSocket(fd), c.listener);
    close(fd);
    if (gPeer >= 0) close(std::exchange(gPeer, -1));
  }
  EXPECT_FALSE(IsFastCGIListenSocket(-1)); // closed: EBADF, not ENOTCONN
}
