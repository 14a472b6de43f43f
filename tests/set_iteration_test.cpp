// Standard iteration over a const set, and moving sets.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <random>
#include <ranges>

#include "set_helpers.h"

namespace {

using namespace testing_helpers;

static_assert(std::ranges::forward_range<const tnumbrelle>);
static_assert(std::forward_iterator<tnumbrelle::const_iterator>);
static_assert(std::is_nothrow_move_constructible_v<tnumbrelle>);
static_assert(std::is_nothrow_move_assignable_v<tnumbrelle>);
static_assert(std::is_copy_constructible_v<tnumbrelle>);

std::vector<std::int32_t> iterate(const tnumbrelle& set) { return {set.begin(), set.end()}; }

TEST(SetIteration, AgreesWithToArrayOnRandomSets) {
  std::mt19937 rng(31337);
  for (int round = 0; round < 200; ++round) {
    tnumbrelle set;
    const auto size = std::uniform_int_distribution<int>(0, 700)(rng);
    for (int i = 0; i < size; ++i) {
      switch (rng() % 3) {
        case 0:
          set.include(static_cast<std::int32_t>(rng()));
          break;
        case 1:
          set.include(static_cast<std::int32_t>(rng() % 2048) - 1024);
          break;
        default:
          set.include(rng() % 2 ? kMin + static_cast<std::int32_t>(rng() % 300)
                                : kMax - static_cast<std::int32_t>(rng() % 300));
      }
    }
    ASSERT_EQ(iterate(set), set.to_array());
  }
}

TEST(SetIteration, EdgeSets) {
  EXPECT_TRUE(iterate(tnumbrelle()).empty());
  EXPECT_EQ(iterate(*make_set({-1})), (std::vector<std::int32_t>{-1}));
  EXPECT_EQ(iterate(*make_set({kMax, kMin})), (std::vector<std::int32_t>{kMin, kMax}));
  EXPECT_EQ(iterate(*make_set({255, -256, 256, -257, 0})),
            (std::vector<std::int32_t>{-257, -256, 0, 255, 256}));
}

TEST(SetIteration, LeavesARunningEnumerationAlone) {
  auto set = make_set({1, 2, 3, 1000});
  std::int32_t v = 0;
  ASSERT_TRUE(set->first(v));
  const tnumbrelle& view = *set;
  std::int32_t sum = 0;
  for (const std::int32_t m : view) sum += m;
  EXPECT_EQ(sum, 1006);
  ASSERT_TRUE(set->next(v));
  EXPECT_EQ(v, 2);
  // ...and a finished enumeration stays finished.
  while (set->next(v)) {
  }
  EXPECT_EQ(std::distance(view.begin(), view.end()), 4);
  EXPECT_FALSE(set->next(v));
}

TEST(SetIteration, WorksWithRangesAlgorithms) {
#ifndef __cpp_lib_ranges
  GTEST_SKIP() << "this standard library has no ranges algorithms (libc++ before 15)";
#else
  const auto set = make_set({-300, -5, 0, 7, 70000});
  const tnumbrelle& view = *set;
  EXPECT_EQ(std::ranges::count_if(view, [](std::int32_t v) { return v < 0; }), 2);
  EXPECT_EQ(*std::ranges::find_if(view, [](std::int32_t v) { return v > 0; }), 7);
  EXPECT_EQ(*std::ranges::max_element(view), 70000);
  std::vector<std::int32_t> evens;
  std::ranges::copy(view | std::views::filter([](std::int32_t v) { return v % 2 == 0; }),
                    std::back_inserter(evens));
  EXPECT_EQ(evens, (std::vector<std::int32_t>{-300, 0, 70000}));
  static_assert(std::ranges::sized_range<const tnumbrelle>);
  EXPECT_EQ(std::ranges::size(view), 5);
#endif
}

TEST(SetMove, ConstructionTakesTheBlocksAndEmptiesTheSource) {
  auto source = make_set({-1, 5, 1 << 20});
  const auto capacity = source->capacity();
  tnumbrelle target(std::move(*source));
  EXPECT_EQ(target.to_array(), (tarrayofinteger{-1, 5, 1 << 20}));
  EXPECT_EQ(target.capacity(), capacity);
  EXPECT_TRUE(source->is_empty());
  EXPECT_EQ(source->capacity(), 0);
  source->include(9);  // a moved-from set is an ordinary empty set
  EXPECT_EQ(source->to_array(), (tarrayofinteger{9}));
}

TEST(SetMove, AssignmentReplacesTheTarget) {
  auto source = make_set({1, 2});
  auto target = make_set({100, 200, 300});
  *target = std::move(*source);
  EXPECT_EQ(target->to_array(), (tarrayofinteger{1, 2}));
  EXPECT_TRUE(source->is_empty());
  std::int32_t v = 0;
  EXPECT_FALSE(source->next(v));
}

TEST(SetMove, CarriesTheCursorAlong) {
  auto source = make_set({1, 2, 3});
  std::int32_t v = 0;
  ASSERT_TRUE(source->first(v));
  tnumbrelle target(std::move(*source));
  ASSERT_TRUE(target.next(v));
  EXPECT_EQ(v, 2);
}

TEST(SetMove, SelfMoveIsHarmless) {
  auto set = make_set({kMin, kMax});
  tnumbrelle& alias = *set;
  *set = std::move(alias);
  EXPECT_EQ(set->to_array(), (tarrayofinteger{kMin, kMax}));
}

}  // namespace
