// Reference-counted interfaces.
//
// An interface is an abstract class deriving (virtually) from IInterface,
// identified by a GUID. Objects that implement interfaces derive from
// TInterfacedObject, whose count changes only by atomic steps; the last
// _Release destroys the object. IPtr<I> holds one reference.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <utility>

#include "rtl/Object.h"

namespace vv {

struct TGUID {
  uint32_t D1 = 0;
  uint16_t D2 = 0, D3 = 0;
  uint8_t D4[8] = {};

  // Parses "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" at compile time.
  static constexpr TGUID Parse(const char *s);
  // The braced upper-case text form.
  std::string ToString() const;
  friend constexpr bool operator==(const TGUID &a, const TGUID &b) {
    if (a.D1 != b.D1 || a.D2 != b.D2 || a.D3 != b.D3) return false;
    for (int i = 0; i < 8; ++i)
      if (a.D4[i] != b.D4[i]) return false;
    return true;
  }
};

constexpr int HexDigit(char c) {
  return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c - 'A' + 10;
}
constexpr uint64_t HexField(const char *s, int n) {
  uint64_t v = 0;
  for (int i = 0; i < n; ++i) v = v * 16 + uint64_t(HexDigit(s[i]));
  return v;
}
constexpr TGUID TGUID::Parse(const char *s) {
  TGUID g;
  g.D1 = uint32_t(HexField(s + 1, 8));
  g.D2 = uint16_t(HexField(s + 10, 4));
  g.D3 = uint16_t(HexField(s + 15, 4));
  g.D4[0] = uint8_t(HexField(s + 20, 2));
  g.D4[1] = uint8_t(HexField(s + 22, 2));
  for (int i = 0; i < 6; ++i) g.D4[2 + i] = uint8_t(HexField(s + 25 + 2 * i, 2));
  return g;
}

constexpr int32_t S_OK = 0;
constexpr int32_t E_NOINTERFACE = int32_t(0x80004002u);

struct IInterface {
  static constexpr TGUID IID = TGUID::Parse("{00000000-0000-0000-C000-000000000046}");
  static const TTypeInfo *StaticTypeInfo();
  virtual int32_t QueryInterface(const TGUID &iid, void **obj) = 0;
  virtual int32_t _AddRef() = 0;
  virtual int32_t _Release() = 0;

protected:
  virtual ~IInterface() = default;
};

// The base of interfaces that carry method type information.
struct IInvokable : virtual IInterface {
  static constexpr TGUID IID = TGUID::Parse("{A3B1E6C0-5C1D-4B52-9E2A-7D0B4C1F0001}");
  static const TTypeInfo *StaticTypeInfo();
};

// Put first in the body of every interface: its identity and descriptor.
#define VV_INTERFACE(I, guid)                                                                      \
public:                                                                                            \
  static constexpr vv::TGUID IID = vv::TGUID::Parse(guid);                                         \
  static const vv::TTypeInfo *StaticTypeInfo();

// Holds one reference to an interface.
template <class I> class IPtr {
public:
  IPtr() = default;
  IPtr(I *p) : FP(p) {
    if (FP) FP->_AddRef();
  }
  IPtr(const IPtr &o) : IPtr(o.FP) {}
  IPtr(IPtr &&o) noexcept : FP(std::exchange(o.FP, nullptr)) {}
  ~IPtr() { Reset(); }
  IPtr &operator=(IPtr o) noexcept {
    std::swap(FP, o.FP);
    return *this;
  }
  void Reset() {
    if (I *p = std::exchange(FP, nullptr)) p->_Release();
  }
  I *Get() const { return FP; }
  I *operator->() const { return FP; }
  explicit operator bool() const { return FP != nullptr; }
  // Takes over a pointer that already carries a reference (from QueryInterface).
  static IPtr Adopt(I *p) {
    IPtr r;
    r.FP = p;
    return r;
  }
  // The interface J of the same object, or empty when it offers none.
  template <class J> IPtr<J> As() const {
    void *out = nullptr;
    if (FP && FP->QueryInterface(J::IID, &out) == S_OK)
      return IPtr<J>::Adopt(static_cast<J *>(out));
    return IPtr<J>();
  }

private:
  I *FP = nullptr;
};

// An object whose life is its interface references.
class TInterfacedObject : public TObject, public virtual IInterface {
  VV_CLASS(TInterfacedObject)
  int32_t QueryInterface(const TGUID &iid, void **obj) override;
  int32_t _AddRef() override;
  int32_t _Release() override;
  int32_t RefCount() const { return FRefCount.load(); }

protected:
  std::atomic<int32_t> FRefCount{0};
};

// The interface `iid` of `obj`, found in the implemented-interface tables of
// its class and then its ancestors; nullptr when none offers it. Adds no
// reference.
void *FindInterface(TObject *obj, const TGUID &iid);

} // namespace vv
