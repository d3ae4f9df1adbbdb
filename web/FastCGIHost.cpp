#include "web/FastCGIHost.h"

#include <fcntl.h>
#include <malloc.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <memory>

#include "rtl/Format.h"
#include "rtl/StrUtils.h"
#include "web/CGIRequest.h"
#include "web/FastCGIListener.h"
#include "web/FastCGIRecords.h"
#include "web/ServerLaunch.h"
#include "web/WebLimits.h"

namespace vv {

namespace {

using fastcgi::TParamsFault;

// ---- stop signals ----

volatile sig_atomic_t GStopRequested = 0;

void OnStopSignal(int) { GStopRequested = 1; }

constexpr int kStopSignals[] = {SIGTERM, SIGINT, SIGUSR1};

// A stop signal is held back while a request runs and taken only while the
// worker waits on its sockets, so that no call of a request (the upstream's
// above all) is cut short by it. A client that went away makes a write
// fail instead of killing the worker.
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

int64_t NowMs() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return int64_t(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

void SetNonBlocking(int fd) {
  int flags = fcntl(fd, F_GETFL);
  if (flags >= 0 && !(flags & O_NONBLOCK)) fcntl(fd, F_SETFL, flags | O_NONBLOCK);
}

bool IsUnixSocket(int fd) {
  sockaddr_storage addr;
  socklen_t len = sizeof addr;
  return getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len) == 0 &&
         addr.ss_family == AF_UNIX;
}

// ---- a connection from the web server ----

struct TConnection {
  int Fd = -1;
  bool Unix = false;
  bool Kept = false;    // served a request, and the web server keeps it
  bool Closing = false; // its sending side shut; its input read to the end
  bool Queued = false;  // a whole request waits to be served
  int64_t Deadline = 0; // abandoned when nothing happens before
  int64_t LastUse = 0;
  fastcgi::TConnectionReader Reader;

  bool Idle() const { return !Closing && !Queued && !Reader.MidRequest(); }
};

// ---- the worker ----

class TWorker {
public:
  TWorker(TCGIApplication &app, const TFastCGIOptions &options, const TSignalGuard &signals)
      : FApp(app), FOptions(options), FSignals(signals),
        FTimeoutMs(options.TimeoutMs > 0 ? options.TimeoutMs : kDefaultFastCGITimeoutMs) {}

  int Run();

  // Sends all of `size` bytes to `fd`, waiting while the peer's room is
  // full: false when the peer is gone or took nothing for the time limit.
  bool SendAll(int fd, const char *data, size_t size);
  std::string &AnswerRoom() { return FAnswer; }

private:
  bool Start();
  void TakeHandOver(std::vector<int> &kept);
  void Wait();
  void Accept(bool all);
  bool GiveWay();
  void Read(TConnection &c);
  void Proceed(TConnection &c);
  void Serve(TConnection &c);
  void EndConnection(TConnection &c, bool inputEnded);
  void Close(TConnection &c);
  void Touch(TConnection &c, int64_t now);
  void Expire(int64_t now);
  void NoteStop(int64_t now);
  void BeginStop();
  bool Quiescent() const;
  void Restart();
  void Sweep();
  TConnection &Add(int fd, bool kept, bool unix);
  bool WaitFor(int fd, short events, int64_t deadline);

  TCGIApplication &FApp;
  const TFastCGIOptions &FOptions;
  const TSignalGuard &FSignals;
  const int FTimeoutMs;
  TListener FListener;
  bool FListenerUnix = false; // its connections have no resets
  TPeerFilter FFilter;
  std::vector<std::unique_ptr<TConnection>> FConns;
  std::deque<TConnection *> FReady;
  std::vector<pollfd> FPoll;
  std::vector<TConnection *> FPolled;
  std::unique_ptr<char[]> FReadRoom{new char[kFastCGIReadSize]};
  std::string FAnswer;
  int64_t FServed = 0;
  int64_t FAcceptPausedUntil = 0;
  int64_t FStopAt = 0; // when a stop's grace ends; 0 while no stop came
  bool FStopBegun = false;
  bool FRestartDue = false;
  bool FFatal = false;
};

// The answer of one request: what the application writes goes out in
// STDOUT records of up to kFastCGIRecordContent bytes, gathered in the
// worker's answer room, the last one sent together with the stream's end
// and the end of the request. Once the peer is gone the rest is dropped.
class TAnswerWriter {
public:
  TAnswerWriter(TWorker &worker, int fd, uint16_t id)
      : FWorker(worker), FRoom(worker.AnswerRoom()), FFd(fd), FId(id) {
    FRoom.assign(fastcgi::kHeaderSize, '\0'); // the header, filled when sent
  }

  int64_t Write(const void *data, int64_t count) {
    const char *p = static_cast<const char *>(data);
    for (int64_t left = count; left > 0 && !FFailed;) {
      size_t room = fastcgi::kHeaderSize + kFastCGIRecordContent - FRoom.size();
      size_t n = size_t(std::min<int64_t>(left, int64_t(room)));
      FRoom.append(p, n);
      p += n;
      left -= int64_t(n);
      if (n == room) Flush(false);
    }
    return FFailed ? 0 : count;
  }

  bool Finish() {
    Flush(true);
    return !FFailed;
  }

private:
  void Flush(bool last) {
    size_t content = FRoom.size() - fastcgi::kHeaderSize;
    std::string header;
    if (content > 0) {
      uint8_t padding = uint8_t(-content & 7);
      fastcgi::AppendHeader(header, fastcgi::TType::Stdout, FId, content, padding);
      FRoom.replace(0, fastcgi::kHeaderSize, header);
      FRoom.append(padding, '\0');
    } else {
      FRoom.clear();
    }
    if (last) {
      fastcgi::AppendStream(FRoom, fastcgi::TType::Stdout, FId, {});
      fastcgi::AppendEndRequest(FRoom, FId, 0, fastcgi::TProtocolStatus::RequestComplete);
    }
    if (!FFailed && !FRoom.empty() && !FWorker.SendAll(FFd, FRoom.data(), FRoom.size()))
      FFailed = true;
    FRoom.assign(fastcgi::kHeaderSize, '\0');
  }

  TWorker &FWorker;
  std::string &FRoom;
  int FFd;
  uint16_t FId;
  bool FFailed = false;
};

// Variables a CGI process could not even be started with; the web server
// in front normally refuses them long before.
void RefuseParams(TAnswerWriter &answer, TParamsFault fault) {
  std::string why =
      fault == TParamsFault::TooLarge
          ? Format("The request's variables may not exceed %d bytes.", {kMaxParamsTotal})
          : std::string("The request's variables are malformed.");
  std::string body = "<html><title>Bad Request 400</title>\r\n"
                     "<h1>Bad Request 400</h1><hr>\r\n" +
                     why + "</html>\r\n";
  std::string head = CGIPageHead(400, "Bad Request", int64_t(body.size()));
  answer.Write(head.data(), int64_t(head.size()));
  answer.Write(body.data(), int64_t(body.size()));
}

bool TWorker::WaitFor(int fd, short events, int64_t deadline) {
  pollfd p = {fd, events, 0};
  for (;;) {
    int64_t now = NowMs();
    if (GStopRequested) {
      NoteStop(now);
      deadline = std::min(deadline, FStopAt);
    }
    if (now >= deadline) return false;
    int64_t left = deadline - now;
    timespec limit = {time_t(left / 1000), long(left % 1000) * 1000000L};
    int n = ppoll(&p, 1, &limit, FSignals.WaitMask());
    if (n > 0) return true;
    if (n < 0 && errno != EINTR) return false;
  }
}

bool TWorker::SendAll(int fd, const char *data, size_t size) {
  int64_t deadline = 0;
  while (size > 0) {
    ssize_t n = send(fd, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      data += n;
      size -= size_t(n);
      deadline = 0; // progress: the time limit starts again
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) return false;
    if (deadline == 0) deadline = NowMs() + FTimeoutMs;
    if (!WaitFor(fd, POLLOUT, deadline)) return false;
  }
  return true;
}

// ---- start: the listener, and what a former image handed over ----

bool HandedSocket(int fd, bool listening) {
  struct stat st;
  int on = 0;
  socklen_t len = sizeof on;
  return fd >= 0 && fstat(fd, &st) == 0 && S_ISSOCK(st.st_mode) &&
         getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &on, &len) == 0 && (on != 0) == listening;
}

void TWorker::TakeHandOver(std::vector<int> &kept) {
  const char *list = std::getenv(kHandOverVariable);
  if (!list) return;
  std::vector<std::string> items = SplitList(list, ",");
  unsetenv(kHandOverVariable);
  for (size_t i = 0; i < items.size(); ++i) {
    int32_t fd;
    if (!TryStrToInt(items[i], fd) || !HandedSocket(fd, i == 0)) continue;
    if (i == 0)
      AdoptListener(fd, FOptions.Address, FListener);
    else
      kept.push_back(fd);
  }
}

bool TWorker::Start() {
  std::vector<int> kept;
  TakeHandOver(kept);
  if (FListener.Fd < 0) {
    if (FOptions.Address.empty())
      AdoptListener(0, "", FListener); // the process manager's socket
    else if (!OpenListener(FOptions.Address, FListener))
      return false;
  }
  SetNonBlocking(FListener.Fd);
  FFilter = TPeerFilter::FromEnvironment();
  FListenerUnix = IsUnixSocket(FListener.Fd);
  for (int fd : kept) {
    SetNonBlocking(fd);
    Add(fd, true, IsUnixSocket(fd));
  }
  return true;
}

TConnection &TWorker::Add(int fd, bool kept, bool unix) {
  auto c = std::make_unique<TConnection>();
  c->Fd = fd;
  c->Unix = unix;
  c->Kept = kept;
  TConnection &ref = *c;
  FConns.push_back(std::move(c));
  Touch(ref, NowMs());
  return ref;
}

// ---- deadlines ----

void TWorker::Touch(TConnection &c, int64_t now) {
  c.LastUse = now;
  if (c.Closing)
    c.Deadline = now + kFastCGILingerMs;
  else if (c.Kept && !c.Reader.MidRequest())
    c.Deadline = now + kFastCGIKeptIdleMs;
  else
    c.Deadline = now + FTimeoutMs; // a new connection, or a request on its way
  if (FStopAt) c.Deadline = std::min(c.Deadline, FStopAt);
}

void TWorker::Expire(int64_t now) {
  for (auto &c : FConns)
    if (c->Fd >= 0 && !c->Queued && c->Deadline <= now) Close(*c);
}

// ---- connections ----

void TWorker::Close(TConnection &c) {
  if (c.Fd < 0) return;
  close(c.Fd);
  c.Fd = -1;
  if (c.Queued) std::erase(FReady, &c);
  c.Queued = false;
}

void TWorker::Sweep() {
  std::erase_if(FConns, [](const std::unique_ptr<TConnection> &c) { return c->Fd < 0; });
}

// A connection not kept: a Unix socket has no resets, and a TCP connection
// whose input was read to its end has nothing a reset could take along;
// any other is shut for sending and read to its end first, so that what
// the web server still sends cannot reset the answer away.
void TWorker::EndConnection(TConnection &c, bool inputEnded) {
  char probe;
  if (c.Unix || (inputEnded && !c.Reader.MidRequest() &&
                 recv(c.Fd, &probe, 1, MSG_PEEK | MSG_DONTWAIT) <= 0 && errno == EAGAIN))
    return Close(c);
  shutdown(c.Fd, SHUT_WR);
  c.Closing = true;
  Touch(c, NowMs());
}

void TWorker::Read(TConnection &c) {
  ssize_t n = read(c.Fd, FReadRoom.get(), kFastCGIReadSize);
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return;
  if (n <= 0) return Close(c); // gone; a request it had begun goes with it
  if (c.Closing) return;       // read only to its end
  c.Reader.Take(std::string_view(FReadRoom.get(), size_t(n)));
  Proceed(c);
}

// What the connection's input led to: its replies sent, its request
// queued, or its end.
void TWorker::Proceed(TConnection &c) {
  if (c.Reader.Broken()) return Close(c);
  std::string &replies = c.Reader.Replies();
  if (!replies.empty()) {
    bool sent = SendAll(c.Fd, replies.data(), replies.size());
    replies.clear();
    if (!sent) return Close(c);
  }
  if (c.Reader.CloseAfterReplies() && !c.Reader.MidRequest()) return EndConnection(c, true);
  if (c.Reader.Ready() && !c.Queued) {
    c.Queued = true;
    FReady.push_back(&c);
  }
  Touch(c, NowMs());
}

// With every slot taken, the kept connection idle the longest gives way.
bool TWorker::GiveWay() {
  TConnection *oldest = nullptr;
  for (auto &c : FConns)
    if (c->Fd >= 0 && c->Kept && c->Idle() && (!oldest || c->LastUse < oldest->LastUse))
      oldest = c.get();
  if (!oldest) return false;
  Close(*oldest);
  return true;
}

// One connection per wake while serving (the next wake takes the next: a
// loop would end every time on a failed call); every queued one when
// stopping.
void TWorker::Accept(bool all) {
  for (bool first = true; first || all; first = false) {
    size_t open = size_t(
        std::count_if(FConns.begin(), FConns.end(), [](const auto &c) { return c->Fd >= 0; }));
    if (open >= kMaxFastCGIConnections && !GiveWay()) return;
    sockaddr_storage peer;
    socklen_t len = sizeof peer;
    int fd = accept4(FListener.Fd, reinterpret_cast<sockaddr *>(&peer), &len,
                     SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      // Taken by another worker on the same socket, or none left. Any
      // other failure (out of descriptors, say) waits a little first.
      if (errno != EAGAIN && errno != EWOULDBLOCK)
        FAcceptPausedUntil = NowMs() + kAcceptRetryDelayMs;
      return;
    }
    if (!FFilter.Allows(reinterpret_cast<sockaddr *>(&peer), len)) {
      close(fd);
      continue;
    }
    TConnection &c = Add(fd, false, FListenerUnix);
    // The web server writes its request right after connecting: it is
    // often there already, which spares a wait.
    Read(c);
  }
}

void TWorker::Wait() {
  int64_t now = NowMs();
  bool accepting = FListener.Fd >= 0 && !FStopBegun && !FRestartDue && FAcceptPausedUntil <= now;
  FPoll.clear();
  FPolled.clear();
  if (accepting) FPoll.push_back({FListener.Fd, POLLIN, 0});
  int64_t next = INT64_MAX;
  if (FAcceptPausedUntil > now) next = FAcceptPausedUntil;
  for (auto &c : FConns) {
    if (c->Fd < 0) continue;
    next = std::min(next, c->Deadline);
    // Before a fresh start, a connection between requests is left alone:
    // its next request waits in the socket for the new image.
    if (FRestartDue && c->Idle()) continue;
    FPoll.push_back({c->Fd, POLLIN, 0});
    FPolled.push_back(c.get());
  }
  timespec limit{};
  if (next != INT64_MAX) {
    int64_t left = std::max<int64_t>(0, next - now);
    limit = {time_t(left / 1000), long(left % 1000) * 1000000L};
  }
  int n =
      ppoll(FPoll.data(), FPoll.size(), next == INT64_MAX ? nullptr : &limit, FSignals.WaitMask());
  if (n < 0) {
    if (errno != EINTR) {
      std::fprintf(stderr, "VEVUDE: waiting for FastCGI requests failed (errno %d)\n", errno);
      FFatal = true;
    }
    return;
  }
  size_t first = accepting ? 1 : 0;
  if (accepting && FPoll[0].revents) Accept(false);
  for (size_t i = first; i < FPoll.size(); ++i) {
    TConnection *c = FPolled[i - first];
    if (FPoll[i].revents && c->Fd >= 0) Read(*c);
  }
  Expire(NowMs());
}

// ---- serving ----

void TWorker::Serve(TConnection &c) {
  c.Queued = false;
  fastcgi::TRequest request = c.Reader.TakeRequest();
  TAnswerWriter answer(*this, c.Fd, request.Id);
  if (request.Fault != TParamsFault::None) {
    RefuseParams(answer, request.Fault);
  } else {
    TCGIHost host;
    host.Env = std::move(request.Env);
    const std::string &body = request.Body;
    size_t at = 0;
    host.Read = [&body, &at](void *buffer, int64_t count) -> int64_t {
      size_t n = size_t(std::min<int64_t>(count, int64_t(body.size() - at)));
      std::memcpy(buffer, body.data() + at, n);
      at += n;
      return int64_t(n);
    };
    host.Write = [&answer](const void *data, int64_t count) { return answer.Write(data, count); };
    FApp.SetHost(std::move(host));
    FApp.Run();
    // Nothing of the request stays with the application.
    FApp.SetHost(TCGIHost());
  }
  bool sent = answer.Finish();
  if (FOptions.MaxRequests > 0 && ++FServed >= FOptions.MaxRequests) FRestartDue = true;
  if (GStopRequested) NoteStop(NowMs());
  if (!sent) return Close(c);
  if (!request.KeepConnection || FStopAt) return EndConnection(c, request.InputEnded);
  c.Kept = true;
  Proceed(c);
}

// ---- stopping and starting afresh ----

// A peer that makes no progress for the time limit is abandoned anyway; a
// stop also cuts one short that is merely slow.
void TWorker::NoteStop(int64_t now) {
  if (!FStopAt) FStopAt = now + std::min(kFastCGIStopGraceMs, FTimeoutMs);
}

// What is queued for this worker is still served: the connections waiting
// in the listening socket are taken, a request already arriving on a kept
// connection is read; connections with nothing on them are closed.
void TWorker::BeginStop() {
  int64_t now = NowMs();
  NoteStop(now);
  FStopBegun = true;
  if (FListener.Fd >= 0) {
    Accept(true);
    CloseListener(FListener);
  }
  for (auto &c : FConns) {
    if (c->Fd < 0) continue;
    if (c->Idle()) {
      pollfd p = {c->Fd, POLLIN, 0};
      if (poll(&p, 1, 0) == 1) Read(*c);
      if (c->Fd >= 0 && c->Idle()) Close(*c);
    }
    if (c->Fd >= 0) c->Deadline = std::min(c->Deadline, FStopAt);
  }
}

bool TWorker::Quiescent() const {
  return std::all_of(FConns.begin(), FConns.end(),
                     [](const auto &c) { return c->Fd < 0 || c->Idle(); });
}

// The worker replaces its own image by a fresh one of the same program:
// nothing it accumulated survives, while the listening socket and the
// connections the web server keeps stay open, with whatever is queued on
// them, for the new image to serve.
void TWorker::Restart() {
  if (FOptions.BeforeRestart) FOptions.BeforeRestart();
  std::string fds = std::to_string(FListener.Fd);
  for (auto &c : FConns)
    if (c->Fd >= 0) fds += "," + std::to_string(c->Fd);
  std::vector<char *> argv;
  for (const std::string &a : FOptions.Arguments) argv.push_back(const_cast<char *>(a.c_str()));
  argv.push_back(nullptr);
  close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);
  fcntl(FListener.Fd, F_SETFD, 0);
  for (auto &c : FConns)
    if (c->Fd >= 0) fcntl(c->Fd, F_SETFD, 0);
  if (argv.size() > 1 && setenv(kHandOverVariable, fds.c_str(), 1) == 0)
    execv("/proc/self/exe", argv.data());
  int error = errno;
  unsetenv(kHandOverVariable);
  std::fprintf(stderr,
               "VEVUDE: cannot start afresh (errno %d); the worker ends for its manager to start "
               "a new one\n",
               error);
}

int TWorker::Run() {
  if (!Start()) return 1;
  for (;;) {
    if (GStopRequested && !FStopBegun) BeginStop();
    while (!FReady.empty()) {
      TConnection *c = FReady.front();
      FReady.pop_front();
      Serve(*c);
      if (GStopRequested && !FStopBegun) BeginStop();
    }
    Sweep();
    if (FFatal || (FStopBegun && FConns.empty())) break;
    if (FRestartDue && !FStopBegun && Quiescent()) {
      Restart();
      break; // only when the new image could not be started
    }
    Wait();
  }
  for (auto &c : FConns) Close(*c);
  FConns.clear();
  CloseListener(FListener);
  return 0;
}

} // namespace

bool StartedByFastCGIManager() { return IsFastCGIListenSocket(0); }

int64_t MaxRequestsFromEnvironment() {
  const char *text = std::getenv(kMaxRequestsVariable);
  if (!text || !*text) return 0;
  int64_t n;
  if (!TryStrToInt64(text, n) || n < 0 || text[0] == '-' || text[0] == '+') {
    std::fprintf(stderr, "VEVUDE: %s is not a number of requests; no limit applies\n",
                 kMaxRequestsVariable);
    return 0;
  }
  return n;
}

int TimeoutFromEnvironment() {
  const char *text = std::getenv(kTimeoutVariable);
  if (!text || !*text) return kDefaultFastCGITimeoutMs;
  int64_t n;
  if (!TryStrToInt64(text, n) || n < 1 || n > kMaxFastCGITimeoutSeconds || text[0] == '+') {
    std::fprintf(stderr, "VEVUDE: %s is not a number of seconds from 1 to %d; %d applies\n",
                 kTimeoutVariable, kMaxFastCGITimeoutSeconds, kDefaultFastCGITimeoutMs / 1000);
    return kDefaultFastCGITimeoutMs;
  }
  return int(n * 1000);
}

int RunFastCGI(TCGIApplication &app, const TFastCGIOptions &options) {
  mallopt(M_MMAP_THRESHOLD, kFastCGIMmapThreshold);
  mallopt(M_TRIM_THRESHOLD, kFastCGIHeapSlack);
  TSignalGuard signals;
  TWorker worker(app, options, signals);
  return worker.Run();
}

} // namespace vv
