// Every size limit of the CGI and FastCGI front ends, in one place.
#pragma once

#include <cstdint>

namespace vv {

// A request body announced larger than this is refused with 413 before any
// byte of it is allocated or read: this service's SOAP requests are tiny.
constexpr int64_t kMaxContentLength = 16 * 1024 * 1024;
// The largest single read of the body from standard input.
constexpr int64_t kMaxReadChunk = 2147483647;
// SendStream copies through a small buffer for small streams, a big one else.
constexpr int64_t kSmallSendBuffer = 65536;
constexpr int64_t kLargeSendBuffer = 1048576;
// A path mask may hold at most this many "*".
constexpr int kMaxMaskStars = 30;
// Web modules serving at once; 0 or less means no limit.
constexpr int32_t kDefaultMaxConnections = 32;

// FastCGI requests. The variables of one request are held to what the
// kernel lets a CGI process be started with: no single variable longer
// than its per-string limit, no more in all than its argument space.
constexpr int64_t kMaxParamLength = 131072;
constexpr int64_t kMaxParamsTotal = 2 * 1024 * 1024;
// Connections the listening socket of "--fastcgi ADDRESS" queues.
constexpr int kFastCGIBacklog = 128;
// Input left unread after an answer that is read to find its end, so that
// the connection can be closed without waiting for the web server.
constexpr int64_t kMaxInputDrain = 65536;
// Pause before accepting again after a failure other than a lost race.
constexpr int kAcceptRetryDelayMs = 100;

} // namespace vv
