// The SOAP header objects of one message: read from a request's Header or
// written into a response's. The list does not own its objects.
#pragma once

#include <vector>

#include "rtl/Object.h"

namespace vv {

class THeaderList {
public:
  int Count() const { return int(FItems.size()); }
  TObject *Items(int i) const { return FItems.at(size_t(i)); }
  void Add(TObject *obj) { FItems.push_back(obj); }
  void Clear() { FItems.clear(); }

private:
  std::vector<TObject *> FItems;
};

} // namespace vv
