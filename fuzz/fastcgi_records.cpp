// Fuzz target: the bytes a web server (or anyone reaching the worker's
// socket) sends on a FastCGI connection. They are read twice, once whole
// and once in pieces of a size the input chooses, and must give the same
// requests and replies; every request taken keeps within the limits and is
// read through the CGI request like a process environment.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "web/CGIRequest.h"
#include "web/FastCGIRecords.h"
#include "web/WebLimits.h"

namespace {

struct TSeen {
  std::vector<std::string> Requests; // each flattened: id, flags, fault, entries, body
  std::string Replies;
  bool Broken = false, Mid = false, CloseAfter = false;
  bool operator==(const TSeen &) const = default;
};

void ReadEverything(vv::TCGIEnvironment env, const std::string &input) {
  auto body = std::make_shared<std::string>(input);
  vv::TCGIHost host;
  host.Env = std::move(env);
  host.Read = [body](void *buffer, int64_t count) -> int64_t {
    int64_t n = std::min<int64_t>(count, int64_t(body->size()));
    std::copy_n(body->data(), n, static_cast<char *>(buffer));
    body->erase(0, size_t(n));
    return n;
  };
  host.Write = [](const void *, int64_t count) -> int64_t { return count; };
  vv::TCGIRequest request(host);
  try {
    for (int i = 0; i < vv::kRequestFieldCount; ++i)
      if (i != vv::rfContent) request.GetStringField(i);
    if (request.ContentLength() <= vv::kMaxContentLength) request.RawContent();
    request.GetFieldByName("SOAPAction");
    request.QueryFields();
    request.CookieFields();
  } catch (const std::exception &) {
    // Decoding errors of the query or cookies are the request's own answer.
  }
}

// The limits hold for whatever was taken.
void Check(const vv::fastcgi::TRequest &r) {
  int64_t total = 0;
  for (size_t i = 0; i < r.Env.Count(); ++i) {
    if (int64_t(r.Env.Entry(i).size()) > vv::kMaxParamLength) std::abort();
    total += int64_t(r.Env.Entry(i).size()) + 1;
  }
  if (total > vv::kMaxParamsTotal) std::abort();
  if (r.Fault != vv::fastcgi::TParamsFault::None && r.Env.Count() != 0) std::abort();
  if (int64_t(r.Body.size()) > vv::kMaxContentLength) std::abort();
  int64_t announced = vv::AnnouncedContentLength(r.Env);
  if (announced >= 0 && announced <= vv::kMaxContentLength && int64_t(r.Body.size()) > announced)
    std::abort();
}

TSeen Read(std::string_view stream, size_t piece, bool serve) {
  vv::fastcgi::TConnectionReader reader;
  TSeen seen;
  for (size_t at = 0; at < stream.size(); at += piece) {
    reader.Take(stream.substr(at, piece));
    while (reader.Ready()) {
      vv::fastcgi::TRequest r = reader.TakeRequest();
      Check(r);
      std::string flat = std::to_string(r.Id) + (r.KeepConnection ? "k" : "-") +
                         std::to_string(int(r.Fault)) + (r.InputEnded ? "e" : "-");
      for (size_t i = 0; i < r.Env.Count(); ++i) flat += "|" + std::string(r.Env.Entry(i));
      flat += "|" + r.Body;
      seen.Requests.push_back(flat);
      if (serve && r.Fault == vv::fastcgi::TParamsFault::None)
        ReadEverything(std::move(r.Env), r.Body);
    }
  }
  seen.Replies = reader.Replies();
  seen.Broken = reader.Broken();
  seen.Mid = reader.MidRequest();
  seen.CloseAfter = reader.CloseAfterReplies();
  return seen;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size == 0) return 0;
  size_t piece = size_t(data[0] % 17) + 1;
  std::string_view stream(reinterpret_cast<const char *>(data) + 1, size - 1);
  TSeen whole = Read(stream, stream.size() + 1, true);
  TSeen pieces = Read(stream, piece, false);
  if (!(whole == pieces)) std::abort();
  return 0;
}
