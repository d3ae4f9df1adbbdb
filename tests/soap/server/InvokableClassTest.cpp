#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "RegistryFixtures.h"
#include "rtl/Exception.h"
#include "soap/server/InvokableClass.h"
#include "soap/server/ObjectCounts.h"

using namespace vv;
using namespace vvtest;

namespace {

// Notes its own destruction.
class TWatched : public TCalc {
public:
  explicit TWatched(bool *gone) : FGone(gone) {}
  ~TWatched() override { *FGone = true; }

private:
  bool *FGone;
};

} // namespace

TEST(InvokableClass, LastReferenceDestroys) {
  bool gone = false;
  auto *obj = new TWatched(&gone);
  EXPECT_EQ(obj->RefCount(), 0);
  {
    IPtr<ICalc> calc(static_cast<ICalc *>(obj));
    EXPECT_EQ(obj->RefCount(), 1);
    IPtr<ICalc> again = calc;
    EXPECT_EQ(obj->RefCount(), 2);
    EXPECT_EQ(calc->Add(2, 3), 5);
  }
  EXPECT_TRUE(gone);
}

TEST(InvokableClass, FreeingAReferencedObjectFails) {
  bool gone = false;
  auto *obj = new TWatched(&gone);
  IPtr<ICalc> calc(static_cast<ICalc *>(obj));
  try {
    obj->Free();
    FAIL();
  } catch (const EInvalidPointer &e) {
    EXPECT_STREQ(e.ClassName(), "EInvalidPointer");
  }
  EXPECT_FALSE(gone);
  EXPECT_EQ(calc->Add(1, 1), 2); // still alive and usable
  calc.Reset();
  EXPECT_TRUE(gone);

  bool gone2 = false;
  (new TWatched(&gone2))->Free(); // no references: freed
  EXPECT_TRUE(gone2);
}

TEST(InvokableClass, AnswersForItsSOAPHeaders) {
  bool gone = false;
  auto *obj = new TWatched(&gone);
  IPtr<ICalc> calc(static_cast<ICalc *>(obj));
  IPtr<ISOAPHeaders> headers = calc.As<ISOAPHeaders>();
  ASSERT_TRUE(headers);
  EXPECT_EQ(obj->RefCount(), 2); // the headers count on their owner
  THeaderList in, out;
  TObject hdr;
  headers->SetHeadersInOut(&in, &out);
  EXPECT_TRUE(headers->Send(&hdr));
  EXPECT_EQ(out.Count(), 1);
  in.Add(&hdr);
  EXPECT_EQ(headers->Get(TObject::StaticClassInfo()), &hdr);
  EXPECT_EQ(headers->Get(TRecord::StaticClassInfo()), nullptr);
  IPtr<ICalc> back = headers.As<ICalc>();
  EXPECT_EQ(back.Get(), calc.Get());
  headers->SetHeadersInOut(nullptr, nullptr);
  EXPECT_FALSE(headers->Send(&hdr));
  headers.Reset();
  back.Reset();
  calc.Reset();
  EXPECT_TRUE(gone);
}

TEST(InvokableClass, CountingIsAtomic) {
  bool gone = false;
  auto *obj = new TWatched(&gone);
  IPtr<ICalc> hold(static_cast<ICalc *>(obj));
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 20000; ++i) IPtr<ICalc> copy = hold;
    });
  for (auto &t : threads) t.join();
  EXPECT_EQ(obj->RefCount(), 1);
  EXPECT_FALSE(gone);
}

TEST(InvokableClass, Counts) {
  if (!ObjectCountingEnabled()) GTEST_SKIP() << "built without object counting";
  long made = ObjectCounts().InvokableCreated, gone = ObjectCounts().InvokableDestroyed;
  { IPtr<ICalc> calc(static_cast<ICalc *>(new TCalc)); }
  EXPECT_EQ(ObjectCounts().InvokableCreated - made, 1);
  EXPECT_EQ(ObjectCounts().InvokableDestroyed - gone, 1);
}
