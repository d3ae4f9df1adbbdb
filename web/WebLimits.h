// Every size limit of the CGI front end, in one place.
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

} // namespace vv
