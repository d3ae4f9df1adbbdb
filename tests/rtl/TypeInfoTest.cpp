#include <gtest/gtest.h>

#include "rtl/TypeInfo.h"

using namespace vv;

namespace {

class TSample : public TObject {
  VV_CLASS(TSample)
  std::string FName;
  bool FName_Specified = false;
  int32_t FCount = 0;
  void SetName(const std::string &v) {
    FName = v;
    FName_Specified = true;
  }
};

VV_DYNARRAY(TSampleArray, TSample *);

struct ISample : IInvokable {
  VV_INTERFACE(ISample, "{0D6B9D8E-1111-4A2B-9C3D-000000000001}")
  virtual TSampleArray Find(const std::string &key, int32_t &count) = 0;
};

class TSampleImpl : public TInterfacedObject, public ISample {
  VV_CLASS(TSampleImpl)
  TSampleArray Find(const std::string &key, int32_t &count) override {
    count = int32_t(key.size());
    return TSampleArray(2, nullptr);
  }
};

} // namespace

TClass TSample::StaticClassInfo() {
  static const TTypeInfo info = ClassInfoBuilder<TSample, TObject>("TSample", "uSample")
                                    .Property("Name", &TSample::FName, &TSample::SetName,
                                              &TSample::FName_Specified, xoOptional)
                                    .Property("Count", &TSample::FCount, &TSample::FCount)
                                    .Build();
  return &info;
}

const TTypeInfo *TSampleArray::StaticTypeInfo() {
  static const TTypeInfo info = DynArrayInfo<TSampleArray>("TSampleArray", "uSample");
  return &info;
}

const TTypeInfo *ISample::StaticTypeInfo() {
  static const TTypeInfo info = IntfInfoBuilder<ISample>("ISample", "uSample")
                                    .Method<&ISample::Find>("Find", {"key", "count"})
                                    .Build();
  return &info;
}

TClass TSampleImpl::StaticClassInfo() {
  static const TTypeInfo info =
      ClassInfoBuilder<TSampleImpl, TInterfacedObject>("TSampleImpl", "uSample")
          .Implements<ISample>()
          .Build();
  return &info;
}

TEST(TypeInfo, ClassProperties) {
  TSample s;
  auto props = AllProps(TSample::StaticClassInfo());
  ASSERT_EQ(props.size(), 2u);
  EXPECT_EQ(props[0]->Name, "Name");
  EXPECT_EQ(props[0]->Type, TypeInfoOf<std::string>());
  EXPECT_FALSE(props[0]->Stored(&s));
  std::string v = "x";
  props[0]->Set(&s, &v);
  EXPECT_TRUE(props[0]->Stored(&s));
  std::string out;
  props[0]->Get(&s, &out);
  EXPECT_EQ(out, "x");
  EXPECT_TRUE(props[1]->Stored(&s));
  EXPECT_EQ(s.ClassName(), "TSample");
  EXPECT_TRUE(s.InheritsFrom(TObject::StaticClassInfo()));
}

TEST(TypeInfo, DynArray) {
  const TTypeInfo *t = TypeInfoOf<TSampleArray>();
  ASSERT_EQ(t->Kind, TTypeKind::tkDynArray);
  EXPECT_EQ(t->DynArray->ElType, TSample::StaticClassInfo());
  alignas(TSampleArray) unsigned char slot[sizeof(TSampleArray)];
  t->Construct(slot);
  t->DynArray->SetLength(slot, 3);
  TSample rec;
  t->DynArray->ElType->Class->StoreObj(t->DynArray->Item(slot, 1), &rec);
  EXPECT_EQ(t->DynArray->Length(slot), 3u);
  EXPECT_EQ(t->DynArray->ElType->Class->LoadObj(t->DynArray->Item(slot, 1)), &rec);
  t->Destroy(slot);
}

TEST(TypeInfo, InterfaceCall) {
  const TTypeInfo *t = ISample::StaticTypeInfo();
  ASSERT_EQ(t->Intf->Methods.size(), 1u);
  const TIntfMethod &m = t->Intf->Methods[0];
  EXPECT_EQ(m.Pos, 3);
  EXPECT_EQ(m.Params[0].Flags, pfConst);
  EXPECT_EQ(m.Params[1].Flags, pfVar);
  EXPECT_EQ(m.Result, TypeInfoOf<TSampleArray>());
  EXPECT_EQ(AllMethods(t).size(), 4u);

  IPtr<IInterface> obj(static_cast<ISample *>(new TSampleImpl));
  IPtr<ISample> intf = obj.As<ISample>();
  ASSERT_TRUE(intf);
  std::string key = "abcd";
  int32_t count = 0;
  void *args[] = {&key, &count};
  TSampleArray result;
  m.Call(intf.Get(), args, &result);
  EXPECT_EQ(count, 4);
  EXPECT_EQ(result.size(), 2u);
}
