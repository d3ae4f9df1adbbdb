// A loopback HTTP peer for the transport's tests: answers each connection
// with the next canned reply (the last one repeats) and records what it
// received, header lines in arrival order and the body.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <string>
#include <strings.h>
#include <thread>
#include <utility>
#include <vector>

namespace vvtest {

struct TRecordedRequest {
  std::string Line; // "POST /path HTTP/1.1"
  std::vector<std::pair<std::string, std::string>> Headers;
  std::string Body;
  std::string Header(const std::string &name) const {
    for (auto &h : Headers)
      if (strcasecmp(h.first.c_str(), name.c_str()) == 0) return h.second;
    return {};
  }
  bool Has(const std::string &name) const {
    for (auto &h : Headers)
      if (strcasecmp(h.first.c_str(), name.c_str()) == 0) return true;
    return false;
  }
};

// "HTTP/1.1 <status>" with the given headers and body, connection closed.
inline std::string Reply(const std::string &status, const std::string &contentType,
                         const std::string &body, const std::string &extraHeaders = "") {
  std::string r = "HTTP/1.1 " + status + "\r\n";
  if (!contentType.empty()) r += "Content-Type: " + contentType + "\r\n";
  r += extraHeaders;
  r += "Content-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
  return r;
}

class TLoopbackServer {
public:
  static constexpr int PollMs = 50;
  static constexpr int IdleLimitMs = 30000; // a test never waits longer on a peer

  explicit TLoopbackServer(std::vector<std::string> replies) : FReplies(std::move(replies)) {
    FSock = socket(AF_INET, SOCK_STREAM, 0);
    int one = 1;
    setsockopt(FSock, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = 0;
    bind(FSock, reinterpret_cast<sockaddr *>(&a), sizeof a);
    socklen_t len = sizeof a;
    getsockname(FSock, reinterpret_cast<sockaddr *>(&a), &len);
    FPort = ntohs(a.sin_port);
    listen(FSock, 8);
    FThread = std::thread([this] { Run(); });
  }
  ~TLoopbackServer() {
    FStop = true;
    FThread.join();
    close(FSock);
  }
  int Port() const { return FPort; }
  std::string URL(const std::string &path = "/svc") const {
    return "http://127.0.0.1:" + std::to_string(FPort) + path;
  }
  std::vector<TRecordedRequest> Requests() {
    std::lock_guard<std::mutex> g(FLock);
    return FRequests;
  }

private:
  void Run() {
    auto idleSince = std::chrono::steady_clock::now();
    while (!FStop) {
      pollfd p{FSock, POLLIN, 0};
      if (poll(&p, 1, PollMs) <= 0) {
        if (std::chrono::steady_clock::now() - idleSince > std::chrono::milliseconds(IdleLimitMs))
          return;
        continue;
      }
      int c = accept(FSock, nullptr, nullptr);
      if (c < 0) continue;
      Serve(c);
      close(c);
      idleSince = std::chrono::steady_clock::now();
    }
  }
  bool ReadMore(int c, std::string &buf) {
    pollfd p{c, POLLIN, 0};
    if (poll(&p, 1, 5000) <= 0) return false;
    char tmp[65536];
    ssize_t n = recv(c, tmp, sizeof tmp, 0);
    if (n <= 0) return false;
    buf.append(tmp, size_t(n));
    return true;
  }
  void Serve(int c) {
    std::string buf;
    size_t end;
    while ((end = buf.find("\r\n\r\n")) == std::string::npos)
      if (!ReadMore(c, buf)) return;
    TRecordedRequest r;
    std::string head = buf.substr(0, end);
    size_t pos = head.find("\r\n");
    r.Line = head.substr(0, pos);
    size_t length = 0;
    while (pos != std::string::npos) {
      size_t next = head.find("\r\n", pos + 2);
      std::string line = head.substr(pos + 2, next == std::string::npos ? next : next - pos - 2);
      pos = next;
      size_t colon = line.find(':');
      if (colon == std::string::npos) continue;
      std::string name = line.substr(0, colon), value = line.substr(colon + 1);
      while (!value.empty() && value.front() == ' ') value.erase(0, 1);
      if (strcasecmp(name.c_str(), "Content-Length") == 0) length = std::stoul(value);
      if (strcasecmp(name.c_str(), "Expect") == 0) {
        std::string cont = "HTTP/1.1 100 Continue\r\n\r\n";
        send(c, cont.data(), cont.size(), MSG_NOSIGNAL);
      }
      r.Headers.emplace_back(name, value);
    }
    std::string body = buf.substr(end + 4);
    while (body.size() < length && ReadMore(c, body)) {
    }
    r.Body = body;
    std::string reply;
    {
      std::lock_guard<std::mutex> g(FLock);
      FRequests.push_back(r);
      size_t i = std::min(FRequests.size() - 1, FReplies.size() - 1);
      reply = FReplies[i];
    }
    send(c, reply.data(), reply.size(), MSG_NOSIGNAL);
    shutdown(c, SHUT_WR);
  }

  std::vector<std::string> FReplies;
  int FSock = -1;
  int FPort = 0;
  std::atomic<bool> FStop{false};
  std::mutex FLock;
  std::vector<TRecordedRequest> FRequests;
  std::thread FThread;
};

} // namespace vvtest
