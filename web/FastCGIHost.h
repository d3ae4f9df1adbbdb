// Persistent mode: the process stays up and serves request after request
// arriving over FastCGI. Each request becomes a CGI host of its own (its
// parameters as the environment, its input and output streams as standard
// input and output) and runs through the same application, so it sees and
// answers exactly what it would as a CGI process.
//
// The worker speaks the protocol itself (web/FastCGIRecords) over
// non-blocking sockets, one request at a time, and waits on every
// connection at once: it serves whichever request is whole first, and a
// peer that stalls (a new connection that sends nothing, a request that
// stops halfway, an answer that is not taken) is abandoned after a time
// limit while the others are served.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "web/CGIApp.h"
#include "web/CGIHost.h"

namespace vv {

// Read from the process environment: requests a worker serves before it
// starts afresh (unset, 0 or not a number: no limit).
inline constexpr const char *kMaxRequestsVariable = "VEVUDE_MAX_REQUESTS";
// Read from the process environment: seconds a peer may make no progress
// before it is abandoned (unset or not a number: kDefaultFastCGITimeoutMs).
inline constexpr const char *kTimeoutVariable = "VEVUDE_FASTCGI_TIMEOUT";
// Set by a worker for the image it replaces itself with: the descriptors
// it hands over (the listener first, then the connections the web server
// keeps). Read and removed at start.
inline constexpr const char *kHandOverVariable = "VEVUDE_FASTCGI_FDS";

struct TFastCGIOptions {
  // "host:port", ":port" or a Unix socket path to listen on; empty: the
  // listening socket a process manager passed on standard input.
  std::string Address;
  // Requests served before the worker starts afresh; 0 or less: no limit.
  int64_t MaxRequests = 0;
  // How long a peer may make no progress, in ms.
  int TimeoutMs = 0;
  // The command line the worker was started with: starting afresh runs it
  // again in this same process, on the same sockets.
  std::vector<std::string> Arguments;
  // Runs before the worker replaces itself (closes what the new image
  // would not know about, such as upstream connections).
  std::function<void()> BeforeRestart;
};

// True when standard input is the listening socket of a FastCGI process
// manager (or of a worker that started afresh). A process started as a
// CGI program is left exactly as it was.
bool StartedByFastCGIManager();

// The values of kMaxRequestsVariable and kTimeoutVariable in the process
// environment; a value that is no number is named on standard error.
int64_t MaxRequestsFromEnvironment();
int TimeoutFromEnvironment();

// Serves requests through `app` until SIGTERM, SIGINT or SIGUSR1: requests
// being read or served are finished (within kFastCGIStopGraceMs for what
// the peers still have to send or take), idle connections closed. After
// MaxRequests the worker replaces its image with a fresh one of the same
// program on the same sockets, so that nothing queued for it is lost.
// Returns the process's exit status: 0, or 1 when it cannot listen.
int RunFastCGI(TCGIApplication &app, const TFastCGIOptions &options);

} // namespace vv
