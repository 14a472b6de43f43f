// tnumbrelle: block-wise set algebra, comparisons and the set operators. Each operation walks both sorted
// block arrays once in step; A is the set the method is called on, B its argument (possibly the same object).
#include <cstring>

#include "intset/algebra_walks.h"
#include "intset/block_ops.h"
#include "intset/capacity.h"
#include "intset/dispatch.h"
#include "intset/tnumbrelle.h"

namespace intset {

using detail::walk_result;
using detail::word_popcount;

namespace {

struct portable_popcount {
  int operator()(std::uint64_t w) const noexcept { return word_popcount(w); }
};
using portable_maps = detail::maps_by_words<portable_popcount>;

}  // namespace

walk_result detail::intersect_walk_portable(tblock* a, std::int32_t a_used, const tblock* b,
                                            std::int32_t b_used) noexcept {
  return intersect_walk<portable_maps>(a, a_used, b, b_used);
}

walk_result detail::subtract_walk_portable(tblock* a, std::int32_t a_used, const tblock* b,
                                           std::int32_t b_used) noexcept {
  return subtract_walk<portable_maps>(a, a_used, b, b_used);
}

walk_result detail::merge_walk_portable(const tblock* x, std::int32_t x_used, const tblock* y,
                                        std::int32_t y_used, tblock* out,
                                        bool symmetric_difference) noexcept {
  return merge_walk<portable_maps>(x, x_used, y, y_used, out, symmetric_difference);
}

void tnumbrelle::intersect(const tnumbrelle& b) {
  const walk_result kept = detail::kernels().intersect_walk(buffer.data(), used, b.buffer.data(), b.used);
  used = kept.blocks;
  members = kept.members;
  compact();
}

void tnumbrelle::subtract(const tnumbrelle& b) {
  const walk_result gone = detail::kernels().subtract_walk(buffer.data(), used, b.buffer.data(), b.used);
  used = gone.blocks;
  members -= gone.members;
  compact();
}

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

// A set with more members cannot lie within one with fewer. That holds for the walk too wherever the keys
// rise strictly; blocks out of order (from a damaged old-form file) can match one block twice, so there
// the walk alone decides.
bool tnumbrelle::is_subset_of(const tnumbrelle& b) const {
  if (members > b.members && !keys_unordered && !b.keys_unordered) return false;
  return used <= b.used && blocks_contained(buffer.data(), used, b.buffer.data(), b.used);
}

bool tnumbrelle::is_superset_of(const tnumbrelle& b) const { return b.is_subset_of(*this); }

// Sets without empty blocks and with ascending keys have identical block arrays exactly when they are
// equal, so comparing position by position is exact. A block has no padding, so comparing every key and map
// in turn is comparing the two arrays' bytes, which memcmp does at the speed of memory. Arrays with
// different member counts differ, so those are not compared at all.
bool tnumbrelle::equals(const tnumbrelle& b) const {
  return members == b.members && used == b.used &&
         (used == 0 || std::memcmp(buffer.data(), b.buffer.data(), std::size_t(used) * sizeof(tblock)) == 0);
}

// --- Merging into a new buffer ----------------------------------------------------------------------------

// The merge runs into a new buffer of a.used + b.used blocks, which is trimmed as compact() would trim it
// before it replaces this set's buffer: until then nothing has changed, so running out of memory at any
// point leaves this set as it was.
void tnumbrelle::merge_from(const tnumbrelle& a, const tnumbrelle& b, bool symmetric_difference) {
  const std::int64_t total = std::int64_t(a.used) + b.used;
  tbuffer merged;
  merged.resize(detail::buffer_length(total));
  const walk_result merge = detail::kernels().merge_walk(a.buffer.data(), a.used, b.buffer.data(), b.used,
                                                         merged.data(), symmetric_difference);
  const std::int32_t n = merge.blocks;
  merged.resize(static_cast<std::int32_t>(detail::compacted_capacity(total, n)));
  const bool unordered = a.keys_unordered || b.keys_unordered;
  const std::int64_t result_members = a.members + b.members - (symmetric_difference ? 2 : 1) * merge.members;
  buffer.swap(merged);
  used = n;
  members = result_members;
  keys_unordered = unordered;
}

void tnumbrelle::unite(const tnumbrelle& b) { merge_from(*this, b, false); }

void tnumbrelle::invert(const tnumbrelle& b) { merge_from(*this, b, true); }

// --- Operators ------------------------------------------------------------------------------------------

tnumbrelle& tnumbrelle::operator&=(const tnumbrelle& b) {
  intersect(b);
  return *this;
}

tnumbrelle& tnumbrelle::operator|=(const tnumbrelle& b) {
  unite(b);
  return *this;
}

tnumbrelle& tnumbrelle::operator-=(const tnumbrelle& b) {
  subtract(b);
  return *this;
}

tnumbrelle& tnumbrelle::operator^=(const tnumbrelle& b) {
  invert(b);
  return *this;
}

tnumbrelle operator&(const tnumbrelle& a, const tnumbrelle& b) {
  tnumbrelle result(a);
  result.intersect(b);
  return result;
}

// unite() and invert() build a new buffer from both operands whatever the left one's capacity, so the
// result is merged straight from the operands, without copying the left one first.
tnumbrelle operator|(const tnumbrelle& a, const tnumbrelle& b) {
  tnumbrelle result;
  result.merge_from(a, b, false);
  return result;
}

tnumbrelle operator-(const tnumbrelle& a, const tnumbrelle& b) {
  tnumbrelle result(a);
  result.subtract(b);
  return result;
}

tnumbrelle operator^(const tnumbrelle& a, const tnumbrelle& b) {
  tnumbrelle result;
  result.merge_from(a, b, true);
  return result;
}

}  // namespace intset
