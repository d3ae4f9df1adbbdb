#include "web/FastCGIHost.h"

#include <dlfcn.h>
#include <fcgiapp.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>

#include "rtl/Format.h"
#include "web/ServerLaunch.h"
#include "web/WebLimits.h"

namespace vv {

namespace {

// ---- the FastCGI library, loaded at run time ----
// A CGI process never loads it: only a process whose standard input is a
// socket, or that was asked to listen, does. Only declarations come from
// <fcgiapp.h>; the functions are reached through this table.
constexpr const char *kFCGISoName = "libfcgi.so.0";

struct TFCGIApi {
  int (*IsCGI)();
  int (*Init)();
  int (*InitRequest)(FCGX_Request *request, int sock, int flags);
  int (*Accept_r)(FCGX_Request *request);
  void (*Finish_r)(FCGX_Request *request);
  void (*Free)(FCGX_Request *request, int close);
  int (*GetStr)(char *str, int n, FCGX_Stream *stream);
  int (*PutStr)(const char *str, int n, FCGX_Stream *stream);
  int (*GetError)(FCGX_Stream *stream);
  int (*HasSeenEOF)(FCGX_Stream *stream);
};

TFCGIApi GFCGI;

template <typename F> bool Bind(void *lib, const char *name, F &slot) {
  slot = reinterpret_cast<F>(dlsym(lib, name));
  return slot != nullptr;
}

bool LoadFCGI() {
  void *lib = dlopen(kFCGISoName, RTLD_NOW | RTLD_LOCAL);
  if (!lib) return false;
  TFCGIApi api{};
  bool ok = Bind(lib, "FCGX_IsCGI", api.IsCGI) && Bind(lib, "FCGX_Init", api.Init) &&
            Bind(lib, "FCGX_InitRequest", api.InitRequest) &&
            Bind(lib, "FCGX_Accept_r", api.Accept_r) && Bind(lib, "FCGX_Finish_r", api.Finish_r) &&
            Bind(lib, "FCGX_Free", api.Free) && Bind(lib, "FCGX_GetStr", api.GetStr) &&
            Bind(lib, "FCGX_PutStr", api.PutStr) && Bind(lib, "FCGX_GetError", api.GetError) &&
            Bind(lib, "FCGX_HasSeenEOF", api.HasSeenEOF);
  if (!ok) {
    dlclose(lib);
    return false;
  }
  GFCGI = api; // stays loaded for the life of the process
  return true;
}

// The loaded library, or null with one line on standard error.
const TFCGIApi *FCGI() {
  static std::once_flag once;
  static bool loaded = false;
  std::call_once(once, [] {
    loaded = LoadFCGI();
    if (!loaded) std::fprintf(stderr, "VEVUDE: cannot load %s\n", kFCGISoName);
  });
  return loaded ? &GFCGI : nullptr;
}

volatile sig_atomic_t GStopRequested = 0;

void OnStopSignal(int) { GStopRequested = 1; }

constexpr int kStopSignals[] = {SIGTERM, SIGINT, SIGUSR1};

// A stop signal is held back while a request runs and taken only while the
// worker waits for the next one, so a request in progress always finishes.
// A client that went away makes a write fail instead of killing the worker.
// Set up before the library's own, which would take SIGPIPE and SIGUSR1.
class TSignalGuard {
public:
  TSignalGuard() {
    struct sigaction sa = {};
    sa.sa_handler = OnStopSignal;
    sigemptyset(&sa.sa_mask);
    sigset_t stops;
    sigemptyset(&stops);
    for (int s : kStopSignals) {
      sigaction(s, &sa, nullptr);
      sigaddset(&stops, s);
    }
    std::signal(SIGPIPE, SIG_IGN);
    sigprocmask(SIG_BLOCK, &stops, &FWaitMask);
    for (int s : kStopSignals) sigdelset(&FWaitMask, s);
  }
  // The mask while waiting: the stop signals let through.
  const sigset_t *WaitMask() const { return &FWaitMask; }

private:
  sigset_t FWaitMask;
};

// Waits until `fd` can be read (a new connection, or the next request on a
// kept one), or `timeoutMs` has passed (-1: no limit). False when a stop
// signal came or the wait itself failed.
bool WaitForWork(int fd, int timeoutMs, const TSignalGuard &signals) {
  pollfd p = {fd, POLLIN, 0};
  timespec limit = {timeoutMs / 1000, long(timeoutMs % 1000) * 1000000L};
  for (;;) {
    if (GStopRequested) return false;
    int n = ppoll(&p, 1, timeoutMs < 0 ? nullptr : &limit, signals.WaitMask());
    if (n >= 0) return true;
    if (errno != EINTR) {
      std::fprintf(stderr, "VEVUDE: waiting for FastCGI requests failed (errno %d)\n", errno);
      return false;
    }
  }
}

// Several workers may wait on one listening socket; only one of them gets
// each connection, and the others must go back to waiting, not block in
// accept where a stop signal could not reach them.
void SetNonBlocking(int fd) {
  int flags = fcntl(fd, F_GETFL);
  if (flags >= 0) fcntl(fd, F_SETFL, flags | O_NONBLOCK);
}

TCGIHost RequestHost(TCGIEnvironment env, FCGX_Request &req) {
  TCGIHost host;
  host.Env = std::move(env);
  FCGX_Stream *in = req.in, *out = req.out;
  host.Read = [in](void *buffer, int64_t count) -> int64_t {
    int want = int(std::min<int64_t>(count, INT_MAX));
    int n = GFCGI.GetStr(static_cast<char *>(buffer), want, in);
    return n == 0 && GFCGI.GetError(in) != 0 ? -1 : n;
  };
  host.Write = [out](const void *buffer, int64_t count) -> int64_t {
    const char *p = static_cast<const char *>(buffer);
    int64_t done = 0;
    while (done < count) {
      int n = GFCGI.PutStr(p + done, int(std::min<int64_t>(count - done, INT_MAX)), out);
      if (n <= 0) break;
      done += n;
    }
    return done;
  };
  return host;
}

// A CGI process could not even be started with such variables; the web
// server in front normally refuses them long before.
void RefuseParams(FCGX_Request &req) {
  std::string body = Format("<html><title>Bad Request 400</title>\r\n"
                            "<h1>Bad Request 400</h1><hr>\r\n"
                            "The request's variables may not exceed %d bytes.</html>\r\n",
                            {kMaxParamsTotal});
  std::string head = Format("Status: 400 Bad Request\r\nContent-Type: text/html\r\n"
                            "Content-Length: %d\r\n\r\n",
                            {int64_t(body.size())});
  GFCGI.PutStr(head.data(), int(head.size()), req.out);
  GFCGI.PutStr(body.data(), int(body.size()), req.out);
}

void ServeOne(TCGIApplication &app, FCGX_Request &req) {
  TCGIEnvironment env;
  if (!FastCGIEnvironment(req.envp, env)) return RefuseParams(req);
  app.SetHost(RequestHost(std::move(env), req));
  app.Run();
  // Nothing of the request stays with the application.
  app.SetHost(TCGIHost());
}

// Closing a connection, the library first waits for the web server to close
// its end, so that data still arriving cannot become a TCP reset that takes
// the answer with it. That wait costs a round trip through the web server
// per request. A Unix socket has no resets, and once the request's input has
// been read to its end (a little is read here: what normally remains is the
// end-of-input record) the web server sends nothing more; then the
// connection is closed at once ("detached" tells the library to skip the
// wait). A large unread body keeps the wait.
void SkipLingerWhenSafe(FCGX_Request &req) {
  sockaddr_storage addr;
  socklen_t len = sizeof addr;
  if (req.ipcFd < 0 || !req.in ||
      getsockname(req.ipcFd, reinterpret_cast<sockaddr *>(&addr), &len) != 0 ||
      addr.ss_family != AF_UNIX)
    return;
  char sink[4096];
  for (int64_t left = kMaxInputDrain; left > 0 && !GFCGI.HasSeenEOF(req.in);) {
    int n = GFCGI.GetStr(sink, int(std::min<int64_t>(left, sizeof sink)), req.in);
    if (n <= 0) break;
    left -= n;
  }
  if (GFCGI.HasSeenEOF(req.in)) req.detached = 1;
}

// ---- the listening socket of "--fastcgi ADDRESS" ----
// Made here rather than by the library, which ends the process without a
// word when it cannot listen.

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
    fd = socket(a->ai_family, a->ai_socktype, a->ai_protocol);
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

// A socket file left by a worker that died is replaced; one that a live
// worker listens on is not.
int ListenUnix(const std::string &path) {
  sockaddr_un sa = {};
  sa.sun_family = AF_UNIX;
  if (path.size() >= sizeof sa.sun_path) {
    errno = ENAMETOOLONG;
    return -1;
  }
  std::copy(path.begin(), path.end(), sa.sun_path);
  auto *addr = reinterpret_cast<sockaddr *>(&sa);
  int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  if (fd < 0) return -1;
  int rc = bind(fd, addr, sizeof sa);
  if (rc != 0 && errno == EADDRINUSE) {
    int probe = socket(AF_UNIX, SOCK_STREAM, 0);
    bool stale = probe >= 0 && connect(probe, addr, sizeof sa) != 0 && errno == ECONNREFUSED;
    if (probe >= 0) close(probe);
    if (stale && unlink(path.c_str()) == 0) rc = bind(fd, addr, sizeof sa);
    if (!stale) errno = EADDRINUSE;
  }
  if (rc != 0 || listen(fd, kFastCGIBacklog) != 0) {
    int saved = errno;
    close(fd);
    errno = saved;
    return -1;
  }
  return fd;
}

int OpenListener(const std::string &address) {
  if (address.empty()) return 0; // the process manager's socket
  std::string host, port;
  int fd = SplitHostPort(address, host, port) ? ListenTCP(host, port) : ListenUnix(address);
  if (fd < 0)
    std::fprintf(stderr, "VEVUDE: cannot listen on %s: %s\n", address.c_str(),
                 std::strerror(errno));
  return fd;
}

// A Unix socket made by "--fastcgi PATH" goes with the worker.
void CloseListener(const std::string &address, int fd) {
  if (address.empty()) return;
  close(fd);
  std::string host, port;
  if (!SplitHostPort(address, host, port)) unlink(address.c_str());
}

} // namespace

bool StartedByFastCGIManager() {
  // Only a listening socket can come from a process manager: a CGI
  // program's input is a pipe, a file or a connected socket. The library
  // has the last word, but its check installs its own SIGPIPE and SIGUSR1
  // handlers, which are put back for a CGI program.
  if (!IsFastCGIListenSocket(0)) return false;
  struct sigaction pipe, usr1;
  sigaction(SIGPIPE, nullptr, &pipe);
  sigaction(SIGUSR1, nullptr, &usr1);
  // Without the library a connected socket is still served as CGI.
  const TFCGIApi *fcgi = FCGI();
  bool fastcgi = fcgi && !fcgi->IsCGI();
  if (!fastcgi) {
    sigaction(SIGPIPE, &pipe, nullptr);
    sigaction(SIGUSR1, &usr1, nullptr);
  }
  return fastcgi;
}

int64_t MaxRequestsFromEnvironment() {
  const char *text = std::getenv(kMaxRequestsVariable);
  if (!text || !*text) return 0;
  char *end = nullptr;
  errno = 0;
  long long n = std::strtoll(text, &end, 10);
  if (errno != 0 || *end != '\0' || n < 0 || text[0] == '-' || text[0] == '+') {
    std::fprintf(stderr, "VEVUDE: %s is not a number of requests; no limit applies\n",
                 kMaxRequestsVariable);
    return 0;
  }
  return int64_t(n);
}

bool FastCGIEnvironment(const char *const *params, TCGIEnvironment &env) {
  static constexpr std::string_view kRole = "FCGI_ROLE=";
  std::vector<std::string> vars;
  int64_t total = 0;
  for (const char *const *p = params; p && *p; ++p) {
    std::string_view entry(*p);
    if (entry.starts_with(kRole)) continue;
    total += int64_t(entry.size()) + 1;
    if (int64_t(entry.size()) > kMaxParamLength || total > kMaxParamsTotal) {
      env = TCGIEnvironment();
      return false;
    }
    vars.emplace_back(entry);
  }
  env = TCGIEnvironment(std::move(vars));
  return true;
}

int RunFastCGI(TCGIApplication &app, const TFastCGIOptions &options) {
  TSignalGuard signals;
  const TFCGIApi *fcgi = FCGI();
  if (!fcgi || fcgi->Init() != 0) return 1;
  int listener = OpenListener(options.Address);
  if (listener < 0) return 1;
  SetNonBlocking(listener);
  FCGX_Request req;
  fcgi->InitRequest(&req, listener, 0);
  int64_t served = 0;
  while (options.MaxRequests <= 0 || served < options.MaxRequests) {
    // A connection the web server keeps open carries its next request.
    if (!WaitForWork(req.ipcFd >= 0 ? req.ipcFd : listener, -1, signals)) break;
    int rc = fcgi->Accept_r(&req);
    if (rc < 0) {
      // Taken by another worker, or broken before a request: wait again.
      // Any other failure (out of descriptors, say) waits a little first.
      if (rc != -EAGAIN && rc != -EWOULDBLOCK && rc != -EINTR &&
          !WaitForWork(-1, kAcceptRetryDelayMs, signals))
        break;
      continue;
    }
    ServeOne(app, req);
    SkipLingerWhenSafe(req);
    fcgi->Finish_r(&req);
    ++served;
  }
  fcgi->Free(&req, 1);
  CloseListener(options.Address, listener);
  return 0;
}

} // namespace vv
