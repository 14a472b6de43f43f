// Block-wise intersection, union, difference and the three comparisons of tnumbrelle.
#include <gtest/gtest.h>

#include "set_helpers.h"

namespace {

using namespace testing_helpers;

TEST(SetAlgebra, CombiningTwoSmallSets) {
  auto a = make_set({1, 2});
  auto b = make_set({2, 3});
  tnumbrelle x, y, z;
  x.assign(*a);
  y.assign(*a);
  z.assign(*a);
  x.intersect(*b);
  y.unite(*b);
  z.subtract(*b);
  EXPECT_EQ(x.to_array(), (tarrayofinteger{2}));
  EXPECT_EQ(y.to_array(), (tarrayofinteger{1, 2, 3}));
  EXPECT_EQ(z.to_array(), (tarrayofinteger{1}));
  EXPECT_EQ(b->to_array(), (tarrayofinteger{2, 3}));  // B is only read
}

TEST(SetAlgebra, IntersectionOfDisjointMapsInOneBlockDropsTheBlock) {
  auto a = make_set({1});
  auto b = make_set({2});
  a->intersect(*b);
  EXPECT_TRUE(a->is_empty());
  EXPECT_EQ(a->blocks().size(), 0u);
}

TEST(SetAlgebra, SubtractDropsEmptiedBlocksAndKeepsTheOthers) {
  auto a = make_set({-300, 1, 2, 70000});
  auto b = make_set({1, 2, 3});
  a->subtract(*b);
  EXPECT_EQ(a->to_array(), (tarrayofinteger{-300, 70000}));
  EXPECT_EQ(keys_of(*a), (std::vector<std::int32_t>{-2, 273}));
}

TEST(SetAlgebra, EmptiedBlocksBetweenKeptOnesLeaveNoTrace) {
  // Every block of A meets one of B; every third pair has members in common, the others none.
  tnumbrelle a, b;
  tarrayofinteger common, a_only;
  for (std::int32_t k = -60; k < 60; ++k) {
    a.include(k * 256 + 1);
    b.include(k * 256 + (k % 3 == 0 ? 1 : 2));
    (k % 3 == 0 ? common : a_only).push_back(k * 256 + 1);
  }
  tnumbrelle x, y;
  x.assign(a);
  y.assign(a);
  x.intersect(b);
  y.subtract(b);
  EXPECT_EQ(x.to_array(), common);
  EXPECT_EQ(y.to_array(), a_only);
  EXPECT_EQ(x.blocks().size(), common.size());
  EXPECT_EQ(y.blocks().size(), a_only.size());
}

TEST(SetAlgebra, BlocksAreMatchedAcrossGaps) {
  auto a = make_set({-300, 0, 70000});
  auto b = make_set({-300, -299, -5000, 0, 9, 1 << 20, 70000, 70001, kMax});
  EXPECT_TRUE(a->is_subset_of(*b));
  EXPECT_TRUE(b->is_superset_of(*a));
  a->unite(*b);
  EXPECT_TRUE(a->equals(*b));
  a->include(kMin);
  a->intersect(*b);
  EXPECT_TRUE(a->equals(*b));
}

TEST(SetAlgebra, UniteKeepsKeyOrder) {
  auto a = make_set({kMin, 512, kMax});
  auto b = make_set({-1, 0, 256, 100000});
  a->unite(*b);
  EXPECT_EQ(keys_of(*a), (std::vector<std::int32_t>{-8388608, -1, 0, 1, 2, 390, 8388607}));
}

TEST(SetAlgebra, UniteCapacityIsBothBlockCountsThenTrimmed) {
  auto a = make_set({0, 256});
  auto b = make_set({256, 512});
  a->unite(*b);
  EXPECT_EQ(a->capacity(), 4);  // 2 + 2 blocks, slack 1: not trimmed
  tnumbrelle big, same;
  for (std::int32_t k = 0; k < 100; ++k) big.include(k * 256);
  same.assign(big);
  big.unite(same);  // 200 slots for 100 blocks: slack 100, kept
  EXPECT_EQ(big.capacity(), 200);
  tnumbrelle bigger, copy;
  for (std::int32_t k = 0; k < 130; ++k) bigger.include(k * 256);
  copy.assign(bigger);
  bigger.unite(copy);  // 260 slots for 130 blocks: slack 130, rounded up to 160
  EXPECT_EQ(bigger.capacity(), 160);
}

TEST(SetAlgebra, IntersectTrimsOnlyAt128FreeSlots) {
  tnumbrelle a;
  for (std::int32_t k = 0; k < 200; ++k) a.include(k * 256);
  ASSERT_EQ(a.capacity(), 224);
  auto b = make_set({0, 256 * 150});
  tnumbrelle keep;
  keep.assign(a);
  for (std::int32_t k = 100; k < 200; ++k) keep.exclude(k * 256);  // 100 blocks, capacity 224
  ASSERT_EQ(keep.capacity(), 224);
  tnumbrelle half;
  half.assign(a);
  half.intersect(keep);  // 100 used, slack 124: left alone
  EXPECT_EQ(half.capacity(), 224);
  a.intersect(*b);  // 2 used, slack 222: rounded up to 32
  EXPECT_EQ(a.capacity(), 32);
}

TEST(SetAlgebra, WithItselfIntersectAndUniteKeepSubtractEmpties) {
  auto a = make_set({-300, 0, 70000});
  a->intersect(*a);
  EXPECT_EQ(a->to_array(), (tarrayofinteger{-300, 0, 70000}));
  a->unite(*a);
  EXPECT_EQ(a->to_array(), (tarrayofinteger{-300, 0, 70000}));
  EXPECT_TRUE(a->is_subset_of(*a));
  EXPECT_TRUE(a->is_superset_of(*a));
  EXPECT_TRUE(a->equals(*a));
  a->subtract(*a);
  EXPECT_TRUE(a->is_empty());
}

TEST(SetAlgebra, CombiningLeavesTheCursor) {
  auto a = make_set({1, 2, 3});
  auto b = make_set({5});
  std::int32_t v = 0;
  ASSERT_TRUE(a->first(v));
  a->unite(*b);
  ASSERT_TRUE(a->next(v));
  EXPECT_EQ(v, 2);
}

TEST(SetComparison, EmptyIsSubsetOfEverySet) {
  tnumbrelle empty;
  auto a = make_set({kMin, kMax});
  EXPECT_TRUE(empty.is_subset_of(*a));
  EXPECT_TRUE(a->is_superset_of(empty));
  EXPECT_FALSE(a->is_subset_of(empty));
  EXPECT_FALSE(empty.is_superset_of(*a));
  EXPECT_TRUE(empty.equals(empty));
}

TEST(SetComparison, ProperSubset) {
  auto a = make_set({1});
  auto b = make_set({1, 2});
  EXPECT_TRUE(a->is_subset_of(*b));
  EXPECT_FALSE(a->is_superset_of(*b));
  EXPECT_FALSE(a->equals(*b));
  EXPECT_TRUE(b->is_superset_of(*a));
}

TEST(SetComparison, SameBlockCountDifferentKeysAreNotEqual) {
  auto a = make_set({1});
  auto b = make_set({1000});
  EXPECT_FALSE(a->equals(*b));
  EXPECT_FALSE(a->is_subset_of(*b));
  EXPECT_FALSE(a->is_superset_of(*b));
}

TEST(SetComparison, EqualSetsAreSubsetsAndSupersets) {
  auto a = make_set({5});
  auto b = make_set({5});
  EXPECT_TRUE(a->is_subset_of(*b));
  EXPECT_TRUE(a->is_superset_of(*b));
  EXPECT_TRUE(a->equals(*b));
}

TEST(SetComparison, SubsetFailsOnAMissingMemberInASharedBlock) {
  auto a = make_set({1, 3, 70000});
  auto b = make_set({1, 2, 70000, 80000});
  EXPECT_FALSE(a->is_subset_of(*b));
  EXPECT_FALSE(b->is_superset_of(*a));
}

}  // namespace
