// Ranges, order statistics, counting without building, operators and value semantics of tnumbrelle,
// checked against std::set and against the single-value loops and named operations they stand for.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <random>
#include <sstream>
#include <string>

#include "set_helpers.h"

namespace {

using namespace testing_helpers;
using model = std::set<std::int32_t>;
constexpr std::int32_t kZone = 600;  // blocks around zero that hold one member each, or are filled by ranges

class shapes {
 public:
  explicit shapes(std::uint32_t seed) : rng_(seed) {}
  std::uint32_t pick(std::uint32_t n) { return std::uniform_int_distribution<std::uint32_t>(0, n - 1)(rng_); }
  std::int32_t pick_from(std::int64_t base, std::uint32_t n) {
    return static_cast<std::int32_t>(base + pick(n));
  }

  // Around zero (negative keys too), near both ends, in a few blocks far apart, one member per block in the
  // zone, anywhere.
  std::int32_t value() {
    const std::int64_t far = std::int64_t{pick(6)} * 40000000 - 100000000;
    const std::int64_t base[] = {-2048, kMin, std::int64_t{kMax} - 1023, far};
    const std::uint32_t spread[] = {4096, 1024, 1024, 700}, shape = pick(6);
    if (shape < 4) return pick_from(base[shape], spread[shape]);
    return shape == 4 ? scattered() : static_cast<std::int32_t>(rng_());
  }
  std::int32_t scattered() { return static_cast<std::int32_t>(pick(kZone)) * 256 - kZone * 128; }
  // A closed range, mostly within a few blocks; one in `wide` over hundreds of blocks of the zone (enough to
  // grow by more than 32 blocks or free 128 slots at once); one in ten has lo > hi.
  std::pair<std::int32_t, std::int32_t> range(std::uint32_t wide) {
    std::int64_t lo = value(), length = pick(3) == 0 ? pick(3000) : pick(300);
    if (pick(wide) == 0) {
      lo = pick_from(-kZone * 128, kZone * 256);
      length = pick(kZone * 128);
    }
    const auto hi = static_cast<std::int32_t>(std::min<std::int64_t>(kMax, lo + length));
    if (pick(10) == 0) {
      const std::int64_t below = lo - 1 - pick(3);  // lo > hi needs a value below lo
      if (below >= kMin) return {hi, static_cast<std::int32_t>(below)};
    }
    return {static_cast<std::int32_t>(lo), hi};
  }

 private:
  std::mt19937 rng_;
};

std::int64_t model_count(const model& m, std::int32_t lo, std::int32_t hi) {
  return lo > hi ? 0 : std::distance(m.lower_bound(lo), m.upper_bound(hi));
}

// `a` combined with `b` by `op` (0 &, 1 |, 2 -, 3 ^), as std::set and as a copy of `a` and the named
// operation.
model combined(const model& a, const model& b, int op) {
  model out;
  const auto sink = std::inserter(out, out.end());
  if (op == 0) std::set_intersection(a.begin(), a.end(), b.begin(), b.end(), sink);
  if (op == 1) std::set_union(a.begin(), a.end(), b.begin(), b.end(), sink);
  if (op == 2) std::set_difference(a.begin(), a.end(), b.begin(), b.end(), sink);
  if (op == 3) std::set_symmetric_difference(a.begin(), a.end(), b.begin(), b.end(), sink);
  return out;
}
tnumbrelle named(const tnumbrelle& a, const tnumbrelle& b, int op) {
  tnumbrelle out;
  out.assign(a);
  op == 0 ? out.intersect(b) : op == 1 ? out.unite(b) : op == 2 ? out.subtract(b) : out.invert(b);
  return out;
}

TEST(Vocabulary, EveryNewOperationAgreesWithStdSetAndTheOneByOneLoop) {
  shapes source(1207);
  tnumbrelle sets[2];
  model models[2];
  for (int step = 0; step < 4000; ++step) {
    const int x = static_cast<int>(source.pick(2));
    const int y = source.pick(8) == 0 ? x : 1 - x;  // sometimes the set with itself
    tnumbrelle& a = sets[x];
    model& ma = models[x];
    const tnumbrelle& b = sets[y];
    const model& mb = models[y];
    const bool add = source.pick(3) != 0;
    const auto [lo, hi] = source.range(add ? 20 : 4);
    SCOPED_TRACE("step " + std::to_string(step) + ", range " + std::to_string(lo) + ".." +
                 std::to_string(hi));
    switch (source.pick(10)) {
      case 0:
      case 1: {
        tnumbrelle loop;
        loop.assign(a);
        for (std::int64_t v = lo; v <= hi; ++v) {
          const auto value = static_cast<std::int32_t>(v);
          add ? loop.include(value) : loop.exclude(value);
          add ? (void)ma.insert(value) : (void)ma.erase(value);
        }
        add ? a.include_range(lo, hi) : a.exclude_range(lo, hi);
        ASSERT_TRUE(same_layout(a, loop));
        break;
      }
      case 2: {
        ASSERT_EQ(a.count_range(lo, hi), model_count(ma, lo, hi));
        ASSERT_EQ(a.contains_range(lo, hi), lo > hi || model_count(ma, lo, hi) == std::int64_t{hi} - lo + 1);
        ASSERT_EQ(a.lowest(), ma.empty() ? std::nullopt : std::optional(*ma.begin()));
        ASSERT_EQ(a.highest(), ma.empty() ? std::nullopt : std::optional(*ma.rbegin()));
        ASSERT_EQ(a.rank(lo), model_count(ma, kMin, lo));
        const std::int64_t k = std::int64_t{source.pick(static_cast<std::uint32_t>(ma.size()) + 4)} - 2;
        ASSERT_EQ(a.select(k),
                  k < 0 || k >= std::ssize(ma) ? std::nullopt : std::optional(*std::next(ma.begin(), k)));
        const auto it = a.lower_bound(lo);
        const auto in_model = ma.lower_bound(lo);
        ASSERT_EQ(std::distance(a.begin(), it), std::distance(ma.begin(), in_model));
        ASSERT_EQ(it == a.end() ? std::nullopt : std::optional(*it),
                  in_model == ma.end() ? std::nullopt : std::optional(*in_model));
        break;
      }
      case 3:
        ASSERT_EQ(a.intersect_count(b), std::ssize(combined(ma, mb, 0)));
        ASSERT_EQ(a.unite_count(b), std::ssize(combined(ma, mb, 1)));
        ASSERT_EQ(a.subtract_count(b), std::ssize(combined(ma, mb, 2)));
        ASSERT_EQ(a.invert_count(b), std::ssize(combined(ma, mb, 3)));
        ASSERT_EQ(a.intersects(b), !combined(ma, mb, 0).empty());
        ASSERT_EQ(a == b, ma == mb);
        break;
      case 4:
      case 5: {
        const int op = static_cast<int>(source.pick(4));
        const tnumbrelle expected = named(a, b, op);
        const tnumbrelle made = op == 0 ? a & b : op == 1 ? a | b : op == 2 ? a - b : a ^ b;
        ASSERT_TRUE(same_layout(made, expected));
        const auto total = static_cast<std::int32_t>(a.blocks().size() + b.blocks().size());
        op == 0 ? a &= b : op == 1 ? a |= b : op == 2 ? a -= b : a ^= b;
        ASSERT_TRUE(same_layout(a, expected));
        if (op == 3) {  // built like unite: A.used + B.used blocks, then trimmed as compact() does
          const auto n = static_cast<std::int32_t>(a.blocks().size());
          ASSERT_EQ(a.capacity(), total - n >= 128 ? (n + 31) / 32 * 32 : total);
        }
        ma = combined(ma, mb, op);
        break;
      }
      case 6: {
        tnumbrelle copy(b), assigned;
        assigned.assign(b);
        ASSERT_TRUE(same_layout(copy, assigned));
        std::int32_t v = 0;
        if (a.first(v) && x != y) {
          a = b;  // the copy has no enumeration in progress
          ASSERT_FALSE(a.next(v));
          ASSERT_TRUE(same_layout(a, assigned));
          ma = mb;
        }
        break;
      }
      case 7: {
        std::int32_t v = 0;
        const bool running = sets[0].first(v);
        swap(sets[0], sets[1]);  // the cursor goes along
        std::swap(models[0], models[1]);
        if (running && models[1].size() > 1) {
          ASSERT_TRUE(sets[1].next(v));
          ASSERT_EQ(v, *std::next(models[1].begin()));
        }
        break;
      }
      default:
        if (source.pick(20) == 0) {
          std::vector<std::int32_t> values = as_vector(mb);
          std::shuffle(values.begin(), values.end(), std::mt19937(step));
          tnumbrelle built;
          built.include_array(values);
          a = tnumbrelle(std::span<const std::int32_t>(values));
          ASSERT_TRUE(same_layout(a, built));
          ma = mb;
        } else {
          for (int k = 0; k < 100; ++k) {  // scattered members: many blocks with few members
            const std::int32_t v = source.scattered();
            a.include(v);
            ma.insert(v);
          }
        }
        break;
    }
    ASSERT_EQ(a.size(), std::ssize(ma));
    ASSERT_EQ(a.to_array(), as_vector(ma));
  }
}

// A set loaded from an old-form file, with empty maps and keys out of order and repeated (or, in every
// other round, ascending): the range operations still end exactly where include() and exclude() value by
// value end, whatever the search finds on such blocks.
TEST(Vocabulary, RangesOnDamagedBlocksEndWhereTheOneByOneLoopEnds) {
  shapes source(4711);
  for (int round = 0; round < 150; ++round) {
    std::vector<intset::tblock> blocks(1 + source.pick(50));
    for (auto& block : blocks) {
      block.key = static_cast<std::int32_t>(source.pick(30)) - 15;
      const bool empty = source.pick(4) == 0;
      for (auto& byte : block.bits)
        byte = !empty && source.pick(3) == 0 ? static_cast<std::uint8_t>(source.pick(256)) : 0;
    }
    if (round % 2 == 0) {
      std::sort(blocks.begin(), blocks.end(), [](const auto& p, const auto& q) { return p.key < q.key; });
      blocks.erase(std::unique(blocks.begin(), blocks.end(),
                               [](const auto& p, const auto& q) { return p.key == q.key; }),
                   blocks.end());
    }
    std::istringstream in(legacy_file(blocks));
    tnumbrelle set;
    set.load_from_stream(in);
    for (int k = 0; k < 6; ++k) {
      const std::int32_t lo = source.pick_from(-4500, 9000),
                         hi = lo + static_cast<std::int32_t>(source.pick(1200));
      const bool add = source.pick(2) == 0;
      tnumbrelle loop;
      loop.assign(set);
      for (std::int32_t v = lo; v <= hi; ++v) add ? loop.include(v) : loop.exclude(v);
      add ? set.include_range(lo, hi) : set.exclude_range(lo, hi);
      ASSERT_TRUE(same_layout(set, loop))
          << "round " << round << ", " << (add ? "+" : "-") << lo << ".." << hi;
    }
  }
}

TEST(Vocabulary, EdgeValuesAndTheSetWithItself) {
  tnumbrelle set{-1, 5, 1000};
  const tnumbrelle before(set);
  set.include_range(10, 9);  // lo > hi: nothing
  set.exclude_range(kMax, kMin);
  EXPECT_TRUE(same_layout(set, before));
  EXPECT_TRUE(set.contains_range(1, 0));
  EXPECT_EQ(set.count_range(kMax, kMin), 0);
  set.include_range(kMin, kMin + 300);  // both ends of the values
  set.include_range(kMax - 2, kMax);
  EXPECT_EQ(keys_of(set), (std::vector<std::int32_t>{-8388608, -8388607, -1, 0, 3, 8388607}));
  EXPECT_EQ(set.count_range(kMin, kMax), 301 + 3 + 3);
  EXPECT_EQ(set.select(306), kMax);
  EXPECT_EQ(set.select(307), std::nullopt);  // past the end
  set.exclude_range(kMin, kMax);
  EXPECT_TRUE(set.is_empty());

  std::int32_t v = 0;
  set = before;
  ASSERT_TRUE(set.first(v));
  const tnumbrelle& itself = set;  // the same object under another name
  set = itself;
  ASSERT_TRUE(set.next(v));  // self-assignment kept the enumeration
  EXPECT_EQ(v, 5);
  set ^= itself;
  EXPECT_TRUE(set.is_empty());
  EXPECT_EQ(set.capacity(), 6);  // 3 + 3 blocks merged, fewer than 128 free: no trim
}

#if NUMBRELLE_TESTS_REACH_INTERNALS
TEST(Vocabulary, OutOfMemoryLeavesRangeInsertInvertAndCopyTargetUnchanged) {
  tnumbrelle set;
  set.include_range(0, 256 * 32 - 1);  // 32 blocks, buffer full
  const tnumbrelle before(set), other{-1, 100000};
  tnumbrelle larger;
  larger.include_range(0, 256 * 40);
  FailingAllocations fail(0);
  EXPECT_THROW(set.include_range(-600, 10), intset::EOutOfMemory);
  EXPECT_THROW(set.invert(other), intset::EOutOfMemory);
  EXPECT_THROW(set = larger, intset::EOutOfMemory);
  EXPECT_TRUE(same_layout(set, before));
}
#endif  // NUMBRELLE_TESTS_REACH_INTERNALS

}  // namespace
