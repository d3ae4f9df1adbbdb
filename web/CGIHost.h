// What the web server gives a CGI process: its environment, standard input
// and standard output. Held as an object so that tests can run a whole
// request in-process with an environment and streams of their own.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace vv {

class TCGIEnvironment {
public:
  TCGIEnvironment() = default;
  // Entries "NAME=value"; an entry without "=" is a name with an empty value.
  explicit TCGIEnvironment(std::vector<std::string> vars) : FVars(std::move(vars)) {}
  // A snapshot of the process environment.
  static TCGIEnvironment FromProcess();

  // The value of `name`: an exact match first, else the first entry whose
  // name equals it without regard to ASCII case (header variables arrive
  // upper-cased, callers ask in mixed case). Missing and empty are the same.
  std::string Lookup(std::string_view name) const;
  const std::vector<std::string> &Vars() const { return FVars; }

private:
  std::vector<std::string> FVars;
};

struct TCGIHost {
  using TReadFn = std::function<int64_t(void *buffer, int64_t count)>;
  using TWriteFn = std::function<int64_t(const void *buffer, int64_t count)>;

  TCGIEnvironment Env;
  // One read of at most `count` bytes: the count read, 0 at end, < 0 on error.
  TReadFn Read;
  // Writes `count` bytes; returns how many were written (< count on error).
  TWriteFn Write;

  // The process's own environment, standard input and standard output.
  static TCGIHost Process();
  // An environment with reads from `inFd` and writes to `outFd`.
  static TCGIHost FromFds(TCGIEnvironment env, int inFd, int outFd);
};

} // namespace vv
