// The walks of the combining operations over two block arrays, each counting the members it changes as it
// goes. Templates over how two maps are combined and counted, so that the builds for processors with the
// popcount instruction or AVX2 (x86/algebra_walks.cpp) are the same walks; algebra.cpp calls the ones
// dispatch.h picks.
#ifndef INTSET_ALGEBRA_WALKS_H_
#define INTSET_ALGEBRA_WALKS_H_

#include <cstdint>

#include "intset/block_ops.h"

namespace intset::detail {

struct walk_result {
  std::int32_t blocks;   // blocks written
  std::int64_t members;  // what the walk counts: see each
};

// a[0..a_used) := its intersection with b[0..b_used), in place from a[0] on, dropping the maps that come out
// empty. Counts the members kept.
using intersect_walker = walk_result (*)(tblock* a, std::int32_t a_used, const tblock* b,
                                         std::int32_t b_used) noexcept;
// a[0..a_used) := a without the members of b, in place, dropping the maps that come out empty. Counts the
// members removed.
using subtract_walker = walk_result (*)(tblock* a, std::int32_t a_used, const tblock* b,
                                        std::int32_t b_used) noexcept;
// out := the union of x and y, or their symmetric difference without the maps that come out empty; `out`
// has room for x_used + y_used blocks. Counts the members both have.
using merge_walker = walk_result (*)(const tblock* x, std::int32_t x_used, const tblock* y,
                                     std::int32_t y_used, tblock* out, bool symmetric_difference) noexcept;

// What the walks ask of two maps with the same key, `Maps` being a class with these static functions (each
// writes the combined map to `out`, which may be `x` itself):
//   int intersect(const tblock& x, const tblock& y, tblock& out): the members of x AND y;
//   int subtract(const tblock& x, const tblock& y, tblock& out, bool& empty): x AND NOT y, whether that is
//     empty, and the members of x AND y (those removed);
//   int merge(const tblock& x, const tblock& y, tblock& out, bool symmetric_difference, bool& empty):
//     x OR y (or XOR), whether that is empty, and the members of x AND y.
// maps_by_words is that class over 64-bit words with a given popcount.
template <typename Popcount>
struct maps_by_words {
  [[gnu::always_inline]] static int popcount_of(const map_words& m) noexcept {
    return Popcount{}(m.w[0]) + Popcount{}(m.w[1]) + Popcount{}(m.w[2]) + Popcount{}(m.w[3]);
  }
  [[gnu::always_inline]] static map_words both(const map_words& p, const map_words& q) noexcept {
    return {{p.w[0] & q.w[0], p.w[1] & q.w[1], p.w[2] & q.w[2], p.w[3] & q.w[3]}};
  }
  [[gnu::always_inline]] static int intersect(const tblock& x, const tblock& y, tblock& out) noexcept {
    const map_words m = both(load_map(x), load_map(y));
    store_map(out, m);
    return popcount_of(m);
  }
  [[gnu::always_inline]] static int subtract(const tblock& x, const tblock& y, tblock& out,
                                             bool& empty) noexcept {
    const map_words p = load_map(x), q = load_map(y);
    const map_words gone = both(p, q);
    const int removed = popcount_of(gone);
    const map_words m{{p.w[0] ^ gone.w[0], p.w[1] ^ gone.w[1], p.w[2] ^ gone.w[2], p.w[3] ^ gone.w[3]}};
    empty = map_is_empty(m);
    store_map(out, m);
    return removed;
  }
  [[gnu::always_inline]] static int merge(const tblock& x, const tblock& y, tblock& out,
                                          bool symmetric_difference, bool& empty) noexcept {
    const map_words p = load_map(x), q = load_map(y);
    const int shared = popcount_of(both(p, q));
    const map_words m = symmetric_difference
                            ? map_words{{p.w[0] ^ q.w[0], p.w[1] ^ q.w[1], p.w[2] ^ q.w[2], p.w[3] ^ q.w[3]}}
                            : map_words{{p.w[0] | q.w[0], p.w[1] | q.w[1], p.w[2] | q.w[2], p.w[3] | q.w[3]}};
    empty = map_is_empty(m);
    store_map(out, m);
    return shared;
  }
};

template <typename Maps>
[[gnu::always_inline]] inline walk_result intersect_walk(tblock* a, std::int32_t a_used, const tblock* b,
                                                         std::int32_t b_used) noexcept {
  std::int32_t w = 0, j = 0;
  std::int64_t kept = 0;
  for (std::int32_t k = 0; k < a_used; ++k) {
    while (j < b_used && b[j].key < a[k].key) ++j;
    if (j < b_used && b[j].key == a[k].key) {
      const std::int32_t key = a[k].key;
      const int members = Maps::intersect(a[k], b[j], a[w]);
      if (members == 0) continue;
      a[w++].key = key;
      kept += members;
    }
  }
  return {w, kept};
}

template <typename Maps>
[[gnu::always_inline]] inline walk_result subtract_walk(tblock* a, std::int32_t a_used, const tblock* b,
                                                        std::int32_t b_used) noexcept {
  std::int32_t w = 0, j = 0;
  std::int64_t removed = 0;
  for (std::int32_t k = 0; k < a_used; ++k) {
    while (j < b_used && b[j].key < a[k].key) ++j;
    if (j < b_used && b[j].key == a[k].key) {
      const std::int32_t key = a[k].key;
      bool empty = false;
      removed += Maps::subtract(a[k], b[j], a[w], empty);
      if (empty) continue;
      a[w++].key = key;
    } else {
      if (w != k) a[w] = a[k];
      ++w;
    }
  }
  return {w, removed};
}

template <typename Maps>
[[gnu::always_inline]] inline walk_result merge_walk(const tblock* x, std::int32_t x_used, const tblock* y,
                                                     std::int32_t y_used, tblock* out,
                                                     bool symmetric_difference) noexcept {
  std::int32_t i = 0, j = 0, n = 0;
  std::int64_t shared = 0;
  while (i < x_used || j < y_used) {
    if (j == y_used || (i < x_used && x[i].key < y[j].key)) {
      out[n++] = x[i++];
    } else if (i == x_used || x[i].key > y[j].key) {
      out[n++] = y[j++];
    } else {
      bool empty = false;
      shared += Maps::merge(x[i], y[j++], out[n], symmetric_difference, empty);
      out[n].key = x[i++].key;
      if (!symmetric_difference || !empty) ++n;
    }
  }
  return {n, shared};
}

// The walks with word_popcount(), for every processor (algebra.cpp).
walk_result intersect_walk_portable(tblock* a, std::int32_t a_used, const tblock* b,
                                    std::int32_t b_used) noexcept;
walk_result subtract_walk_portable(tblock* a, std::int32_t a_used, const tblock* b,
                                   std::int32_t b_used) noexcept;
walk_result merge_walk_portable(const tblock* x, std::int32_t x_used, const tblock* y, std::int32_t y_used,
                                tblock* out, bool symmetric_difference) noexcept;

}  // namespace intset::detail

#endif  // INTSET_ALGEBRA_WALKS_H_
