// Fuzz target: the variables of a FastCGI request (NUL-separated entries, as
// the library hands them over) become a CGI environment or are refused by
// the limits; an accepted one is read through the CGI request like any
// process environment, its body announced and cut short at will.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "web/CGIRequest.h"
#include "web/FastCGIHost.h"
#include "web/WebLimits.h"

namespace {

std::vector<std::string> Entries(const uint8_t *data, size_t size) {
  std::vector<std::string> out;
  std::string cur;
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      out.push_back(cur);
      cur.clear();
    } else {
      cur += char(data[i]);
    }
  }
  if (!cur.empty()) out.push_back(cur);
  return out;
}

// What the limits promise about an accepted environment.
void CheckAccepted(const std::vector<std::string> &entries, const vv::TCGIEnvironment &env) {
  int64_t total = 0;
  size_t kept = 0;
  for (const std::string &e : entries) {
    if (e.starts_with("FCGI_ROLE=")) continue;
    if (int64_t(e.size()) > vv::kMaxParamLength) std::abort();
    total += int64_t(e.size()) + 1;
    ++kept;
  }
  if (total > vv::kMaxParamsTotal || env.Vars().size() != kept) std::abort();
}

void ReadEverything(vv::TCGIEnvironment env) {
  auto body = std::make_shared<std::string>("<x/>");
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

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::vector<std::string> entries = Entries(data, size);
  std::vector<const char *> params;
  for (const std::string &e : entries) params.push_back(e.c_str());
  params.push_back(nullptr);
  vv::TCGIEnvironment env;
  if (!vv::FastCGIEnvironment(params.data(), env)) {
    if (!env.Vars().empty()) std::abort();
    return 0;
  }
  CheckAccepted(entries, env);
  ReadEverything(std::move(env));
  return 0;
}
