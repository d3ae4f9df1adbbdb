#include "soap/server/ObjectCounts.h"

namespace vv {

TObjectCounts &ObjectCounts() {
  static TObjectCounts counts;
  return counts;
}

} // namespace vv
