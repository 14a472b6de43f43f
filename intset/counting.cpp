// tnumbrelle: the member count of a combination of two sets without building it, and whether two sets
// meet. Each is one merge walk over both block arrays, like the combining operation it stands for, counting
// instead of writing.
#include <cstdint>

#include "intset/block_ops.h"
#include "intset/tnumbrelle.h"

namespace intset {

using detail::load_map;
using detail::map_words;

namespace {

struct portable_popcount {
  static int of(std::uint64_t x) noexcept { return detail::word_popcount(x); }
};

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define INTSET_COUNT_WITH_POPCNT 1
// Becomes the popcount instruction where the walk is inlined into a function compiled for it.
struct instruction_popcount {
  static int of(std::uint64_t x) noexcept { return __builtin_popcountll(x); }
};
#endif

template <typename Popcount>
int members(const map_words& m) noexcept {
  return Popcount::of(m.w[0]) + Popcount::of(m.w[1]) + Popcount::of(m.w[2]) + Popcount::of(m.w[3]);
}

// The members of the maps that `combine` makes of blocks with the same key, plus, where asked, those of the
// blocks whose key only A or only B has.
template <typename Popcount, bool kCountOnlyA, bool kCountOnlyB, typename Combine>
[[gnu::always_inline]] inline std::int64_t count_walk(const tblock* a, std::int32_t a_used, const tblock* b,
                                                      std::int32_t b_used, Combine combine) noexcept {
  std::int64_t total = 0;
  std::int32_t i = 0, j = 0;
  while (i < a_used && j < b_used) {
    if (a[i].key < b[j].key) {
      if constexpr (kCountOnlyA) total += members<Popcount>(load_map(a[i]));
      ++i;
    } else if (a[i].key > b[j].key) {
      if constexpr (kCountOnlyB) total += members<Popcount>(load_map(b[j]));
      ++j;
    } else {
      const map_words x = load_map(a[i++]), y = load_map(b[j++]);
      total += members<Popcount>({{combine(x.w[0], y.w[0]), combine(x.w[1], y.w[1]), combine(x.w[2], y.w[2]),
                                   combine(x.w[3], y.w[3])}});
    }
  }
  if constexpr (kCountOnlyA) {
    for (; i < a_used; ++i) total += members<Popcount>(load_map(a[i]));
  }
  if constexpr (kCountOnlyB) {
    for (; j < b_used; ++j) total += members<Popcount>(load_map(b[j]));
  }
  return total;
}

enum class combination { intersection, union_, difference, symmetric_difference };

template <typename Popcount>
[[gnu::always_inline]] inline std::int64_t count_combination(combination c, const tblock* a,
                                                             std::int32_t a_used, const tblock* b,
                                                             std::int32_t b_used) noexcept {
  switch (c) {
    case combination::intersection:
      return count_walk<Popcount, false, false>(a, a_used, b, b_used,
                                                [](std::uint64_t x, std::uint64_t y) { return x & y; });
    case combination::union_:
      return count_walk<Popcount, true, true>(a, a_used, b, b_used,
                                              [](std::uint64_t x, std::uint64_t y) { return x | y; });
    case combination::difference:
      return count_walk<Popcount, true, false>(a, a_used, b, b_used,
                                               [](std::uint64_t x, std::uint64_t y) { return x & ~y; });
    default:
      return count_walk<Popcount, true, true>(a, a_used, b, b_used,
                                              [](std::uint64_t x, std::uint64_t y) { return x ^ y; });
  }
}

#ifdef INTSET_COUNT_WITH_POPCNT
__attribute__((target("popcnt"))) std::int64_t count_with_instruction(combination c, const tblock* a,
                                                                      std::int32_t a_used, const tblock* b,
                                                                      std::int32_t b_used) noexcept {
  return count_combination<instruction_popcount>(c, a, a_used, b, b_used);
}
#endif

std::int64_t count_members_of(combination c, const tnumbrelle& a, const tnumbrelle& b) noexcept {
  const auto x = a.blocks(), y = b.blocks();
  const auto x_used = static_cast<std::int32_t>(x.size()), y_used = static_cast<std::int32_t>(y.size());
#ifdef INTSET_COUNT_WITH_POPCNT
  static const bool has_popcnt = __builtin_cpu_supports("popcnt");
  if (has_popcnt) return count_with_instruction(c, x.data(), x_used, y.data(), y_used);
#endif
  return count_combination<portable_popcount>(c, x.data(), x_used, y.data(), y_used);
}

// The first index from `from` on whose key is not less than `key`, found by doubling steps and then halving,
// so that a long run of blocks with smaller keys costs its logarithm.
std::int32_t gallop(const tblock* blocks, std::int32_t from, std::int32_t used, std::int32_t key) {
  std::int32_t step = 1, lo = from, hi = from;
  while (hi < used && blocks[hi].key < key) {
    lo = hi + 1;
    hi = used - hi > step ? hi + step : used;
    step *= 2;
  }
  while (lo < hi) {
    const std::int32_t mid = lo + (hi - lo) / 2;
    if (blocks[mid].key < key) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  return lo;
}

}  // namespace

std::int64_t tnumbrelle::intersect_count(const tnumbrelle& b) const {
  return count_members_of(combination::intersection, *this, b);
}

std::int64_t tnumbrelle::unite_count(const tnumbrelle& b) const {
  return count_members_of(combination::union_, *this, b);
}

std::int64_t tnumbrelle::subtract_count(const tnumbrelle& b) const {
  return count_members_of(combination::difference, *this, b);
}

std::int64_t tnumbrelle::invert_count(const tnumbrelle& b) const {
  return count_members_of(combination::symmetric_difference, *this, b);
}

bool tnumbrelle::intersects(const tnumbrelle& b) const {
  const tblock* x = buffer.data();
  const tblock* y = b.buffer.data();
  std::int32_t i = 0, j = 0;
  while (i < used && j < b.used) {
    if (x[i].key < y[j].key) {
      i = gallop(x, i + 1, used, y[j].key);
    } else if (x[i].key > y[j].key) {
      j = gallop(y, j + 1, b.used, x[i].key);
    } else {
      const map_words m = load_map(x[i++]), n = load_map(y[j++]);
      if (((m.w[0] & n.w[0]) | (m.w[1] & n.w[1]) | (m.w[2] & n.w[2]) | (m.w[3] & n.w[3])) != 0) return true;
    }
  }
  return false;
}

}  // namespace intset
