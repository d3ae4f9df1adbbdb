// Slabs of small objects that may outlive their pool.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <thread>
#include <utility>
#include <vector>

#include "rtl/RtlLimits.h"
#include "rtl/SlabPool.h"

using namespace vv;

namespace {

// Sizes with the alignment each must get: the size's lowest set bit, at most
// what operator new guarantees.
TEST(SlabPool, RoomIsAlignedSeparateAndWhole) {
  const std::pair<size_t, size_t> kSizes[] = {{1, 1},   {3, 1},     {6, 2},     {12, 4},
                                              {24, 8},  {32, 16},   {40, 8},    {48, 16},
                                              {200, 8}, {4096, 16}, {30000, 16}};
  TSlabPool pool;
  std::vector<std::pair<char *, size_t>> made;
  for (int round = 0; round < 200; ++round)
    for (auto [size, align] : kSizes) {
      auto *p = static_cast<char *>(pool.Alloc(size));
      EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % align, 0u) << size;
      std::memset(p, round & 0xFF, size); // usable whole (the sanitizer build checks)
      made.emplace_back(p, size);
    }
  std::sort(made.begin(), made.end());
  for (size_t i = 1; i < made.size(); ++i)
    EXPECT_LE(made[i - 1].first + made[i - 1].second, made[i].first);
  for (auto [p, size] : made) TSlabPool::Free(p);
}

// Objects given back before, and after, their pool is gone, some from
// another thread; each slab goes with the last of them (the sanitizer build
// sees a slab freed early, or never).
TEST(SlabPool, ObjectsMayOutliveTheirPool) {
  std::vector<char *> early, late;
  {
    TSlabPool pool;
    for (int i = 0; i < 10000; ++i)
      (i % 3 ? late : early).push_back(static_cast<char *>(pool.Alloc(40)));
    for (char *p : early) TSlabPool::Free(p);
  }
  std::thread other([&] {
    for (size_t i = 0; i < late.size(); i += 2) TSlabPool::Free(late[i]);
  });
  for (size_t i = 1; i < late.size(); i += 2) {
    std::memset(late[i], 'x', 40);
    TSlabPool::Free(late[i]);
  }
  other.join();
  TSlabPool::Free(nullptr); // nothing
}

// A thousand 40-byte objects fill about 40 KB of slabs, not the 48 KB the
// heap would take.
TEST(SlabPool, ObjectsAreCarvedOneAfterAnother) {
  TSlabPool pool;
  std::vector<char *> made;
  for (int i = 0; i < 1000; ++i) made.push_back(static_cast<char *>(pool.Alloc(40)));
  for (size_t i = 1; i < made.size(); ++i) {
    if (made[i] != made[i - 1] + 40) {
      EXPECT_EQ(reinterpret_cast<uintptr_t>(made[i]) % kSlabSize, 16u); // a new slab began
    }
  }
  for (char *p : made) TSlabPool::Free(p);
}

} // namespace
