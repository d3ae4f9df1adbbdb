// The root of every class that has a run-time type descriptor.
#pragma once

#include <string>

namespace vv {

struct TTypeInfo;
// A class is identified by its type descriptor (kind tkClass).
using TClass = const TTypeInfo *;

class TObject {
public:
  virtual ~TObject() = default;
  static TClass StaticClassInfo();
  // The descriptor of the object's most derived class.
  virtual TClass ClassType() const { return StaticClassInfo(); }
  std::string ClassName() const;
  bool InheritsFrom(TClass cls) const;
};

// Put first in the body of every class that has a descriptor; the class's
// .cpp defines StaticClassInfo() with a ClassInfoBuilder (rtl/TypeInfo.h).
#define VV_CLASS(T)                                                                                \
public:                                                                                            \
  static vv::TClass StaticClassInfo();                                                             \
  vv::TClass ClassType() const override { return StaticClassInfo(); }

} // namespace vv
