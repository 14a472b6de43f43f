// tnumbrelle: finding a value's block, on rising keys and on keys out of order.
#include <algorithm>

#include "intset/block_ops.h"
#include "intset/tnumbrelle.h"

namespace intset {

using detail::bit_of;
using detail::key_of;

namespace {

// Where a block with `key` is or has to be inserted, by the plain halving search: the first of the blocks
// at lo, at hi or just past hi that the search narrows down to. On ascending keys this is the first block
// whose key is not less than `key`; on keys out of order (only an old-form file brings them) it is
// whatever this search finds, which defines the result there.
std::int32_t halving_search(const tblock* blocks, std::int32_t used, std::int32_t key) {
  std::int32_t lo = 0, hi = used - 1;
  for (;;) {
    if (blocks[lo].key >= key) return lo;
    if (blocks[hi].key == key) return hi;
    if (blocks[hi].key < key) return hi + 1;
    const std::int32_t mid = lo + (hi - lo) / 2;
    if (blocks[mid].key < key) {
      lo = mid + 1;
    } else {
      hi = mid - 1;
    }
  }
}

// The same position on ascending keys, found faster: two steps that guess the place from the keys at
// both ends (exact at once where keys run consecutively, as in dense sets), then a halving search without
// branches on the rest.
std::int32_t guided_search(const tblock* blocks, std::int32_t used, std::int32_t key) {
  std::int32_t lo = 0, hi = used - 1;
  if (blocks[lo].key >= key) return lo;
  if (blocks[hi].key < key) return used;
  // From here on blocks[lo].key < key <= blocks[hi].key.
  for (int step = 0; step < 2 && hi - lo > 8; ++step) {
    const std::int64_t span = std::int64_t{blocks[hi].key} - blocks[lo].key;
    const std::int64_t offset = (std::int64_t{key} - blocks[lo].key) * (hi - lo) / span;
    const std::int32_t guess = std::clamp(lo + static_cast<std::int32_t>(offset), lo + 1, hi - 1);
    const std::int32_t found = blocks[guess].key;
    if (found == key) return guess;
    if (found < key) {
      lo = guess;
    } else {
      hi = guess;
    }
  }
  const tblock* base = blocks + lo + 1;
  for (std::int32_t n = hi - lo; n > 1;) {
    const std::int32_t half = n / 2;
    base = base[half - 1].key < key ? base + half : base;
    n -= half;
  }
  return static_cast<std::int32_t>(base - blocks) + (base->key < key ? 1 : 0);
}

}  // namespace

// Finds the block of `value`'s key; when absent, `position` is where it has to be inserted.
tnumbrelle::location tnumbrelle::locate(std::int32_t value) const {
  location at{false, 0, key_of(value), bit_of(value)};
  if (used > 0) {
    at.position = keys_unordered ? halving_search(buffer.data(), used, at.key)
                                 : guided_search(buffer.data(), used, at.key);
  }
  at.found = at.position < used && buffer[at.position].key == at.key;
  return at;
}

}  // namespace intset
