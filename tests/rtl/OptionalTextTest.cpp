// Optional text values and the arena they may live in.
#include <gtest/gtest.h>

#include "rtl/CallMemory.h"
#include "rtl/OptionalText.h"

using namespace vv;

namespace {

TEST(OptionalText, AbsentEmptyAndValues) {
  TCallMemory arena;
  for (TCallMemory *a : {static_cast<TCallMemory *>(nullptr), &arena}) {
    TOptionalText t;
    EXPECT_FALSE(t.IsSet());
    EXPECT_EQ(t.View(), "");
    t.Assign("", a);
    EXPECT_TRUE(t.IsSet()); // empty but sent
    EXPECT_EQ(t.View(), "");
    t.Assign("Z\xC3\xBCrich", a);
    EXPECT_EQ(t.View(), "Z\xC3\xBCrich");
    t.Assign(t.View().substr(1), a); // from its own value
    EXPECT_EQ(t.View(), "\xC3\xBCrich");
    t.Clear();
    EXPECT_FALSE(t.IsSet());
  }
  EXPECT_EQ(sizeof(TOptionalText), 8u);
}

TEST(CallMemory, PiecesAreAlignedAndLarge) {
  TCallMemory arena;
  for (size_t size : {1u, 3u, 7u, 4096u, 1u << 20, 5u}) {
    for (size_t align : {1u, 4u, 8u, 16u}) {
      auto *p = static_cast<char *>(arena.Alloc(size, align));
      EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % align, 0u);
      std::fill(p, p + size, 'x'); // usable whole (the sanitizer build checks)
    }
  }
  EXPECT_GE(arena.Reserved(), (1u << 20) * 4);
}

} // namespace
