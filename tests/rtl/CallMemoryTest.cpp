// A call's memory: pieces given back all at once, its one clean-up list, a
// reset that keeps the first chunk for the next call and leaves nothing of
// the last one readable, and chunks pinned by objects that outlive it.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "rtl/CallMemory.h"

using namespace vv;

namespace {

std::vector<std::string> Ran;

struct TNamed : TCleanup {
  const char *Name;
};
void RunNamed(TCleanup *c) noexcept { Ran.push_back(static_cast<TNamed *>(c)->Name); }

TNamed *Named(TCallMemory &m, const char *name) {
  auto *n = new (m.Alloc(sizeof(TNamed), 8)) TNamed;
  n->Run = &RunNamed;
  n->Name = name;
  return n;
}

// The objects first, in the order they were made; then the values, newest
// first; a cleared node is passed over.
TEST(CallMemory, CleanupsRunInTheirOrderAtTheReset) {
  Ran.clear();
  TCallMemory m;
  m.AddCleanup(Named(m, "value 1"));
  m.AddCleanup(Named(m, "object 1"), TCallMemory::TOrder::First);
  m.AddCleanup(Named(m, "value 2"));
  TNamed *gone = Named(m, "object gone");
  m.AddCleanup(gone, TCallMemory::TOrder::First);
  m.AddCleanup(Named(m, "object 2"), TCallMemory::TOrder::First);
  gone->Run = nullptr;
  m.Reset();
  EXPECT_EQ(Ran, (std::vector<std::string>{"object 1", "object 2", "value 2", "value 1"}));
  Ran.clear();
  m.Reset(); // nothing is left to run
  EXPECT_TRUE(Ran.empty());
}

// A reset keeps the first chunk: the next small call takes nothing more
// from the system, and a large one gives its chunks back.
TEST(CallMemory, ResetKeepsTheFirstChunk) {
  TCallMemory m;
  std::memset(m.Alloc(100, 8), 1, 100);
  size_t first = m.Reserved();
  ASSERT_GT(first, 0u);
  for (int call = 0; call < 3; ++call) {
    m.Reset();
    EXPECT_EQ(m.Reserved(), first);
    std::memset(m.Alloc(100, 8), 2, 100);
    EXPECT_EQ(m.Reserved(), first);
  }
  for (int i = 0; i < 1000; ++i) std::memset(m.Alloc(1000, 16), 3, 1000);
  EXPECT_GT(m.Reserved(), 1000u * 1000);
  m.Reset();
  EXPECT_EQ(m.Reserved(), first);
}

#if defined(__SANITIZE_ADDRESS__)
// Nothing of one call is readable by the next: the kept chunk is poisoned.
TEST(CallMemoryDeathTest, UseAfterResetIsSeen) {
  TCallMemory m;
  auto *p = static_cast<volatile char *>(m.Alloc(64, 8));
  p[0] = 'x';
  m.Reset();
  EXPECT_DEATH(p[0] = 'y', "use-after-poison");
}
#endif

// A pinned piece outlives the reset (and the memory itself) until its pin
// goes; the leak checker of the sanitizer build sees the chunk freed then.
TEST(CallMemory, PinnedPieceOutlivesItsMemory) {
  char *kept;
  {
    TCallMemory m;
    kept = static_cast<char *>(m.Alloc(32, 8));
    std::strcpy(kept, "still here");
    m.Pin(kept);
    m.Reset();
    std::memset(m.Alloc(4000, 8), 0, 4000);
    EXPECT_STREQ(kept, "still here");
  }
  EXPECT_STREQ(kept, "still here");
  TCallMemory::Unpin(kept);
}

} // namespace
