// An answer whose last part is made while it is sent.
#include <gtest/gtest.h>

#include "rtl/Exception.h"
#include "rtl/Stream.h"

using namespace vv;

namespace {

// Makes "0123456789" repeated `times`, in pieces of 7 bytes; notes when it
// runs and when it goes.
struct TDigits : TContentStream::TProducer {
  TDigits(int times, std::vector<std::string> &log) : FTimes(times), FLog(log) {}
  ~TDigits() override { FLog.push_back("producer gone"); }
  void Produce(const TContentStream::TWriteFn &write) override {
    FLog.push_back("produce");
    std::string all;
    for (int i = 0; i < FTimes; ++i) all += "0123456789";
    for (size_t at = 0; at < all.size(); at += 7)
      write(all.data() + at, std::min<size_t>(7, all.size() - at));
  }
  int FTimes;
  std::vector<std::string> &FLog;
};

std::unique_ptr<TContentStream> Stream(std::vector<std::string> &log) {
  auto s = std::make_unique<TContentStream>();
  s->WriteString("head:");
  s->AppendProduced(30, std::make_unique<TDigits>(3, log));
  return s;
}

TEST(ContentStream, SentPartsInOrderWithoutMakingThemInMemory) {
  std::vector<std::string> log;
  auto s = Stream(log);
  EXPECT_EQ(s->Size(), 35);
  EXPECT_EQ(s->Position(), 35);
  s->SetPosition(0);
  std::string sent;
  s->SendTo([&](const char *d, size_t n) { sent.append(d, n); });
  EXPECT_EQ(sent, "head:012345678901234567890123456789");
  EXPECT_EQ(s->Data(), "head:"); // never made in memory
  EXPECT_EQ(log, (std::vector<std::string>{"produce", "producer gone"}));
}

TEST(ContentStream, ReadingMakesThePartFirst) {
  std::vector<std::string> log;
  auto s = Stream(log);
  EXPECT_EQ(s->DataString(), "head:012345678901234567890123456789");
  EXPECT_FALSE(s->HasProducer());
  EXPECT_EQ(s->Size(), 35);
}

TEST(ContentStream, CuttingBackDropsThePart) {
  std::vector<std::string> log;
  auto s = Stream(log);
  s->SetSize(2); // as a fault written over a half-made answer
  s->SetPosition(2);
  s->WriteString("!");
  EXPECT_EQ(s->DataString(), "he!");
  EXPECT_EQ(log, std::vector<std::string>{"producer gone"});
}

TEST(ContentStream, KeptObjectsOutliveTheProducer) {
  std::vector<std::string> log;
  {
    auto s = Stream(log);
    struct TKept {
      explicit TKept(std::vector<std::string> &l) : Log(l) {}
      ~TKept() { Log.push_back("kept gone"); }
      std::vector<std::string> &Log;
    };
    s->KeepAlive(std::make_shared<TKept>(log));
  }
  EXPECT_EQ(log, (std::vector<std::string>{"producer gone", "kept gone"}));
}

TEST(ContentStream, AProducerThatMakesTheWrongSizeIsAnError) {
  std::vector<std::string> log;
  TContentStream s;
  s.AppendProduced(31, std::make_unique<TDigits>(3, log));
  EXPECT_THROW(s.DataString(), EStreamError);
}

} // namespace
