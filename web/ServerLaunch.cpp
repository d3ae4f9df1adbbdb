#include "web/ServerLaunch.h"

#include <sys/socket.h>

#include <cerrno>
#include <cstdlib>

namespace vv {

bool IsFastCGIListenSocket(int fd) {
  sockaddr_storage peer{};
  socklen_t length = sizeof peer;
  return getpeername(fd, reinterpret_cast<sockaddr *>(&peer), &length) != 0 && errno == ENOTCONN;
}

bool StartedByWebServer() {
  return std::getenv("GATEWAY_INTERFACE") != nullptr || IsFastCGIListenSocket(0);
}

} // namespace vv
