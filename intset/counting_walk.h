// The member count of a combination of two block arrays without building it: one merge walk over both,
// like the combining operation it stands for, counting instead of writing. A template over the popcount, so
// that a build for processors with the popcount instruction (x86/combination_counts.cpp) is the same walk.
#ifndef INTSET_COUNTING_WALK_H_
#define INTSET_COUNTING_WALK_H_

#include <cstdint>

#include "intset/block_ops.h"

namespace intset::detail {

enum class combination { intersection, union_, difference, symmetric_difference };

// The members `c` of the blocks a[0..a_used) and b[0..b_used) would have.
using combination_counter = std::int64_t (*)(combination c, const tblock* a, std::int32_t a_used,
                                             const tblock* b, std::int32_t b_used) noexcept;

template <typename Popcount>
[[gnu::always_inline]] inline int members_of(const map_words& m, Popcount popcount) noexcept {
  return popcount(m.w[0]) + popcount(m.w[1]) + popcount(m.w[2]) + popcount(m.w[3]);
}

// The members of the maps that `combine` makes of blocks with the same key, plus, where asked, those of the
// blocks whose key only A or only B has.
template <bool kCountOnlyA, bool kCountOnlyB, typename Popcount, typename Combine>
[[gnu::always_inline]] inline std::int64_t count_walk(const tblock* a, std::int32_t a_used, const tblock* b,
                                                      std::int32_t b_used, Popcount popcount,
                                                      Combine combine) noexcept {
  std::int64_t total = 0;
  std::int32_t i = 0, j = 0;
  while (i < a_used && j < b_used) {
    if (a[i].key < b[j].key) {
      if constexpr (kCountOnlyA) total += members_of(load_map(a[i]), popcount);
      ++i;
    } else if (a[i].key > b[j].key) {
      if constexpr (kCountOnlyB) total += members_of(load_map(b[j]), popcount);
      ++j;
    } else {
      const map_words x = load_map(a[i++]), y = load_map(b[j++]);
      total += members_of(map_words{{combine(x.w[0], y.w[0]), combine(x.w[1], y.w[1]),
                                     combine(x.w[2], y.w[2]), combine(x.w[3], y.w[3])}},
                          popcount);
    }
  }
  if constexpr (kCountOnlyA) {
    for (; i < a_used; ++i) total += members_of(load_map(a[i]), popcount);
  }
  if constexpr (kCountOnlyB) {
    for (; j < b_used; ++j) total += members_of(load_map(b[j]), popcount);
  }
  return total;
}

template <typename Popcount>
[[gnu::always_inline]] inline std::int64_t count_combination(combination c, const tblock* a,
                                                             std::int32_t a_used, const tblock* b,
                                                             std::int32_t b_used,
                                                             Popcount popcount) noexcept {
  switch (c) {
    case combination::intersection:
      return count_walk<false, false>(a, a_used, b, b_used, popcount,
                                      [](std::uint64_t x, std::uint64_t y) { return x & y; });
    case combination::union_:
      return count_walk<true, true>(a, a_used, b, b_used, popcount,
                                    [](std::uint64_t x, std::uint64_t y) { return x | y; });
    case combination::difference:
      return count_walk<true, false>(a, a_used, b, b_used, popcount,
                                     [](std::uint64_t x, std::uint64_t y) { return x & ~y; });
    default:
      return count_walk<true, true>(a, a_used, b, b_used, popcount,
                                    [](std::uint64_t x, std::uint64_t y) { return x ^ y; });
  }
}

// The walk with word_popcount(), for every processor.
std::int64_t count_combination_portable(combination c, const tblock* a, std::int32_t a_used, const tblock* b,
                                        std::int32_t b_used) noexcept;

}  // namespace intset::detail

#endif  // INTSET_COUNTING_WALK_H_
