#include "rtl/TypeInfo.h"

#include <cstdio>

namespace vv {

TClass TObject::StaticClassInfo() {
  static const TTypeInfo info = ClassInfoBuilder<TObject, void>("TObject", "System").Build();
  return &info;
}

std::string TObject::ClassName() const { return ClassType()->Name; }

bool TObject::InheritsFrom(TClass cls) const { return vv::InheritsFrom(ClassType(), cls); }

TClass TInterfacedObject::StaticClassInfo() {
  static const TTypeInfo info =
      ClassInfoBuilder<TInterfacedObject, TObject>("TInterfacedObject", "System")
          .Implements<IInterface>()
          .Build();
  return &info;
}

const TTypeInfo *IInterface::StaticTypeInfo() {
  static const TTypeInfo info = [] {
    TTypeInfo t;
    t.Kind = TTypeKind::tkInterface;
    t.Name = "IInterface";
    t.UnitName = "System";
    t.Size = sizeof(void *);
    t.Construct = [](void *p) { *static_cast<void **>(p) = nullptr; };
    t.Destroy = [](void *) {};
    t.Assign = &SlotAssign<void *>;
    auto *d = new TIntfData;
    d->IID = IInterface::IID;
    t.Intf = d;
    return t;
  }();
  return &info;
}

const TTypeInfo *IInvokable::StaticTypeInfo() {
  static const TTypeInfo info =
      IntfInfoBuilder<IInvokable, IInterface>("IInvokable", "System").Build();
  return &info;
}

std::string TGUID::ToString() const {
  char buf[40];
  std::snprintf(buf, sizeof buf, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", D1, D2, D3,
                D4[0], D4[1], D4[2], D4[3], D4[4], D4[5], D4[6], D4[7]);
  return buf;
}

void *FindInterface(TObject *obj, const TGUID &iid) {
  for (TClass c = obj->ClassType(); c && c->Class; c = c->Class->Parent)
    for (auto &e : c->Class->Interfaces)
      if (e.IID == iid) return e.Get(obj);
  return nullptr;
}

int32_t TInterfacedObject::QueryInterface(const TGUID &iid, void **obj) {
  void *p = iid == IInterface::IID ? static_cast<IInterface *>(this) : FindInterface(this, iid);
  *obj = p;
  if (!p) return E_NOINTERFACE;
  _AddRef();
  return S_OK;
}

int32_t TInterfacedObject::_AddRef() { return ++FRefCount; }

int32_t TInterfacedObject::_Release() {
  int32_t n = --FRefCount;
  if (n == 0) delete this;
  return n;
}

bool InheritsFrom(TClass cls, TClass base) {
  for (TClass c = cls; c; c = c->Class ? c->Class->Parent : nullptr)
    if (c == base) return true;
  return false;
}

std::vector<const TPropInfo *> AllProps(TClass cls) {
  std::vector<TClass> chain;
  for (TClass c = cls; c && c->Class; c = c->Class->Parent) chain.push_back(c);
  std::vector<const TPropInfo *> props;
  for (auto it = chain.rbegin(); it != chain.rend(); ++it)
    for (auto &p : (*it)->Class->Props) props.push_back(&p);
  return props;
}

const std::vector<TImplementedIntf> *ImplementedInterfaces(TClass cls) {
  for (TClass c = cls; c && c->Class; c = c->Class->Parent)
    if (!c->Class->Interfaces.empty()) return &c->Class->Interfaces;
  return nullptr;
}

std::vector<TIntfMethod> AllMethods(const TTypeInfo *intf) {
  std::vector<const TTypeInfo *> chain;
  for (const TTypeInfo *t = intf; t && t->Intf; t = t->Intf->Parent) chain.push_back(t);
  std::vector<TIntfMethod> all(3);
  for (int i = 0; i < 3; ++i) all[size_t(i)].Pos = i;
  for (auto it = chain.rbegin(); it != chain.rend(); ++it)
    for (auto &m : (*it)->Intf->Methods) all.push_back(m);
  return all;
}

#define VV_SCALAR(T, kind, name, ...)                                                              \
  template <> const TTypeInfo *TypeInfoOf<T>() {                                                   \
    static const TTypeInfo info = [] {                                                             \
      TTypeInfo t = ScalarInfo<T>(TTypeKind::kind, name);                                          \
      __VA_ARGS__;                                                                                 \
      return t;                                                                                    \
    }();                                                                                           \
    return &info;                                                                                  \
  }

VV_SCALAR(bool, tkEnumeration, "Boolean", t.OrdType = TOrdType::otUByte;
          t.EnumNames = {"False", "True"})
VV_SCALAR(int8_t, tkInteger, "ShortInt", t.OrdType = TOrdType::otSByte)
VV_SCALAR(uint8_t, tkInteger, "Byte", t.OrdType = TOrdType::otUByte)
VV_SCALAR(int16_t, tkInteger, "SmallInt", t.OrdType = TOrdType::otSWord)
VV_SCALAR(uint16_t, tkInteger, "Word", t.OrdType = TOrdType::otUWord)
VV_SCALAR(int32_t, tkInteger, "Integer", t.OrdType = TOrdType::otSLong)
VV_SCALAR(uint32_t, tkInteger, "Cardinal", t.OrdType = TOrdType::otULong)
VV_SCALAR(int64_t, tkInt64, "Int64", t.OrdType = TOrdType::otSInt64)
VV_SCALAR(uint64_t, tkInt64, "UInt64", t.OrdType = TOrdType::otUInt64)
VV_SCALAR(float, tkFloat, "Single", t.FloatType = TFloatType::ftSingle)
VV_SCALAR(double, tkFloat, "Double", t.FloatType = TFloatType::ftDouble)
VV_SCALAR(std::string, tkUString, "UnicodeString")

} // namespace vv
