#include "web/CGIHost.h"

#include <cerrno>
#include <unistd.h>

#include "rtl/StrUtils.h"

extern char **environ;

namespace vv {

TCGIEnvironment TCGIEnvironment::FromProcess() {
  std::vector<std::string> vars;
  for (char **e = environ; e && *e; ++e) vars.emplace_back(*e);
  return TCGIEnvironment(std::move(vars));
}

static std::string_view EntryName(std::string_view entry) {
  size_t eq = entry.find('=');
  return eq == std::string_view::npos ? entry : entry.substr(0, eq);
}

static std::string EntryValue(std::string_view entry) {
  size_t eq = entry.find('=');
  return eq == std::string_view::npos ? std::string() : std::string(entry.substr(eq + 1));
}

std::string TCGIEnvironment::Lookup(std::string_view name) const {
  if (name.empty()) return "";
  for (const auto &v : FVars)
    if (EntryName(v) == name) return EntryValue(v);
  for (const auto &v : FVars)
    if (SameText(EntryName(v), name)) return EntryValue(v);
  return "";
}

TCGIHost TCGIHost::Process() { return FromFds(TCGIEnvironment::FromProcess(), 0, 1); }

TCGIHost TCGIHost::FromFds(TCGIEnvironment env, int inFd, int outFd) {
  TCGIHost h;
  h.Env = std::move(env);
  h.Read = [inFd](void *buffer, int64_t count) -> int64_t {
    for (;;) {
      ssize_t n = ::read(inFd, buffer, size_t(count));
      if (n >= 0 || errno != EINTR) return n;
    }
  };
  // A pipe may take fewer bytes per call; keep writing until all are out.
  h.Write = [outFd](const void *buffer, int64_t count) -> int64_t {
    const char *p = static_cast<const char *>(buffer);
    int64_t done = 0;
    while (done < count) {
      ssize_t n = ::write(outFd, p + done, size_t(count - done));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      done += n;
    }
    return done;
  };
  return h;
}

} // namespace vv
