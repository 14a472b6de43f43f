// Storage, single values, capacity rules, counting and enumeration of tnumbrelle.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <numeric>
#include <set>
#include <sstream>
#include <string>
#include <thread>

#include "set_helpers.h"

namespace {

using namespace testing_helpers;
using intset::EOutOfMemory;
using intset::tblock;

const tblock& block_with_key(const tnumbrelle& set, std::int32_t key) {
  for (const auto& block : set.blocks()) {
    if (block.key == key) return block;
  }
  throw std::runtime_error("no block with that key");
}

bool bit_set(const tblock& block, int bit) { return (block.bits[bit / 8] >> (bit % 8)) & 1; }

TEST(ValueDecomposition, MinusOneIsBit255OfBlockMinusOne) {
  auto set = make_set({-1});
  ASSERT_EQ(keys_of(*set), (std::vector<std::int32_t>{-1}));
  EXPECT_TRUE(bit_set(set->blocks()[0], 255));
  EXPECT_EQ(set->blocks()[0].bits[31], 0x80);
}

TEST(ValueDecomposition, MinusTwoFiftySixSharesTheBlockOfMinusOne) {
  auto set = make_set({-1, -256});
  ASSERT_EQ(keys_of(*set), (std::vector<std::int32_t>{-1}));
  EXPECT_TRUE(bit_set(set->blocks()[0], 0));
  set->include(-257);
  EXPECT_EQ(keys_of(*set), (std::vector<std::int32_t>{-2, -1}));
  EXPECT_TRUE(bit_set(block_with_key(*set, -2), 255));
}

TEST(ValueDecomposition, BothEndsOfTheRange) {
  auto set = make_set({kMax, 0, kMin});
  EXPECT_EQ(keys_of(*set), (std::vector<std::int32_t>{-8388608, 0, 8388607}));
  EXPECT_TRUE(bit_set(block_with_key(*set, -8388608), 0));
  EXPECT_TRUE(bit_set(block_with_key(*set, 8388607), 255));
  EXPECT_EQ(set->to_array(), (tarrayofinteger{kMin, 0, kMax}));
  EXPECT_TRUE(set->contains(kMin));
  EXPECT_TRUE(set->contains(kMax));
  EXPECT_FALSE(set->contains(kMin + 1));
  EXPECT_FALSE(set->contains(kMax - 1));
}

TEST(ValueDecomposition, KeysOnBlockBoundaries) {
  auto set = make_set({0, 255, 256, -256, -257});
  EXPECT_EQ(keys_of(*set), (std::vector<std::int32_t>{-2, -1, 0, 1}));
  EXPECT_EQ(set->to_array(), (tarrayofinteger{-257, -256, 0, 255, 256}));
}

TEST(SingleValues, AFullBlockIsOneBlockOf256Members) {
  tnumbrelle set;
  for (std::int32_t v = 512; v <= 767; ++v) set.include(v);
  EXPECT_EQ(keys_of(set), (std::vector<std::int32_t>{2}));
  EXPECT_EQ(set.count(), 256);
}

TEST(SingleValues, IncludeTwiceKeepsOneMember) {
  auto set = make_set({12, 12});
  EXPECT_EQ(set->count(), 1);
}

TEST(SingleValues, ExcludingANonMemberChangesNothing) {
  auto set = make_set({1, 300});
  tnumbrelle before;
  before.assign(*set);
  set->exclude(2);       // block exists, bit clear
  set->exclude(100000);  // no such block
  set->exclude(-5);      // before every block
  EXPECT_TRUE(same_layout(*set, before));
}

TEST(SingleValues, ExcludingTheLastMemberRemovesItsBlock) {
  auto set = make_set({5, 6, 1000});
  set->exclude(1000);
  EXPECT_EQ(keys_of(*set), (std::vector<std::int32_t>{0}));
  set->exclude(5);
  set->exclude(6);
  EXPECT_TRUE(set->is_empty());
  EXPECT_EQ(set->count(), 0);
}

TEST(SingleValues, InvertTwiceRestoresTheSet) {
  auto set = make_set({-7, 3});
  set->invert(3);
  EXPECT_FALSE(set->contains(3));
  set->invert(3);
  set->invert(kMin);
  set->invert(kMin);
  EXPECT_EQ(set->to_array(), (tarrayofinteger{-7, 3}));
  EXPECT_EQ(keys_of(*set), (std::vector<std::int32_t>{-1, 0}));
}

TEST(SingleValues, CountCountsMembersNotBlocks) {
  auto set = make_set({1, 2, 3, 1000});
  EXPECT_EQ(set->count(), 4);
  EXPECT_EQ(set->blocks().size(), 2u);
}

TEST(Capacity, FirstBlockGives32AndThe33rdGives64) {
  tnumbrelle set;
  EXPECT_EQ(set.capacity(), 0);
  set.include(0);
  EXPECT_EQ(set.capacity(), 32);
  for (std::int32_t b = 1; b < 32; ++b) set.include(b * 256);
  EXPECT_EQ(set.capacity(), 32);
  set.include(32 * 256);
  EXPECT_EQ(set.capacity(), 64);
  set.include(32 * 256 + 1);  // same block: no growth
  EXPECT_EQ(set.capacity(), 64);
}

TEST(Capacity, ExcludeShrinksToExactlyUsedAt128FreeSlots) {
  tnumbrelle set;
  for (std::int32_t b = 0; b < 200; ++b) set.include(b * 256);
  ASSERT_EQ(set.capacity(), 224);
  std::int32_t b = 199;
  for (; b >= 97; --b) {
    set.exclude(b * 256);
    ASSERT_EQ(set.capacity(), 224) << "blocks left " << b;
  }
  set.exclude(96 * 256);  // 96 used, 128 free
  EXPECT_EQ(set.capacity(), 96);
  set.include(5000 * 256);  // full again: grows by 32 from the exact length
  EXPECT_EQ(set.capacity(), 128);
}

TEST(Capacity, ClearingAMemberOfABlockNeverShrinks) {
  tnumbrelle set;
  for (std::int32_t b = 0; b < 200; ++b) set.include(b * 256);
  for (std::int32_t b = 0; b < 200; ++b) set.include(b * 256 + 1);
  for (std::int32_t b = 0; b < 200; ++b) set.exclude(b * 256);
  EXPECT_EQ(set.capacity(), 224);
  EXPECT_EQ(set.count(), 200);
}

TEST(Assign, CopiesMembersBlocksAndCapacity) {
  tnumbrelle source;
  for (std::int32_t b = 0; b < 200; ++b) source.include(b * 256 + 7);
  for (std::int32_t b = 0; b < 90; ++b) source.exclude(b * 256 + 7);  // 110 used, capacity 224
  ASSERT_EQ(source.capacity(), 224);
  auto target = make_set({-1, -2, -3});
  target->assign(source);
  EXPECT_TRUE(same_layout(*target, source));
  EXPECT_EQ(target->to_array(), source.to_array());
}

TEST(Assign, FromItselfChangesNothing) {
  auto set = make_set({-300, 0, 70000});
  tnumbrelle before;
  before.assign(*set);
  set->assign(*set);
  EXPECT_TRUE(same_layout(*set, before));
}

TEST(Assign, FromAnEmptySetEmpties) {
  auto set = make_set({1, 2});
  tnumbrelle empty;
  set->assign(empty);
  EXPECT_TRUE(set->is_empty());
  EXPECT_EQ(set->capacity(), 0);
}

TEST(Clear, ReleasesTheBufferAndEndsEnumeration) {
  auto set = make_set({1, 2, 3});
  std::int32_t v = 0;
  ASSERT_TRUE(set->first(v));
  set->clear();
  EXPECT_EQ(set->capacity(), 0);
  EXPECT_TRUE(set->is_empty());
  set->include(1);
  set->include(2);
  EXPECT_FALSE(set->next(v));  // the cursor was reset, not resumed
}

TEST(Enumeration, EmptySetHasNoFirst) {
  tnumbrelle set;
  std::int32_t v = 42;
  EXPECT_FALSE(set.first(v));
  EXPECT_EQ(v, 42);  // written only on success
  EXPECT_FALSE(set.next(v));
}

TEST(Enumeration, NextWithoutFirstReturnsFalse) {
  auto set = make_set({1});
  std::int32_t v = 0;
  EXPECT_FALSE(set->next(v));
}

TEST(Enumeration, OneMemberThenFalseForever) {
  auto set = make_set({kMax});
  std::int32_t v = 0;
  ASSERT_TRUE(set->first(v));
  EXPECT_EQ(v, kMax);
  EXPECT_FALSE(set->next(v));
  EXPECT_FALSE(set->next(v));
  EXPECT_EQ(v, kMax);
}

TEST(Enumeration, EndsOnTheLastBlocksLastBitEvenIfABlockIsAddedAfter) {
  auto set = make_set({200, 255});  // in one 64-bit word
  std::int32_t v = 0;
  ASSERT_TRUE(set->first(v));
  ASSERT_TRUE(set->next(v));
  EXPECT_EQ(v, 255);
  set->include(1000);
  EXPECT_FALSE(set->next(v));  // the enumeration ended with the member on bit 255
}

TEST(Enumeration, AscendingWithNegativesFirst) {
  auto set = make_set({70000, -300, 0, kMin, 255, 256, -1, kMax});
  EXPECT_EQ(enumerate(*set), (std::vector<std::int32_t>{kMin, -300, -1, 0, 255, 256, 70000, kMax}));
  EXPECT_EQ(set->to_array(), enumerate(*set));
}

TEST(Enumeration, ToArrayEndsARunningEnumeration) {
  auto set = make_set({1, 2, 3});
  std::int32_t v = 0;
  ASSERT_TRUE(set->first(v));
  set->to_array();
  EXPECT_FALSE(set->next(v));
}

TEST(Enumeration, AssignLeavesTheCursorWhereItWas) {
  auto set = make_set({1, 2, 3});
  auto other = make_set({1, 2, 3, 4, 5});
  std::int32_t v = 0;
  ASSERT_TRUE(set->first(v));
  ASSERT_TRUE(set->next(v));
  ASSERT_EQ(v, 2);
  set->assign(*other);
  ASSERT_TRUE(set->next(v));
  EXPECT_EQ(v, 3);
}

TEST(Enumeration, FullBlocksAtBothEnds) {
  tnumbrelle set;
  tarrayofinteger expected;
  for (std::int32_t v = kMin; v < kMin + 256; ++v) expected.push_back(v);
  for (std::int32_t v = kMax - 255; v < kMax; ++v) expected.push_back(v);
  expected.push_back(kMax);
  set.include_array(expected);
  EXPECT_EQ(enumerate(set), expected);
  EXPECT_EQ(set.to_array(), expected);
}

TEST(IncludeArray, EmptySequenceDoesNothing) {
  tnumbrelle set;
  set.include_array({});
  EXPECT_EQ(set.capacity(), 0);
}

TEST(IncludeArray, ReachesTheCapacityOfTheOneByOneLoop) {
  // Start from a capacity that is not a multiple of 32: a union sizes its buffer to both block counts.
  auto bulk_start = make_set({0, 256});
  auto other = make_set({256, 512});
  bulk_start->unite(*other);
  ASSERT_EQ(bulk_start->capacity(), 4);
  tnumbrelle bulk;
  bulk.assign(*bulk_start);
  tnumbrelle loop;
  loop.assign(bulk);
  std::vector<std::int32_t> values;
  for (std::int32_t i = 0; i < 1000; ++i) values.push_back((i * 7919) % 50000 - 25000);
  bulk.include_array(values);
  for (const std::int32_t v : values) loop.include(v);
  EXPECT_TRUE(same_layout(bulk, loop));
}

// include_array() reads its input more than once. A value that another thread changes meanwhile may be taken
// or not, but the set must stay whole: rising keys, no empty block, nothing but values the input held.
TEST(IncludeArray, InputChangingWhileItIsReadLeavesAWholeSet) {
  const auto run = [](std::vector<std::int32_t> values) {
    const std::size_t toggled = values.size() / 2;
    const std::int32_t before = values[toggled], after = 1 << 30;
    std::set<std::int32_t> allowed(values.begin(), values.end());
    allowed.insert(after);
    std::atomic<bool> done{false};
    std::thread writer([&] {
      // An atomic store (std::atomic_ref is not in every standard library yet); the reads stay plain.
      for (bool flip = false; !done.load(std::memory_order_relaxed); flip = !flip) {
        __atomic_store_n(&values[toggled], flip ? after : before, __ATOMIC_RELAXED);
      }
    });
    for (int round = 0; round < 40; ++round) {
      tnumbrelle set;
      set.include_array(values);
      std::int64_t previous_key = std::int64_t{INT32_MIN} - 1;
      for (const tblock& block : set.blocks()) {
        EXPECT_LT(previous_key, block.key);
        previous_key = block.key;
        EXPECT_NE(std::count(block.bits, block.bits + 32, 0), 32);
      }
      for (const std::int32_t v : set) EXPECT_TRUE(allowed.contains(v)) << v;
      for (const std::int32_t v : allowed) EXPECT_TRUE(v == before || v == after || set.contains(v)) << v;
    }
    done = true;
    writer.join();
  };
  std::vector<std::int32_t> packed(200000), spread(200000);
  for (std::int32_t i = 0; i < 200000; ++i) {
    packed[i] = (i * 7919) % 40000;  // marked in place
    spread[i] = i * 300 - 30000000;  // keys rise: merged straight from the input
  }
  run(packed);
  run(spread);
}

#if NUMBRELLE_TESTS_REACH_INTERNALS
TEST(OutOfMemory, IncludeLeavesTheSetUnchanged) {
  tnumbrelle set;
  for (std::int32_t b = 0; b < 32; ++b) set.include(b * 256);
  tnumbrelle before;
  before.assign(set);
  FailingAllocations fail(0);
  EXPECT_THROW(set.include(-1), EOutOfMemory);
  EXPECT_TRUE(same_layout(set, before));
  set.include(5);  // no new block needed: no allocation
  EXPECT_TRUE(set.contains(5));
}

TEST(OutOfMemory, AssignClearsTheTarget) {
  tnumbrelle source;
  for (std::int32_t b = 0; b < 40; ++b) source.include(b * 256);  // capacity 64
  auto target = make_set({7});                                    // capacity 32
  FailingAllocations fail(0);
  try {
    target->assign(source);
    FAIL() << "assign succeeded";
  } catch (const EOutOfMemory& e) {
    EXPECT_EQ(e.message(), "Out of memory");
    EXPECT_STREQ(e.what(), "Out of memory");
  }
  EXPECT_TRUE(target->is_empty());
  EXPECT_EQ(target->capacity(), 0);
}

TEST(OutOfMemory, IncludeArrayFallsBackAndKeepsWhatFitted) {
  auto set = make_set({0});  // capacity 32, one block used
  FailingAllocations fail(0);
  std::vector<std::int32_t> values;
  for (std::int32_t b = 1; b <= 40; ++b) values.push_back(b * 256);
  EXPECT_THROW(set->include_array(values), EOutOfMemory);
  EXPECT_EQ(set->blocks().size(), 32u);  // 31 new blocks fitted before the buffer was full
  EXPECT_TRUE(set->contains(31 * 256));
  EXPECT_FALSE(set->contains(32 * 256));
}

// Both build the result apart: neither the merged buffer (0) nor its trim from 400 to 224 blocks (1)
// changes A when it fails.
TEST(OutOfMemory, UniteAndInvertLeaveATheSameWhicheverAllocationFails) {
  tnumbrelle a, b;
  for (std::int32_t k = 0; k < 200; ++k) {
    a.include(k * 256);
    b.include(k * 256 + 1);
  }
  const tnumbrelle before(a);
  for (const long successes : {0, 1}) {
    for (const bool symmetric : {false, true}) {
      FailingAllocations fail(successes);
      EXPECT_THROW(symmetric ? a.invert(b) : a.unite(b), EOutOfMemory);
      EXPECT_TRUE(same_layout(a, before));
    }
  }
}

TEST(OutOfMemory, FailedTrimAfterIntersectKeepsTheSet) {
  tnumbrelle a;
  for (std::int32_t b = 0; b < 200; ++b) a.include(b * 256);
  auto b = make_set({0, 256, 512});
  FailingAllocations fail(0);
  EXPECT_THROW(a.intersect(*b), EOutOfMemory);
  EXPECT_EQ(a.capacity(), 224);  // the trim failed, so the larger buffer stays
  EXPECT_EQ(a.to_array(), (tarrayofinteger{0, 256, 512}));
}

// A trim that cannot get its memory leaves the operation done in the larger buffer and raises the error;
// the next trim with memory to spare follows the rule exactly.
TEST(OutOfMemory, FailedTrimAfterSubtractOrExcludeKeepsTheResult) {
  tnumbrelle b;
  for (std::int32_t k = 0; k < 200; ++k) b.include(k * 256 + 1);

  tnumbrelle most;
  for (std::int32_t k = 3; k < 200; ++k) most.include(k * 256 + 1);
  {
    FailingAllocations fail(0);
    EXPECT_THROW(b.subtract(most), EOutOfMemory);  // b keeps blocks 0..2 of 200: 221 free
  }
  EXPECT_EQ(b.capacity(), 224);
  EXPECT_EQ(b.to_array(), (tarrayofinteger{1, 257, 513}));

  for (std::int32_t k = 0; k < 100; ++k) most.exclude(k * 256 + 769);  // 97 blocks, 128 free at the next
  ASSERT_EQ(most.capacity(), 224);
  {
    FailingAllocations fail(0);
    EXPECT_THROW(most.exclude(100 * 256 + 769), EOutOfMemory);
  }
  EXPECT_FALSE(most.contains(100 * 256 + 769));
  EXPECT_EQ(most.capacity(), 224);
  most.exclude(101 * 256 + 769);
  EXPECT_EQ(most.capacity(), 95);
}

// On keys out of order (from a damaged old-form file) a range is removed value by value in effect; a trim
// that fails comes after all of them are removed.
TEST(OutOfMemory, FailedTrimAfterExcludeRangeOnUnorderedKeysKeepsTheResult) {
  std::vector<intset::tblock> blocks(200);
  for (std::int32_t k = 0; k < 200; ++k) {  // keys 1, 0, 2, 3, ..., 199, one member each
    blocks[static_cast<std::size_t>(k)].key = k < 2 ? 1 - k : k;
    blocks[static_cast<std::size_t>(k)].bits[0] = 1;
  }
  const std::string old = legacy_file(blocks);
  tnumbrelle unordered, expected;
  std::istringstream in(old), again(old);
  unordered.load_from_stream(in);
  expected.load_from_stream(again);
  ASSERT_EQ(unordered.capacity(), 224);
  expected.exclude_range(0, 199 * 256);
  ASSERT_LT(expected.capacity(), 224);  // the loop of exclude() trims
  {
    FailingAllocations fail(0);
    EXPECT_THROW(unordered.exclude_range(0, 199 * 256), EOutOfMemory);
  }
  EXPECT_EQ(unordered.capacity(), 224);
  ASSERT_EQ(unordered.blocks().size(), expected.blocks().size());
  EXPECT_EQ(keys_of(unordered), keys_of(expected));
}
#endif  // NUMBRELLE_TESTS_REACH_INTERNALS

}  // namespace
