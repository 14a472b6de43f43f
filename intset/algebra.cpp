// tnumbrelle: block-wise set algebra and comparisons. Each operation walks both sorted block arrays once
// in step; A is the set the method is called on, B its argument (possibly the same object).
#include <cstring>

#include "intset/block_ops.h"
#include "intset/capacity.h"
#include "intset/tnumbrelle.h"

namespace intset {

using detail::load_map;
using detail::map_is_empty;
using detail::map_words;
using detail::store_map;

namespace {

// Keeps A's block `k` combined with B's block `j` at A's write index `w` when the result is not empty.
template <typename Combine>
void keep_if_not_empty(tblock* a, std::int32_t k, const tblock& b, std::int32_t& w, Combine combine) {
  const map_words x = load_map(a[k]), y = load_map(b);
  const map_words m{
      {combine(x.w[0], y.w[0]), combine(x.w[1], y.w[1]), combine(x.w[2], y.w[2]), combine(x.w[3], y.w[3])}};
  if (map_is_empty(m)) return;
  a[w].key = a[k].key;
  store_map(a[w], m);
  ++w;
}

}  // namespace

void tnumbrelle::intersect(const tnumbrelle& b) {
  tblock* a = buffer.data();
  const tblock* bb = b.buffer.data();
  const std::int32_t b_used = b.used;
  std::int32_t w = 0, j = 0;
  for (std::int32_t k = 0; k < used; ++k) {
    while (j < b_used && bb[j].key < a[k].key) ++j;
    if (j < b_used && bb[j].key == a[k].key) {
      keep_if_not_empty(a, k, bb[j], w, [](std::uint64_t x, std::uint64_t y) { return x & y; });
    }
  }
  used = w;
  compact();
}

void tnumbrelle::subtract(const tnumbrelle& b) {
  tblock* a = buffer.data();
  const tblock* bb = b.buffer.data();
  const std::int32_t b_used = b.used;
  std::int32_t w = 0, j = 0;
  for (std::int32_t k = 0; k < used; ++k) {
    while (j < b_used && bb[j].key < a[k].key) ++j;
    if (j < b_used && bb[j].key == a[k].key) {
      keep_if_not_empty(a, k, bb[j], w, [](std::uint64_t x, std::uint64_t y) { return x & ~y; });
    } else {
      if (w != k) a[w] = a[k];
      ++w;
    }
  }
  used = w;
  compact();
}

// The merge of set_operators.cpp, which changes A only once the result is complete and trimmed.
void tnumbrelle::unite(const tnumbrelle& b) { merge_from(*this, b, false); }

namespace {

// Whether every block of `sub` has a block with the same key in `super` whose map contains its map, walking
// both in step. The sizes have been compared by the caller.
bool blocks_contained(const tblock* sub, std::int32_t sub_used, const tblock* super,
                      std::int32_t super_used) {
  std::int32_t j = 0;
  for (std::int32_t i = 0; i < sub_used; ++i) {
    const std::int32_t key = sub[i].key;
    while (j < super_used && super[j].key < key) ++j;
    if (j == super_used || super[j].key != key || !detail::map_contained(sub[i], super[j])) return false;
  }
  return true;
}

}  // namespace

bool tnumbrelle::is_subset_of(const tnumbrelle& b) const {
  return used <= b.used && blocks_contained(buffer.data(), used, b.buffer.data(), b.used);
}

bool tnumbrelle::is_superset_of(const tnumbrelle& b) const {
  return used >= b.used && blocks_contained(b.buffer.data(), b.used, buffer.data(), used);
}

// Sets without empty blocks and with ascending keys have identical block arrays exactly when they are
// equal, so comparing position by position is exact. A block has no padding, so comparing every key and map
// in turn is comparing the two arrays' bytes, which memcmp does at the speed of memory.
bool tnumbrelle::equals(const tnumbrelle& b) const {
  return used == b.used &&
         (used == 0 || std::memcmp(buffer.data(), b.buffer.data(), std::size_t(used) * sizeof(tblock)) == 0);
}

}  // namespace intset
