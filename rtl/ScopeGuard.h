// Clean-up that runs however a scope ends: "undo this, then let the error
// go on" written once instead of as a catch-all that rethrows.
#pragma once

#include <exception>

namespace vv {

// Runs `cleanup` when the guard goes out of scope. On the normal way out an
// error the clean-up raises goes on to the caller. While an error is already
// on its way out the clean-up's own error is dropped, so that the first
// error, the one that says what went wrong, is the one the caller sees (and
// a second error never ends the process).
template <class TCleanup> class TScopeGuard {
public:
  explicit TScopeGuard(TCleanup cleanup)
      : FCleanup(cleanup), FErrorsOnEntry(std::uncaught_exceptions()) {}
  ~TScopeGuard() noexcept(false) {
    if (std::uncaught_exceptions() == FErrorsOnEntry) {
      FCleanup();
      return;
    }
    try {
      FCleanup();
    } catch (...) {
    }
  }
  TScopeGuard(const TScopeGuard &) = delete;
  TScopeGuard &operator=(const TScopeGuard &) = delete;

private:
  TCleanup FCleanup;
  int FErrorsOnEntry;
};

} // namespace vv
