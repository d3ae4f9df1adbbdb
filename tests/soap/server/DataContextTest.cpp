#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "RegistryFixtures.h"
#include "rtl/OptionalText.h"
#include "soap/server/DataContext.h"
#include "soap/server/ObjectCounts.h"

using namespace vv;
using namespace vvtest;

namespace {

std::vector<std::string> Log;

// A record that notes its destruction.
class TNoted : public TRemotable {
public:
  explicit TNoted(std::string name) : FName(std::move(name)) {}
  ~TNoted() override { Log.push_back("object " + FName); }

private:
  std::string FName;
};

// A slot type of the given kind whose destruction is noted.
template <TTypeKind K> const TTypeInfo *NotedType(const char *name) {
  static const TTypeInfo info = [name] {
    TTypeInfo t = ScalarInfo<int>(K, name);
    t.Destroy = [](void *) { Log.push_back(NotedType<K>(nullptr)->Name); };
    return t;
  }();
  return &info;
}

// Makes a context current for its lifetime, as the server invoker does.
struct TCall {
  TCall() { SetCurrentDataContext(&Context); }
  ~TCall() { SetCurrentDataContext(nullptr); }
  TInvContext Context;
};

} // namespace

TEST(DataContext, RecordsMadeDuringACallBelongToIt) {
  Log.clear();
  TNoted *kept;
  {
    TCall call;
    kept = new TNoted("a");
    new TNoted("b");
    EXPECT_EQ(kept->DataContext(), &call.Context);
    EXPECT_TRUE(call.Context.HasObjectToDestroy(kept));
  }
  EXPECT_EQ(Log, (std::vector<std::string>{"object a", "object b"}));
  EXPECT_EQ(GetCurrentDataContext(), nullptr);
}

TEST(DataContext, RecordMadeOutsideACallIsItsCreators) {
  Log.clear();
  auto *r = new TNoted("mine");
  EXPECT_EQ(r->DataContext(), nullptr);
  {
    TCall call;
    EXPECT_FALSE(call.Context.HasObjectToDestroy(r));
  }
  EXPECT_TRUE(Log.empty());
  delete r;
  EXPECT_EQ(Log, std::vector<std::string>{"object mine"});
}

TEST(DataContext, ObjectRecordedTwiceIsFreedOnce) {
  Log.clear();
  {
    TCall call;
    auto *r = new TNoted("twice"); // recorded by its construction
    call.Context.AddObjectToDestroy(r);
    call.Context.AddObjectToDestroy(r);
  }
  EXPECT_EQ(Log, std::vector<std::string>{"object twice"});
}

TEST(DataContext, RecordFreedByHandLeavesItsContext) {
  Log.clear();
  {
    TCall call;
    auto *r = new TNoted("early");
    call.Context.AddObjectToDestroy(r); // recorded twice, then freed by hand
    delete r;
    EXPECT_FALSE(call.Context.HasObjectToDestroy(r));
    auto *s = new TNoted("late");
    SetCurrentDataContext(nullptr); // freed when no context is current
    delete s;
    SetCurrentDataContext(&call.Context);
  }
  EXPECT_EQ(Log, (std::vector<std::string>{"object early", "object late"}));
}

TEST(DataContext, ObjectsFillTheFirstEmptyPosition) {
  TDataContext ctx;
  TRecord a, b, c;
  ctx.AddObjectToDestroy(&a);
  ctx.AddObjectToDestroy(&b);
  ctx.RemoveObjectToDestroy(&a);
  ctx.RemoveObjectToDestroy(&c); // unknown: ignored
  ctx.AddObjectToDestroy(&c);
  EXPECT_TRUE(ctx.HasObjectToDestroy(&c));
  EXPECT_FALSE(ctx.HasObjectToDestroy(&a));
  // Records on the stack must not be freed by the context.
  ctx.RemoveObjectToDestroy(&b);
  ctx.RemoveObjectToDestroy(&c);
}

TEST(DataContext, NonRecordObjectsAreNotFreed) {
  TObject plain;
  {
    TDataContext ctx;
    ctx.AddObjectToDestroy(&plain);
  } // freeing a stack object would crash here
  SUCCEED();
}

TEST(DataContext, ClearOrder) {
  Log.clear();
  {
    TDataContext ctx;
    int slots[5] = {};
    ctx.AddWStrToClear(&slots[0], NotedType<TTypeKind::tkWString>("wide"));
    ctx.AddUStrToClear(&slots[1], NotedType<TTypeKind::tkUString>("unicode"));
    ctx.AddStrToClear(&slots[2], NotedType<TTypeKind::tkLString>("byte"));
    ctx.AddDynArrayToClear(&slots[3], NotedType<TTypeKind::tkDynArray>("array"));
    ctx.AddVariantToClear(&slots[4], NotedType<TTypeKind::tkVariant>("variant"));
    SetCurrentDataContext(&ctx);
    new TNoted("r");
    SetCurrentDataContext(nullptr);
  }
  EXPECT_EQ(Log,
            (std::vector<std::string>{"object r", "variant", "array", "byte", "unicode", "wide"}));
}

TEST(DataContext, ServerSlotsStartEmptyAndAreCleared) {
  TIntfMetaData MD = GetIntfMetaData(ICalc::StaticTypeInfo());
  const TIntfMethEntry &put2 = MD.MDA[5]; // PUT(key, value): string
  const TIntfMethEntry &add = MD.MDA[3];  // Add(a, b): int
  TInvContext ctx;
  EXPECT_EQ(ctx.MethodInfo(), nullptr);
  ctx.SetMethodInfo(put2);
  ctx.AllocServerData(put2);
  ASSERT_NE(ctx.MethodInfo(), nullptr);
  EXPECT_EQ(ctx.MethodInfo()->Name, "PUT");
  auto *key = static_cast<std::string *>(ctx.GetParamPointer(0));
  auto *value = static_cast<std::string *>(ctx.GetParamPointer(1));
  auto *result = static_cast<std::string *>(ctx.GetResultPointer());
  ASSERT_TRUE(key && value && result);
  EXPECT_NE(key, value);
  EXPECT_TRUE(key->empty() && value->empty() && result->empty());
  for (void *p : {ctx.GetParamPointer(0), ctx.GetParamPointer(1), ctx.GetResultPointer()})
    EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % alignof(std::max_align_t), 0u);
  // Long texts live on the heap: the leak checker proves they are released.
  *key = std::string(1000, 'k');
  *result = std::string(1000, 'r');
  EXPECT_EQ(ctx.GetParamPointer(2), nullptr);

  // Slots beyond the reserved area still work.
  ctx.AllocServerData(add);
  *static_cast<int32_t *>(ctx.GetParamPointer(1)) = 7;
  EXPECT_EQ(*static_cast<int32_t *>(ctx.GetResultPointer()), 0);
}

TEST(DataContext, CurrentContextIsPerThread) {
  TCall call;
  TRemotable *fromOtherThread = nullptr;
  std::thread([&] {
    EXPECT_EQ(GetCurrentDataContext(), nullptr);
    fromOtherThread = new TRecord;
  }).join();
  EXPECT_EQ(fromOtherThread->DataContext(), nullptr);
  EXPECT_FALSE(call.Context.HasObjectToDestroy(fromOtherThread));
  delete fromOtherThread;
}

// A record with one compactly held text, as the contract's records are.
class TLabelled : public TRemotable {
  VV_CLASS(TLabelled)
  std::string_view Label() const { return FLabel.View(); }
  void SetLabel(std::string_view v) { FLabel.Assign(v, TextMemory()); }
  bool Label_Specified() const { return FLabel.IsSet(); }

private:
  TOptionalText FLabel;
};

TClass TLabelled::StaticClassInfo() {
  static const TTypeInfo info = ClassInfoBuilder<TLabelled, TRemotable>("TLabelled", "test")
                                    .Property("Label", &TLabelled::Label, &TLabelled::SetLabel,
                                              &TLabelled::Label_Specified, xoOptional)
                                    .Build();
  return &info;
}

// A record's text lives with the call that owns the record; one taken out
// of the call by hand takes its text along, and its room stays (the
// sanitizer build would see a read of the freed call's memory).
TEST(DataContext, TextGoesWithTheRecord) {
  TLabelled *kept, *unset;
  {
    TCall call;
    auto *owned = new TLabelled;
    owned->SetLabel("owned by the call");
    kept = new TLabelled;
    kept->SetLabel(std::string(100, 'k'));
    EXPECT_GT(call.Context.Memory().Reserved(), 0u);
    unset = new TLabelled;
    call.Context.RemoveObjectToDestroy(kept);
    call.Context.RemoveObjectToDestroy(unset);
    EXPECT_EQ(kept->DataContext(), nullptr);
    EXPECT_EQ(kept->Label(), std::string(100, 'k'));
  }
  EXPECT_EQ(kept->Label(), std::string(100, 'k'));
  kept->SetLabel("outside"); // on the heap now
  EXPECT_EQ(kept->Label(), "outside");
  EXPECT_FALSE(unset->Label_Specified()); // absent is not made empty on the way out
  delete kept;
  delete unset;
}

TEST(DataContext, DestroyingTheCurrentContextClearsIt) {
  auto *ctx = new TInvContext;
  SetCurrentDataContext(ctx);
  delete ctx;
  EXPECT_EQ(GetCurrentDataContext(), nullptr);
}

TEST(DataContext, RecordCounts) {
  if (!ObjectCountingEnabled()) GTEST_SKIP() << "built without object counting";
  long made = ObjectCounts().RemotableCreated, gone = ObjectCounts().RemotableDestroyed;
  {
    TCall call;
    for (int i = 0; i < 3; ++i) new TRecord;
  }
  EXPECT_EQ(ObjectCounts().RemotableCreated - made, 3);
  EXPECT_EQ(ObjectCounts().RemotableDestroyed - gone, 3);
}

// A context reset for the next call (a persistent worker keeps one): the
// records of the last call are freed, its slots cleared, and the memory is
// the first chunk again.
TEST(DataContext, ResetEndsTheCallAndKeepsTheContextForTheNext) {
  Log.clear();
  TIntfMetaData MD = GetIntfMetaData(ICalc::StaticTypeInfo());
  const TIntfMethEntry &put2 = MD.MDA[5];
  TCall call;
  size_t first = 0;
  for (int round = 0; round < 3; ++round) {
    call.Context.SetMethodInfo(put2);
    call.Context.AllocServerData(put2);
    *static_cast<std::string *>(call.Context.GetParamPointer(0)) = std::string(1000, 'k');
    new TNoted("r" + std::to_string(round));
    if (round == 0) first = call.Context.Memory().Reserved();
    EXPECT_EQ(call.Context.Memory().Reserved(), first);
    call.Context.Reset();
    EXPECT_EQ(call.Context.MethodInfo(), nullptr);
    EXPECT_EQ(call.Context.GetParamPointer(0), nullptr);
    EXPECT_EQ(Log.back(), "object r" + std::to_string(round));
  }
}
