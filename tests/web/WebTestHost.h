// An in-process CGI host for tests: a given environment, a given standard
// input (optionally cut into small reads) and a captured standard output.
#pragma once

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "web/CGIHost.h"

namespace vvtest {

struct FakeIO {
  std::string Input;
  size_t InputPos = 0;
  int64_t MaxRead = 0; // 0: no cut
  int Reads = 0;
  int Writes = 0;
  std::string Output;
};

// The host reads from and writes to `io`, which must outlive it.
inline vv::TCGIHost MakeHost(std::vector<std::string> env, std::shared_ptr<FakeIO> io) {
  vv::TCGIHost h;
  h.Env = vv::TCGIEnvironment(std::move(env));
  h.Read = [io](void *buffer, int64_t count) -> int64_t {
    ++io->Reads;
    int64_t n = std::min<int64_t>(count, int64_t(io->Input.size() - io->InputPos));
    if (io->MaxRead > 0) n = std::min(n, io->MaxRead);
    std::memcpy(buffer, io->Input.data() + io->InputPos, size_t(n));
    io->InputPos += size_t(n);
    return n;
  };
  h.Write = [io](const void *buffer, int64_t count) -> int64_t {
    ++io->Writes;
    io->Output.append(static_cast<const char *>(buffer), size_t(count));
    return count;
  };
  return h;
}

} // namespace vvtest
