// Run-time type descriptors.
//
// One TTypeInfo per native type is the key by which the registries find
// their entries and through which the message converter, the invoker and the
// WSDL generator read and write values without knowing the types. A value
// lives in a "slot": raw storage of Size bytes that Construct/Destroy/Assign
// manage. Text slots hold std::string (UTF-8), class slots hold a T*
// (not owned), dynamic-array slots hold the array type itself.
//
// Declaring a type:
//   class TPoint : public TRemotable {  // in a unit of its own
//     VV_CLASS(TPoint)
//     std::string_view Label() const;      // text kept compactly (TOptionalText)
//     void SetLabel(std::string_view v);
//     bool Label_Specified() const;
//   };
//   TClass TPoint::StaticClassInfo() {
//     static const TTypeInfo info = ClassInfoBuilder<TPoint, TRemotable>("TPoint", "uPoints")
//         .Property("Label", &TPoint::Label, &TPoint::SetLabel, &TPoint::Label_Specified,
//                   xoOptional)
//         .Build();
//     return &info;
//   }
//   VV_DYNARRAY(ArrayOfTPoint, TPoint*);  // + DynArrayInfo<> in the .cpp
//   interfaces: VV_INTERFACE + IntfInfoBuilder<I>(...).Method<&I::M>(...)
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "rtl/Interface.h"
#include "rtl/Object.h"

namespace vv {

enum class TTypeKind {
  tkUnknown,
  tkInteger, // 8/16/32-bit integers (see TOrdType)
  tkChar,
  tkEnumeration, // enumerations and Boolean
  tkFloat,       // see TFloatType
  tkString,
  tkSet,
  tkClass,
  tkMethod,
  tkWChar,
  tkLString,
  tkWString,
  tkVariant,
  tkArray,
  tkRecord,
  tkInterface,
  tkInt64, // 64-bit integers, signed or not
  tkDynArray,
  tkUString // text: std::string holding UTF-8
};

enum class TOrdType { otSByte, otUByte, otSWord, otUWord, otSLong, otULong, otSInt64, otUInt64 };
enum class TFloatType { ftSingle, ftDouble, ftExtended, ftComp, ftCurr };

// Parameter flags of interface methods (a set of bits, TParamFlags). A
// parameter with none of them is passed by value and only read.
enum TParamFlag : uint8_t {
  // Passed by const reference: read by the call, never written back.
  pfConst = 1,
  // Passed by non-const reference: read, and written back into the
  // response (or, on the client, from it).
  pfVar = 2,
  // Written by the call only: not read from a request, written into the
  // response. The converter and the WSDL honour it; no method of this
  // program's interfaces has such a parameter (C++ has no out parameters).
  pfOut = 4,
};
using TParamFlags = uint8_t;

// Per-property XML options (bit values).
enum TPropXMLOption : int {
  xoOptional = 1,    // the element may be absent (written only when stored)
  xoInlineArray = 2, // array written as repeated elements, not wrapped
};

struct TTypeInfo;

// Reads and writes a text property without a slot: for properties whose
// getter gives a view of the text and whose setter takes one (records keep
// their text compactly, so a slot would mean a copy per value).
struct TTextAccess {
  virtual ~TTextAccess() = default;
  virtual std::string_view Get(const TObject *obj) const = 0;
  virtual void Set(TObject *obj, std::string_view value) const = 0;
};

// A published property of a class.
struct TPropInfo {
  std::string Name;
  const TTypeInfo *Type = nullptr;
  int XMLOptions = 0;
  // Copies the property's value into a slot of Type.
  std::function<void(const TObject *, void *slot)> Get;
  // Stores a slot of Type into the property (through its setter).
  std::function<void(TObject *, const void *slot)> Set;
  // The stored-test; empty means always stored.
  std::function<bool(const TObject *)> IsStored;
  bool Stored(const TObject *obj) const { return !IsStored || IsStored(obj); }
  // Set for text properties held as views (see TTextAccess); Type is then
  // the text type and Get/Set still work through std::string slots.
  std::shared_ptr<const TTextAccess> Text;
};

// An interface that a class implements, and how to reach it from an object.
struct TImplementedIntf {
  TGUID IID;
  const TTypeInfo *Info = nullptr;
  void *(*Get)(TObject *) = nullptr; // the object seen as that interface
};

struct TClassData {
  const TTypeInfo *Parent = nullptr;               // none for TObject
  TObject *(*Create)() = nullptr;                  // argument-less construction; none if abstract
  std::vector<TPropInfo> Props;                    // own published properties, declaration order
  std::vector<TImplementedIntf> Interfaces;        // own implemented interfaces
  TObject *(*LoadObj)(const void *slot) = nullptr; // object in a T* slot
  void (*StoreObj)(void *slot, TObject *obj) = nullptr;
};

struct TDynArrayData {
  const TTypeInfo *ElType = nullptr;
  size_t (*Length)(const void *arr) = nullptr;
  void (*SetLength)(void *arr, size_t length) = nullptr;
  void *(*Item)(void *arr, size_t index) = nullptr; // slot of element `index`
  const void *(*ItemConst)(const void *arr, size_t index) = nullptr;
};

struct TIntfParam {
  std::string Name;
  TParamFlags Flags = 0;
  const TTypeInfo *Type = nullptr;
};

// Calls one method: `self` is the object seen as the method's interface,
// `args[i]` the slot of parameter i, `result` the result slot (or null).
using TMethodCall = void (*)(void *self, void **args, void *result);

struct TIntfMethod {
  std::string Name;
  int Pos = 0; // slot in the interface's method table; the first own method is 3
  std::vector<TIntfParam> Params;
  const TTypeInfo *Result = nullptr; // none for a procedure
  TMethodCall Call = nullptr;
};

// The handler behind a client proxy: every method of the proxied interface
// funnels into Invoke with the method and its argument slots.
class IProxyHandler {
public:
  virtual void ProxyInvoke(const TIntfMethod &method, void **args, void *result) = 0;
  virtual int32_t ProxyQueryInterface(const TGUID &iid, void **obj) = 0;
  virtual int32_t ProxyAddRef() = 0;
  virtual int32_t ProxyRelease() = 0;

protected:
  ~IProxyHandler() = default;
};

struct TIntfData {
  TGUID IID;
  const TTypeInfo *Parent = nullptr; // base interface, none for IInterface
  int NumAnc = 0;                    // inherited method slots (3 for IInvokable)
  bool HasRTTI = true;
  std::vector<TIntfMethod> Methods; // own methods, slot order
  // Builds a proxy object offering this interface over `handler`; the
  // returned pointer is the interface itself. None if no proxy was declared.
  void *(*NewProxy)(IProxyHandler *handler) = nullptr;
  void (*FreeProxy)(void *proxy) = nullptr; // frees what NewProxy made
};

struct TTypeInfo {
  TTypeKind Kind = TTypeKind::tkUnknown;
  std::string Name;
  std::string UnitName;
  size_t Size = 0;
  void (*Construct)(void *slot) = nullptr;
  void (*Destroy)(void *slot) = nullptr;
  void (*Assign)(void *dst, const void *src) = nullptr;
  TOrdType OrdType = TOrdType::otSLong;
  TFloatType FloatType = TFloatType::ftDouble;
  std::vector<std::string> EnumNames; // enumerations, in ordinal order
  const TClassData *Class = nullptr;
  const TDynArrayData *DynArray = nullptr;
  const TIntfData *Intf = nullptr;
};

// ---- queries -------------------------------------------------------------

bool InheritsFrom(TClass cls, TClass base);
// Published properties of a class and its ancestors, ancestors' first.
std::vector<const TPropInfo *> AllProps(TClass cls);
// Own implemented interfaces of the class, or of the nearest ancestor that
// declares any.
const std::vector<TImplementedIntf> *ImplementedInterfaces(TClass cls);
// All methods of an interface including inherited ones, by slot (the three
// reference-counting slots are unnamed entries without Call).
std::vector<TIntfMethod> AllMethods(const TTypeInfo *intf);

// ---- slot operations for ordinary C++ types -----------------------------

template <class T> void SlotConstruct(void *p) { new (p) T(); }
template <class T> void SlotDestroy(void *p) { static_cast<T *>(p)->~T(); }
template <class T> void SlotAssign(void *d, const void *s) {
  *static_cast<T *>(d) = *static_cast<const T *>(s);
}

template <class T> TTypeInfo ScalarInfo(TTypeKind kind, std::string name) {
  TTypeInfo t;
  t.Kind = kind;
  t.Name = std::move(name);
  t.UnitName = "System";
  t.Size = sizeof(T);
  t.Construct = &SlotConstruct<T>;
  t.Destroy = &SlotDestroy<T>;
  t.Assign = &SlotAssign<T>;
  return t;
}

// ---- TypeInfoOf<T>: the descriptor of a C++ type --------------------------

template <class T> const TTypeInfo *TypeInfoOf();

// Built-in scalars (defined in TypeInfo.cpp).
template <> const TTypeInfo *TypeInfoOf<bool>();
template <> const TTypeInfo *TypeInfoOf<int8_t>();
template <> const TTypeInfo *TypeInfoOf<uint8_t>();
template <> const TTypeInfo *TypeInfoOf<int16_t>();
template <> const TTypeInfo *TypeInfoOf<uint16_t>();
template <> const TTypeInfo *TypeInfoOf<int32_t>();
template <> const TTypeInfo *TypeInfoOf<uint32_t>();
template <> const TTypeInfo *TypeInfoOf<int64_t>();
template <> const TTypeInfo *TypeInfoOf<uint64_t>();
template <> const TTypeInfo *TypeInfoOf<float>();
template <> const TTypeInfo *TypeInfoOf<double>();
template <> const TTypeInfo *TypeInfoOf<std::string>();

template <class T> const TTypeInfo *TypeInfoOf() {
  if constexpr (std::is_pointer_v<T> && std::is_base_of_v<TObject, std::remove_pointer_t<T>>)
    return std::remove_pointer_t<T>::StaticClassInfo();
  else
    return T::StaticTypeInfo(); // dynamic arrays, interfaces, enumerations
}

// ---- classes ---------------------------------------------------------------

template <class T> TObject *LoadObjSlot(const void *slot) { return *static_cast<T *const *>(slot); }
template <class T> void StoreObjSlot(void *slot, TObject *obj) {
  *static_cast<T **>(slot) = dynamic_cast<T *>(obj);
}

namespace detail {
template <class T, class G, class S> class TTextAccessOf : public TTextAccess {
public:
  TTextAccessOf(G g, S s) : FGet(g), FSet(s) {}
  std::string_view Get(const TObject *obj) const override {
    return (static_cast<const T *>(obj)->*FGet)();
  }
  void Set(TObject *obj, std::string_view value) const override {
    (static_cast<T *>(obj)->*FSet)(value);
  }

private:
  G FGet;
  S FSet;
};

template <class M> struct MemberValue;
template <class C, class V> struct MemberValue<V C::*> { using type = V; };
template <class C, class V> struct MemberValue<V (C::*)() const> {
  using type = std::remove_cvref_t<V>;
};
} // namespace detail

// Builds the descriptor of class T deriving from Base (Base = void for a root).
template <class T, class Base> class ClassInfoBuilder {
public:
  ClassInfoBuilder(std::string name, std::string unit) {
    FInfo.Kind = TTypeKind::tkClass;
    FInfo.Name = std::move(name);
    FInfo.UnitName = std::move(unit);
    FInfo.Size = sizeof(T *);
    FInfo.Construct = [](void *p) { *static_cast<T **>(p) = nullptr; };
    FInfo.Destroy = [](void *) {};
    FInfo.Assign = &SlotAssign<T *>;
    if constexpr (!std::is_void_v<Base>) FData.Parent = Base::StaticClassInfo();
    if constexpr (std::is_default_constructible_v<T> && !std::is_abstract_v<T>)
      FData.Create = []() -> TObject * { return new T(); };
    FData.LoadObj = &LoadObjSlot<T>;
    FData.StoreObj = &StoreObjSlot<T>;
  }

  // getter: a field or a const method of T; setter: a field or a method
  // taking the value; stored: a bool field, a const method, or nullptr. A
  // getter returning std::string_view with a setter taking one declares a
  // text property held compactly (TPropInfo::Text).
  template <class G, class S, class St = std::nullptr_t>
  ClassInfoBuilder &Property(std::string name, G getter, S setter, St stored = nullptr,
                             int xmlOptions = 0) {
    using V = typename detail::MemberValue<G>::type;
    TPropInfo p;
    p.Name = std::move(name);
    p.XMLOptions = xmlOptions;
    if constexpr (std::is_same_v<V, std::string_view>) {
      // A text held as a view: a text property to everyone, read and
      // written without copies by the converter.
      static_assert(std::is_member_function_pointer_v<G> && std::is_member_function_pointer_v<S>,
                    "a text view property needs a getter and a setter method");
      p.Type = TypeInfoOf<std::string>();
      p.Get = [getter](const TObject *o, void *slot) {
        *static_cast<std::string *>(slot) = std::string((static_cast<const T *>(o)->*getter)());
      };
      p.Set = [setter](TObject *o, const void *slot) {
        (static_cast<T *>(o)->*setter)(std::string_view(*static_cast<const std::string *>(slot)));
      };
      p.Text = std::make_shared<detail::TTextAccessOf<T, G, S>>(getter, setter);
    } else {
      p.Type = TypeInfoOf<V>();
      p.Get = [getter](const TObject *o, void *slot) {
        const T *t = static_cast<const T *>(o);
        if constexpr (std::is_member_object_pointer_v<G>)
          *static_cast<V *>(slot) = t->*getter;
        else
          *static_cast<V *>(slot) = (t->*getter)();
      };
      p.Set = [setter](TObject *o, const void *slot) {
        T *t = static_cast<T *>(o);
        if constexpr (std::is_member_object_pointer_v<S>)
          t->*setter = *static_cast<const V *>(slot);
        else
          (t->*setter)(*static_cast<const V *>(slot));
      };
    }
    if constexpr (std::is_member_object_pointer_v<St>)
      p.IsStored = [stored](const TObject *o) { return static_cast<const T *>(o)->*stored; };
    else if constexpr (std::is_member_function_pointer_v<St>)
      p.IsStored = [stored](const TObject *o) { return (static_cast<const T *>(o)->*stored)(); };
    FData.Props.push_back(std::move(p));
    return *this;
  }

  // Declares that T implements interface I.
  template <class I> ClassInfoBuilder &Implements() {
    FData.Interfaces.push_back({I::IID, I::StaticTypeInfo(), [](TObject *o) -> void * {
                                  return static_cast<I *>(static_cast<T *>(o));
                                }});
    return *this;
  }

  // The finished descriptor; keep it in a function-local static.
  TTypeInfo Build() {
    FInfo.Class = new TClassData(std::move(FData)); // lives as long as the descriptor
    return FInfo;
  }

private:
  TTypeInfo FInfo;
  TClassData FData;
};

// ---- dynamic arrays --------------------------------------------------------

// Declares a distinct dynamic-array type Name of element E.
#define VV_DYNARRAY(Name, E)                                                                       \
  struct Name : std::vector<E> {                                                                   \
    using std::vector<E>::vector;                                                                  \
    static const vv::TTypeInfo *StaticTypeInfo();                                                  \
  }

template <class A> TTypeInfo DynArrayInfo(std::string name, std::string unit) {
  using E = typename A::value_type;
  TTypeInfo t = ScalarInfo<A>(TTypeKind::tkDynArray, std::move(name));
  t.UnitName = std::move(unit);
  auto *d = new TDynArrayData; // lives as long as the descriptor
  d->ElType = TypeInfoOf<E>();
  d->Length = [](const void *a) { return static_cast<const A *>(a)->size(); };
  d->SetLength = [](void *a, size_t n) { static_cast<A *>(a)->resize(n); };
  d->Item = [](void *a, size_t i) -> void * { return &(*static_cast<A *>(a))[i]; };
  d->ItemConst = [](const void *a, size_t i) -> const void * {
    return &(*static_cast<const A *>(a))[i];
  };
  t.DynArray = d;
  return t;
}

// ---- enumerations ----------------------------------------------------------

template <class E>
TTypeInfo EnumInfo(std::string name, std::string unit, std::vector<std::string> names) {
  TTypeInfo t = ScalarInfo<E>(TTypeKind::tkEnumeration, std::move(name));
  t.UnitName = std::move(unit);
  t.OrdType = sizeof(E) == 1   ? TOrdType::otUByte
              : sizeof(E) == 2 ? TOrdType::otUWord
                               : TOrdType::otULong;
  t.EnumNames = std::move(names);
  return t;
}

// ---- interfaces ------------------------------------------------------------

namespace detail {
template <class T> constexpr TParamFlags ParamFlagsOf() {
  if constexpr (std::is_lvalue_reference_v<T> && !std::is_const_v<std::remove_reference_t<T>>)
    return pfVar;
  else if constexpr (std::is_reference_v<T>)
    return pfConst;
  else
    return 0;
}

template <auto M> struct MethodThunk;
template <class I, class R, class... A, R (I::*M)(A...)> struct MethodThunk<M> {
  static constexpr size_t Arity = sizeof...(A);
  template <size_t... Is>
  static void CallImpl(void *self, void **args, void *result, std::index_sequence<Is...>) {
    I *p = static_cast<I *>(self);
    if constexpr (std::is_void_v<R>)
      (p->*M)(*static_cast<std::remove_cvref_t<A> *>(args[Is])...);
    else
      *static_cast<R *>(result) = (p->*M)(*static_cast<std::remove_cvref_t<A> *>(args[Is])...);
  }
  static void Call(void *self, void **args, void *result) {
    CallImpl(self, args, result, std::index_sequence_for<A...>{});
  }
  static std::vector<TIntfParam> Params(const std::vector<std::string> &names) {
    std::vector<TIntfParam> ps;
    const TTypeInfo *types[] = {TypeInfoOf<std::remove_cvref_t<A>>()..., nullptr};
    const TParamFlags flags[] = {ParamFlagsOf<A>()..., 0};
    for (size_t i = 0; i < Arity; ++i)
      ps.push_back({i < names.size() ? names[i] : std::string(), flags[i], types[i]});
    return ps;
  }
  static const TTypeInfo *Result() {
    if constexpr (std::is_void_v<R>)
      return nullptr;
    else
      return TypeInfoOf<R>();
  }
};
} // namespace detail

// Builds the descriptor of interface I deriving from Base (IInvokable).
template <class I, class Base = IInvokable> class IntfInfoBuilder {
public:
  IntfInfoBuilder(std::string name, std::string unit) {
    FInfo.Kind = TTypeKind::tkInterface;
    FInfo.Name = std::move(name);
    FInfo.UnitName = std::move(unit);
    FInfo.Size = sizeof(void *);
    FInfo.Construct = [](void *p) { *static_cast<void **>(p) = nullptr; };
    FInfo.Destroy = [](void *) {};
    FInfo.Assign = &SlotAssign<void *>;
    FData.IID = I::IID;
    FData.Parent = Base::StaticTypeInfo();
    FData.NumAnc = 3 + TotalMethods(FData.Parent);
  }

  // Adds the next method, with its parameter names in order.
  template <auto M> IntfInfoBuilder &Method(std::string name, std::vector<std::string> params) {
    using Thunk = detail::MethodThunk<M>;
    TIntfMethod m;
    m.Name = std::move(name);
    m.Pos = FData.NumAnc + int(FData.Methods.size());
    m.Params = Thunk::Params(params);
    m.Result = Thunk::Result();
    m.Call = &Thunk::Call;
    FData.Methods.push_back(std::move(m));
    return *this;
  }

  // Declares the proxy class P (constructed from an IProxyHandler*) that the
  // client side uses to offer I over a remote call.
  template <class P> IntfInfoBuilder &Proxy() {
    FData.NewProxy = [](IProxyHandler *h) -> void * { return static_cast<I *>(new P(h)); };
    FData.FreeProxy = [](void *p) { delete static_cast<P *>(static_cast<I *>(p)); };
    return *this;
  }

  TTypeInfo Build() {
    FInfo.Intf = new TIntfData(std::move(FData)); // lives as long as the descriptor
    return FInfo;
  }

private:
  static int TotalMethods(const TTypeInfo *t) {
    return t && t->Intf ? int(t->Intf->Methods.size()) + TotalMethods(t->Intf->Parent) : 0;
  }
  TTypeInfo FInfo;
  TIntfData FData;
};

// The base of proxy classes: reference counting and interface queries go
// to the handler, so the proxy lives exactly as long as its handler.
template <class I> class TProxyBase : public I {
public:
  explicit TProxyBase(IProxyHandler *handler) : FHandler(handler) {}
  virtual ~TProxyBase() = default;
  int32_t QueryInterface(const TGUID &iid, void **obj) override {
    return FHandler->ProxyQueryInterface(iid, obj);
  }
  int32_t _AddRef() override { return FHandler->ProxyAddRef(); }
  int32_t _Release() override { return FHandler->ProxyRelease(); }

protected:
  // Funnels method `index` (0-based among I's own methods) into the handler.
  template <class R, class... A> R Remote(int index, A &...args) {
    const TIntfMethod &m = I::StaticTypeInfo()->Intf->Methods.at(size_t(index));
    void *slots[] = {const_cast<void *>(static_cast<const void *>(&args))..., nullptr};
    if constexpr (std::is_void_v<R>) {
      FHandler->ProxyInvoke(m, slots, nullptr);
    } else {
      R result{};
      FHandler->ProxyInvoke(m, slots, &result);
      return result;
    }
  }
  IProxyHandler *FHandler;
};

} // namespace vv
