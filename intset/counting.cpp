// tnumbrelle: counting members: of the set, of a run of blocks, and of a combination of two sets without
// building it (counting_walk.h); and whether two sets meet.
#include <cstdint>
#include <limits>

#include "intset/block_ops.h"
#include "intset/counting_walk.h"
#include "intset/dispatch.h"
#include "intset/tnumbrelle.h"

namespace intset {

using detail::combination;
using detail::load_map;
using detail::map_words;

std::int64_t detail::count_members_portable(const tblock* blocks, std::int32_t n) noexcept {
  std::int64_t total = 0;
  for (std::int32_t i = 0; i < n; ++i) total += map_popcount(load_map(blocks[i]));
  return total;
}

std::int64_t detail::count_members(const tblock* blocks, std::int32_t n) noexcept {
  return kernels().count_members(blocks, n);
}

std::int64_t detail::count_combination_portable(combination c, const tblock* a, std::int32_t a_used,
                                                const tblock* b, std::int32_t b_used) noexcept {
  return count_combination(c, a, a_used, b, b_used, [](std::uint64_t w) { return word_popcount(w); });
}

std::int32_t tnumbrelle::count() const {
  if (members > std::numeric_limits<std::int32_t>::max()) throw ETooManyMembers();
  return static_cast<std::int32_t>(members);
}

namespace {

std::int64_t count_members_of(detail::combination c, const tnumbrelle& a, const tnumbrelle& b) noexcept {
  const auto x = a.blocks(), y = b.blocks();
  return detail::kernels().count_combination(c, x.data(), static_cast<std::int32_t>(x.size()), y.data(),
                                             static_cast<std::int32_t>(y.size()));
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
      i = detail::gallop(x, i + 1, used, y[j].key);
    } else if (x[i].key > y[j].key) {
      j = detail::gallop(y, j + 1, b.used, x[i].key);
    } else {
      const map_words m = load_map(x[i++]), n = load_map(y[j++]);
      if (((m.w[0] & n.w[0]) | (m.w[1] & n.w[1]) | (m.w[2] & n.w[2]) | (m.w[3] & n.w[3])) != 0) return true;
    }
  }
  return false;
}

}  // namespace intset
