// Sets of optional texts that take room only for the texts set.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "rtl/CallMemory.h"
#include "rtl/OptionalTexts.h"

using namespace vv;

namespace {

struct TStep {
  unsigned Text;
  std::string Value;
};

// Each case assigns in its order and must read back as a plain map would.
struct TCase {
  const char *Name;
  std::vector<TStep> Steps;
};

const TCase kCases[] = {
    {"none", {}},
    {"one, empty", {{5, ""}}},
    {"one, last number", {{11, "last"}}},
    {"in order", {{0, "a"}, {1, "b"}, {2, "c"}, {3, "d"}, {4, "e"}}},
    {"backwards, each before the others",
     {{11, "l"},
      {10, "k"},
      {9, "j"},
      {8, "i"},
      {7, "h"},
      {6, "g"},
      {5, "f"},
      {4, "e"},
      {3, "d"},
      {2, "c"},
      {1, "b"},
      {0, "a"}}},
    {"between others", {{0, "a"}, {11, "z"}, {6, "m"}, {3, "d"}, {9, "w"}}},
    {"set again, longer, shorter, empty",
     {{4, "x"}, {2, "y"}, {4, std::string(300, 'q')}, {4, "short"}, {2, ""}}},
    {"all twelve, then each again",
     {{0, "0"},
      {1, "1"},
      {2, "2"},
      {3, "3"},
      {4, "4"},
      {5, "5"},
      {6, "6"},
      {7, "7"},
      {8, "8"},
      {9, "9"},
      {10, "10"},
      {11, "11"},
      {0, "A"},
      {5, "F"},
      {11, "L"}}},
    {"non-ASCII and markup", {{1, "Z\xC3\xBCrich"}, {7, "<a & b>"}, {3, "\xF0\x9F\x9B\xAB"}}},
};

void Check(const TOptionalTexts<12> &set, const std::map<unsigned, std::string> &want,
           const std::string &where) {
  for (unsigned i = 0; i < 12; ++i) {
    auto it = want.find(i);
    EXPECT_EQ(set.IsSet(i), it != want.end()) << where << ", text " << i;
    EXPECT_EQ(set.View(i), it != want.end() ? it->second : "") << where << ", text " << i;
  }
}

TEST(OptionalTexts, ReadBackAsAssignedInAnyOrder) {
  for (const TCase &c : kCases) {
    for (bool inArena : {false, true}) {
      TCallMemory arena;
      TOptionalTexts<12> set;
      std::map<unsigned, std::string> want;
      for (const TStep &s : c.Steps) {
        set.Assign(s.Text, s.Value, inArena ? &arena : nullptr);
        want[s.Text] = s.Value;
      }
      Check(set, want, std::string(c.Name) + (inArena ? ", in an arena" : ", on the heap"));
    }
  }
}

// A set filled in an arena and then assigned without one (its owner leaves
// the call) keeps every text after the arena is gone: the sanitizer build
// sees any read of the freed arena.
TEST(OptionalTexts, LeavingTheArenaTakesEveryTextAlong) {
  TOptionalTexts<12> set;
  {
    TCallMemory arena;
    set.Assign(3, "three", &arena);
    set.Assign(8, std::string(100, 'e'), &arena);
    set.Assign(1, "", &arena);
    set.Assign(3, set.View(3), nullptr); // from its own value
    set.Assign(8, set.View(8), nullptr);
    set.Assign(1, set.View(1), nullptr);
  }
  Check(set, {{1, ""}, {3, "three"}, {8, std::string(100, 'e')}}, "after the arena");
  set.Assign(0, "more", nullptr);
  Check(set, {{0, "more"}, {1, ""}, {3, "three"}, {8, std::string(100, 'e')}}, "and after");
}

TEST(OptionalTexts, SmallAndOutOfRangeRefused) {
  EXPECT_EQ(sizeof(TOptionalTexts<12>), 8u);
  TOptionalTexts<3> set;
  EXPECT_THROW(set.Assign(3, "x", nullptr), std::out_of_range);
  EXPECT_FALSE(set.IsSet(3));
  EXPECT_FALSE(set.IsSet(40));
}

// A record's table grows a step at a time; the steps it leaves behind are
// used by the next record, so a million records cost their last tables.
TEST(OptionalTexts, ManySetsInOneArenaCostTheirLastTables) {
  TCallMemory arena;
  std::vector<TOptionalTexts<12>> sets(10000);
  for (auto &set : sets)
    for (unsigned i = 0; i < 12; ++i) set.Assign(i, "", &arena);
  // Twelve texts of eight bytes and a header: 104 bytes a set; the empty
  // values take no room.
  EXPECT_LT(arena.Reserved(), 10000u * 104 * 5 / 4);
  for (auto &set : sets) EXPECT_TRUE(set.IsSet(11));
}

TEST(CallMemory, PiecesGivenBackAreTakenAgainAtTheirSize) {
  TCallMemory arena;
  void *a = arena.Take(24);
  arena.Give(a, 24);
  EXPECT_NE(arena.Take(16), a);
  EXPECT_EQ(arena.Take(24), a);
  EXPECT_NE(arena.Take(24), a);
  void *big = arena.Take(512); // beyond reuse: given back, never taken again
  arena.Give(big, 512);
  EXPECT_NE(arena.Take(512), big);
}

} // namespace
