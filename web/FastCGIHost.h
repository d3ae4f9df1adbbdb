// Persistent mode: the process stays up and serves request after request
// arriving over FastCGI. Each request becomes a CGI host of its own (its
// parameters as the environment, its input and output streams as standard
// input and output) and runs through the same application, so it sees and
// answers exactly what it would as a CGI process.
#pragma once

#include <cstdint>
#include <string>

#include "web/CGIApp.h"
#include "web/CGIHost.h"

namespace vv {

// Read from the process environment: requests a worker serves before it
// exits, so that its process manager starts a fresh one (unset, 0 or not a
// number: no limit).
inline constexpr const char *kMaxRequestsVariable = "VEVUDE_MAX_REQUESTS";

struct TFastCGIOptions {
  // "host:port", ":port" or a Unix socket path to listen on; empty: the
  // listening socket a process manager passed on standard input.
  std::string Address;
  // Requests served before a clean exit; 0 or less: no limit.
  int64_t MaxRequests = 0;
};

// True when standard input is the listening socket of a FastCGI process
// manager. A process started as a CGI program is left exactly as it was.
bool StartedByFastCGIManager();

// The value of kMaxRequestsVariable in the process environment.
int64_t MaxRequestsFromEnvironment();

// The CGI environment of one request from its FastCGI parameters
// ("NAME=value" strings, null-terminated array): every parameter but the
// FastCGI role, which a CGI process never sees. False when the parameters
// exceed kMaxParamLength or kMaxParamsTotal; `env` is then empty.
bool FastCGIEnvironment(const char *const *params, TCGIEnvironment &env);

// Serves requests through `app` until SIGTERM, SIGINT or SIGUSR1 (the
// request in progress is finished first) or until MaxRequests have been
// served. Returns the process's exit status: 0, or 1 when it cannot listen.
int RunFastCGI(TCGIApplication &app, const TFastCGIOptions &options);

} // namespace vv
