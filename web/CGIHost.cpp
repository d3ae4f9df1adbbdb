#include "web/CGIHost.h"

#include <algorithm>

#include <cerrno>
#include <unistd.h>

#include "rtl/StrUtils.h"

extern char **environ;

namespace vv {

TCGIEnvironment::TCGIEnvironment(const std::vector<std::string> &vars) {
  for (const std::string &v : vars) Add(v);
}

TCGIEnvironment TCGIEnvironment::FromProcess() {
  TCGIEnvironment env;
  for (char **e = environ; e && *e; ++e) env.Add(*e);
  return env;
}

void TCGIEnvironment::Add(std::string_view entry) {
  FBlock.append(entry);
  FEnds.push_back({FBlock.size(), std::min(entry.find('='), entry.size())});
}

std::string_view TCGIEnvironment::Entry(size_t index) const {
  size_t start = index == 0 ? 0 : FEnds[index - 1].End;
  return std::string_view(FBlock).substr(start, FEnds[index].End - start);
}

// Names are compared by their length first: a request has a few dozen
// variables and a response asks for many of them.
std::string TCGIEnvironment::Lookup(std::string_view name) const {
  if (name.empty()) return "";
  auto value = [this](size_t i) {
    std::string_view e = Entry(i);
    size_t len = FEnds[i].NameLen;
    return len < e.size() ? std::string(e.substr(len + 1)) : std::string();
  };
  for (size_t i = 0; i < Count(); ++i)
    if (FEnds[i].NameLen == name.size() && Entry(i).substr(0, name.size()) == name) return value(i);
  for (size_t i = 0; i < Count(); ++i)
    if (FEnds[i].NameLen == name.size() && SameText(Entry(i).substr(0, name.size()), name))
      return value(i);
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
