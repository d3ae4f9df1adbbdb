#include <gtest/gtest.h>

#include <stdexcept>

#include "rtl/ScopeGuard.h"

using namespace vv;

TEST(ScopeGuard, RunsOnEveryWayOut) {
  int runs = 0;
  {
    TScopeGuard guard([&] { ++runs; });
  }
  EXPECT_EQ(runs, 1);
  EXPECT_THROW(
      {
        TScopeGuard guard([&] { ++runs; });
        throw std::runtime_error("first");
      },
      std::runtime_error);
  EXPECT_EQ(runs, 2);
}

TEST(ScopeGuard, ErrorOfTheCleanUp) {
  // On the normal way out the clean-up's error reaches the caller.
  EXPECT_THROW({ TScopeGuard guard([] { throw std::logic_error("cleanup"); }); }, std::logic_error);
  // While another error is on its way out, that first error is the one seen.
  try {
    TScopeGuard guard([] { throw std::logic_error("cleanup"); });
    throw std::runtime_error("first");
  } catch (const std::runtime_error &e) {
    EXPECT_STREQ(e.what(), "first");
  }
}
