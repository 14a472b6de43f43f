// tnumbrelle: block-wise set algebra, comparisons and the set operators. Each operation walks both sorted
// block arrays once in step; A is the set the method is called on, B its argument (possibly the same object).
#include <cstring>

#include "intset/block_ops.h"
#include "intset/capacity.h"
#include "intset/tnumbrelle.h"

namespace intset {

using detail::load_map;
using detail::map_is_empty;
using detail::map_popcount;
using detail::map_words;
using detail::store_map;

namespace {

// Keeps A's block `k` combined with B's block `j` at A's write index `w` when the result is not empty, and
// returns the members of `counted` applied to the two maps.
template <typename Combine, typename Counted>
int keep_if_not_empty(tblock* a, std::int32_t k, const tblock& b, std::int32_t& w, Combine combine,
                      Counted counted) {
  const map_words x = load_map(a[k]), y = load_map(b);
  const map_words m{
      {combine(x.w[0], y.w[0]), combine(x.w[1], y.w[1]), combine(x.w[2], y.w[2]), combine(x.w[3], y.w[3])}};
  const int members = map_popcount(
      {{counted(x.w[0], y.w[0]), counted(x.w[1], y.w[1]), counted(x.w[2], y.w[2]), counted(x.w[3], y.w[3])}});
  if (map_is_empty(m)) return members;
  a[w].key = a[k].key;
  store_map(a[w], m);
  ++w;
  return members;
}

constexpr auto both = [](std::uint64_t x, std::uint64_t y) { return x & y; };

}  // namespace

void tnumbrelle::intersect(const tnumbrelle& b) {
  tblock* a = buffer.data();
  const tblock* bb = b.buffer.data();
  const std::int32_t b_used = b.used;
  std::int32_t w = 0, j = 0;
  std::int64_t kept = 0;
  for (std::int32_t k = 0; k < used; ++k) {
    while (j < b_used && bb[j].key < a[k].key) ++j;
    if (j < b_used && bb[j].key == a[k].key) kept += keep_if_not_empty(a, k, bb[j], w, both, both);
  }
  used = w;
  members = kept;
  compact();
}

void tnumbrelle::subtract(const tnumbrelle& b) {
  tblock* a = buffer.data();
  const tblock* bb = b.buffer.data();
  const std::int32_t b_used = b.used;
  std::int32_t w = 0, j = 0;
  std::int64_t gone = 0;
  for (std::int32_t k = 0; k < used; ++k) {
    while (j < b_used && bb[j].key < a[k].key) ++j;
    if (j < b_used && bb[j].key == a[k].key) {
      gone += keep_if_not_empty(
          a, k, bb[j], w, [](std::uint64_t x, std::uint64_t y) { return x & ~y; }, both);
    } else {
      if (w != k) a[w] = a[k];
      ++w;
    }
  }
  used = w;
  members -= gone;
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
  const tblock* x = a.buffer.data();
  const tblock* y = b.buffer.data();
  tblock* out = merged.data();
  std::int32_t i = 0, j = 0, n = 0;
  std::int64_t shared = 0;  // the members both have
  while (i < a.used || j < b.used) {
    if (j == b.used || (i < a.used && x[i].key < y[j].key)) {
      out[n++] = x[i++];
    } else if (i == a.used || x[i].key > y[j].key) {
      out[n++] = y[j++];
    } else {
      const map_words p = load_map(x[i++]), q = load_map(y[j++]);
      shared += map_popcount({{p.w[0] & q.w[0], p.w[1] & q.w[1], p.w[2] & q.w[2], p.w[3] & q.w[3]}});
      const map_words m =
          symmetric_difference
              ? map_words{{p.w[0] ^ q.w[0], p.w[1] ^ q.w[1], p.w[2] ^ q.w[2], p.w[3] ^ q.w[3]}}
              : map_words{{p.w[0] | q.w[0], p.w[1] | q.w[1], p.w[2] | q.w[2], p.w[3] | q.w[3]}};
      out[n].key = x[i - 1].key;
      store_map(out[n], m);
      if (!symmetric_difference || !map_is_empty(m)) ++n;
    }
  }
  merged.resize(static_cast<std::int32_t>(detail::compacted_capacity(total, n)));
  const bool unordered = a.keys_unordered || b.keys_unordered;
  const std::int64_t result_members = a.members + b.members - (symmetric_difference ? 2 : 1) * shared;
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
