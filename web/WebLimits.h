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

// ---- FastCGI workers (persistent mode) ----
// The variables of one request are held to what the kernel lets a CGI
// process be started with: no single variable longer than its per-string
// limit, no more in all than its argument space.
constexpr int64_t kMaxParamLength = 131072;
constexpr int64_t kMaxParamsTotal = 2 * 1024 * 1024;
// Connections the listening socket of "--fastcgi ADDRESS" queues.
constexpr int kFastCGIBacklog = 128;
// Connections a worker holds at once: new ones, ones carrying a request,
// and ones a web server keeps between requests. With all taken, the kept
// connection idle the longest gives way to a new one; with none idle, new
// ones wait in the listening socket's queue.
constexpr size_t kMaxFastCGIConnections = 128;
// Bytes read from a connection at once: a request of this service (its
// variables and SOAP body) normally arrives in one read.
constexpr size_t kFastCGIReadSize = 65536;
// Answer bytes gathered before they go out as one record: the most a
// record carries, kept to the 8-byte alignment of records.
constexpr size_t kFastCGIRecordContent = 65528;
// Room a connection keeps between requests; larger buffers (a large body,
// a flood of variables) go back to the system when the request ends.
constexpr size_t kFastCGIKeptRoom = 65536;
// How long a peer may make no progress, in ms: a new connection that sends
// nothing, a request whose records stop coming, an answer that is not
// taken. The worker then abandons that peer and serves the others. Far
// above what a live web server takes; VEVUDE_FASTCGI_TIMEOUT (seconds)
// sets another value.
constexpr int kDefaultFastCGITimeoutMs = 30000;
constexpr int kMaxFastCGITimeoutSeconds = 3600;
// A connection kept by the web server and idle this long is closed, in ms:
// longer than web servers keep an idle connection to a backend (nginx: 60 s
// by default), so that the web server closes first and never sends a
// request into a connection being closed; dead peers still go in the end.
constexpr int kFastCGIKeptIdleMs = 600000;
// After a stop signal, in ms: requests still arriving get this long to be
// read whole, and answers being sent this long to be taken.
constexpr int kFastCGIStopGraceMs = 10000;
// Closing a TCP connection with input still unread, in ms: its sending
// side is shut first and the rest read and dropped for at most this long,
// so that no reset can take the answer with it.
constexpr int kFastCGILingerMs = 2000;
// The heap of a worker, between requests: blocks from kFastCGIMmapThreshold
// up are mapped on their own and go back to the system as soon as they are
// freed (a large body, a flood of variables, a large answer), and up to
// kFastCGIHeapSlack of free heap is kept for the next request rather than
// given back and taken again every time. Fixed values also keep the C
// library from raising its own thresholds after one large request.
constexpr int kFastCGIMmapThreshold = 256 * 1024;
constexpr int kFastCGIHeapSlack = 1024 * 1024;
// Pause before accepting again after a failure other than a lost race.
constexpr int kAcceptRetryDelayMs = 100;

} // namespace vv
