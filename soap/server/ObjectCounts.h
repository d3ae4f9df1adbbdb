// Counts of record and implementation objects made and freed, kept only in
// builds with VEVUDE_COUNT_OBJECTS (tests use them to prove lifetimes).
#pragma once

#include <atomic>

namespace vv {

struct TObjectCounts {
  std::atomic<long> RemotableCreated{0}, RemotableDestroyed{0};
  std::atomic<long> InvokableCreated{0}, InvokableDestroyed{0};
  long RemotableAlive() const { return RemotableCreated - RemotableDestroyed; }
  long InvokableAlive() const { return InvokableCreated - InvokableDestroyed; }
};

// The process-wide counts (all zero when counting is not compiled in).
TObjectCounts &ObjectCounts();
constexpr bool ObjectCountingEnabled() {
#ifdef VEVUDE_COUNT_OBJECTS
  return true;
#else
  return false;
#endif
}

} // namespace vv
