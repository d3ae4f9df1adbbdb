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

// Entries "NAME=value" (an entry without "=" is a name with an empty
// value), kept one after another in one block: however many a request
// brings, they cost two allocations, which go back whole when it ends.
class TCGIEnvironment {
public:
  TCGIEnvironment() = default;
  explicit TCGIEnvironment(const std::vector<std::string> &vars);
  // A snapshot of the process environment.
  static TCGIEnvironment FromProcess();

  // Appends one entry (a builder's step).
  void Add(std::string_view entry);
  // Room for `bytes` of entries in all, so that a builder grows nothing.
  void Reserve(size_t bytes) { FBlock.reserve(bytes); }

  // The value of `name`: an exact match first, else the first entry whose
  // name equals it without regard to ASCII case (header variables arrive
  // upper-cased, callers ask in mixed case). Missing and empty are the same.
  std::string Lookup(std::string_view name) const;
  size_t Count() const { return FEnds.size(); }
  std::string_view Entry(size_t index) const;
  // Bytes of all entries together.
  size_t Size() const { return FBlock.size(); }

private:
  struct TPlace {
    size_t End;     // where the entry ends in FBlock
    size_t NameLen; // the length of its name (up to its "=", or all of it)
  };
  std::string FBlock;
  std::vector<TPlace> FEnds;
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
